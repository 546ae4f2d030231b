#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/cli/board_result.h"
#include "app/cli/run_printer.h"
#include "image/image_identity.h"
#include "serial/platform.h"

namespace zq::cli {

enum class Operation { Download, Update, Flash };

std::string_view operationName(Operation operation);

// The image every board of a run gets, checked once before any port is touched.
struct PreparedImage {
    std::vector<std::uint8_t> bytes;
    ImageIdentity identity;
};

// One board's operation, on a thread of its own when there are several: its own job, port state
// and platform, so nothing but the output is shared.
struct BoardTask {
    std::size_t index = 0;
    std::string port;        // as resolved: the name the job opens
    std::string portNote{};  // for the trace: what the name given stood for
    Operation operation = Operation::Flash;
    bool trace = false;
    unsigned latencyMs = 0;  // added to every read's total timeout
    const PreparedImage* image = nullptr;
    Platform* platform = nullptr;
    RunPrinter* output = nullptr;
};

BoardResult runBoard(const BoardTask& task);

}  // namespace zq::cli
