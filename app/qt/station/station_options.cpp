#include "app/qt/station/station_options.h"

#include <charconv>
#include <optional>
#include <string_view>

namespace zq::qt {

namespace {

bool readRetries(std::string_view value, StationRequest& request) {
    unsigned n = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
        n > MaxRetries) {
        request.error = "--retries takes a whole number from 0 to " + std::to_string(MaxRetries) +
                        ", not '" + std::string(value) + "'";
        return false;
    }
    request.choices.retries = n;
    return true;
}

}  // namespace

StationRequest readStationRequest(int argc, char** argv) {
    StationRequest request;
    for (int i = 1; i < argc && request.error.empty(); ++i) {
        std::string_view word = argv[i];
        if (word == "--station") {
            request.station = true;
            continue;
        }
        if (word == "--start") {
            request.start = true;
            continue;
        }
        if (word == "--help" || word == "-h") {
            request.help = true;
            continue;
        }
        std::string_view name = word;
        std::optional<std::string_view> value;
        if (const std::size_t equals = word.find('=');
            word.starts_with("--") && equals != word.npos) {
            name = word.substr(0, equals);
            value = word.substr(equals + 1);
        }
        const bool takesValue = name == "--image" || name == "--log" || name == "--retries" ||
                                name == "--match" || name == "--port" || name == "-p";
        if (!takesValue) {
            continue;  // the desktop may add words of its own, as for the other window
        }
        if (!value) {
            if (i + 1 == argc) {
                request.error = std::string(name) + " needs a value";
                break;
            }
            value = argv[++i];
        }
        if (name == "--image") {
            request.choices.imageFile = *value;
        } else if (name == "--log") {
            request.choices.logFile = *value;
        } else if (name == "--retries") {
            readRetries(*value, request);
        } else if (name == "--match") {
            request.choices.match = *value;
        } else {
            request.choices.ports.emplace_back(*value);
        }
    }
    if (request.error.empty() && !request.choices.match.empty() && !request.choices.ports.empty()) {
        request.error =
            "--match and --port exclude each other: the ports given are the ones watched";
    }
    return request;
}

std::string stationHelp() {
    return "Usage: firmware-updater --station [--image FILE] [--log FILE] [--retries N]\n"
           "                                  [--match PATTERN | --port PORT...] [--start]\n"
           "Opens the Firmware Station window: a production station that flashes every board "
           "plugged in, one tile per fixture, as zq417-flash watch does. The options fill in its "
           "settings, named as zq417-flash watch names them; Start locks them for the run.\n"
           "  --image FILE     Send this image instead of the built-in one (checked as "
           "zq417-flash info checks it)\n"
           "  --log FILE       Add each board's record to FILE as one JSON line (default: a dated "
           "file in the user's data directory)\n"
           "  --retries N      Try a board that failed on the board or the line up to N more "
           "times (0 to 100; default 0)\n"
           "  --match PATTERN  Serve only the USB serial adapters and virtual boards that match "
           "this wildcard\n"
           "  -p, --port PORT  Serve this port instead, probed every second; give it once per "
           "port\n"
           "  --start          Start at once, for a station PC that opens the window at login\n"
           "  -h, --help       Print this help and exit\n";
}

}  // namespace zq::qt
