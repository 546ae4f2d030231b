#pragma once

#include <ostream>

#include "app/cli/image_choice.h"

namespace zq::cli {

struct InfoRequest {
    ImageChoice image;
    bool json = false;
};

// Prints what download or update would send, as text or as one JSON object on `out`. An image
// that cannot be read at all gets its refusal on `err` instead, and the result is false; one that
// is only too long is described, with what it does not fit.
bool runInfo(const InfoRequest& request, std::ostream& out, std::ostream& err);

}  // namespace zq::cli
