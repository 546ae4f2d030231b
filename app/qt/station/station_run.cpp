#include "app/qt/station/station_run.h"

#include <poll.h>

#include <csignal>
#include <utility>

#include "serial/interruption.h"
#include "serial/posix/interrupt_pipe.h"

namespace zq::qt {

StationRun::StationRun(station::PreparedImage image, Plan plan, station::StationSeam seam,
                       station::StationObserver& observer, std::function<void()> ended)
    : image_(std::move(image)),
      plan_(std::move(plan)),
      seam_(std::move(seam)),
      observer_(observer),
      ended_(std::move(ended)) {
    if (!seam_.awaitEvent) {
        // Stop's interruption wakes the station's wait for plug events through the wake pipe,
        // which is readable from the first signal on.
        posix::armInterruptPipe();
        seam_.awaitEvent = [](int descriptor, int limitMs) {
            pollfd fds[2] = {{descriptor, POLLIN, 0}, {posix::interruptPipeFd(), POLLIN, 0}};
            ::poll(fds, 2, limitMs);
        };
    }
    worker_ = std::thread(&StationRun::work, this);
}

StationRun::~StationRun() {
    stop();
    wait();
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

bool StationRun::retry(const std::string& openName) {
    const std::lock_guard hold(lock_);
    return station_ != nullptr && station_->runAgain(openName);
}

void StationRun::wait() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

}  // namespace zq::qt
