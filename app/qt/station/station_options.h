#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zq::qt {

// How the station is set up before it starts, in the window or on its command line.
struct StationChoices {
    std::string imageFile{};  // empty: the built-in image
    std::string logFile{};    // empty: a dated file in the user's data directory
    unsigned retries = 0;
    std::string match{};               // with no ports: only the adapters that match
    std::vector<std::string> ports{};  // given by name, each probed every second
};

// `firmware-updater --station` and what follows it: the settings named as `zq417-flash watch`
// names them, and --start to start at once.
struct StationRequest {
    bool station = false;
    bool start = false;
    bool help = false;
    StationChoices choices{};
    std::string error{};  // a usage error, said before anything opens
};

// The longest --retries the command line takes too.
inline constexpr unsigned MaxRetries = 100;

StationRequest readStationRequest(int argc, char** argv);

// The help of `firmware-updater --station`.
std::string stationHelp();

}  // namespace zq::qt
