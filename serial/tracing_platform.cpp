#include "serial/tracing_platform.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>

#include "serial/port_fault_text.h"

namespace zq {

namespace {

constexpr std::size_t ShownInFull = 8;
// Sleeps shorter than this are the protocol's small pauses between packets; listing them would
// drown the bytes. Longer ones explain a visible gap in the timestamps.
constexpr std::chrono::milliseconds NotableSleep{100};

char parityLetter(Parity parity) {
    switch (parity) {
        case Parity::None:
            return 'N';
        case Parity::Odd:
            return 'O';
        case Parity::Even:
            return 'E';
        case Parity::Mark:
            return 'M';
        case Parity::Space:
            return 'S';
    }
    return '?';
}

std::string_view stopBitsText(StopBits stop) {
    switch (stop) {
        case StopBits::One:
            return "1";
        case StopBits::OnePointFive:
            return "1.5";
        case StopBits::Two:
            return "2";
    }
    return "?";
}

// Flow control is spelled out: a port left with CTS flow control by another program stalls
// every write when the cable does not carry CTS, and the trace is where that shows.
std::string describeFlowControl(const DcbFields& f) {
    std::string flows;
    const auto add = [&](bool on, std::string_view name) {
        if (on) {
            flows += flows.empty() ? "" : " and ";
            flows += name;
        }
    };
    add(f.outxCtsFlow, "CTS");
    add(f.outxDsrFlow, "DSR");
    add(f.outX || f.inX, "XON/XOFF");
    return flows.empty() ? "no flow control" : flows + " flow control";
}

std::string describeLine(const LineSettings& settings) {
    const DcbFields& f = settings.fields;
    return "line " + std::to_string(f.baudRate) + " baud " + std::to_string(f.byteSize) +
           parityLetter(f.parity) + std::string(stopBitsText(f.stopBits)) + ", " +
           describeFlowControl(f);
}

std::string describeTimeouts(const CommTimeouts& t) {
    return "timeouts: read gap " + std::to_string(t.readIntervalTimeout) + " ms, read " +
           std::to_string(t.readTotalTimeoutMultiplier) + " ms/byte + " +
           std::to_string(t.readTotalTimeoutConstant) + " ms, write " +
           std::to_string(t.writeTotalTimeoutMultiplier) + " ms/byte + " +
           std::to_string(t.writeTotalTimeoutConstant) + " ms";
}

// What the system said, for the line of the call that failed.
std::string reasonOf(const SystemError& error) {
    if (!error) {
        return {};
    }
    std::string text = ": " + error.text;
    if (error.code != 0) {
        text += " (error " + std::to_string(error.code) + ")";
    }
    if (error.deviceGone) {
        text += ", the device has gone";
    }
    return text;
}

// Bytes as the trace shows them: up to eight in full ("AA 0D 00 00 00 00"); a longer run as its
// size and its first eight ("512 bytes  02 1F 00 00 00 00 00 00 ...").
std::string traceBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.size() <= ShownInFull) {
        return hexBytes(bytes);
    }
    return std::to_string(bytes.size()) + " bytes  " + hexBytes(bytes.first(ShownInFull)) + " ...";
}

}  // namespace

// Stamps reads when they return, since only then are their bytes known; writes and everything
// else when the call begins, which is when the bytes start on their way.
class TracingPlatform::Device : public ForwardingDevice {
  public:
    Device(TracingPlatform& trace, std::unique_ptr<SerialDevice> inner)
        : ForwardingDevice(std::move(inner)), trace_(trace) {}

    bool getState(LineSettings& out) override {
        return traced([&] { return inner().getState(out); }, "reading the line settings");
    }

    bool setState(const LineSettings& settings) override {
        return traced([&] { return inner().setState(settings); }, "set " + describeLine(settings),
                      true);
    }

    bool getTimeouts(CommTimeouts& out) override {
        return traced([&] { return inner().getTimeouts(out); }, "reading the timeouts");
    }

    bool setTimeouts(const CommTimeouts& timeouts) override {
        return traced([&] { return inner().setTimeouts(timeouts); },
                      "set " + describeTimeouts(timeouts), true);
    }

