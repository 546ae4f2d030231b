#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "serial/virtual_boards.h"

namespace zq {

namespace {

namespace fs = std::filesystem;

// A board's file comes and goes with the board, except when its simulator is killed: then only
// the simulator's end tells, and a pidfd (readable once the process has ended) is what says so.
class VirtualBoardWatcher final : public PortWatcher {
  public:
    VirtualBoardWatcher(std::string directory, int epoll, int inotify)
        : directory_(std::move(directory)), epoll_(epoll), inotify_(inotify) {
        followSimulators();
    }
    ~VirtualBoardWatcher() override {
        for (const auto& [pid, fd] : simulators_) {
            ::close(fd);
        }
        ::close(inotify_);
        ::close(epoll_);
    }
    VirtualBoardWatcher(const VirtualBoardWatcher&) = delete;
    VirtualBoardWatcher& operator=(const VirtualBoardWatcher&) = delete;

    int eventDescriptor() const override { return epoll_; }

    bool takeEvents() override {
        bool changed = readDirectoryEvents();
        std::vector<epoll_event> ready(simulators_.size() + 1);
        const int count = ::epoll_wait(epoll_, ready.data(), static_cast<int>(ready.size()), 0);
        for (int i = 0; i < count; ++i) {
            const int fd = ready[static_cast<std::size_t>(i)].data.fd;
            if (fd == inotify_) {
                changed = readDirectoryEvents() || changed;
                continue;
            }
            std::erase_if(simulators_, [fd](const auto& entry) { return entry.second == fd; });
            ::close(fd);
            changed = true;
        }
        return followSimulators() || changed;
    }

  private:
    bool readDirectoryEvents() {
        bool changed = false;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t got; (got = ::read(inotify_, buffer, sizeof buffer)) > 0;) {
            for (const char* p = buffer; p < buffer + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                p += sizeof(inotify_event) + event->len;
                // Files being written and names of no announcement say nothing of the boards.
                const auto name = event->len > 0 ? readAnnouncementName(event->name)
                                                 : std::optional<AnnouncementName>();
                changed = changed || (name && name->complete) ||
                          (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) != 0;
            }
        }
        return changed;
    }

    // Follows the simulators that have boards announced; true when one had already gone.
    bool followSimulators() {
        std::set<long> announcing;
        std::error_code ec;
        for (fs::directory_iterator it(directory_, ec), end; !ec && it != end; it.increment(ec)) {
            const auto name = readAnnouncementName(it->path().filename().string());
            if (name && name->complete) {
                announcing.insert(name->pid);
            }
        }
        std::erase_if(simulators_, [&](const auto& entry) {
            const bool withdrawn = !announcing.contains(entry.first);
            if (withdrawn) {
                ::close(entry.second);
            }
            return withdrawn;
        });
        bool gone = false;
        for (const long pid : announcing) {
            if (simulators_.contains(pid)) {
                continue;
            }
            // The system call rather than the wrapper, which older C libraries lack.
            const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
            epoll_event event{.events = EPOLLIN, .data = {.fd = fd}};
            if (fd >= 0 && ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) == 0) {
                simulators_.emplace(pid, fd);
            } else if (fd >= 0) {
                ::close(fd);
            }
            // Without pidfds (an old kernel) a killed simulator shows at the next event.
            gone = gone || (fd < 0 && errno == ESRCH);
        }
        return gone;
    }

    std::string directory_;
    int epoll_;
    int inotify_;
    std::map<long, int> simulators_;  // pid, pidfd
};

}  // namespace

std::unique_ptr<PortWatcher> watchVirtualBoards() {
    std::string error;
    const std::string directory = virtualBoardDirectory(error);
    if (directory.empty()) {
        return nullptr;
    }
    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    const int inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    epoll_event event{.events = EPOLLIN, .data = {.fd = inotify}};
    if (epoll < 0 || inotify < 0 ||
        ::inotify_add_watch(inotify, directory.c_str(),
                            IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_DELETE_SELF |
                                IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW) < 0 ||
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, inotify, &event) != 0) {
        for (const int fd : {epoll, inotify}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        return nullptr;
    }
    return std::make_unique<VirtualBoardWatcher>(directory, epoll, inotify);
}

}  // namespace zq
