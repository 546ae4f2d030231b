// The station in virtual time: plug histories (plugs, pulls at each stage, a new board in the
// same fixture, boards at once, retries, failures in a row) and the one record each board ends
// in; and memory that stays flat however many boards come.
#include <gtest/gtest.h>
#include <malloc.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/forwarding_platform.h"
#include "sim/simulated_line.h"
#include "station/station.h"
#include "transfer/latency_advice.h"

namespace zq::test {
namespace {

using station::BoardEnd;
using station::BoardRecord;
using station::BoardView;

// What a row expects of one board's record.
struct Expected {
    std::string fixture;
    BoardEnd end;
    std::optional<OperationStage> pulledDuring = std::nullopt;
    std::size_t tries = 1;
    int exit = 0;
};

// A fixture's board: how it behaves, and where in its run the operator pulls it.
struct Plug {
    sim::BoardConfig board{};
    std::optional<OperationStage> pullAt{};
    bool replugAtPull = false;  // a new board goes into the same fixture as this one comes out
    bool unseen = false;        // so fast that no listing shows the fixture empty
};

// A station whose boards run on simulated lines, one line per board, each plug of a fixture
// taking the next of its plugs.
class Bench final : public station::StationObserver {
  public:
    explicit Bench(station::StationSettings settings) {
        seam.platformFor = [this](const station::Fixture& fixture) -> std::unique_ptr<Platform> {
            const std::lock_guard hold(lock);
            std::vector<Plug>& queue = plugs.at(fixture.openName);
            const Plug plug = queue.front();
            if (queue.size() > 1) {
                queue.erase(queue.begin());
            }
            auto& line = lines.emplace_back(std::make_unique<sim::SimulatedLine>(plug.board));
            line->deviceName = fixture.openName;
            current[fixture.openName] = {line.get(), plug};
            return std::make_unique<ForwardingPlatform>(*line);
        };
        station = std::make_unique<station::Station>(std::move(settings), image, seam, *this);
    }

    void plugIn(const std::string& name) {
        present.push_back(name);
        station->present(fixtures());
    }
    void pull(const std::string& name) {
        std::erase(present, name);
        station->present(fixtures());
    }
    // Every board's end, then a listing of what is plugged now, and every board that started.
    std::vector<BoardRecord> finish() {
        station->reap(true);
        station->present(fixtures());
        station->reap(true);
        return records;
    }

    std::vector<station::Fixture> fixtures() const {
        std::vector<station::Fixture> listed;
        for (const std::string& name : present) {
            station::Fixture fixture;
            fixture.openName = name;
            fixture.found = station::Fixture::Found::Plugged;
            fixture.port.systemName = name;
            fixture.port.devicePath = name;
            fixture.port.bus = PortInfo::Bus::Usb;
            listed.push_back(fixture);
        }
        return listed;
    }

    void boardStarted(const BoardView&) override {}
    void box(const BoardView&, BoxStyle, std::string_view, const Outcome&, bool) override {}
    void range(const BoardView&, std::uint32_t) override {}
    void position(const BoardView&, std::uint32_t) override {}
    void tryEnded(const BoardView&, const station::Try&,
                  std::optional<std::chrono::milliseconds>) override {}
    // The operator pulls the board as it reaches its stage: its line goes dead and its port
    // leaves the listing; some put the next board in at once.
    void stage(const BoardView& board, OperationStage stage) override {
        std::unique_lock hold(lock);
        auto& [line, plug] = current.at(board.fixture.openName);
        if (plug.pullAt != stage) {
            return;
        }
        const SystemError gone{.code = 5, .text = "Input/output error", .deviceGone = true};
        line->faults.error = gone;
        line->faults.readFails = [] { return true; };
        line->faults.writeFault = [](std::span<const std::uint8_t>) { return -1L; };
        const bool replug = plug.replugAtPull;
        const bool unseen = plug.unseen;
        hold.unlock();
        if (unseen) {
            return;
        }
        pull(board.fixture.openName);
        if (replug) {
            plugIn(board.fixture.openName);
        }
    }
    void boardEnded(const BoardRecord& record) override {
        const std::lock_guard hold(lock);
        records.push_back(record);
    }

    station::PreparedImage image{std::vector<std::uint8_t>(5695, 0x5A), {"built-in", 5695, "00"}};
    sim::SimulatedLine unused;
    station::StationSeam seam{.platform = unused};
    std::map<std::string, std::vector<Plug>> plugs;
    std::unique_ptr<station::Station> station;

