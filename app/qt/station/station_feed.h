#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/qt/station/tile_state.h"
#include "station/station_observer.h"

namespace zq::qt {

// What the boards of a run came to so far, as the window's top line counts them.
struct StationCounts {
    std::uint64_t passed = 0;
    std::uint64_t failed = 0;
    std::uint64_t pulled = 0;
    std::uint64_t stopped = 0;
    std::uint64_t running = 0;
    bool operator==(const StationCounts&) const = default;
};

// The station's observer behind the window. The boards call it from their own threads; it only
// notes where each fixture's board is (a newer position overwrites an older one, so 32 boards
// sending at once make no more work than one) and wakes the window once until the window takes
// what changed. Every finished board goes to the log from its own thread, so the log keeps it
// whatever the window is doing.
class StationFeed final : public station::StationObserver {
  public:
    struct Hooks {
        // On a board's thread, at the first change since the last take(): the window queues a
        // take on its own thread.
        std::function<void()> changed{};
        // The first line of a failed board's reason.
        std::function<std::string(const station::BoardRecord&)> reasonOf{};
        // Adds a finished board to the log; the system's reason when it could not. Unset: no log.
        std::function<std::optional<std::string>(const station::BoardRecord&)> log{};
    };
    explicit StationFeed(Hooks hooks);

    struct Changes {
        std::vector<TileState> tiles;  // each changed tile once, as it stands now
        StationCounts counts;
        std::vector<std::string> logErrors;  // boards the log could not keep, and why
    };
    Changes take();

    // A fixture given by name has its tile before its first board.
    void expect(const station::Fixture& fixture);

    void boardStarted(const station::BoardView& board) override;
    void tryStarting(const station::BoardView& board, unsigned tryNumber,
                     unsigned latencyMs) override;
    void box(const station::BoardView& board, BoxStyle style, std::string_view text,
             const Outcome& outcome, bool unowned) override;
    void stage(const station::BoardView& board, OperationStage stage) override;
    void range(const station::BoardView& board, std::uint32_t maximum) override;
    void position(const station::BoardView& board, std::uint32_t position) override;
    void programming(const station::BoardView& board, std::chrono::milliseconds elapsed) override;
    bool countsDown() const override { return true; }
    void tryEnded(const station::BoardView& board, const station::Try& ended,
                  std::optional<std::chrono::milliseconds> retryIn) override;
    void boardEnded(const station::BoardRecord& record) override;
    void portHeld(const station::Fixture& fixture, const OpenFailure& why) override;

  private:
    // Changes the fixture's tile under the lock, then wakes the window if it is not awake yet.
    void update(const station::Fixture& fixture, const std::function<void(TileState&)>& change);

    Hooks hooks_;
    std::mutex lock_;
    std::map<std::string, TileState> tiles_;  // by the name the fixture's job opens
    std::set<std::string> changed_;
    StationCounts counts_;
    std::vector<std::string> logErrors_;
    std::atomic<bool> awake_{false};
};

}  // namespace zq::qt
