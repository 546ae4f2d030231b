// Download and Update on 1, 4, 16 and 64 boards at once through one zq417-flash command against
// one zq417-sim serving that many boards, beside the single board's floor (the protocol's own
// pauses and read timeouts). Every board runs at the same time, so the whole run should take no
// longer than one board: wall time over floor is what the program adds, and the CPU time and
// peak memory per board are what each more board costs the host.
//
//   gang [rounds]     (default 2)

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/sim_process.h"
#include "transfer_floor.h"

namespace {

using namespace std::chrono_literals;
using zq::test::ChildProcess;
using zq::test::SimProcess;
using Milliseconds = std::chrono::duration<double, std::milli>;

double inMs(const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0;
}

struct Round {
    double wallMs = 0;
    double cpuMs = 0;
    long maxRssKiB = 0;
    double simCpuMs = 0;
};

// A simulator with `boards` boards and their devices; empty devices when it did not start.
struct Boards {
    Boards(const char* mode, int boards)
        : sim({"--boards", std::to_string(boards), "--mode", mode, "--no-pacing", "--quiet"}) {
        for (int k = 0; k < boards; ++k) {
            const std::string device = sim.devicePath();
            if (device.empty()) {
                devices.clear();
                return;
            }
            devices.push_back(device);
        }
    }
    double cpuMsAtStop() {
        sim.stop();
        return inMs(sim.usage().ru_utime) + inMs(sim.usage().ru_stime);
    }
    SimProcess sim;
    std::vector<std::string> devices;
};

// One zq417-flash run on every board; false when it did not end in success.
bool flash(const char* command, const std::vector<std::string>& devices, Round& round) {
    std::vector<std::string> args = {command, "--quiet"};
    for (const std::string& d : devices) {
        args.insert(args.end(), {"--port", d});
    }
    ChildProcess run(ZQ417_FLASH_PATH, args, true);
    const std::optional<int> status = run.waitForExit(120s);
    if (status != 0) {
        std::fprintf(stderr, "zq417-flash %s on %zu boards failed:\n%s\n", command, devices.size(),
                     run.err().c_str());
        return false;
    }
    round.wallMs = Milliseconds(run.runTime()).count();
    round.cpuMs = inMs(run.usage().ru_utime) + inMs(run.usage().ru_stime);
    round.maxRssKiB = run.usage().ru_maxrss;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
    std::printf(
        "operation  boards  round   wall ms  wall/floor  cpu ms  cpu/board/wall  "
        "peak rss KiB  sim cpu ms\n");
    for (const auto& [command, mode, floor] :
         {std::tuple{"download", zq::ModeDownload, zq::bench::floorOf(zq::ModeDownload)},
          std::tuple{"update", zq::ModeUpdate, zq::bench::floorOf(zq::ModeUpdate)}}) {
        const double floorMs = static_cast<double>(floor.count());
        for (const int n : {1, 4, 16, 64}) {
            std::optional<Boards> kept;
            for (int r = 0; r < rounds; ++r) {
                // A Download leaves the boards running their firmware: each round needs new ones.
                std::optional<Boards> fresh;
                if (mode == zq::ModeDownload || !kept) {
                    (mode == zq::ModeDownload ? fresh : kept).emplace(command, n);
                }
                Boards& boards = fresh ? *fresh : *kept;
                if (boards.devices.empty()) {
                    std::fprintf(stderr, "zq417-sim --boards %d did not start\n", n);
                    return 1;
                }
                Round round;
                if (!flash(command, boards.devices, round)) {
                    return 1;
                }
                if (fresh) {
                    round.simCpuMs = fresh->cpuMsAtStop();
                }
                std::printf("%-9s %7d %6d %9.1f %11.4f %7.1f %14.4f%% %13ld %11.1f\n", command, n,
                            r + 1, round.wallMs, round.wallMs / floorMs, round.cpuMs,
                            100.0 * round.cpuMs / n / round.wallMs, round.maxRssKiB,
                            round.simCpuMs);
                std::fflush(stdout);
            }
            if (kept) {
                std::printf("%-9s %7d    all simulator cpu ms over the rounds: %.1f\n", command, n,
                            kept->cpuMsAtStop());
            }
        }
        std::printf("%s floor: %.0f ms\n", command, floorMs);
    }
    return 0;
}
