#include "app/explain/reason_text.h"

namespace zq {

std::string explainOpenFailureHere(const OpenFailure& why, std::string_view devicePath) {
    return explainOpenFailure(why, devicePath);
}

}  // namespace zq
