// The POSIX backend on a real pseudo-terminal. These run in real time on a machine that may be
// busy, so the bounds are wide and the gaps far from the 15 ms interval; the exact timing rules
// are asserted in virtual time elsewhere.

#include "serial/posix/posix_platform.h"

// Never together with <termios.h>.
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "serial/interruption.h"
#include "serial/port_state.h"
#include "serial/posix/interrupt_pipe.h"

namespace {

using namespace std::chrono_literals;
using Milliseconds = std::chrono::duration<double, std::milli>;

using Bytes = std::vector<std::uint8_t>;
using zq::OpenFailure;

Bytes pattern(std::size_t length, std::uint8_t first) {
    Bytes bytes(length);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

double msSince(std::chrono::steady_clock::time_point start) {
    return Milliseconds(std::chrono::steady_clock::now() - start).count();
}

// The backend holds the slave side of a pseudo-terminal open; the test works the master.
class PosixSerialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::array<char, 128> name{};
        ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0 &&
                    ::ptsname_r(master, name.data(), name.size()) == 0);
        slavePath = name.data();
        found = slaveLine();
        OpenFailure why;
        device = platform.openSerial(slavePath, why);
        ASSERT_NE(device, nullptr) << why.detail;
        // The port as a transfer phase has it: fixed timeouts, 14400 8N1, raw.
        ASSERT_TRUE(device->getState(saved));
        ASSERT_TRUE(device->setTimeouts(zq::FixedTimeouts));
        ASSERT_TRUE(device->setState(zq::lineSettingsFor(saved, 14400)));
    }
    void TearDown() override {
        device.reset();
        hangUp();
    }

    // What a read into a buffer of `size` bytes got, and how many milliseconds it took.
    std::pair<Bytes, double> timedRead(std::size_t size) {
        Bytes buffer(size);
        std::size_t got = size + 1;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(device->read(buffer, got));
        buffer.resize(std::min(got, size));
        return {buffer, msSince(start)};
    }

    // The tests send a few bytes at a time, which the pseudo-terminal always takes whole.
    void send(const Bytes& bytes) {
        EXPECT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Everything the device side wrote, up to a quiet spell.
    Bytes receive() {
        Bytes bytes;
        std::array<std::uint8_t, 4096> chunk{};
        pollfd watch{master, POLLIN, 0};
        ssize_t n = 0;
        while (::poll(&watch, 1, 100) > 0 && (n = ::read(master, chunk.data(), chunk.size())) > 0) {
            bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
        }
        return bytes;
    }

    // The master's termios requests act on the slave, even while the slave is held exclusively.
    termios2 slaveLine() const {
        termios2 line{};
        EXPECT_EQ(::ioctl(master, TCGETS2, &line), 0);
        return line;
    }

    void hangUp() {
        if (master >= 0) {
            ::close(master);
        }
        master = -1;
    }

    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    std::string slavePath;
    termios2 found{};        // the slave's settings before the backend opened it
    zq::LineSettings saved;  // the same as the backend read them
    zq::PosixPlatform platform;
    std::unique_ptr<zq::SerialDevice> device;
};

TEST_F(PosixSerialTest, ReadWithNothingComingEndsAtTheTotalDeadline) {
    const auto [got, ms] = timedRead(6);
    EXPECT_TRUE(got.empty());
    // 6 ms + 3 ms per byte; a loaded machine only makes it later.
    EXPECT_GE(ms, 20.0);
    EXPECT_LT(ms, 1000.0);
}

// 512 bytes allow 1542 ms in all, so only a gap can end the read this early. The short gaps are
// 1 ms and the long one 300 ms, far on both sides of the 15 ms interval. A loaded machine can
// still hold the sender past the interval, so the sender times its own gaps, and the whole run
// is required only when no two sends were that far apart.
TEST_F(PosixSerialTest, ShortGapsDoNotEndTheReadButALongOneEndsItWithTheBytesBeforeIt) {
    const Bytes sent = pattern(64, 0x40);
    Milliseconds widest{0};
    std::jthread sender([this, &sent, &widest] {
        std::chrono::steady_clock::time_point previous;
        for (std::size_t at = 0; at < sent.size(); at += 16) {
            const auto before = std::chrono::steady_clock::now();
            send(Bytes(sent.begin() + at, sent.begin() + at + 16));
            if (at != 0) {
                widest =
                    std::max<Milliseconds>(widest, std::chrono::steady_clock::now() - previous);
            }
            previous = before;
            std::this_thread::sleep_for(1ms);
        }
        std::this_thread::sleep_for(300ms);
        send({1, 2});
    });
    const auto [got, ms] = timedRead(512);
    sender.join();
    // Whatever the load: bytes from the first on, never those after the long gap.
    ASSERT_FALSE(got.empty());
    ASSERT_LE(got.size(), sent.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), sent.begin()));
    EXPECT_GE(ms, 15.0);
    EXPECT_LT(ms, 1000.0);
    if (widest < 14ms) {
        EXPECT_EQ(got, sent) << "sends at most " << widest.count() << " ms apart";
    }
}

