#pragma once

#include <string>
#include <string_view>

#include "app/cli/wire_record.h"
#include "transfer/transfer_job.h"

namespace zq::cli {

// What the failure behind an error box was, in one line, from what the wire and the system
// showed; empty when there is nothing to add to the box.
std::string explainFailure(std::string_view box, TransferMode mode, const WireRecord& wire);

// Bytes as "AA 0E 06 00 00 00".
std::string hexBytes(std::span<const std::uint8_t> bytes);

}  // namespace zq::cli
