#include "serial/posix/combined_watcher.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>

namespace zq {

namespace {

class CombinedWatcher final : public PortWatcher {
  public:
    CombinedWatcher(std::vector<std::unique_ptr<PortWatcher>> sources, int epoll)
        : sources_(std::move(sources)), epoll_(epoll) {}
    ~CombinedWatcher() override { ::close(epoll_); }
    CombinedWatcher(const CombinedWatcher&) = delete;
    CombinedWatcher& operator=(const CombinedWatcher&) = delete;

    int eventDescriptor() const override { return epoll_; }

    // Every source is drained, whichever fired, so the descriptor is quiet afterwards.
    bool takeEvents() override {
        bool changed = false;
        for (const auto& source : sources_) {
            changed = source->takeEvents() || changed;
        }
        return changed;
    }

  private:
    std::vector<std::unique_ptr<PortWatcher>> sources_;
    int epoll_;
};

}  // namespace

std::unique_ptr<PortWatcher> combineWatchers(std::vector<std::unique_ptr<PortWatcher>> sources) {
    std::erase(sources, nullptr);
    if (sources.size() <= 1) {
        return sources.empty() ? nullptr : std::move(sources.front());
    }
    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    for (const auto& source : sources) {
        epoll_event event{.events = EPOLLIN, .data = {.fd = source->eventDescriptor()}};
        if (epoll < 0 ||
            ::epoll_ctl(epoll, EPOLL_CTL_ADD, source->eventDescriptor(), &event) != 0) {
            if (epoll >= 0) {
                ::close(epoll);
            }
            return std::move(sources.front());  // the first source still serves
        }
    }
    return std::make_unique<CombinedWatcher>(std::move(sources), epoll);
}

}  // namespace zq
