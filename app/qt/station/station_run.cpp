#include "app/qt/station/station_run.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <utility>

#include "serial/forwarding_platform.h"
#include "serial/interruption.h"
#include "serial/port_names.h"
#include "serial/posix/interrupt_pipe.h"

namespace zq::qt {

// The system's plug events, and the retries the window asks for as events of their own.
class StationRun::RetryWatcher final : public PortWatcher {
  public:
    RetryWatcher(StationRun& run, std::unique_ptr<PortWatcher> inner)
        : run_(run), inner_(std::move(inner)) {}
    int eventDescriptor() const override { return inner_->eventDescriptor(); }
    bool takeEvents() override {
        const bool plugged = inner_->takeEvents();
        return run_.takeRetryEvents() || plugged;
    }

  private:
    StationRun& run_;
    std::unique_ptr<PortWatcher> inner_;
};

// A port given by name whose probe must find nothing once: the open fails as for a port that
// is not there.
class StationRun::AbsentPort final : public ForwardingPlatform {
  public:
    // `own`, when given, is the platform the probe would have had; `base` is it or the seam's.
    AbsentPort(Platform& base, std::unique_ptr<Platform> own)
        : ForwardingPlatform(base), own_(std::move(own)) {}
    std::unique_ptr<SerialDevice> openSerial(const std::string&, OpenFailure& why) override {
        why.kind = OpenFailure::Kind::NoSuchDevice;
        return nullptr;
    }

  private:
    std::unique_ptr<Platform> own_;
};

StationRun::StationRun(station::PreparedImage image, Plan plan, station::StationSeam seam,
                       station::StationObserver& observer, std::function<void()> ended)
    : image_(std::move(image)),
      plan_(std::move(plan)),
      outer_(std::move(seam)),
      seam_(outer_),
      observer_(observer),
      ended_(std::move(ended)) {
    // Stop's interruption must wake the station's wait for plug events.
    posix::armInterruptPipe();
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    seam_.listPorts = [this] { return listed(); };
    if (!plan_.where.ports.empty()) {
        // Named ports are probed, not listed: a retry hides the port from its next probe.
        seam_.platformFor = [this](const station::Fixture& fixture) {
            return platformFor(fixture);
        };
    }
    if (outer_.watchPorts) {
        seam_.watchPorts = [this]() -> std::unique_ptr<PortWatcher> {
            std::unique_ptr<PortWatcher> inner = outer_.watchPorts();
            if (!inner) {
                return nullptr;  // the ports are listed every second, retries with them
            }
            return std::make_unique<RetryWatcher>(*this, std::move(inner));
        };
    }
    seam_.awaitEvent = [this](int descriptor, int limitMs) { await(descriptor, limitMs); };
    worker_ = std::thread(&StationRun::work, this);
}

StationRun::~StationRun() {
    stop();
    wait();
    if (wake_ >= 0) {
        ::close(wake_);
    }
}

void StationRun::work() {
    {
        station::Station station(plan_.settings, image_, seam_, observer_);
        {
            const std::lock_guard hold(lock_);
            station_ = &station;
            if (stopping_.load()) {
                station.close();
            }
        }
        station::watch(station, plan_.where, seam_, observer_);
        station.reap(true);
        const std::lock_guard hold(lock_);
        station_ = nullptr;
    }
    if (ended_) {
        ended_();
    }
}

bool StationRun::stop() {
    if (stopping_.exchange(true)) {
        return false;
    }
    {
        const std::lock_guard hold(lock_);
        if (station_ != nullptr) {
            station_->close();
        }
    }
    // As Ctrl+C does under zq417-flash: the boards' waits end, a board programming its EEPROM
    // finishes first. A second interruption would cut that board short.
    if (interruption::count() > 0) {
        return false;
    }
    interruption::raise(SIGINT);
    return true;
}

void StationRun::retry(const std::string& openName) {
    {
        const std::lock_guard hold(lock_);
        hideNext_.insert(openName);
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
}

void StationRun::wait() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

std::vector<PortInfo> StationRun::listed() {
    std::vector<PortInfo> ports = outer_.listPorts ? outer_.listPorts() : std::vector<PortInfo>{};
    const std::lock_guard hold(lock_);
    if (!hideNext_.empty()) {
        std::erase_if(ports,
                      [&](const PortInfo& port) { return hideNext_.contains(openName(port)); });
        hideNext_.clear();
        showAgain_ = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
    }
    return ports;
}

std::unique_ptr<Platform> StationRun::platformFor(const station::Fixture& fixture) {
    {
        const std::lock_guard hold(lock_);
        // Only a port whose board has ended is probed, and only then is its retry asked for.
        if (hideNext_.erase(fixture.openName) > 0) {
            std::unique_ptr<Platform> own =
                outer_.platformFor ? outer_.platformFor(fixture) : nullptr;
            Platform& base = own ? *own : outer_.platform;
            return std::make_unique<AbsentPort>(base, std::move(own));
        }
    }
    return outer_.platformFor ? outer_.platformFor(fixture) : nullptr;
}

bool StationRun::takeRetryEvents() {
    std::uint64_t count = 0;
    const bool woken = ::read(wake_, &count, sizeof count) == sizeof count;
    const std::lock_guard hold(lock_);
    const bool relist = woken && (showAgain_ || !hideNext_.empty());
    showAgain_ = false;
    return relist;
}

void StationRun::await(int descriptor, int limitMs) {
    if (outer_.awaitEvent) {
        // Virtual boards' own wait (tests): the retry wake is looked at around it.
        pollfd retry{wake_, POLLIN, 0};
        if (::poll(&retry, 1, 0) > 0) {
            return;
        }
        outer_.awaitEvent(descriptor, limitMs);
        return;
    }
    // The interrupt pipe is readable from the first signal on, Stop's included.
    pollfd fds[3] = {
        {descriptor, POLLIN, 0}, {posix::interruptPipeFd(), POLLIN, 0}, {wake_, POLLIN, 0}};
    ::poll(fds, 3, limitMs);
}

}  // namespace zq::qt
