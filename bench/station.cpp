// zq417-flash watch as a station under load, against virtual boards it finds as zq417-sim
// announces them.
//
//   station [rounds]     (default 16)
//
// At once: 32 boards plugged together into `watch --count 32`; its wall time from the plug to its
// exit beside one board's floor (the protocol's own pauses and read timeouts: every board runs at
// the same time, so the whole should take no longer than one), its CPU time and peak memory.
// Long run: 32 fixtures through which `rounds` boards each pass one after another, each pulled
// once the watch let go of it and replaced by a new one; the watch's memory, descriptors and
// threads after every round must stay flat.
// This program sets a runtime directory of its own for itself and its children, so no other
// board of the user's is seen or touched.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/sim_process.h"
#include "transfer_floor.h"

namespace {

using namespace std::chrono_literals;
using zq::test::ChildProcess;
using zq::test::SimProcess;
using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

constexpr int Fixtures = 32;
// What the watch looks for: virtual boards only, so that a real adapter is never flashed.
constexpr const char* VirtualBoards = "zq417-sim virtual board*";
// The watch's own start-up (image, first listing) comes before the boards.
constexpr auto Settle = 1s;

double cpuMs(const rusage& usage) {
    const auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// What /proc says of a running process now.
struct Footprint {
    long rssKiB = 0;
    long threads = 0;
    long descriptors = 0;
};

Footprint footprintOf(pid_t pid) {
    Footprint now;
    const std::string proc = "/proc/" + std::to_string(pid);
    std::ifstream status(proc + "/status");
    for (std::string key; status >> key;) {
        if (key == "VmRSS:") {
            status >> now.rssKiB;
        } else if (key == "Threads:") {
            status >> now.threads;
        }
    }
    std::error_code ec;
    for (std::filesystem::directory_iterator it(proc + "/fd", ec), end; !ec && it != end;
         it.increment(ec)) {
        ++now.descriptors;
    }
    return now;
}

std::vector<std::string> watchArgs() {
    return {"watch", "--quiet", "--json", "--match", VirtualBoards};
}

struct Records {
    int got = 0;
    int succeeded = 0;
    int retried = 0;  // succeeded or not, after more than one try
    int plugs = 0;    // boards the simulator plugged meanwhile
};

// Reads the watch's records until `wanted` more came, or none for `quiet`. The simulator's lines
// of plugs and pulls are read meanwhile (a wait of 0 would only hand out lines read already):
// with its output pipe full, every board would stall.
Records awaitRecords(ChildProcess& watch, SimProcess& sim, int wanted, std::chrono::seconds quiet) {
    Records records;
    while (records.got < wanted) {
        const std::optional<std::string> line = watch.readLine(quiet);
        while (const std::optional<std::string> simLine = sim.readLine(1ms)) {
            records.plugs += simLine->find(" mode on /") != std::string::npos ? 1 : 0;
        }
        if (!line) {
            break;
        }
        if (line->starts_with("{\"port\"")) {
            ++records.got;
            const bool ok = line->find("\"ok\":true") != std::string::npos;
            records.succeeded += ok ? 1 : 0;
            if (!ok) {
                std::fprintf(stderr, "%s\n", line->c_str());
            }
            records.retried += line->find("\"attempts\":1,") == std::string::npos ? 1 : 0;
        }
    }
    return records;
}

bool atOnce() {
    const double floorMs = static_cast<double>(zq::bench::floorOf(zq::ModeUpdate).count());
    std::vector<std::string> args = watchArgs();
    args.insert(args.end(), {"--count", std::to_string(Fixtures)});
    ChildProcess watch(ZQ417_FLASH_PATH, args, true);
    std::this_thread::sleep_for(Settle);
    const auto plugged = Clock::now();
    SimProcess sim(
        {"--boards", std::to_string(Fixtures), "--mode", "update", "--no-pacing", "--quiet"});
    const Records records = awaitRecords(watch, sim, Fixtures, 60s);
    const std::optional<int> status = watch.waitForExit(30s);
    const double wallMs = Milliseconds(Clock::now() - plugged).count();
    sim.stop();
    if (records.succeeded != Fixtures || status != 0) {
        std::fprintf(stderr, "the watch did not flash all %d boards (exit %d):\n%s\n", Fixtures,
                     status.value_or(-1), watch.err().c_str());
        return false;
    }
    std::printf(
        "%d boards at once: wall %.1f ms from the plug to the exit, %.4f x the floor of %.0f ms; "
        "watch cpu %.1f ms (%.2f ms a board), peak rss %ld KiB; simulator cpu %.1f ms\n",
        Fixtures, wallMs, wallMs / floorMs, floorMs, cpuMs(watch.usage()),
        cpuMs(watch.usage()) / Fixtures, watch.usage().ru_maxrss, cpuMs(sim.usage()));
    return true;
}

// A board that fails is not pulled (its fixture would stall), so the watch tries each board
// twice, as a station does; the boards that needed it are counted.
bool longRun(int rounds) {
    std::vector<std::string> args = watchArgs();
    args.insert(args.end(), {"--retries", "1"});
    ChildProcess watch(ZQ417_FLASH_PATH, args, true);
    std::this_thread::sleep_for(Settle);
    const Footprint idle = footprintOf(watch.pid());
    const auto start = Clock::now();
    SimProcess sim({"--boards", std::to_string(Fixtures), "--mode", "update", "--no-pacing",
                    "--quiet", "--pull-after-programming", std::to_string(rounds - 1), "--plug-gap",
                    "200"});
    std::printf(
        "%d plugs, %d fixtures one board after another; the watch idle: rss %ld KiB, "
        "%ld threads, %ld descriptors\n",
        Fixtures * rounds, Fixtures, idle.rssKiB, idle.threads, idle.descriptors);
    std::printf("round  boards  succeeded  retried  seconds  rss KiB  threads  descriptors\n");
    std::vector<Footprint> after;
    Records all;
    for (int r = 1; r <= rounds; ++r) {
        const Records round = awaitRecords(watch, sim, Fixtures, 30s);
        all.got += round.got;
        all.succeeded += round.succeeded;
        all.retried += round.retried;
        all.plugs += round.plugs;
        after.push_back(footprintOf(watch.pid()));
        std::printf("%5d %7d %10d %8d %8.1f %8ld %8ld %12ld\n", r, all.got, round.succeeded,
                    round.retried, std::chrono::duration<double>(Clock::now() - start).count(),
                    after.back().rssKiB, after.back().threads, after.back().descriptors);
        std::fflush(stdout);
        if (round.got < Fixtures) {
            // More plugs than records: the watch missed a board or never ended one. As many:
            // the simulator did not pull a board.
            std::fprintf(stderr, "a fixture stalled: no record for 30 s; %d plugs, %d records\n",
                         all.plugs, all.got);
            break;
        }
    }
    watch.signal(SIGINT);
    const std::optional<int> status = watch.waitForExit(30s);
    sim.stop();
    // The first round grows the allocator's pools and the thread stacks to their working size,
    // and the boards in flight at a look vary its figure; a leak shows as the highest figure of
    // the later rounds above that of the earlier ones.
    const auto highest = [&](std::size_t from, std::size_t to) {
        long rss = 0;
        for (std::size_t k = from; k < std::min(to, after.size()); ++k) {
            rss = std::max(rss, after[k].rssKiB);
        }
        return rss;
    };
    const std::size_t half = 1 + (after.size() - 1) / 2;
    const long earlier = highest(1, half);
    const long later = highest(half, after.size());
    std::printf(
        "%d of %d boards succeeded, %d after a retry; rss after round 1: %ld KiB, highest in "
        "rounds "
        "2..%zu: %ld KiB, in rounds %zu..%zu: %ld KiB (%+ld KiB); descriptors %ld -> %ld; peak "
        "rss %ld KiB; watch cpu %.1f ms (%.2f ms a board); exit %d\n",
        all.succeeded, Fixtures * rounds, all.retried, after.front().rssKiB, half, earlier,
        half + 1, after.size(), later, later - earlier, after.front().descriptors,
        after.back().descriptors, watch.usage().ru_maxrss, cpuMs(watch.usage()),
        all.got > 0 ? cpuMs(watch.usage()) / all.got : 0.0, status.value_or(-1));
    return all.succeeded == Fixtures * rounds && status == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 16;
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("zq417-station-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    // The boards announce themselves, and the watch looks for them, here only.
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    const bool together = atOnce();
    std::fflush(stdout);
    const bool after = longRun(rounds);
    std::filesystem::remove_all(dir);
    return together && after ? 0 : 1;
}
