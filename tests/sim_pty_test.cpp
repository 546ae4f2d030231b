// zq417-sim as a host program meets it: a child process whose pseudo-terminal is opened with plain
// termios. Real time, so the bounds are generous; the exact timing rules are asserted in virtual
// time elsewhere.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/sim/sim_options.h"
#include "support/sim_process.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using zq::sim::SimOptions;
using zq::test::SimProcess;

const Bytes Sync{0xAA, 0x0D, 0, 0, 0, 0};
const Bytes SyncAnswer{0xAA, 0x0E, 0x0D, 0, 0, 0, 0xAA, 0x0D, 0, 0, 0, 0};
constexpr auto Patience = 5s;

std::optional<int> parse(std::vector<const char*> args, SimOptions& options) {
    args.insert(args.begin(), "zq417-sim");
    return zq::sim::parseSimOptions(static_cast<int>(args.size()), args.data(), options);
}

TEST(SimOptions, MapsSwitchesOntoTheBoard) {
    SimOptions o;
    ASSERT_FALSE(parse({"--status", "0x0080", "--wrong-ack", "0x0A", "--wrong-ack", "012",
                        "--unanswered", "0X0b", "--data-reply-param", "0xff", "--no-pacing",
                        "--drop-after", "100", "--reply-delay", "30", "--boot-ms", "5"},
                       o));
    EXPECT_EQ(o.board.mode, zq::sim::BoardMode::Download);
    EXPECT_EQ(o.board.statusValue, 0x0080);
    // A leading zero stays decimal: "012" is id twelve, not octal ten (Data).
    EXPECT_EQ(o.board.wrongAckFor, (1U << 0x0A) | (1U << 12));
    EXPECT_EQ(o.board.unansweredIds, 1U << 0x0B);
    EXPECT_EQ(o.board.dataReplyParam, 0xFF);
    EXPECT_EQ(o.board.baud, 0U);
    EXPECT_EQ(o.board.dropAfterBytes, 100U);
    EXPECT_EQ(o.board.replyDelay, 30ms);
    EXPECT_EQ(o.board.bootTime, 5ms);

    SimOptions defaults;
    ASSERT_FALSE(parse({}, defaults));
    EXPECT_EQ(defaults.board.baud, 14400U);
    EXPECT_FALSE(defaults.board.dropAfterBytes);
}

