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

// A few words for the kind of open failure ("permission denied").
std::string_view describeOpenFailure(OpenFailure::Kind kind);

// Those words with what the system said, when it said more: "no such device (No such file or
// directory)".
std::string describeOpenFault(const OpenFailure& why);

// Bytes as "AA 0E 06 00 00 00".
std::string hexBytes(std::span<const std::uint8_t> bytes);

}  // namespace zq
