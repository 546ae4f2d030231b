#include "app/records/record_text.h"

#include "app/explain/interruption_text.h"
#include "app/explain/reason_text.h"
#include "serial/port_names.h"
#include "transfer/latency_advice.h"

namespace zq {

using station::BoardEnd;
using station::BoardRecord;

namespace {

std::string pulledReason(const BoardRecord& record, std::string_view device) {
    const Outcome& outcome = record.outcome();
    std::string reason =
        outcome.kind == OutcomeKind::BoardGone
            ? explainOutcome(outcome, device)
            : "the board's port went away during " + stageInWords(record.pulledDuring);
    if (record.pulledDuring == OperationStage::Programming) {
        return reason +
               "; it was pulled while it programmed its EEPROM: it may hold no firmware and must "
               "be flashed again";
    }
    if (record.pulledDuring == OperationStage::AwaitingAck) {
        return reason + "; it may have started programming: flash it again";
    }
    if (record.pulledDuring) {
        return reason + "; nothing was programmed";
    }
    return reason;
}

}  // namespace

std::optional<std::string> reasonOf(const BoardRecord& record, std::string_view device) {
    if (record.refusal) {
        return record.refusal->reason;
    }
    const Outcome& outcome = record.outcome();
    switch (record.end) {
        case BoardEnd::Succeeded:
            return std::nullopt;
        case BoardEnd::Interrupted:
            return outcome.kind == OutcomeKind::Interrupted
                       ? interruptionLine(outcome)
                       : "Interrupted before the board was tried again; it is as the last try "
                         "left it.";
        case BoardEnd::Pulled:
            return pulledReason(record, device);
        case BoardEnd::Failed:
            break;
    }
    std::string reason = explainOutcome(outcome, device);
    if (reason.empty()) {
        reason = explainCloseFailure(outcome, device);
    }
    return reason.empty() ? std::nullopt : std::optional(reason);
}

std::string reasonLine(const BoardRecord& record) {
    // Said after the port, the line need not name the port again.
    const std::string device = devicePath(record.fixture.openName);
    std::string line;
    if (const std::optional<std::string> reason = reasonOf(record, device)) {
        line = reason->starts_with(device + ": ") ? reason->substr(device.size() + 2) : *reason;
    } else if (!record.tries.empty() && !record.tries.back().boxes.empty()) {
        line = record.tries.back().boxes.front().text;
    }
    return line.substr(0, line.find('\n'));
}

std::optional<std::string> adviceOf(const BoardRecord& record) {
    if (record.end != BoardEnd::Failed || record.tries.empty()) {
        return std::nullopt;
    }
    const station::Try& last = record.tries.back();
    const unsigned advised = advisedLatency(last.outcome);
    if (advised != 0 && record.tries.size() > 1 &&
        last.latencyMs > record.tries.front().latencyMs && advised <= last.latencyMs) {
        return "The advised --latency " + std::to_string(last.latencyMs) +
               " did not help: power-cycle the board (restart zq417-sim), then check the cable "
               "and the adapter.";
    }
    std::string advice = latencyAdvice(last.outcome);
    return advice.empty() ? std::nullopt : std::optional(advice);
}

std::string endWords(const BoardRecord& record) {
    switch (record.end) {
        case BoardEnd::Succeeded:
            return "done";
        case BoardEnd::Failed:
            return "failed (exit " + std::to_string(record.exit) + ")";
        case BoardEnd::Pulled:
            return "pulled during " + stageInWords(record.pulledDuring);
        case BoardEnd::Interrupted:
            return "interrupted";
    }
    return "?";
}

}  // namespace zq
