#pragma once

#include <map>
#include <string>
#include <vector>

namespace zq::cli {

// Which boards a station flashes as ports come and go: each board once per plug. A port counts
// as the same board for as long as it stays present; only after it has gone and come back is
// the board there a new one. Not thread-safe: the caller holds one lock around it.
class PlugTracker {
  public:
    // The ports present now. Gives the ones that have just appeared, which are then running.
    std::vector<std::string> present(const std::vector<std::string>& ports);
    // The run on `port` has ended. True when the port went and came back while it ran: the board
    // there now is another one, and it is running again.
    bool finished(const std::string& port);
    bool running(const std::string& port) const;

  private:
    struct Plug {
        bool running = true;
        bool goneWhileRunning = false;
        bool backAgain = false;
    };
    std::map<std::string, Plug> plugs_;
};

}  // namespace zq::cli