TEST_F(PosixSerialTest, WriteCountsOnlyBytesThatLeft) {
    const Bytes small = pattern(10, 0);
    std::size_t written = 0;
    EXPECT_TRUE(device->write(small, written));
    EXPECT_EQ(written, small.size());
    EXPECT_EQ(receive(), small);

    // Nobody reads the master, so the pseudo-terminal fills up and the rest cannot leave before
    // the 50 ms deadline.
    ASSERT_TRUE(device->setTimeouts({.writeTotalTimeoutConstant = 50}));
    const Bytes large = pattern(1 << 20, 7);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(device->write(large, written));
    EXPECT_LT(msSince(start), 1000.0);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, large.size());
    EXPECT_EQ(receive(), Bytes(large.begin(), large.begin() + static_cast<long>(written)));
}

double threadCpuMs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// A pulled adapter looks like this to a read: the far end goes while the read waits. The read
// fails then and says why, and neither it nor the calls after it spin while a deadline runs out.
TEST_F(PosixSerialTest, ADeviceThatVanishesMidReadFailsTheReadSayingSoWithoutSpinning) {
    ASSERT_TRUE(device->setTimeouts({.readTotalTimeoutConstant = 3000}));
    std::jthread puller([this] {
        std::this_thread::sleep_for(200ms);
        hangUp();
    });
    const double cpuBefore = threadCpuMs();
    const auto start = std::chrono::steady_clock::now();
    Bytes buffer(64);
    std::size_t got = 0;
    EXPECT_FALSE(device->read(buffer, got));
    EXPECT_GE(msSince(start), 150.0);
    EXPECT_LT(msSince(start), 2000.0);
    EXPECT_TRUE(device->lastError().deviceGone) << device->lastError().text;
    puller.join();

    // The phases go on calling a device that is gone, each call failing at once.
    for (int i = 0; i < 100; ++i) {
        EXPECT_FALSE(device->read(buffer, got));
        EXPECT_FALSE(device->write(Bytes{1, 2}, got));
    }
    EXPECT_TRUE(device->lastError().deviceGone) << device->lastError().text;
    EXPECT_LT(threadCpuMs() - cpuBefore, 100.0);
}

// Raises `signal` as its handler would, `after` from now.
std::jthread raiseAfter(std::chrono::milliseconds after, int signal) {
    return std::jthread([=] {
        std::this_thread::sleep_for(after);
        zq::interruption::raise(signal);
    });
}

// A signal (as its handler notes it) ends a wait at once, where the port's deadline would have
// been seconds away; a shielded wait runs its whole time through the first, noticing it once,
// and the second cuts it.
TEST_F(PosixSerialTest, ASignalCutsWaitsShortUnlessAShieldAbsorbsTheFirst) {
    ASSERT_TRUE(zq::posix::armInterruptPipe());
    ASSERT_TRUE(device->setTimeouts({.readTotalTimeoutConstant = 3000}));
    Bytes buffer(8);
    std::size_t got = 0;
    {
        zq::interruption::resetForTests();
        const std::jthread raiser = raiseAfter(100ms, SIGINT);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(device->read(buffer, got));
        EXPECT_TRUE(device->lastError().interrupted);
        platform.sleep(3s);
        EXPECT_FALSE(device->write(Bytes{1, 2, 3}, got));
        EXPECT_LT(msSince(start), 1000.0);
    }
    zq::interruption::resetForTests();
    std::vector<int> noticed;
    zq::interruption::Shield shield([&](int signal) { noticed.push_back(signal); });
    {
        const std::jthread first = raiseAfter(50ms, SIGTERM);
        const auto start = std::chrono::steady_clock::now();
        platform.sleep(400ms);
        EXPECT_GE(msSince(start), 400.0);
        EXPECT_LT(msSince(start), 1000.0);
        EXPECT_EQ(noticed, std::vector<int>{SIGTERM});
        EXPECT_TRUE(shield.absorbedFirst());
    }
    {
        const std::jthread second = raiseAfter(100ms, SIGINT);
        const auto start = std::chrono::steady_clock::now();
        platform.sleep(3s);
        EXPECT_LT(msSince(start), 1000.0);
        EXPECT_EQ(noticed.size(), 1u);
    }
    zq::interruption::resetForTests();
}

