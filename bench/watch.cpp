// zq417-flash watch as a station: what it costs while it waits, and how soon a board that
// appears gets its first byte.
//
//   watch [seconds] [boards] [--probe]     (defaults: 60 and 6, boards found as announced)
//
// By default the boards are virtual ones that the watch finds as zq417-sim announces them; this
// program sets a runtime directory of its own for itself and its children, so no other board of
// the user's is seen or touched. With --probe the boards sit at fixed paths instead, and the
// watch probes those every second.
// Idle: the watch waits `seconds` with no board present; its CPU time over that span, taken from
// /proc once its start-up is over, is the share of a core it costs while waiting.
// Latency: `boards` simulated boards appear at random moments over `seconds`. A board's log counts
// from the moment it appeared (announced, its link already placed), so its own times say how long
// the host took to open it and to send it its first packet.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/sim_process.h"

namespace {

using namespace std::chrono_literals;
using zq::test::ChildProcess;
using zq::test::SimProcess;
using Clock = std::chrono::steady_clock;

// What the watch looks for when it discovers boards: virtual ones only, so that a real adapter
// on the bench machine is never flashed.
constexpr const char* VirtualBoards = "zq417-sim virtual board*";
// The watch's own start-up (image, first listing) is not part of its idle cost.
constexpr auto Settle = 1s;

struct Setup {
    int seconds = 60;
    int boards = 6;
    bool probe = false;
    std::vector<std::string> ports;  // --probe: where each board's link is placed
};

std::vector<std::string> watchArgs(const Setup& setup) {
    std::vector<std::string> args = {"watch", "--quiet"};
    if (!setup.probe) {
        args.insert(args.end(), {"--match", VirtualBoards});
    }
    for (const std::string& p : setup.ports) {
        args.insert(args.end(), {"--port", p});
    }
    return args;
}

std::vector<std::string> simArgs(const Setup& setup, std::size_t board) {
    std::vector<std::string> args = {"--mode", "update", "--no-pacing"};
    if (setup.probe) {
        args.insert(args.end(), {"--link", setup.ports[board]});
    }
    return args;
}

// User and system time of every thread the process has had, in milliseconds.
std::optional<double> cpuMs(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    const std::string stat{std::istreambuf_iterator<char>(file), {}};
    // The command name in parentheses may hold spaces; the fields after it do not.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string skip;
    for (int field = 3; field < 14; ++field) {
        fields >> skip;
    }
    unsigned long long user = 0;
    unsigned long long system = 0;
    if (!(fields >> user >> system)) {
        return std::nullopt;
    }
    return 1000.0 * static_cast<double>(user + system) /
           static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::string loadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one;
    std::string five;
    std::string fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

struct Idle {
    double startupMs = 0;  // CPU time until it settled
    double waitingMs = 0;  // CPU time while it waited
    double share = 0;      // percent of one core while waiting
};

std::optional<Idle> idle(const Setup& setup) {
    ChildProcess watch(ZQ417_FLASH_PATH, watchArgs(setup), true);
    std::this_thread::sleep_for(Settle);
    const auto from = Clock::now();
    const std::optional<double> before = cpuMs(watch.pid());
    std::this_thread::sleep_for(std::chrono::seconds(setup.seconds));
    const std::optional<double> after = cpuMs(watch.pid());
    const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - from).count();
    watch.signal(SIGINT);
    if (!before || !after || !watch.waitForExit(10s)) {
        std::fprintf(stderr, "the idle watch did not run to its end:\n%s\n", watch.err().c_str());
        return std::nullopt;
    }
    return Idle{*before, *after - *before, 100.0 * (*after - *before) / wallMs};
}

// A board's own account, in milliseconds after it appeared.
struct BoardTimes {
    std::optional<double> opened;
    std::optional<double> firstPacket;
};

BoardTimes timesOf(const std::string& log) {
    BoardTimes times;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line) && !times.firstPacket;) {
        const std::size_t stamp = line.find(" ms  ");
        if (stamp == std::string::npos || line.starts_with("zq417-sim:")) {
            continue;
        }
        const double at = std::strtod(line.c_str(), nullptr);
        const std::string_view what = std::string_view(line).substr(stamp + 5);
        if (what == "host opened the port") {
            times.opened = times.opened.value_or(at);
        } else if (!what.starts_with("host ")) {
            times.firstPacket = at;
        }
    }
    return times;
}

