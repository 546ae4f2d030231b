// zq417-sim: a virtual ZQ417 board on a pseudo-terminal, so the updater can be tried and tested
// without hardware.
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "app/sim/pty_board.h"
#include "app/sim/sim_options.h"

int main(int argc, char** argv) {
    zq::sim::SimOptions options;
    if (const std::optional<int> status = zq::sim::parseSimOptions(argc, argv, options)) {
        return *status;
    }
    // Scripts and tests wait for the device line and follow the exchanges as they happen.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const std::string mode = zq::sim::describeMode(options.board.mode);
    const std::string link = options.linkPath;
    zq::sim::PtyBoard board(std::move(options));
    std::string error;
    if (!board.open(error)) {
        std::fprintf(stderr, "zq417-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("zq417-sim: board in %s mode on %s\n", mode.c_str(), board.devicePath().c_str());
    if (!link.empty()) {
        std::printf("zq417-sim: %s links to it\n", link.c_str());
    }
    return board.run();
}
