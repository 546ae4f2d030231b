#include <windows.h>

#include "station/host_name.h"

namespace zq::station {

std::string hostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!::GetComputerNameA(name, &size) || size == 0) {
        return "unknown";
    }
    return std::string(name, size);
}

}  // namespace zq::station
