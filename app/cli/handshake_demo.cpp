// Runs the packet handshake and a status read against the virtual board, in virtual time, and
// prints what went over the line.
#include <cstdio>
#include <string>

#include "protocol/packet_ops.h"
#include "sim/simulated_line.h"
#include "transfer/transfer_job.h"

namespace {

class PrintingWindow : public zq::OwnerWindow {
  public:
    void showMessage(zq::BoxStyle, std::string_view text) override {
        std::printf("[box] %.*s\n", static_cast<int>(text.size()), text.data());
    }
    void showUnownedMessage(zq::BoxStyle style, std::string_view text) override {
        showMessage(style, text);
    }
};

double ms(std::chrono::nanoseconds t) {
    return static_cast<double>(t.count()) / 1e6;
}

void run(zq::sim::BoardMode mode) {
    zq::sim::SimulatedLine line({.mode = mode});
    line.board.onExchange = [](zq::sim::SimTime at, const std::string& summary) {
        std::printf("  %9.3f ms  board: %s\n", ms(at), summary.c_str());
    };
    std::printf("Board in %s mode\n", zq::sim::describeMode(mode).c_str());
    zq::PortState port(line);
    PrintingWindow window;
    if (!zq::openPort(port, "COM1") || !zq::initPort(port) || !zq::setLine(port, zq::LineSpeed)) {
        std::printf("  could not prepare the port\n");
        return;
    }
    zq::purgePort(port);
    const bool synced = zq::syncDevice(port);
    std::printf("  %9.3f ms  handshake: %s\n", ms(line.clock.now()),
                synced ? "answered" : "no answer after 60 tries");
    if (synced) {
        const zq::StatusResult status = zq::readStatus(port, zq::StatusRegister);
        std::printf("  %9.3f ms  status read: %s, value 0x%04X\n", ms(line.clock.now()),
                    status.success ? "ok" : "failed", status.value);
    }
    zq::restorePortSettings(port);
    zq::closePort(port, window);
    std::printf("  %zu bytes from the host, port closed\n\n", line.wireFromHost().size());
}

}  // namespace

int main() {
    run(zq::sim::BoardMode::Update);
    run(zq::sim::BoardMode::Download);
    return 0;
}
