#include "transfer/latency_advice.h"

#include <algorithm>
#include <chrono>

namespace zq {

namespace {

using std::chrono::milliseconds;

// A reply split by an adapter's timer is read whole once the gap between its bytes is allowed
// this much more; the rest of it is never seen, so its delay cannot be measured.
constexpr unsigned SplitReplyLatency = 50;

unsigned suggestedLatency(std::chrono::nanoseconds late) {
    // Read at the next request, a late reply is known only to within that request's pause, so
    // the value rounds up to the next 10 ms and never offers less than a common adapter's 16 ms
    // timer needs.
    const auto lateMs = std::chrono::ceil<milliseconds>(late).count();
    return static_cast<unsigned>(std::max<long long>(20, (lateMs + 9) / 10 * 10));
}

// The rest of a split reply is read whole once the gap between bytes is allowed more than the
// gap measured: rounded up to the next 10 ms, with 10 ms to spare.
unsigned splitLatency(std::chrono::nanoseconds gap) {
    const auto gapMs = std::chrono::ceil<milliseconds>(gap).count();
    return static_cast<unsigned>((gapMs + 9) / 10 * 10 + 10);
}

}  // namespace

unsigned advisedLatency(const Outcome& outcome) {
    const ReplyEvidence& reply = outcome.reply;
    const std::chrono::nanoseconds gap = outcome.handshake.splitGap;
    const unsigned forGap = gap.count() > 0 ? splitLatency(gap) : SplitReplyLatency;
    if (outcome.kind == OutcomeKind::LateReply && reply.lateBy) {
        return std::max(suggestedLatency(*reply.lateBy), gap.count() > 0 ? forGap : 0);
    }
    if (outcome.kind == OutcomeKind::NotUnderstood && outcome.handshake.partialReply) {
        return forGap;
    }
    if (outcome.kind == OutcomeKind::NoReply && reply.received > 0 &&
        reply.received < reply.got.bytes.size()) {
        return SplitReplyLatency;
    }
    return 0;
}

bool mayBeOutOfStep(const Outcome& outcome) {
    return advisedLatency(outcome) != 0 &&
           (outcome.handshake.splitGap.count() > 0 || outcome.kind == OutcomeKind::NotUnderstood);
}

}  // namespace zq
