#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
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
    // Presents the fixture to the station again, as if its board had been pulled and plugged:
    // the listing the station reads next leaves it out (a port given by name: its next probe
    // finds nothing), the one after shows it again.
    void retry(const std::string& openName);
    // Waits for the run's end.
    void wait();

  private:
    class RetryWatcher;
    class AbsentPort;
    void work();
    std::vector<PortInfo> listed();
    std::unique_ptr<Platform> platformFor(const station::Fixture& fixture);
    bool takeRetryEvents();
    void await(int descriptor, int limitMs);

    station::PreparedImage image_;
    Plan plan_;
    station::StationSeam outer_;  // as given
    station::StationSeam seam_;   // what the station gets: `outer_` with the retries woven in
    station::StationObserver& observer_;
    std::function<void()> ended_;
    int wake_ = -1;  // readable while a retry waits for the station to list the ports again
    std::mutex lock_;
    station::Station* station_ = nullptr;  // while it exists
    std::set<std::string> hideNext_;       // left out of the next listing
    bool showAgain_ = false;               // a listing must follow the one that hid them
    std::atomic<bool> stopping_{false};
    std::thread worker_;
};

}  // namespace zq::qt
