// zq417-sim as a host program meets it: a child process whose pseudo-terminal is opened with plain
// termios. Real time, so the bounds are generous; the exact timing rules are asserted in virtual
// time elsewhere.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/sim/sim_options.h"
#include "serial/virtual_boards.h"
#include "support/image_files.h"
#include "support/sim_process.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using zq::sim::SimOptions;
using zq::test::SimProcess;
using zq::test::TempDir;

const Bytes Sync{0xAA, 0x0D, 0, 0, 0, 0};
const Bytes SyncAnswer{0xAA, 0x0E, 0x0D, 0, 0, 0, 0xAA, 0x0D, 0, 0, 0, 0};

std::optional<int> parse(std::vector<const char*> args, SimOptions& options) {
    args.insert(args.begin(), "zq417-sim");
    return zq::sim::parseSimOptions(static_cast<int>(args.size()), args.data(), options);
}

// Ids and values are read as C writes them, except that a leading zero stays decimal: "012" is
// id twelve, not octal ten (Data).
TEST(SimOptions, NumbersAreHexWithTheirPrefixAndDecimalOtherwise) {
    SimOptions o;
    ASSERT_FALSE(parse(
        {"--status", "0x0080", "--wrong-ack", "0x0A", "--wrong-ack", "012", "--unanswered", "0X0b"},
        o));
    EXPECT_EQ(o.board.statusValue, 0x0080);
    EXPECT_EQ(o.board.wrongAckFor, (1U << 0x0A) | (1U << 12));
    EXPECT_EQ(o.board.unansweredIds, 1U << 0x0B);
}

TEST(SimOptions, RejectsWhatTheBoardCannotHold) {
    const std::vector<std::vector<const char*>> bad = {
        {"--wrong-ack", "16"},    {"--unanswered", "0x10"},
        {"--status", "0x10000"},  {"--status", "0xZZ"},
        {"--status", "-1"},       {"--status-bytes", "3"},
        {"--mode", "bootloader"}, {"--baud", "9600", "--no-pacing"},
        {"--drop-after", "0"},    {"--mdoe", "update"},
        {"--quiet", "extra"},
    };
    // A usage error, as zq417-flash has it; --version answers and ends the run.
    for (const auto& args : bad) {
        SimOptions options;
        EXPECT_EQ(parse(args, options), 2) << args[0];
    }
    SimOptions options;
    EXPECT_EQ(parse({"--version"}, options), 0);
}

// The host side, set up raw as a serial program does.
struct Host {
    explicit Host(const std::string& path)
        : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        termios settings{};
        if (fd >= 0 && ::tcgetattr(fd, &settings) == 0) {
            ::cfmakeraw(&settings);
            ::tcsetattr(fd, TCSANOW, &settings);
        }
    }
    ~Host() { ::close(fd); }

    bool send(const Bytes& bytes) const {
        return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Reads until `wanted` bytes came or nothing came for five seconds.
    Bytes receive(std::size_t wanted) const {
        Bytes got;
        std::uint8_t chunk[64];
        for (pollfd p{fd, POLLIN, 0}; got.size() < wanted && ::poll(&p, 1, 5000) == 1;) {
            const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, wanted - got.size()));
            if (n <= 0) {
                break;
            }
            got.insert(got.end(), chunk, chunk + n);
        }
        return got;
    }

    int fd;
};

TEST(SimPty, UpdateModeAnswersSyncAtTheLineSpeedInEverySessionAndEndsAfterTheOperationsAsked) {
    SimProcess sim({"--mode", "update", "--exit-after-operations", "1"});
    const std::string device = sim.devicePath();
    ASSERT_FALSE(device.empty());
    {
        const Host host(device);
        // A host that locks the port and leaves the lock set when it closes.
        ASSERT_EQ(::ioctl(host.fd, TIOCEXCL), 0);
        const auto sent = Clock::now();
        ASSERT_TRUE(host.send(Sync));
        EXPECT_EQ(host.receive(SyncAnswer.size()), SyncAnswer);
        // Twelve bytes at 14400 baud take 8.3 ms; a board that sent them at once would not. A
        // busy machine only makes this later, never earlier.
        EXPECT_GE(Clock::now() - sent, 7ms);
    }
    ASSERT_TRUE(awaitLog(sim, "host closed the port"));
    {
        // The lock must not outlive that close, or the next run as an ordinary user gets EBUSY.
        // Looked at by short sessions: the simulator clears nothing while the port is held.
        int locked = 1;
        for (const auto end = Clock::now() + 5s; locked != 0 && Clock::now() < end;) {
            std::this_thread::sleep_for(10ms);
            ::ioctl(Host(device).fd, TIOCGEXCL, &locked);
        }
        EXPECT_EQ(locked, 0);
        const Host host(device);
        ASSERT_EQ(::ioctl(host.fd, TIOCEXCL), 0);
        // The simulator hears of this close only with the next host's open and lock.
        sim.signal(SIGSTOP);
    }
    {
        // A host that opens at once and locks the port keeps its lock: the simulator clears
        // none while the device is held.
        const Host host(device);
        ASSERT_EQ(::ioctl(host.fd, TIOCEXCL), 0);
        sim.signal(SIGCONT);
        ASSERT_TRUE(host.send(Sync));
        EXPECT_EQ(host.receive(SyncAnswer.size()), SyncAnswer);
        // The host's Ack ends the handshake; one image is then programmed (Data announcing four
        // bytes, the bytes, the board's Ack) and the host lets go.
        ASSERT_TRUE(
            host.send({0xAA, 0x0E, 0, 0, 0, 0, 0xAA, 0x0A, 0x00, 0x04, 0x00, 0x00, 9, 8, 7, 6}));
        EXPECT_EQ(host.receive(6), (Bytes{0xAA, 0x0E, 0x0A, 0, 0, 0}));
        int locked = 0;
        EXPECT_EQ(::ioctl(host.fd, TIOCGEXCL, &locked), 0);
        EXPECT_EQ(locked, 1);
    }
    EXPECT_EQ(sim.waitForExit(), 0);
}

