// zq417-sim: a virtual ZQ417 board on a pseudo-terminal, so the updater can be tried and tested
// without hardware. With --boards N it serves N independent boards, one thread each.
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/sim/pty_board.h"
#include "app/sim/sim_options.h"

namespace {

int serveOne(zq::sim::SimOptions options) {
    zq::sim::PtyBoard board(std::move(options));
    std::string error;
    if (!board.open(error)) {
        std::fprintf(stderr, "zq417-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s", board.plugLine().c_str());
    return board.run();
}

// All boards are opened, and named, before any starts serving; the stop signals are then taken
// here once and passed on to every board, which a signalfd per board could not do.
int serveMany(const zq::sim::SimOptions& options) {
    const int stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop < 0) {
        std::perror("zq417-sim: eventfd");
        return 1;
    }
    std::vector<std::unique_ptr<zq::sim::PtyBoard>> boards;
    for (int k = 0; k < options.boards; ++k) {
        zq::sim::SimOptions own = options;
        own.logPrefix = "board " + std::to_string(k) + ": ";
        own.boardIndex = k;
        if (!options.linkPath.empty()) {
            own.linkPath = options.linkPath + std::to_string(k);
        }
        auto board = std::make_unique<zq::sim::PtyBoard>(std::move(own));
        std::string error;
        if (!board->open(error)) {
            std::fprintf(stderr, "zq417-sim: board %d: %s\n", k, error.c_str());
            return 1;
        }
        board->stopWhenReadable(stop);
        boards.push_back(std::move(board));
    }
    for (const auto& board : boards) {
        std::printf("%s", board->plugLine().c_str());
    }
    std::atomic<int> running{options.boards};
    std::vector<std::thread> threads;
    for (auto& board : boards) {
        threads.emplace_back([&running, b = board.get()] {
            b->run();
            --running;
        });
    }
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    sigaddset(&stops, SIGUSR1);
    const timespec tick{.tv_sec = 0, .tv_nsec = 100'000'000};
    while (running > 0) {
        siginfo_t info{};
        const int number = ::sigtimedwait(&stops, &info, &tick);
        if (number == SIGUSR1) {
            for (const auto& board : boards) {
                board->pullNow();
            }
        } else if (number > 0) {
            std::printf("zq417-sim: stopped by %s\n", zq::sim::signalName(number));
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(stop, &one, sizeof one);
            break;
        }
    }
    for (std::thread& t : threads) {
        t.join();
    }
    boards.clear();  // removes the links
    ::close(stop);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    zq::sim::SimOptions options;
    if (const std::optional<int> status = zq::sim::parseSimOptions(argc, argv, options)) {
        return *status;
    }
    // Scripts and tests wait for the device line and follow the exchanges as they happen.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return options.boards == 1 ? serveOne(std::move(options)) : serveMany(options);
}
