#pragma once

#include <cstdint>
#include <vector>

namespace zq {

enum class Parity : std::uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class StopBits : std::uint8_t { One = 0, OnePointFive = 1, Two = 2 };
enum class DtrControl : std::uint8_t { Disable = 0, Enable = 1, Handshake = 2 };
enum class RtsControl : std::uint8_t { Disable = 0, Enable = 1, Handshake = 2, Toggle = 3 };

// The fields of a Win32 DCB that this program reads or changes. Every backend translates them to
// its own record; the names keep the DCB's meaning so the line settings read the same everywhere.
struct DcbFields {
    std::uint32_t baudRate = 0;
    std::uint8_t byteSize = 8;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    bool binary = true;
    bool parityCheck = false;
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    DtrControl dtrControl = DtrControl::Disable;
    bool dsrSensitivity = false;
    bool txContinueOnXoff = false;
    bool outX = false;
    bool inX = false;
    bool errorCharReplace = false;
    bool nullStrip = false;
    RtsControl rtsControl = RtsControl::Disable;
    bool abortOnError = false;
    std::uint16_t xonLim = 0;
    std::uint16_t xoffLim = 0;
    char xonChar = 0x11;
    char xoffChar = 0x13;
    char errorChar = 0;
    char eofChar = 0;
    char evtChar = 0;

    bool operator==(const DcbFields&) const = default;
};

// A line-settings record as a backend read it. `native` is the backend's own record, byte for
// byte: when the fields still say what `native` says, the backend writes `native` back unchanged,
// so the settings found are put back exactly; otherwise it applies the fields on top of it.
struct LineSettings {
    DcbFields fields;
    std::vector<std::uint8_t> native;
};

struct CommTimeouts {
    std::uint32_t readIntervalTimeout = 0;
    std::uint32_t readTotalTimeoutMultiplier = 0;
    std::uint32_t readTotalTimeoutConstant = 0;
    std::uint32_t writeTotalTimeoutMultiplier = 0;
    std::uint32_t writeTotalTimeoutConstant = 0;

    bool operator==(const CommTimeouts&) const = default;
};

// PurgeComm flags.
inline constexpr std::uint32_t PurgeTxAbort = 0x01;
inline constexpr std::uint32_t PurgeRxAbort = 0x02;
inline constexpr std::uint32_t PurgeTxClear = 0x04;
inline constexpr std::uint32_t PurgeRxClear = 0x08;
inline constexpr std::uint32_t PurgeAll = PurgeTxAbort | PurgeRxAbort | PurgeTxClear | PurgeRxClear;

// COMMTIMEOUTS' "no interval limit" marker.
inline constexpr std::uint32_t TimeoutMaxDword = 0xFFFFFFFFu;

}  // namespace zq
