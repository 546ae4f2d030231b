#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "job/system_error.h"
#include "serial/comm_settings.h"

namespace zq {

// One open serial device. Reads and writes block and honour the timeouts last set, with the
// Win32 meaning of COMMTIMEOUTS whatever the platform.
class SerialDevice {
  public:
    virtual ~SerialDevice() = default;

    virtual bool getState(LineSettings& out) = 0;
    virtual bool setState(const LineSettings& settings) = 0;
    virtual bool getTimeouts(CommTimeouts& out) = 0;
    virtual bool setTimeouts(const CommTimeouts& timeouts) = 0;
    virtual bool setupQueues(std::uint32_t inputBytes, std::uint32_t outputBytes) = 0;
    // Waits until pending output has left the port.
    virtual bool flush() = 0;
    virtual bool clearErrors() = 0;
    virtual bool purge(std::uint32_t flags) = 0;
    // `got` / `written` count only bytes that really arrived or left.
    virtual bool read(std::span<std::uint8_t> into, std::size_t& got) = 0;
    virtual bool write(std::span<const std::uint8_t> bytes, std::size_t& written) = 0;
    // On failure the program keeps the device as its handle, as with a Win32 handle that could
    // not be closed; on Linux the descriptor may be gone already, and later calls then fail.
    virtual bool close() = 0;

    // What the open did beyond opening, for traces ("low-latency mode on"); one note a line.
    virtual std::string openNotes() const { return {}; }
    // Bytes received and not yet read, when the system can tell without taking them.
    virtual std::optional<std::size_t> queuedInput() { return std::nullopt; }
    // Why the last call that failed did; empty when the backend does not know.
    virtual SystemError lastError() const { return {}; }
};

// Why a device could not be opened, as the system said it; the message box text is fixed, this
// is for traces and the command line.
struct OpenFailure {
    enum class Kind { None, NoSuchDevice, PermissionDenied, Busy, NotATerminal, Other };
    Kind kind = Kind::None;
    int code = 0;
    std::string detail{};
    // For a denied open: the group whose members may read and write the device, when joining it
    // would help; and who owns the device ("user root, group root, mode crw-------"), when known.
    std::string group{};
    std::string owner{};
    // For a busy port: the programs that hold it, as /proc shows them ("1234 (minicom)").
    std::vector<std::string> holders{};
};

// Everything the transfer logic needs from the operating system.
class Platform {
  public:
    virtual ~Platform() = default;

    virtual std::unique_ptr<SerialDevice> openSerial(const std::string& name, OpenFailure& why) = 0;
    virtual void sleep(std::chrono::milliseconds duration) = 0;
    virtual void beginTimerResolution() = 0;
    virtual void endTimerResolution() = 0;
    // Monotonic time, for traces and measurements only.
    virtual std::chrono::nanoseconds now() = 0;
    // The time of day, for the record of when a run started.
    virtual std::chrono::system_clock::time_point wallClock() = 0;
};

}  // namespace zq
