#pragma once

#include <string_view>

namespace zq::station {

enum class Operation { Download, Update, Flash };

std::string_view operationName(Operation operation);

// What every board of a run gets: the one description of a board's settings, from one port to a
// station that runs for days.
struct BoardSettings {
    Operation operation = Operation::Flash;
    unsigned latencyMs = 0;  // added to every read's total timeout
    unsigned retries = 0;    // more tries for a board that failed on the board or the line
    bool trace = false;      // every port call and packet as a trace line
};

}  // namespace zq::station
