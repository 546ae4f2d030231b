#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "station/prepared_image.h"
#include "station/station.h"

namespace zq::qt {

// One run of the station window: the station and its watch on a thread of their own, so that
// the window's thread never waits for a board. Start is the constructor; the run ends when Stop
// (or a signal) has brought every board in flight to its end.
class StationRun {
  public:
    struct Plan {
        station::StationSettings settings{};
        station::WatchPlan where{};
    };
    // `seam` reaches the system's ports or virtual boards; `ended` is called on the run's thread
    // once every board has ended and handed its port back.
    StationRun(station::PreparedImage image, Plan plan, station::StationSeam seam,
               station::StationObserver& observer, std::function<void()> ended);
    ~StationRun();  // stops the run and waits for it
    StationRun(const StationRun&) = delete;
    StationRun& operator=(const StationRun&) = delete;

    // Boards in flight end as a signal ends them (one programming its EEPROM finishes first);
    // nothing new starts. Raises the process's interruption unless a signal already did; true
    // when this call raised it.
    bool stop();
    bool stopping() const { return stopping_.load(); }
    // Runs the fixture's board again, as a board of its own (it failed and stays plugged);
    // false when the station would not (the fixture has gone, its board runs, or it stops).
    bool retry(const std::string& openName);
    // Waits for the run's end.
    void wait();

  private:
    void work();

    station::PreparedImage image_;
    Plan plan_;
    station::StationSeam seam_;
    station::StationObserver& observer_;
    std::function<void()> ended_;
    std::mutex lock_;
    station::Station* station_ = nullptr;  // while it exists
    std::atomic<bool> stopping_{false};
    std::thread worker_;
};

}  // namespace zq::qt
