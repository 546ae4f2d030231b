#pragma once

#include <string>
#include <string_view>

#include "app/cli/wire_record.h"
#include "job/transfer_job.h"

namespace zq::cli {

// What the failure behind an error box was, in one line: the system's reason for the port call
// that failed when one did (`systemReason`, naming the device), otherwise what the wire showed:
// no answer, a late or wrong one, the board's status value. Empty when there is nothing to add.
std::string explainFailure(std::string_view box, TransferMode mode, const WireRecord& wire,
                           std::string_view systemReason);

// Bytes as "AA 0E 06 00 00 00".
std::string hexBytes(std::span<const std::uint8_t> bytes);

}  // namespace zq::cli
