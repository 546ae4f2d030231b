#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "serial/port_discovery.h"

namespace zq {

// Where a window learns which ports exist and when that changes. An empty source lists none
// beyond COM1 to COM4 and never changes; tests hand in one of their own.
struct PortSource {
    std::function<std::vector<PortInfo>()> list;
    // Null, or a source that returns null, when the system offers no plug events.
    std::function<std::unique_ptr<PortWatcher>()> watch;

    std::vector<PortInfo> present() const { return list ? list() : std::vector<PortInfo>{}; }
    std::unique_ptr<PortWatcher> watcher() const { return watch ? watch() : nullptr; }
};

// The system's own discovery and plug events.
PortSource systemPortSource();

}  // namespace zq