TEST(SimOptions, RejectsWhatTheBoardCannotHold) {
    const std::vector<std::vector<const char*>> bad = {
        {"--wrong-ack", "16"},    {"--unanswered", "0x10"},
        {"--status", "0x10000"},  {"--status", "0xZZ"},
        {"--status", "-1"},       {"--status-bytes", "3"},
        {"--mode", "bootloader"}, {"--baud", "9600", "--no-pacing"},
        {"--drop-after", "0"},
    };
    for (const auto& args : bad) {
        SimOptions options;
        const std::optional<int> status = parse(args, options);
        ASSERT_TRUE(status) << args[0];
        EXPECT_NE(*status, 0) << args[0];
    }
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
    ~Host() { close(); }
    void close() {
        if (fd >= 0) {
            ::close(fd);
        }
        fd = -1;
    }

    bool send(const Bytes& bytes) const {
        return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Reads until `wanted` bytes came or `limit` passed.
    Bytes receive(std::size_t wanted, std::chrono::milliseconds limit = Patience) const {
        Bytes got;
        const auto deadline = Clock::now() + limit;
        while (got.size() < wanted) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{fd, POLLIN, 0};
            std::uint8_t chunk[64];
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1) {
                break;
            }
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

bool exists(const std::string& path) {
    struct stat found {};
    return ::lstat(path.c_str(), &found) == 0;
}

std::string scratchLink() {
    char dir[] = "/tmp/zq417-sim-test-XXXXXX";
    return ::mkdtemp(dir) != nullptr ? std::string(dir) + "/board" : std::string();
}

TEST(SimPty, UpdateModeAnswersSyncInEverySession) {
    SimProcess sim({"--mode", "update", "--no-pacing"});
    const std::string device = sim.devicePath();
    ASSERT_FALSE(device.empty());
    {
        const Host host(device);
        // A host that locks the port and leaves the lock set when it closes.
        ASSERT_EQ(::ioctl(host.fd, TIOCEXCL), 0);
        ASSERT_TRUE(host.send(Sync));
        EXPECT_EQ(host.receive(SyncAnswer.size()), SyncAnswer);
    }
    const Host host(device);
    ASSERT_GE(host.fd, 0);
    // The lock must not outlive that close, or the next run as an ordinary user gets EBUSY.
    int locked = 1;
    for (const auto deadline = Clock::now() + Patience; locked != 0 && Clock::now() < deadline;) {
        std::this_thread::sleep_for(10ms);
        ::ioctl(host.fd, TIOCGEXCL, &locked);
    }
    EXPECT_EQ(locked, 0);
    ASSERT_TRUE(host.send(Sync));
    EXPECT_EQ(host.receive(SyncAnswer.size()), SyncAnswer);
    EXPECT_EQ(sim.stop(), 0);
}

TEST(SimPty, DownloadModeLoadsAnImageThenAnswersAsFirmware) {
    SimProcess sim({"--no-pacing"});
    const Host host(sim.devicePath());
    ASSERT_GE(host.fd, 0);

    ASSERT_TRUE(host.send(Sync));
    EXPECT_TRUE(host.receive(1, 100ms).empty()) << "the loader never answers";
    ASSERT_TRUE(host.send({0xFF, 0xFF, 0xFF, 0x0C, 0x05, 0x04, 0x00, 0x00, 1, 2, 3, 4}));
    std::this_thread::sleep_for(100ms);  // the image starts 20 ms after its last byte
    ASSERT_TRUE(host.send(Sync));
    EXPECT_EQ(host.receive(SyncAnswer.size()), SyncAnswer);
    EXPECT_EQ(sim.stop(), 0);
}

TEST(SimPty, PacesRepliesAtTheLineSpeedAndAppliesFaults) {
    SimProcess sim({"--mode", "update", "--wrong-ack", "0x0D"});
    const Host host(sim.devicePath());
    ASSERT_GE(host.fd, 0);

    const auto sent = Clock::now();
    ASSERT_TRUE(host.send(Sync));
    const Bytes answer = host.receive(SyncAnswer.size());
    const auto done = Clock::now();
    EXPECT_EQ(answer, (Bytes{0xAA, 0x0E, 0x0C, 0, 0, 0, 0xAA, 0x0D, 0, 0, 0, 0}));
    // Twelve bytes at 14400 baud take 8.3 ms; a board that sent them at once would not. A busy
    // machine only makes this later, never earlier.
    EXPECT_GE(done - sent, 7ms);
    EXPECT_EQ(sim.stop(), 0);
}

TEST(SimPty, DroppedLineHangsUpTheHostAndEnds) {
    const std::string link = scratchLink();
    SimProcess sim({"--mode", "update", "--no-pacing", "--drop-after", "3", "--link", link});
    const std::string device = sim.devicePath();
    char target[128] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), device);

    const Host host(link);
    ASSERT_TRUE(host.send(Sync));
    EXPECT_EQ(sim.waitForExit(), 0);
    EXPECT_FALSE(exists(link));
    // Nothing of the interrupted exchange comes back, and the port now fails outright.
    std::uint8_t byte = 0;
    EXPECT_LE(::read(host.fd, &byte, 1), 0);
    errno = 0;
    EXPECT_EQ(::write(host.fd, Sync.data(), Sync.size()), -1);
    EXPECT_EQ(errno, EIO);
    ::rmdir(link.substr(0, link.rfind('/')).c_str());
}

TEST(SimPty, EndsCleanlyOnSigtermOrAfterTheOperations) {
    const std::string link = scratchLink();
    {
        SimProcess sim({"--link", link, "--quiet"});
        ASSERT_FALSE(sim.devicePath().empty());
        ASSERT_TRUE(exists(link));
        EXPECT_EQ(sim.stop(), 0);
        EXPECT_FALSE(exists(link));
        ::rmdir(link.substr(0, link.rfind('/')).c_str());
    }
    SimProcess sim({"--mode", "update", "--no-pacing", "--exit-after-operations", "1"});
    Host host(sim.devicePath());
    ASSERT_GE(host.fd, 0);
    // One image programmed: Data announcing four bytes, the bytes, the Ack; then the host lets go.
    ASSERT_TRUE(host.send({0xAA, 0x0A, 0x00, 0x04, 0x00, 0x00, 9, 8, 7, 6}));
    EXPECT_EQ(host.receive(6), (Bytes{0xAA, 0x0E, 0x0A, 0, 0, 0}));
    host.close();
    EXPECT_EQ(sim.waitForExit(), 0);
}

}  // namespace
