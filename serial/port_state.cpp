#include "serial/port_state.h"

#include <chrono>
#include <span>

#include "text/messages.h"

namespace zq {

namespace {

// Keeps why `call` failed, or that it did not, and passes its result on.
bool noted(PortState& port, std::string_view call, bool ok) {
    port.lastFault =
        ok ? PortFault{} : PortFault{call, port.handle ? port.handle->lastError() : SystemError{}};
    return ok;
}

}  // namespace

bool openPort(PortState& port, const std::string& name) {
    port.handle.reset();
    // The timer request is made on every attempt and ends only with the next closePort.
    port.platform.beginTimerResolution();
    port.lastOpenFailure = {};
    port.lastFault = {};
    port.handle = port.platform.openSerial(name, port.lastOpenFailure);
    port.name = port.handle ? name : std::string();
    return port.handle != nullptr;
}

bool initPort(PortState& port) {
    SerialDevice& device = *port.handle;
    if (!noted(port, "read the line settings", device.getState(port.savedSettings))) {
        return false;
    }
    if (!noted(port, "read the timeouts", device.getTimeouts(port.savedTimeouts))) {
        return false;
    }
    if (!noted(port, "set the timeouts", device.setTimeouts(FixedTimeouts))) {
        return false;
    }
    if (!noted(port, "set the queue sizes", device.setupQueues(QueueSize, QueueSize))) {
        device.setTimeouts(port.savedTimeouts);
        return false;
    }
    return true;
}

LineSettings lineSettingsFor(const LineSettings& saved, std::uint32_t baud) {
    LineSettings settings = saved;
    DcbFields& f = settings.fields;
    f.baudRate = baud;
    f.byteSize = 8;
    f.parity = Parity::None;
    f.stopBits = StopBits::One;
    f.dtrControl = DtrControl::Enable;
    f.rtsControl = RtsControl::Enable;
    f.abortOnError = true;
    f.dsrSensitivity = false;
    f.outX = false;
    f.inX = false;
    f.nullStrip = false;
    return settings;
}

bool setLine(PortState& port, std::uint32_t baud) {
    return noted(port, "apply the line settings",
                 port.handle->setState(lineSettingsFor(port.savedSettings, baud)));
}

void restorePortSettings(PortState& port) {
    if (!port.handle) {
        return;
    }
    port.handle->setTimeouts(port.savedTimeouts);
    port.handle->setState(port.savedSettings);
}

void purgePort(PortState& port) {
    if (!port.handle) {
        return;
    }
    port.handle->flush();
    port.handle->clearErrors();
    port.handle->purge(PurgeAll);
}

bool closePort(PortState& port, OwnerWindow& window) {
    if (!port.handle) {
        port.platform.endTimerResolution();
        return false;
    }
    if (!noted(port, "close", port.handle->close())) {
        // The port is still held, and so is the timer request that came with it: the close that
        // lets go of the port ends it, so begin and end stay paired however often closing fails.
        window.showUnownedMessage(BoxStyle::Error, messages::CannotClosePort);
        return false;
    }
    port.handle.reset();
    port.platform.endTimerResolution();
    return true;
}

TransferCount writeOnce(PortState& port, const std::uint8_t* bytes, std::uint32_t length) {
    std::size_t written = 0;
    const bool ok = port.handle && port.handle->write(std::span(bytes, length), written);
    noted(port, "write", ok);
    return {ok, static_cast<std::uint32_t>(written)};
}

TransferCount writeChunked(PortState& port, const std::uint8_t* bytes, std::uint32_t length,
                           ProgressTarget* progress) {
    TransferCount result{true, 0};
    std::uint32_t remaining = length;
    for (;;) {
        std::uint32_t chunk = ChunkSize;
        if (remaining < ChunkSize) {
            chunk = remaining;
            port.platform.sleep(std::chrono::milliseconds(1));
        }
        const TransferCount call = writeOnce(port, bytes + result.count, chunk);
        if (!call.success) {
            result.success = false;
            return result;
        }
        result.count += call.count;
        if (progress != nullptr) {
            progress->setPosition(result.count);
        }
        if (result.count == length || call.count != ChunkSize) {
            return result;
        }
        remaining -= ChunkSize;
    }
}

TransferCount readChunked(PortState& port, std::uint8_t* buffer, std::uint32_t length) {
    TransferCount result{true, 0};
    port.lastFault = {};
    std::uint32_t remaining = length;
    for (;;) {
        const std::uint32_t chunk = remaining < ChunkSize ? remaining : ChunkSize;
        std::size_t got = 0;
        if (!port.handle || !port.handle->read(std::span(buffer + result.count, chunk), got)) {
            noted(port, "read", false);
            result.success = false;
            return result;
        }
        result.count += static_cast<std::uint32_t>(got);
        if (result.count == length || got != ChunkSize) {
            return result;
        }
        remaining -= ChunkSize;
    }
}

}  // namespace zq
