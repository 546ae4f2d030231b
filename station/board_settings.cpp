#include "station/board_settings.h"

namespace zq::station {

std::string_view operationName(Operation operation) {
    switch (operation) {
        case Operation::Download:
            return "download";
        case Operation::Update:
            return "update";
        case Operation::Flash:
            return "flash";
    }
    return "?";
}

}  // namespace zq::station
