#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "serial/platform.h"
#include "serial/port_discovery.h"
#include "station/board_settings.h"
#include "station/prepared_image.h"
#include "station/station_observer.h"

namespace zq::station {

struct StationSettings {
    BoardSettings board{};
    std::string name{};              // the station's name in every record; empty: the host's name
    std::uint64_t count = 0;         // no board starts after this many; 0: no limit
    unsigned stopAfterFailures = 0;  // this many boards failing in a row end the station; 0: never
};

// What a station runs on: the real system, or boards in virtual time.
struct StationSeam {
    Platform& platform;  // the station's own clock and pauses, and every board's without the next
    // A platform of its own for each board (a simulated line in tests); unset: `platform`.
    std::function<std::unique_ptr<Platform>(const Fixture&)> platformFor{};
    std::function<std::vector<PortInfo>()> listPorts = discoverPorts;
    // Plug events; null where the system sends none (the ports are then listed every second).
    std::function<std::unique_ptr<PortWatcher>()> watchPorts = zq::watchPorts;
    // Blocks until `descriptor` is readable, a signal comes or `limitMs` passes (-1: no limit);
    // unset: the station sleeps on its platform instead.
    std::function<void(int descriptor, int limitMs)> awaitEvent{};
};

// What the boards of a station came to so far.
struct StationTally {
    std::uint64_t started = 0;
    std::uint64_t passed = 0;
    std::uint64_t failed = 0;
    std::uint64_t pulled = 0;
    std::uint64_t interrupted = 0;
    std::uint64_t running = 0;
    unsigned failuresInRow = 0;
    bool stoppedAfterFailures = false;
    int exit = 0;  // the status the station ends with, as things stand
};

// Boards as users count them: each plug of a fixture is one board, run on a thread of its own
// from its plug to its one record; its tries belong to it while the plug lasts. Only boards in
// flight are held, so memory stays flat however long the station runs. Thread-safe.
class Station {
  public:
    Station(StationSettings settings, const PreparedImage& image, StationSeam& seam,
            StationObserver& observer);
    ~Station();  // waits for every board in flight
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // The fixtures present now. One that was not present before is a plug: a new board, started
    // at once, or once the board before it there has ended. One that is no longer listed is a
    // pull: its board, if one runs, ends as pulled unless it confirmed its firmware.
    void present(const std::vector<Fixture>& fixtures);
    // The operator asks for the board on a fixture to be run again (it failed, and stays
    // plugged): a board of its own, with its own record. False when the fixture is not present,
    // its board still runs, or the station is closed.
    bool runAgain(const std::string& openName);
    // No board starts from now on; boards in flight end as they would (a signal cuts them short).
    void close();
    // Nothing more will start: closed, the count reached, failures in a row, or a signal.
    bool closed() const;
    bool busy() const;  // boards in flight
    // Whether whoever feeds the station should wake up soon: boards are in flight, or a board's
    // port went away while the listings still showed it (unplugged and plugged again between two
    // listings): the fixture is to be looked at again.
    bool wantsWake() const;
    // Whether a fixture is to be looked at again (see wantsWake); asking clears it.
    bool takeLookAgain();
    bool running(const std::string& openName) const;
    // Joins the threads of boards that have ended; with `all`, waits for every board.
    void reap(bool all);
    StationTally tally() const;

  private:
    struct Slot;
    struct Board;
    void startLocked(const std::shared_ptr<Slot>& slot);
    void run(std::shared_ptr<Slot> slot, std::shared_ptr<Board> board);
    void endLocked(const BoardRecord& record);
    bool closedLocked() const;
    bool mayRetry() const;

    StationSettings settings_;
    const PreparedImage& image_;
    StationSeam& seam_;
    StationObserver& observer_;
    mutable std::mutex lock_;
    std::map<std::string, std::shared_ptr<Slot>> slots_;  // by the name a job opens
    std::vector<std::thread> ended_;                      // threads done, to be joined
    std::condition_variable boardEnded_;
    StationTally tally_;
    std::optional<std::pair<std::uint64_t, int>> firstFailure_;  // its number and status
    int interruptedBy_ = 0;
    bool closed_ = false;
    bool lookAgain_ = false;
};

// Whether a listed port is one a station takes: a USB serial adapter or a virtual board whose
// name, device path, by-id name, description or VID:PID matches `pattern` (any, when empty).
bool isWatched(const PortInfo& port, const std::string& pattern);

// Where a station finds its boards.
struct WatchPlan {
    // Named ports, each present while its board answers the probe; none: the USB serial
    // adapters and virtual boards as they are plugged, matching `match`.
    std::vector<Fixture> ports{};
    std::string match{};
};

// Feeds the station its plugs until it is closed (the count, failures in a row, a signal),
// then waits for every board in flight.
void watch(Station& station, const WatchPlan& plan, StationSeam& seam, StationObserver& observer);

}  // namespace zq::station
