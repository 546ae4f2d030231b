#pragma once

// termios2 and the arbitrary-rate ioctls come from the kernel's own headers, which redefine what
// <termios.h> declares: nothing that includes this header may include <termios.h>.
#include <asm/termbits.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "serial/comm_settings.h"

// How the Linux line settings stand for the fields of a Win32 DCB.
namespace zq::posix {

// LineSettings::native: the termios2 record exactly as the kernel gave it, then the modem-line
// bits and whether the device has modem lines at all (a pseudo-terminal has none).
struct NativeRecord {
    termios2 line{};
    int modemBits = 0;
    bool modemKnown = false;
};

std::vector<std::uint8_t> encodeNative(const NativeRecord& record);
std::optional<NativeRecord> decodeNative(const std::vector<std::uint8_t>& bytes);

std::uint8_t byteSizeOf(tcflag_t cflag);
DcbFields fieldsOf(const NativeRecord& record);
// False when the fields ask for something a termios record cannot hold.
bool applyFields(termios2& t, const DcbFields& f);
// A Windows port never edits the byte stream, so nothing of the terminal layer may stay on.
void makeRaw(termios2& t);
// TCSETS2 succeeds when any part of the request was taken, so what matters is read back.
bool kernelTook(const termios2& wanted, const termios2& got);
std::chrono::nanoseconds byteTimeOf(const termios2& t);

}  // namespace zq::posix
