// How closely the POSIX backend keeps the read windows the protocol depends on, on a
// pseudo-terminal: a 6-byte read with nothing coming must end 24 ms after the call, and a read
// whose sender stops must end 15 ms after the last byte. Prints how far each lands from that.
//
//   read_timeouts [runs]     (default 200)

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "serial/port_state.h"
#include "serial/posix/posix_platform.h"

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

void report(const char* title, std::vector<double> deviations) {
    std::sort(deviations.begin(), deviations.end());
    const std::size_t n = deviations.size();
    const auto at = [&](double fraction) {
        const auto index = static_cast<std::size_t>(fraction * static_cast<double>(n - 1) + 0.5);
        return deviations[index];
    };
    std::printf("%s, %zu runs\n", title, n);
    std::printf("  deviation ms: min %+.3f  median %+.3f  p95 %+.3f  max %+.3f\n",
                deviations.front(), at(0.5), at(0.95), deviations.back());
}

double cpuMilliseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    std::array<char, 128> name{};
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name.data(), name.size()) != 0) {
        std::perror("pseudo-terminal");
        return 1;
    }

    zq::PosixPlatform platform;
    zq::OpenFailure why;
    auto device = platform.openSerial(name.data(), why);
    if (!device) {
        std::fprintf(stderr, "open %s: %s\n", name.data(), why.detail.c_str());
        return 1;
    }
    zq::LineSettings saved;
    if (!device->getState(saved) || !device->setTimeouts(zq::FixedTimeouts) ||
        !device->setState(zq::lineSettingsFor(saved, 14400))) {
        std::fprintf(stderr, "cannot set up %s\n", name.data());
        return 1;
    }

    std::array<std::uint8_t, 6> buffer{};
    std::size_t got = 0;
    int wrong = 0;

    std::vector<double> silent;
    const double silentCpuStart = cpuMilliseconds();
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        const bool ok = device->read(buffer, got);
        silent.push_back(Milliseconds(Clock::now() - start).count() - 24.0);
        wrong += (!ok || got != 0) ? 1 : 0;
    }
    const double silentCpu = cpuMilliseconds() - silentCpuStart;

    // The byte is there from the start of the call, so the 15 ms gap ends the read before the
    // 24 ms total does.
    std::vector<double> gap;
    const double gapCpuStart = cpuMilliseconds();
    for (int i = 0; i < runs; ++i) {
        const std::uint8_t byte = 0x55;
        const auto sent = Clock::now();
        if (write(master, &byte, 1) != 1) {
            std::perror("master write");
            return 1;
        }
        const bool ok = device->read(buffer, got);
        gap.push_back(Milliseconds(Clock::now() - sent).count() - 15.0);
        wrong += (!ok || got != 1) ? 1 : 0;
    }
    const double gapCpu = cpuMilliseconds() - gapCpuStart;

    report("6-byte read, nothing coming (24 ms after the call)", silent);
    std::printf("  cpu per read: %.3f ms\n", silentCpu / runs);
    report("6-byte read, one byte then silence (15 ms after the byte)", gap);
    std::printf("  cpu per read: %.3f ms\n", gapCpu / runs);
    if (wrong != 0) {
        std::printf("%d reads returned the wrong result\n", wrong);
    }

    device->setState(saved);
    device->close();
    close(master);
    return wrong == 0 ? 0 : 1;
}
