// zq417-flash watch as a station: what it costs while it waits, and how soon a board that
// appears gets its first byte.
//
//   watch [seconds] [boards]     (defaults: 60 and 6)
//
// Idle: the watch runs `seconds` with nothing to flash, once on plug events (the adapters and
// virtual boards listed, none matching) and once probing fixed ports every second where no board
// answers; its CPU time over the wall time is the share of a core it takes while waiting.
// Latency: `boards` simulated boards appear at random moments over `seconds` on the ports the
// watch probes; each board's own log says how long after it appeared the first packet reached it.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/sim_process.h"

namespace {

using namespace std::chrono_literals;
using zq::test::ChildProcess;
using zq::test::SimProcess;

double inMs(const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0;
}

std::vector<std::string> fixedPorts(const std::filesystem::path& dir, int boards) {
    std::vector<std::string> ports;
    for (int k = 0; k < boards; ++k) {
        ports.push_back((dir / ("board" + std::to_string(k))).string());
    }
    return ports;
}

std::vector<std::string> probing(const std::vector<std::string>& ports) {
    std::vector<std::string> args;
    for (const std::string& p : ports) {
        args.insert(args.end(), {"--port", p});
    }
    return args;
}

// The watch's CPU time over its wall time, in percent of one core, after `seconds` of waiting.
std::optional<double> idleShare(std::vector<std::string> args, int seconds) {
    args.insert(args.begin(), {"watch", "--quiet"});
    ChildProcess watch(ZQ417_FLASH_PATH, args, true);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    watch.signal(SIGINT);
    if (!watch.waitForExit(10s)) {
        std::fprintf(stderr, "the idle watch did not end:\n%s\n", watch.err().c_str());
        return std::nullopt;
    }
    const double cpuMs = inMs(watch.usage().ru_utime) + inMs(watch.usage().ru_stime);
    const double wallMs = std::chrono::duration<double, std::milli>(watch.runTime()).count();
    return 100.0 * cpuMs / wallMs;
}

// From the board's appearance to the first packet that reached it, as the board logged it.
std::optional<double> firstPacketMs(const std::string& log) {
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t stamp = line.find(" ms  ");
        if (stamp == std::string::npos || line.rfind("zq417-sim:", 0) == 0 ||
            line.find("host opened the port") != std::string::npos) {
            continue;
        }
        return std::strtod(line.c_str(), nullptr);
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const int boards = argc > 2 ? std::max(1, std::atoi(argv[2])) : 6;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("zq417-watch-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::vector<std::string> ports = fixedPorts(dir, boards);

    const auto onEvents = idleShare({"--match", "zq417-bench-matches-nothing"}, seconds);
    const auto onProbes = idleShare(probing(ports), seconds);
    if (!onEvents || !onProbes) {
        return 1;
    }
    std::printf("idle for %d s, %% of a core: on plug events %.4f, probing %d ports %.4f\n",
                seconds, *onEvents, boards, *onProbes);
    std::fflush(stdout);

    std::vector<std::string> args = probing(ports);
    args.insert(args.begin(), {"watch", "--quiet", "--json", "--count", std::to_string(boards)});
    ChildProcess watch(ZQ417_FLASH_PATH, args, true);
    std::mt19937 random(std::random_device{}());
    std::vector<int> at;
    for (int k = 0; k < boards; ++k) {
        at.push_back(std::uniform_int_distribution<int>(0, seconds * 1000)(random));
    }
    std::sort(at.begin(), at.end());
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int k = 0; k < boards; ++k) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(at[k]));
        sims.push_back(std::make_unique<SimProcess>(std::vector<std::string>{
            "--mode", "update", "--no-pacing", "--link", ports[static_cast<std::size_t>(k)]}));
    }
    const std::optional<int> status = watch.waitForExit(120s);
    std::vector<double> latencies;
    for (auto& sim : sims) {
        sim->stop();
        if (const auto ms = firstPacketMs(sim->out())) {
            latencies.push_back(*ms);
        }
    }
    std::filesystem::remove_all(dir);
    if (status != 0 || latencies.size() != sims.size()) {
        std::fprintf(stderr, "the watch did not flash every board (exit %d):\n%s\n",
                     status.value_or(-1), watch.err().c_str());
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf(
        "appearance to first packet over %d boards (probing every second), ms: median "
        "%.1f, worst %.1f\n",
        boards, latencies[latencies.size() / 2], latencies.back());
    return 0;
}
