// The "Firmware Station" window with 32 virtual boards plugged at once: its wall time from Start
// to the last board's end (its record's "ended") beside `zq417-flash watch --count 32` on the
// same boards, and beside the protocol's floor for one board (they all run at once); and the
// longest the window's event loop went without turning meanwhile (a 1 ms timer's largest gap),
// beside the same timer's while the watch runs in another process (what the machine alone
// costs). Offscreen: no display needed.
//
//   station_window [boards] [rounds]     (defaults: 32 and 2)

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/station/station_options.h"
#include "app/qt/station/station_window.h"
#include "serial/port_discovery.h"
#include "serial/posix/posix_platform.h"
#include "support/child_process.h"
#include "support/sim_process.h"
#include "transfer_floor.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Only the simulator's boards: a real adapter on the bench machine is never flashed.
constexpr const char* VirtualBoards = "zq417-sim virtual board*";

// The latest "ended" in a log: when its last board was done, on the wall clock.
std::optional<std::chrono::system_clock::time_point> lastEnded(const fs::path& log) {
    std::optional<std::chrono::system_clock::time_point> last;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        const std::size_t at = line.find("\"ended\":\"");
        std::tm utc{};
        int ms = 0;
        if (at == std::string::npos ||
            std::sscanf(line.c_str() + at + 9, "%d-%d-%dT%d:%d:%d.%dZ", &utc.tm_year, &utc.tm_mon,
                        &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &ms) != 7) {
            continue;
        }
        utc.tm_year -= 1900;
        utc.tm_mon -= 1;
        const auto ended =
            std::chrono::system_clock::from_time_t(::timegm(&utc)) + std::chrono::milliseconds(ms);
        last = last ? std::max(*last, ended) : ended;
    }
    return last;
}

// The event loop's largest gap beyond its 1 ms timer while `done` says the run goes on.
double loopStallMs(const std::function<bool()>& done) {
    double stall = 0;
    QElapsedTimer sinceTick;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        stall = std::max(stall, static_cast<double>(sinceTick.nsecsElapsed()) / 1e6 - 1);
        sinceTick.start();
        if (done()) {
            QCoreApplication::exit(0);
        }
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    sinceTick.start();
    tick.start(1);
    limit.start(120000);
    QApplication::exec();
    return stall;
}

double msSince(std::chrono::system_clock::time_point start, const fs::path& log) {
    const auto last = lastEnded(log);
    return last ? std::chrono::duration<double, std::milli>(*last - start).count() : -1;
}

struct Round {
    double wallMs = -1;  // from the start to the last board's end, as its record says
    double stallMs = 0;
};

// zq417-flash watch on the boards, the bench's loop turning meanwhile: what the machine alone
// makes of a 1 ms timer.
Round watchRound(int boards, const fs::path& log) {
    fs::remove(log);
    const auto start = std::chrono::system_clock::now();
    zq::test::ChildProcess watch(ZQ417_FLASH_PATH,
                                 {"watch", "--quiet", "--match", VirtualBoards, "--count",
                                  std::to_string(boards), "--log", log.string()},
                                 true);
    Round round;
    round.stallMs = loopStallMs([&] { return watch.waitForExit(0ms).has_value(); });
    round.wallMs = msSince(start, log);
    return round;
}

Round windowRound(int boards, const fs::path& log) {
    fs::remove(log);
    zq::PosixPlatform platform;
    zq::qt::StationChoices choices;
    choices.logFile = log.string();
    choices.match = VirtualBoards;
    zq::qt::StationWindow window({.platform = platform}, nullptr, choices);
    window.resize(1366, 700);
    window.show();
    QApplication::processEvents();
    const auto start = std::chrono::system_clock::now();
    Round round;
    if (!window.start()) {
        std::fprintf(stderr, "the station would not start\n");
        return round;
    }
    round.stallMs = loopStallMs([&] {
        const zq::qt::StationCounts& counts = window.counts();
        return counts.passed + counts.failed + counts.pulled + counts.stopped >=
               static_cast<std::uint64_t>(boards);
    });
    round.wallMs = msSince(start, log);
    window.stop();
    while (window.running()) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return round;
}

}  // namespace

int main(int argc, char** argv) {
    const int boards = argc > 1 ? std::atoi(argv[1]) : 32;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 2;
    // A runtime directory of its own: only the boards started here are seen.
    const fs::path home =
        fs::temp_directory_path() / ("zq-bench-station-" + std::to_string(::getpid()));
    fs::create_directories(home);
    fs::permissions(home, fs::perms::owner_all);
    ::setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    zq::test::SimProcess sim(
        {"--boards", std::to_string(boards), "--mode", "update", "--no-pacing", "--quiet"});
    for (int k = 0; k < boards; ++k) {
        if (sim.devicePath().empty()) {
            std::fprintf(stderr, "zq417-sim did not start its boards\n");
            return 1;
        }
    }
    const double floorMs = static_cast<double>(zq::bench::floorOf(zq::ModeUpdate).count());
    std::printf("%d boards at once; one board's floor (flash on a board in update mode): %.0f ms\n",
                boards, floorMs);
    std::printf(
        "round  watch ms  window ms  window/watch  window/floor  "
        "stall ms (window)  stall ms (watch's run, the machine alone)\n");
    for (int r = 0; r < rounds; ++r) {
        const Round watch = watchRound(boards, home / "watch.jsonl");
        const Round window = windowRound(boards, home / "window.jsonl");
        std::printf("%5d  %8.0f  %9.0f  %12.4f  %12.4f  %17.1f  %.1f\n", r + 1, watch.wallMs,
                    window.wallMs, window.wallMs / watch.wallMs, window.wallMs / floorMs,
                    window.stallMs, watch.stallMs);
    }
    sim.stop();
    fs::remove_all(home);
    return 0;
}
