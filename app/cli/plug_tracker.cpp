#include "app/cli/plug_tracker.h"

#include <algorithm>

namespace zq::cli {

std::vector<std::string> PlugTracker::present(const std::vector<std::string>& ports) {
    const auto listed = [&](const std::string& port) {
        return std::ranges::find(ports, port) != ports.end();
    };
    for (auto it = plugs_.begin(); it != plugs_.end();) {
        Plug& plug = it->second;
        const bool here = listed(it->first);
        if (!here && !plug.running) {
            it = plugs_.erase(it);
            continue;
        }
        plug.goneWhileRunning = plug.goneWhileRunning || !here;
        plug.backAgain = plug.goneWhileRunning && here;
        ++it;
    }
    std::vector<std::string> appeared;
    for (const std::string& port : ports) {
        if (plugs_.try_emplace(port).second) {
            appeared.push_back(port);
        }
    }
    return appeared;
}

bool PlugTracker::finished(const std::string& port) {
    const auto it = plugs_.find(port);
    if (it == plugs_.end()) {
        return false;
    }
    Plug& plug = it->second;
    if (plug.backAgain) {
        plug = Plug{};
        return true;
    }
    if (plug.goneWhileRunning) {
        plugs_.erase(it);
        return false;
    }
    plug.running = false;
    return false;
}

bool PlugTracker::running(const std::string& port) const {
    const auto it = plugs_.find(port);
    return it != plugs_.end() && it->second.running;
}

}  // namespace zq::cli
