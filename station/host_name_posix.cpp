#include <unistd.h>

#include <climits>

#include "station/host_name.h"

namespace zq::station {

std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "unknown";
    }
    return name;
}

}  // namespace zq::station