    bool setupQueues(std::uint32_t inputBytes, std::uint32_t outputBytes) override {
        return traced([&] { return inner().setupQueues(inputBytes, outputBytes); },
                      "setting the queue sizes");
    }

    // A purge is a flush, a clearing of errors and the purge proper; one line says it all
    // unless a step fails.
    bool flush() override {
        return traced([&] { return inner().flush(); }, "flush");
    }

    bool clearErrors() override {
        return traced([&] { return inner().clearErrors(); }, "clearing errors");
    }

    bool purge(std::uint32_t flags) override {
        std::string text = "purge";
        if (flags != PurgeAll) {
            char mask[16];
            std::snprintf(mask, sizeof mask, " 0x%02X", static_cast<unsigned>(flags));
            text += mask;
        }
        return traced([&] { return inner().purge(flags); }, text, true);
    }

    bool read(std::span<std::uint8_t> into, std::size_t& got) override {
        const bool ok = inner().read(into, got);
        const auto at = trace_.now();
        std::string text = "<- ";
        if (got == 0) {
            text += ok ? "nothing" : "read failed";
            text += " (" + std::to_string(into.size()) + " asked)";
            if (!ok) {
                text += reasonOf(lastError());
            }
        } else {
            text += traceBytes(into.first(got));
            if (got < into.size()) {
                text +=
                    "  (" + std::to_string(got) + " of " + std::to_string(into.size()) + " asked)";
            }
            if (!ok) {
                text += "  read failed" + reasonOf(lastError());
            }
        }
        trace_.put(at, text);
        return ok;
    }

    bool write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
        const auto at = trace_.now();
        const bool ok = inner().write(bytes, written);
        std::string text = "-> " + traceBytes(bytes);
        if (written < bytes.size()) {
            text +=
                "  (" + std::to_string(written) + " of " + std::to_string(bytes.size()) + " sent)";
        }
        if (!ok) {
            text += "  write failed" + reasonOf(lastError());
        }
        trace_.put(at, text);
        return ok;
    }

    bool close() override {
        return traced([&] { return inner().close(); }, "close", true);
    }

  private:
    // Stamped as the call begins; the line is written when the call fails, or always when the
    // call is one worth seeing.
    template <class Call>
    bool traced(const Call& call, const std::string& what, bool always = false) {
        const auto at = trace_.now();
        const bool ok = call();
        if (always || !ok) {
            trace_.put(at, what + failed(ok));
        }
        return ok;
    }

    std::string failed(bool ok) const {
        return ok ? std::string() : " failed" + reasonOf(lastError());
    }

    TracingPlatform& trace_;
};

TracingPlatform::TracingPlatform(Platform& inner, TraceSink sink)
    : ForwardingPlatform(inner), sink_(std::move(sink)), start_(inner.now()) {}

std::unique_ptr<SerialDevice> TracingPlatform::openSerial(const std::string& name,
                                                          OpenFailure& why) {
    const auto at = now();
    std::unique_ptr<SerialDevice> device = ForwardingPlatform::openSerial(name, why);
    put(at, "open " + name + (device ? "" : " failed: " + describeOpenFault(why)));
    if (device) {
        const std::string notes = device->openNotes();
        for (std::size_t from = 0; from < notes.size();) {
            const std::size_t end = std::min(notes.find('\n', from), notes.size());
            put(at, notes.substr(from, end - from));
            from = end + 1;
        }
    }
    return device;
}

std::unique_ptr<SerialDevice> TracingPlatform::wrap(std::unique_ptr<SerialDevice> device) {
    return std::make_unique<Device>(*this, std::move(device));
}

void TracingPlatform::sleep(std::chrono::milliseconds duration) {
    if (duration >= NotableSleep) {
        put(now(), "wait " + std::to_string(duration.count()) + " ms");
    }
    ForwardingPlatform::sleep(duration);
}

void TracingPlatform::put(std::chrono::nanoseconds at, std::string_view text) {
    const double ms = std::chrono::duration<double, std::milli>(at - start_).count();
    char stamp[32];
    // Wide enough that the columns stay aligned through a whole Download (about 16 s).
    std::snprintf(stamp, sizeof stamp, "%9.3f ms  ", ms);
    sink_(std::string(stamp) + std::string(text));
}

}  // namespace zq
