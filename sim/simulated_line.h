#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "serial/platform.h"
#include "sim/board_model.h"
#include "sim/virtual_clock.h"

namespace zq::sim {

// Faults of the host's side of the line: the port itself, not the board.
struct PortFaults {
    std::optional<OpenFailure::Kind> openFails;
    bool getStateFails = false;
    bool getTimeoutsFails = false;
    std::function<bool(const CommTimeouts&)> setTimeoutsFails;
    bool setupQueuesFails = false;
    std::function<bool(const LineSettings&)> setStateFails;
    int closeFailures = 0;  // this many close calls fail before one succeeds
    // Decides, for a write call with these bytes, how many bytes leave; a write call fails when
    // it returns a negative number.
    std::function<std::optional<long>(std::span<const std::uint8_t>)> writeFault;
    // Decides, as a read call begins, whether it fails.
    std::function<bool()> readFails;
    // What the device says after a call failed by a fault above; a dropped line says the device
    // has gone whatever this holds.
    SystemError error{};
    // Runs as each sleep begins, with its duration: a test raises an interruption here to have it
    // land in a given wait.
    std::function<void(std::chrono::milliseconds)> onSleep;
};

// What the host did to the port, in order, for the tests to read.
struct PortEvent {
    enum class Kind {
        TimerBegin,
        TimerEnd,
        Open,
        OpenFailed,
        GetState,
        SetState,
        GetTimeouts,
        SetTimeouts,
        SetupQueues,
        Flush,
        ClearErrors,
        Purge,
        Read,
        Write,
        Close,
        CloseFailed,
        Sleep
    };
    Kind kind;
    SimTime at;                       // when the call began
    SimTime endedAt;                  // when it returned
    std::vector<std::uint8_t> bytes;  // written, or read
    std::size_t asked = 0;            // bytes asked for by a read or write
    bool ok = true;
};

// A serial line in virtual time with the board model on its far end: the port as the operating
// system would present it (its settings, timeouts, exclusive open), the wire at 10 bits a byte,
// and the Win32 timeout rules applied to every read and write.
class SimulatedLine : public Platform {
  public:
    explicit SimulatedLine(BoardConfig board = {});
    ~SimulatedLine() override;

    // The platform seam.
    std::unique_ptr<SerialDevice> openSerial(const std::string& name, OpenFailure& why) override;
    void sleep(std::chrono::milliseconds duration) override;
    void beginTimerResolution() override;
    void endTimerResolution() override;
    std::chrono::nanoseconds now() override { return clock.now(); }
    // The virtual clock counted from Epoch, so a record of when a run started is exact.
    std::chrono::system_clock::time_point wallClock() override {
        return Epoch + std::chrono::duration_cast<std::chrono::system_clock::duration>(clock.now());
    }
    // 2024-05-01T00:00:00Z.
    static constexpr std::chrono::system_clock::time_point Epoch{std::chrono::seconds(1714521600)};

    VirtualClock clock;
    BoardModel board;
    PortFaults faults;
    std::vector<PortEvent> events;
    std::string deviceName = "COM1";  // the one port that exists here
    std::string openNotes;            // what the device reports it did at open

    // The port as the system sees it now.
    bool isOpen() const { return open_; }
    const LineSettings& settings() const { return settings_; }
    const CommTimeouts& timeouts() const { return timeouts_; }
    int timerRequests() const { return timerRequests_; }
    // The settings and timeouts the port had before the program touched it.
    static LineSettings initialSettings();
    static CommTimeouts initialTimeouts();

    // Every byte that went from host to board, in order (what the board received).
    std::vector<std::uint8_t> wireFromHost() const;
    std::vector<const PortEvent*> eventsOf(PortEvent::Kind kind) const;

  private:
    class Device;
    friend class Device;

    PortEvent& record(PortEvent::Kind kind, bool ok = true);

    bool open_ = false;
    LineSettings settings_;
    CommTimeouts timeouts_;
    int timerRequests_ = 0;
};

}  // namespace zq::sim
