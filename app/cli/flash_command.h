#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/board_run.h"
#include "app/cli/image_choice.h"

namespace zq::cli {

struct CliContext;

// download, update and flash: one operation on each port given, all at once.
struct GangRequest {
    Operation operation = Operation::Flash;
    std::vector<std::string> ports{};      // as resolved: the names the jobs open
    std::vector<std::string> portNotes{};  // for the trace: what each name given stood for
    bool trace = false;
    bool json = false;
    bool quiet = false;
    std::filesystem::path imageFile{};  // empty: the built-in image
    bool force = false;                 // send an implausible image file as a binary image
    unsigned latencyMs = 0;             // added to every read's total timeout
};

// The image every board of the run gets, or why it was refused (the refusal filled); read before
// any port is touched.
std::optional<PreparedImage> prepareImage(const GangRequest& request, ImageRefusal& refusal);

// The image is chosen and checked against the operation before any port is touched, and named
// before anything is sent. Returns the exit status: 0 when every board succeeded, 128 + n when
// signal n interrupted any of them, otherwise the status of the first port, in the order given,
// that did not succeed.
int runGang(const GangRequest& request, CliContext& context);

}  // namespace zq::cli
