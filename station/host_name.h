#pragma once

#include <string>

namespace zq::station {

// This computer's name, as a station's records name it; "unknown" when the system will not say.
std::string hostName();

}  // namespace zq::station
