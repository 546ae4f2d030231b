#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "owner/owner_window.h"
#include "serial/comm_settings.h"
#include "serial/platform.h"

namespace zq {

// The fixed settings this program applies to the port.
inline constexpr CommTimeouts FixedTimeouts{
    .readIntervalTimeout = 15,
    .readTotalTimeoutMultiplier = 3,
    .readTotalTimeoutConstant = 6,
    .writeTotalTimeoutMultiplier = 1,
    .writeTotalTimeoutConstant = 6,
};
inline constexpr std::uint32_t QueueSize = 1024;
inline constexpr std::uint32_t ChunkSize = 512;

// The port call that made a port operation fail, with what the system said about it.
struct PortFault {
    std::string_view call{};  // "read", "write", "apply the line settings", ...
    SystemError error{};

    explicit operator bool() const { return !call.empty(); }
};

// A request sent that has not been answered yet, and when it left. The packet operations keep
// these, from one handshake to the next, so that a reply read after its window (by a later
// request's read) is known as late.
struct PendingRequest {
    std::uint8_t tag = 0;  // what the packet operations call the request
    std::chrono::nanoseconds sentAt{};
};

// The one serial port of the program, with its settings as they were found when it was opened.
struct PortState {
    explicit PortState(Platform& platform) : platform(platform) {}

    Platform& platform;
    std::unique_ptr<SerialDevice> handle;  // set while the port is open
    std::string name;                      // the name the open port was opened by
    LineSettings savedSettings;
    CommTimeouts savedTimeouts;
    OpenFailure lastOpenFailure;  // why the last openPort failed
    // Why the last port operation failed; empty when it did not. Only operations whose result a
    // caller acts on set it: a purge or a restore that fails after it (on a device that has
    // gone) must not put its own reason in the place of the one that ended the operation.
    PortFault lastFault;
    std::vector<PendingRequest> pending;  // since the last handshake, oldest first
};

// Bytes moved by a chunked transfer, beside its success; callers always compare the count.
struct TransferCount {
    bool success = false;
    std::uint32_t count = 0;
};

bool openPort(PortState& port, const std::string& name);
bool initPort(PortState& port);
bool setLine(PortState& port, std::uint32_t baud);
void restorePortSettings(PortState& port);
void purgePort(PortState& port);
bool closePort(PortState& port, OwnerWindow& window);

TransferCount writeChunked(PortState& port, const std::uint8_t* bytes, std::uint32_t length,
                           ProgressTarget* progress);
TransferCount readChunked(PortState& port, std::uint8_t* buffer, std::uint32_t length);

// The line settings a phase applies: the saved ones with speed, framing and flow control set.
LineSettings lineSettingsFor(const LineSettings& saved, std::uint32_t baud);

// A single write or read call of the port, outside the chunk loops (packets, wake bytes).
TransferCount writeOnce(PortState& port, const std::uint8_t* bytes, std::uint32_t length);

}  // namespace zq
