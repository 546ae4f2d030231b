#pragma once

#include <ostream>

#include "app/records/image_choice.h"

namespace zq {

struct InfoRequest {
    ImageChoice image;
    bool json = false;
};

// Prints what download or update would send, as text or as one JSON object on `out`. A refused
// image gets its refusal on `err` (in the JSON object under --json) and the result is false; one
// refused for its size alone is still described, as its size says what matters.
bool runInfo(const InfoRequest& request, std::ostream& out, std::ostream& err);

}  // namespace zq