// zq417-sim ends with status 0 on SIGTERM and when its line drops, and takes its link away.
TEST(SimPty, EndsOnSigtermOrADroppedLineAndRemovesItsLink) {
    const TempDir dir;
    const fs::path link = dir / "board";
    {
        SimProcess sim({"--no-pacing", "--quiet", "--link", link.string()});
        const std::string device = sim.devicePath();
        EXPECT_EQ(fs::read_symlink(link), device);
        EXPECT_EQ(sim.stop(), 0);
        EXPECT_FALSE(fs::is_symlink(link));
    }
    SimProcess sim(
        {"--mode", "update", "--no-pacing", "--drop-after", "3", "--link", link.string()});
    ASSERT_FALSE(sim.devicePath().empty());
    const Host host(link);
    ASSERT_TRUE(host.send(Sync));
    EXPECT_EQ(sim.waitForExit(), 0);
    EXPECT_FALSE(fs::is_symlink(link));
    // Nothing of the interrupted exchange comes back, and the port now fails outright.
    std::uint8_t byte = 0;
    EXPECT_LE(::read(host.fd, &byte, 1), 0);
    errno = 0;
    EXPECT_EQ(::write(host.fd, Sync.data(), Sync.size()), -1);
    EXPECT_EQ(errno, EIO);
}

// An operator swaps the boards in a fixture: the first is pulled while it programs its EEPROM,
// the second once the host let go of it, the third when told to. The host of a pulled board is hung
// up, and every board after it is a new one (a loader again) on the same link, announced as the
// same board.
TEST(SimPty, PulledBoardsHangUpTheirHostAndNewOnesTakeTheirLink) {
    const TempDir dir;
    struct Runtime {
        explicit Runtime(const fs::path& p) { ::setenv("XDG_RUNTIME_DIR", p.c_str(), 1); }
        ~Runtime() { ::unsetenv("XDG_RUNTIME_DIR"); }
    } runtime(dir.path);
    const fs::path link = dir / "fixture";
    SimProcess sim({"--mode", "download", "--boot-ms", "0", "--no-pacing", "--link", link.string(),
                    "--pull-while-programming", "1", "--pull-after-programming", "1", "--plug-gap",
                    "1500"});
    std::string device = sim.devicePath();
    // A one-byte image to the loader, then the handshake with its firmware.
    Bytes started{0xFF, 0xFF, 0xFF, 0x0C, 0x05, 0x01, 0x00, 0x00, 0x42};
    started.insert(started.end(), Sync.begin(), Sync.end());
    const Bytes program{0xAA, 0x0E, 0, 0, 0, 0, 0xAA, 0x0A, 0x00, 0x04, 0x00, 0x00, 9, 8, 7, 6};
    for (const std::string pulled : {"while it programmed", "after the host let go"}) {
        SCOPED_TRACE(pulled);
        const std::vector<zq::VirtualBoard> announced = zq::announcedBoards();
        ASSERT_EQ(announced.size(), 1u);
        EXPECT_EQ(announced[0].devicePath, device);
        EXPECT_EQ(announced[0].index, 0);
        EXPECT_EQ(announced[0].mode, "download");
        EXPECT_EQ(fs::read_symlink(link), device);
        {
            const Host host(link);
            ASSERT_TRUE(host.send(started));
            EXPECT_EQ(host.receive(SyncAnswer.size()), SyncAnswer);
            ASSERT_TRUE(host.send(program));
            EXPECT_EQ(host.receive(6), (Bytes{0xAA, 0x0E, 0x0A, 0, 0, 0}));
            if (pulled.starts_with("while")) {
                ASSERT_TRUE(awaitLog(sim, "pulled " + pulled));
                std::uint8_t byte = 0;
                EXPECT_LE(::read(host.fd, &byte, 1), 0);
                errno = 0;
                EXPECT_EQ(::write(host.fd, Sync.data(), Sync.size()), -1);
                EXPECT_EQ(errno, EIO);
            }
        }
        if (pulled.starts_with("after")) {
            ASSERT_TRUE(awaitLog(sim, "pulled " + pulled));
        }
        EXPECT_FALSE(fs::is_symlink(link));
        // Gone from the announcements by its own hand, not only by the readers' cleaning.
        EXPECT_TRUE(fs::is_empty(dir / "zq417-sim"));
        device = sim.devicePath();
        ASSERT_FALSE(device.empty());
    }
    EXPECT_EQ(fs::read_symlink(link), device);
    // Pulled by hand, at any moment.
    sim.signal(SIGUSR1);
    ASSERT_TRUE(awaitLog(sim, "pulled on SIGUSR1"));
    EXPECT_FALSE(fs::is_symlink(link));
    device = sim.devicePath();
    EXPECT_EQ(fs::read_symlink(link), device);
    EXPECT_EQ(sim.stop(), 0);
}

}  // namespace
