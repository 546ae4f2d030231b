// How long a Download and an Update take through zq417-flash against zq417-sim on a
// pseudo-terminal, beside the least the protocol allows, and what the updater costs the host
// meanwhile. The board answers without transmission delay and a pseudo-terminal takes the host's
// bytes at once, so all that is left to wait for is the protocol's own pauses and read timeouts:
// that sum is the floor, and wall time over floor is what the program adds.
//
// Each round runs zq417-flash as a program of its own, so its CPU time and peak memory come from
// wait4 and hold nothing of this program or of the simulator.
//
//   transfer [rounds]     (default 3)

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "image/boot_header.h"
#include "protocol/command_packet.h"
#include "protocol/packet_ops.h"
#include "serial/port_state.h"
#include "sim/simulated_line.h"
#include "support/child_process.h"
#include "support/sim_process.h"
#include "text/messages.h"
#include "transfer/image_plan.h"
#include "transfer/operation.h"
#include "transfer_floor.h"

namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using zq::test::ChildProcess;
using Milliseconds = std::chrono::duration<double, std::milli>;
using zq::bench::floorOf;

class SilentWindow : public zq::OwnerWindow {
  public:
    void showMessage(zq::BoxStyle, std::string_view) override {}
    void showUnownedMessage(zq::BoxStyle, std::string_view) override {}
};

// The same operation in virtual time against a board that answers at once. The simulated line
// still spends wire time on the host's bytes, which a pseudo-terminal does not, so the time
// inside write calls is left out; what remains must be the floor to the nanosecond.
nanoseconds virtualFloor(zq::TransferMode mode, bool& succeeded) {
    const auto board =
        mode == zq::ModeUpdate ? zq::sim::BoardMode::Update : zq::sim::BoardMode::Download;
    zq::sim::SimulatedLine line(zq::sim::BoardConfig{.mode = board, .baud = 0});
    zq::PortState port(line);
    SilentWindow window;
    zq::TransferJob job;
    zq::fillJob(job, mode, line.deviceName);
    succeeded = zq::runOperation(window, job, nullptr, port);
    nanoseconds writing{0};
    for (const zq::sim::PortEvent* write : line.eventsOf(zq::sim::PortEvent::Kind::Write)) {
        writing += write->endedAt - write->at;
    }
    return line.clock.now() - writing;
}

double inMs(const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0;
}

struct Round {
    double wallMs = 0;
    double cpuMs = 0;
    long maxRssKiB = 0;
};

// One zq417-flash run; false when it did not end in success.
bool flash(const char* command, const std::string& device, Round& round) {
    ChildProcess run(ZQ417_FLASH_PATH, {command, "--port", device}, true);
    const std::optional<int> status = run.waitForExit(60s);
    if (status != 0) {
        std::fprintf(stderr, "zq417-flash %s failed:\n%s\n", command, run.err().c_str());
        return false;
    }
    round.wallMs = Milliseconds(run.runTime()).count();
    round.cpuMs = inMs(run.usage().ru_utime) + inMs(run.usage().ru_stime);
    round.maxRssKiB = run.usage().ru_maxrss;
    return true;
}

// A board for the rounds to come; empty device when it did not start.
struct Board {
    explicit Board(const char* mode)
        : sim({"--mode", mode, "--no-pacing", "--quiet"}), device(sim.devicePath()) {}
    double cpuMsAtStop() {
        sim.stop();
        return inMs(sim.usage().ru_utime) + inMs(sim.usage().ru_stime);
    }
    zq::test::SimProcess sim;
    std::string device;
};

void report(const char* name, milliseconds floor, const std::vector<Round>& rounds,
            double simCpuMs) {
    const double floorMs = static_cast<double>(floor.count());
    std::printf("%s: floor %.0f ms\n", name, floorMs);
    std::printf("  round   wall ms   wall/floor   cpu ms   cpu/wall   peak rss KiB\n");
    double worstRatio = 0;
    for (std::size_t i = 0; i < rounds.size(); ++i) {
        const Round& r = rounds[i];
        const double ratio = r.wallMs / floorMs;
        worstRatio = std::max(worstRatio, ratio);
        std::printf("  %5zu %9.1f %12.4f %8.1f %9.3f%% %14ld\n", i + 1, r.wallMs, ratio, r.cpuMs,
                    100.0 * r.cpuMs / r.wallMs, r.maxRssKiB);
    }
    std::printf("  worst wall/floor %.4f; the simulator used %.1f ms of CPU over the rounds\n",
                worstRatio, simCpuMs);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;

    const milliseconds downloadFloor = floorOf(zq::ModeDownload);
    const milliseconds updateFloor = floorOf(zq::ModeUpdate);
    for (const auto& [mode, floor] :
         {std::pair{zq::ModeDownload, downloadFloor}, std::pair{zq::ModeUpdate, updateFloor}}) {
        bool succeeded = false;
        const nanoseconds simulated = virtualFloor(mode, succeeded);
        if (!succeeded || simulated != floor) {
            std::fprintf(stderr,
                         "the floor of mode %d is %lld ms, but the simulated line says %.6f ms%s\n",
                         static_cast<int>(mode), static_cast<long long>(floor.count()),
                         Milliseconds(simulated).count(),
                         succeeded ? "" : " (and the operation failed there)");
            return 1;
        }
    }
    std::printf("floors agree with the simulated line in virtual time\n\n");

    // A Download leaves the board running its firmware, so each one needs a fresh board.
    std::vector<Round> downloads(static_cast<std::size_t>(rounds));
    double downloadSimCpu = 0;
    for (Round& round : downloads) {
        Board board("download");
        if (board.device.empty() || !flash("download", board.device, round)) {
            return 1;
        }
        downloadSimCpu += board.cpuMsAtStop();
    }
    report("Download", downloadFloor, downloads, downloadSimCpu);

    std::vector<Round> updates(static_cast<std::size_t>(rounds));
    Board board("update");
    for (Round& round : updates) {
        if (board.device.empty() || !flash("update", board.device, round)) {
            return 1;
        }
    }
    report("Update", updateFloor, updates, board.cpuMsAtStop());
    return 0;
}
