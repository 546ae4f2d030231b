#pragma once

#include <string>

#include "app/ports/port_list.h"
#include "transfer/operation.h"

namespace zq {

// Where a window keeps, from one run to the next, the port its last operation that succeeded
// ran on (its lasting name): the registry on Windows, the settings file on Linux.
class PortMemory {
  public:
    virtual ~PortMemory() = default;
    // Empty when nothing is kept.
    virtual std::string recall() = 0;
    virtual void remember(const std::string& lastingName) = 0;
};

// After an operation on `port`: a port that served is the one chosen at the next start.
inline void rememberIfSucceeded(const WindowSession& session, const PortEntry& port,
                                PortMemory& memory) {
    if (session.lastSucceeded()) {
        memory.remember(port.lastingName);
    }
}

}  // namespace zq
