#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/board_run.h"
#include "station/image_choice.h"
#include "app/cli/result_log.h"

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
    std::filesystem::path logFile{};    // empty: no log; else each result is appended to it
    unsigned retries = 0;               // more tries for a board that failed on the board or line
};

// The image every board of the request gets, or why it is refused; read before any port is
// touched. Flash may run either operation, so there the image must suit both.
std::optional<PreparedImage> prepareImage(const GangRequest& request, ImageRefusal& refusal);

// Opens the request's log when it names one. When it cannot be opened: false, and a line on `err`
// that names the file and the system's reason; the run is then a usage error.
bool openResultLog(const GangRequest& request, ResultLog& log, std::ostream& err);

// The log is opened, and the image chosen and checked against the operation, before any port is
// touched; a log that cannot be opened is a usage error. Each board runs as runAndReportBoard
// runs it. Returns the exit status: 0 when every board succeeded, 128 + n when
// signal n interrupted any of them, otherwise the status of the first port, in the order given,
// that did not succeed.
int runGang(const GangRequest& request, CliContext& context);

}  // namespace zq::cli
