#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/board_run.h"

namespace zq::cli {

struct CliContext;

// download, update and flash: one operation on each port given, all at once.
struct GangRequest {
    Operation operation = Operation::Flash;
    std::vector<std::string> ports{"COM1"};
    bool trace = false;
    bool json = false;
    bool quiet = false;
    std::filesystem::path imageFile{};  // empty: the built-in image
};

// Returns the exit status: 0 when every board succeeded, otherwise the status of the first port,
// in the order given, that did not.
int runGang(const GangRequest& request, CliContext& context);

}  // namespace zq::cli