void printSpread(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    const std::size_t n = ms.size();
    const double median = n % 2 == 1 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
    std::printf("appearance to %s, ms: median %.1f, worst %.1f (", what, median, ms.back());
    for (std::size_t k = 0; k < n; ++k) {
        std::printf("%s%.1f", k == 0 ? "" : " ", ms[k]);
    }
    std::printf(")\n");
}

bool latency(const Setup& setup) {
    std::vector<std::string> args = watchArgs(setup);
    args.insert(args.end(), {"--json", "--count", std::to_string(setup.boards)});
    ChildProcess watch(ZQ417_FLASH_PATH, args, true);
    std::this_thread::sleep_for(Settle);
    std::mt19937 random(std::random_device{}());
    std::vector<int> at;
    for (int k = 0; k < setup.boards; ++k) {
        at.push_back(std::uniform_int_distribution<int>(0, setup.seconds * 1000)(random));
    }
    std::sort(at.begin(), at.end());
    const auto start = Clock::now();
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (std::size_t k = 0; k < at.size(); ++k) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(at[k]));
        sims.push_back(std::make_unique<SimProcess>(simArgs(setup, k)));
    }
    const std::optional<int> status = watch.waitForExit(120s);
    std::vector<double> opened;
    std::vector<double> firstPacket;
    for (auto& sim : sims) {
        sim->stop();
        const BoardTimes times = timesOf(sim->out());
        if (times.opened && times.firstPacket) {
            opened.push_back(*times.opened);
            firstPacket.push_back(*times.firstPacket);
        }
    }
    if (status != 0 || firstPacket.size() != sims.size()) {
        std::fprintf(stderr, "the watch did not flash every board (exit %d):\n%s\n",
                     status.value_or(-1), watch.err().c_str());
        return false;
    }
    printSpread("the host's open", opened);
    printSpread("the first packet", firstPacket);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Setup setup;
    std::vector<std::string_view> numbers;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--probe") == 0) {
            setup.probe = true;
        } else {
            numbers.push_back(argv[i]);
        }
    }
    if (!numbers.empty()) {
        setup.seconds = std::max(1, std::atoi(numbers[0].data()));
    }
    if (numbers.size() > 1) {
        setup.boards = std::max(1, std::atoi(numbers[1].data()));
    }
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("zq417-watch-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    // The boards announce themselves, and the watch looks for them, here only.
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    if (setup.probe) {
        for (int k = 0; k < setup.boards; ++k) {
            setup.ports.push_back((dir / ("board" + std::to_string(k))).string());
        }
    }

    std::printf("load average at the start: %s\n", loadAverage().c_str());
    const std::optional<Idle> waiting = idle(setup);
    if (waiting) {
        // /proc counts in clock ticks, so a share below one tick over the span reads as 0.
        std::printf(
            "idle for %d s %s: %.4f %% of a core, %.0f ms of CPU in %.0f ms ticks "
            "(start-up %.0f ms)\n",
            setup.seconds,
            setup.probe ? ("probing " + std::to_string(setup.boards) + " ports").c_str()
                        : "on plug events and announcements",
            waiting->share, waiting->waitingMs,
            1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK)), waiting->startupMs);
        std::fflush(stdout);
    }
    std::printf("%d boards appearing over %d s:\n", setup.boards, setup.seconds);
    const bool flashed = latency(setup);
    std::printf("load average at the end: %s\n", loadAverage().c_str());
    std::filesystem::remove_all(dir);
    return waiting && flashed ? 0 : 1;
}
