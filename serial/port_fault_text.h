#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "serial/platform.h"
#include "serial/port_state.h"

namespace zq {

// "read failed: Input/output error (error 5); the device has gone: ...". Empty for no fault.
std::string describeFault(const PortFault& fault);

// The systems whose users are told what to do about a port differently: Windows names no groups,
// no fuser and no holders.
enum class PortSystem { Posix, Windows };
#ifdef _WIN32
inline constexpr PortSystem ThisSystem = PortSystem::Windows;
#else
inline constexpr PortSystem ThisSystem = PortSystem::Posix;
#endif

// A failed open, told once for every front end: the few words a trace or a detail text gives
// ("permission denied"), and the line a user reads after the box, with what to do about it.
struct OpenFailureText {
    std::string_view words;
    std::string advice;
};
OpenFailureText explainOpenFailure(const OpenFailure& why, std::string_view devicePath,
                                   PortSystem system = ThisSystem);

// The words with what the system said, when it said more: "no such device (No such file or
// directory)".
std::string describeOpenFault(const OpenFailure& why);

// Bytes as "AA 0E 06 00 00 00".
std::string hexBytes(std::span<const std::uint8_t> bytes);

}  // namespace zq
