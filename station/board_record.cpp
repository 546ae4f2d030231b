#include "station/board_record.h"

namespace zq::station {

std::string_view boardEndName(BoardEnd end) {
    switch (end) {
        case BoardEnd::Succeeded:
            return "succeeded";
        case BoardEnd::Failed:
            return "failed";
        case BoardEnd::Pulled:
            return "pulled";
        case BoardEnd::Interrupted:
            return "interrupted";
    }
    return "?";
}

const Outcome& BoardRecord::outcome() const {
    static const Outcome none{};
    return tries.empty() ? none : tries.back().outcome;
}

}  // namespace zq::station