// Root passes the kernel's exclusive flag, so both holds are checked as root too: ours, and
// another program's, which must still stand after our refused open.
TEST_F(PosixSerialTest, PortIsHeldExclusivelyAndTheFoundSettingsComeBackByteForByte) {
    // A pseudo-terminal has no low-latency mode, and the open says so.
    EXPECT_NE(device->openNotes().find("low-latency mode unavailable"), std::string::npos);
    EXPECT_EQ(device->queuedInput(), std::optional<std::size_t>(0));
    OpenFailure why;
    EXPECT_EQ(platform.openSerial(slavePath, why), nullptr);
    EXPECT_EQ(why.kind, OpenFailure::Kind::Busy);
    EXPECT_NE(why.code, 0);

    const termios2 phase = slaveLine();
    EXPECT_EQ(phase.c_ospeed, 14400u);
    EXPECT_EQ(phase.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
    EXPECT_EQ(phase.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(phase.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(phase.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(phase.c_oflag & OPOST, 0u);
    EXPECT_EQ(phase.c_cc[VMIN] | phase.c_cc[VTIME], 0);

    EXPECT_TRUE(device->setState(saved));
    EXPECT_TRUE(device->close());
    const termios2 after = slaveLine();
    EXPECT_EQ(std::memcmp(&found, &after, sizeof found), 0);

    const int holder = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    int held = -1;
    EXPECT_EQ(::ioctl(holder, TIOCGEXCL, &held), 0);
    EXPECT_EQ(held, 0) << "our close left the flag it set";
    ASSERT_EQ(::ioctl(holder, TIOCEXCL), 0);
    EXPECT_EQ(platform.openSerial(slavePath, why), nullptr);
    EXPECT_EQ(why.kind, OpenFailure::Kind::Busy);
    // The holder is this very process, and /proc says so.
    EXPECT_NE(why.holders.size(), 0u);
    EXPECT_EQ(::ioctl(holder, TIOCGEXCL, &held), 0);
    EXPECT_EQ(held, 1);
    ::ioctl(holder, TIOCNXCL);
    ::close(holder);
    EXPECT_NE(platform.openSerial(slavePath, why), nullptr) << why.detail;
}

TEST_F(PosixSerialTest, FieldsReadBackAsTheyWereSet) {
    zq::LineSettings wanted;
    ASSERT_TRUE(device->getState(wanted));
    zq::DcbFields& f = wanted.fields;
    // A pseudo-terminal is always 8-bit without parity, so framing is left as found.
    f.baudRate = 57600;
    f.stopBits = zq::StopBits::Two;
    f.parityCheck = true;
    f.outxCtsFlow = true;
    f.outX = false;
    f.inX = true;
    f.xonChar = 0x01;
    f.xoffChar = 0x02;
    ASSERT_TRUE(device->setState(wanted));
    zq::LineSettings got;
    ASSERT_TRUE(device->getState(got));
    EXPECT_EQ(got.fields, wanted.fields);

    // So parity is what the kernel refuses, and the set must say so.
    termios2 withParity = slaveLine();
    withParity.c_cflag |= PARENB;
    EXPECT_EQ(::ioctl(master, TCSETS2, &withParity), 0);
    if ((slaveLine().c_cflag & PARENB) != 0) {
        GTEST_SKIP() << "this kernel keeps parity on a pseudo-terminal";
    }
    f.parity = zq::Parity::Even;
    EXPECT_FALSE(device->setState(wanted));
}

TEST(PosixOpen, FailuresSayWhy) {
    zq::PosixPlatform platform;
    OpenFailure why;
    EXPECT_EQ(platform.openSerial("/nonexistent-zq417/ttyUSB9", why), nullptr);
    EXPECT_EQ(why.kind, OpenFailure::Kind::NoSuchDevice);
    EXPECT_EQ(why.code, ENOENT);
    EXPECT_NE(why.detail.find("/nonexistent-zq417/ttyUSB9"), std::string::npos);

    char regular[] = "/tmp/posix_serial_test_XXXXXX";
    ASSERT_EQ(::close(::mkstemp(regular)), 0);
    for (const char* path : {static_cast<const char*>(regular), "/dev/null"}) {
        EXPECT_EQ(platform.openSerial(path, why), nullptr) << path;
        EXPECT_EQ(why.kind, OpenFailure::Kind::NotATerminal) << path;
    }
    ::unlink(regular);
}

}  // namespace
