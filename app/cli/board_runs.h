#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "station/board_settings.h"

namespace zq::cli {

struct CliContext;

// download, update, flash and watch: what every board gets, and where the boards are.
struct RunRequest {
    station::BoardSettings board{};
    std::vector<std::string> ports{};      // as resolved: the names the jobs open
    std::vector<std::string> portNotes{};  // for the trace: what each name given stood for
    bool json = false;
    bool quiet = false;
    std::filesystem::path imageFile{};  // empty: the built-in image
    bool force = false;                 // send an implausible image file as a binary image
    std::filesystem::path logFile{};    // empty: no log; else each record is appended to it
    // watch only
    std::string match{};             // a wildcard a watched port must match; empty: any
    std::uint64_t count = 0;         // stop once this many boards have come; 0: only a signal
    unsigned stopAfterFailures = 0;  // stop after this many boards failed in a row; 0: never
    std::string station{};           // the station's name in the records; empty: the host's
};

// One operation on each port given, all at once. The log is opened, and the image chosen and
// checked against the operation, before any port is touched; a log that cannot be opened is a
// usage error. Returns the exit status: 0 when every board succeeded, 128 + n when signal n
// interrupted any of them, otherwise the status of the first port, in the order given, that did
// not succeed.
int runOnPorts(const RunRequest& request, CliContext& context);

// A station that flashes every board as it is plugged (or, with ports, as its board answers),
// until a signal, `count` boards or `stopAfterFailures` failures in a row. Returns the exit
// status: as runOnPorts by the order the boards came in, and 7 when the failures in a row ended
// it.
int runWatch(const RunRequest& request, CliContext& context);

}  // namespace zq::cli
