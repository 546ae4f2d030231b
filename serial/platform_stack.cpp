#include "serial/platform_stack.h"

namespace zq {

PlatformStack::PlatformStack(Platform& system, StackOptions options) : top_(&system) {
    if (options.trace) {
        top_ = &tracing_.emplace(*top_, std::move(options.trace));
    }
    if (options.latency.count() > 0) {
        top_ = &latency_.emplace(*top_, options.latency);
    }
    if (options.whileWaiting) {
        top_ = &responsive_.emplace(*top_, std::move(options.whileWaiting));
    }
}

void PlatformStack::note(std::string_view text) {
    if (tracing_) {
        tracing_->note(text);
    }
}

}  // namespace zq