  private:
    std::mutex lock;
    std::vector<std::string> present;
    std::vector<std::unique_ptr<sim::SimulatedLine>> lines;
    std::map<std::string, std::pair<sim::SimulatedLine*, Plug>> current;
    std::vector<BoardRecord> records;
};

TEST(Station, EveryPlugIsOneBoardThatEndsInOneRecord) {
    using enum OperationStage;
    const sim::BoardConfig firmware{.mode = sim::BoardMode::Update};
    const sim::BoardConfig loader{.mode = sim::BoardMode::Download};
    const sim::BoardConfig badEeprom{.mode = sim::BoardMode::Update, .statusValue = 0x0080};
    const sim::BoardConfig late{.mode = sim::BoardMode::Update,
                                .replyDelay = std::chrono::milliseconds(30)};
    struct Row {
        const char* what;
        std::map<std::string, std::vector<Plug>> plugs;
        std::vector<std::string> plugged;  // in order; each plug of a fixture takes its next Plug
        std::vector<Expected> records;     // in the order the boards came
        station::StationSettings settings{};
        int exit = 0;
    };
    const Row rows[] = {
        {"two boards at once",
         {{"A", {{firmware}}}, {"B", {{loader}}}},
         {"A", "B"},
         {{"A", BoardEnd::Succeeded}, {"B", BoardEnd::Succeeded}}},
        {"pulled in the handshake",
         {{"A", {{firmware, Probing}}}},
         {"A"},
         {{"A", BoardEnd::Pulled, Probing, 1, 1}},
         {},
         1},
        {"pulled while the loader took the image",
         {{"A", {{loader, Loader}}}},
         {"A"},
         {{"A", BoardEnd::Pulled, Loader, 1, 1}},
         {},
         1},
        {"pulled while the firmware took the image",
         {{"A", {{firmware, Firmware}}}},
         {"A"},
         {{"A", BoardEnd::Pulled, Firmware, 1, 1}},
         {},
         1},
        {"pulled while it programmed, a new board put in at once",
         {{"A", {{firmware, Programming, true}, {firmware}}}},
         {"A"},
         {{"A", BoardEnd::Pulled, Programming, 1, 1}, {"A", BoardEnd::Succeeded}},
         {},
         1},
        {"pulled while it programmed and a new board put in between two listings",
         {{"A", {{firmware, Programming, true, true}, {firmware}}}},
         {"A"},
         {{"A", BoardEnd::Pulled, Programming, 1, 1}, {"A", BoardEnd::Succeeded}},
         {},
         1},
        {"a board that failed is not tried again once pulled, even with retries left",
         {{"A", {{badEeprom, Programming}}}},
         {"A"},
         {{"A", BoardEnd::Pulled, Programming, 1, 1}},
         {.board = {.retries = 2}},
         1},
        {"a late board, tried again with the latency it advised",
         {{"A", {{late}}}},
         {"A"},
         {{"A", BoardEnd::Succeeded, std::nullopt, 2}},
         {.board = {.retries = 1}}},
        {"failures in a row end the station, and the next plug starts nothing",
         {{"A", {{badEeprom}}}, {"B", {{badEeprom}}}, {"C", {{firmware}}}},
         {"A", "B", "C"},
         {{"A", BoardEnd::Failed, std::nullopt, 1, 1}, {"B", BoardEnd::Failed, std::nullopt, 1, 1}},
         {.stopAfterFailures = 2},
         7},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bench bench(row.settings);
        bench.plugs = row.plugs;
        for (const std::string& name : row.plugged) {
            if (row.settings.stopAfterFailures != 0) {
                bench.station->reap(true);  // one after another
            }
            bench.plugIn(name);
        }
        const std::vector<BoardRecord> records = bench.finish();
        ASSERT_EQ(records.size(), row.records.size());
        std::map<std::uint64_t, const BoardRecord*> byNumber;
        for (const BoardRecord& r : records) {
            byNumber[r.number] = &r;
        }
        ASSERT_EQ(byNumber.size(), records.size()) << "each board its own number";
        std::size_t i = 0;
        for (const auto& [number, record] : byNumber) {
            const Expected& want = row.records[i++];
            SCOPED_TRACE(number);
            EXPECT_EQ(record->fixture.openName, want.fixture);
            EXPECT_EQ(record->end, want.end);
            EXPECT_EQ(record->pulledDuring, want.pulledDuring);
            EXPECT_EQ(record->tries.size(), want.tries);
            EXPECT_EQ(record->exit, want.exit);
            if (record->tries.size() == 2) {
                const unsigned advised = advisedLatency(record->tries[0].outcome);
                EXPECT_GT(advised, 0u);
                EXPECT_EQ(record->tries[1].latencyMs, advised);
            }
        }
        EXPECT_EQ(bench.station->tally().exit, row.exit);
    }
}

// Only the boards in flight are held: ten thousand plugs, each a board whose port is gone by the
// time it is opened, leave the heap as a thousand did.
TEST(Station, MemoryStaysFlatHoweverManyBoardsCome) {
    std::uint64_t ended = 0;
    struct Counter final : station::StationObserver {
        explicit Counter(std::uint64_t& ended) : ended(ended) {}
        void boardStarted(const BoardView&) override {}
        void box(const BoardView&, BoxStyle, std::string_view, const Outcome&, bool) override {}
        void stage(const BoardView&, OperationStage) override {}
        void range(const BoardView&, std::uint32_t) override {}
        void position(const BoardView&, std::uint32_t) override {}
        void tryEnded(const BoardView&, const station::Try&,
                      std::optional<std::chrono::milliseconds>) override {}
        void boardEnded(const BoardRecord&) override { ++ended; }
        std::uint64_t& ended;
    } counter(ended);
    sim::SimulatedLine line;
    line.faults.openFails = OpenFailure::Kind::NoSuchDevice;
    station::StationSeam seam{.platform = line};
    const station::PreparedImage image{{1, 2, 3}, {"built-in", 3, "00"}};
    station::Station station({}, image, seam, counter);
    // Each board on a device of its own, as virtual boards and re-plugged adapters get them.
    const auto plugs = [&](int count) {
        for (int i = 0; i < count; ++i) {
            const std::string name = "/dev/pts/" + std::to_string(i);
            station::Fixture fixture;
            fixture.openName = name;
            fixture.found = station::Fixture::Found::Plugged;
            fixture.port.systemName = name.substr(5);
            fixture.port.devicePath = name;
            station.present({fixture});
            station.reap(true);
            station.present({});
        }
    };
    plugs(1000);
    const std::size_t before = mallinfo2().uordblks;
    plugs(10000);
    EXPECT_EQ(ended, 11000u);
    EXPECT_LT(mallinfo2().uordblks, before + 64 * 1024);
    EXPECT_EQ(station.tally().pulled, 11000u);
}

}  // namespace
}  // namespace zq::test
