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
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "serial/port_state.h"

namespace {

using namespace std::chrono_literals;
using Milliseconds = std::chrono::duration<double, std::milli>;

class PseudoTerminal {
  public:
    PseudoTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            return;
        }
        std::array<char, 128> name{};
        if (::ptsname_r(master_, name.data(), name.size()) == 0) {
            slavePath_ = name.data();
        }
    }
    ~PseudoTerminal() { hangUp(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool ok() const { return master_ >= 0 && !slavePath_.empty(); }
    const std::string& slavePath() const { return slavePath_; }

    void send(const std::vector<std::uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n <= 0 && errno != EINTR) {
                ADD_FAILURE() << "master write failed";
                return;
            }
            done += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
    }

    // Everything the device side wrote, up to a quiet spell.
    std::vector<std::uint8_t> receive() {
        std::vector<std::uint8_t> bytes;
        std::array<std::uint8_t, 4096> chunk{};
        pollfd watch{master_, POLLIN, 0};
        while (::poll(&watch, 1, 100) > 0 && (watch.revents & POLLIN) != 0) {
            const ssize_t n = ::read(master_, chunk.data(), chunk.size());
            if (n <= 0) {
                break;
            }
            bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
        }
        return bytes;
    }

    // The master's termios requests act on the slave, even while the slave is held exclusively.
    termios2 slaveLine() const {
        termios2 line{};
        EXPECT_EQ(::ioctl(master_, TCGETS2, &line), 0);
        return line;
    }
    void setSlaveLine(const termios2& line) { EXPECT_EQ(::ioctl(master_, TCSETS2, &line), 0); }

    void hangUp() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

  private:
    int master_ = -1;
    std::string slavePath_;
};

class PosixSerialTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(pty.ok()); }

    std::unique_ptr<zq::SerialDevice> open() {
        zq::OpenFailure why;
        auto device = platform.openSerial(pty.slavePath(), why);
        if (!device) {
            ADD_FAILURE() << "open failed: " << why.detail;
        }
        return device;
    }

    // The port as a transfer phase has it: fixed timeouts, 14400 8N1, raw.
    std::unique_ptr<zq::SerialDevice> openForPhase() {
        auto device = open();
        if (device) {
            zq::LineSettings saved;
            EXPECT_TRUE(device->getState(saved));
            EXPECT_TRUE(device->setTimeouts(zq::FixedTimeouts));
            EXPECT_TRUE(device->setState(zq::lineSettingsFor(saved, 14400)));
        }
        return device;
    }

    PseudoTerminal pty;
    zq::PosixPlatform platform;
};

std::vector<std::uint8_t> pattern(std::size_t length, std::uint8_t first) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

TEST_F(PosixSerialTest, ReadWithNothingComingEndsAtTheTotalDeadline) {
    auto device = openForPhase();
    ASSERT_NE(device, nullptr);
    std::array<std::uint8_t, 6> buffer{};
    std::size_t got = 99;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(device->read(buffer, got));
    const Milliseconds elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(got, 0u);
    // 6 ms + 3 ms per byte.
    EXPECT_GE(elapsed.count(), 20.0);
    EXPECT_LT(elapsed.count(), 80.0);
}

TEST_F(PosixSerialTest, LongGapEndsTheReadWithOnlyTheBytesBeforeIt) {
    auto device = openForPhase();
    ASSERT_NE(device, nullptr);
    pty.send({1, 2});
    std::jthread late([this] {
        std::this_thread::sleep_for(60ms);
        pty.send({3, 4});
    });
    // 64 bytes allow 198 ms in all, so only the gap can end the read this early.
    std::array<std::uint8_t, 64> buffer{};
    std::size_t got = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(device->read(buffer, got));
    const Milliseconds elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(got, 2u);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[1], 2);
    EXPECT_GE(elapsed.count(), 15.0);
    EXPECT_LT(elapsed.count(), 150.0);
}

TEST_F(PosixSerialTest, ShortGapsDoNotEndTheRead) {
    auto device = openForPhase();
    ASSERT_NE(device, nullptr);
    const auto sent = pattern(64, 0x40);
    std::jthread sender([this, &sent] {
        for (std::size_t at = 0; at < sent.size(); at += 16) {
            pty.send(std::vector<std::uint8_t>(sent.begin() + at, sent.begin() + at + 16));
            std::this_thread::sleep_for(3ms);
        }
    });
    std::vector<std::uint8_t> buffer(sent.size());
    std::size_t got = 0;
    EXPECT_TRUE(device->read(buffer, got));
    EXPECT_EQ(got, sent.size());
    EXPECT_EQ(buffer, sent);
}

TEST_F(PosixSerialTest, WriteCountsOnlyBytesThatLeft) {
    auto device = openForPhase();
    ASSERT_NE(device, nullptr);
    const auto small = pattern(10, 0);
    std::size_t written = 0;
    EXPECT_TRUE(device->write(small, written));
    EXPECT_EQ(written, small.size());
    EXPECT_EQ(pty.receive(), small);

    // Nobody reads the master, so the pseudo-terminal fills up and the rest cannot leave before
    // the 50 ms deadline.
    ASSERT_TRUE(device->setTimeouts({.writeTotalTimeoutConstant = 50}));
    const auto large = pattern(1 << 20, 7);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(device->write(large, written));
    const Milliseconds elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, large.size());
    EXPECT_LT(elapsed.count(), 1000.0);
    const auto arrived = pty.receive();
    ASSERT_EQ(arrived.size(), written);
    EXPECT_TRUE(std::equal(arrived.begin(), arrived.end(), large.begin()));
}

TEST_F(PosixSerialTest, SecondOpenIsBusyUntilTheFirstCloses) {
    auto first = open();
    ASSERT_NE(first, nullptr);
    zq::OpenFailure why;
    EXPECT_EQ(platform.openSerial(pty.slavePath(), why), nullptr);
    EXPECT_EQ(why.kind, zq::OpenFailure::Kind::Busy);
    EXPECT_NE(why.code, 0);
    EXPECT_TRUE(first->close());
    EXPECT_NE(platform.openSerial(pty.slavePath(), why), nullptr) << why.detail;
}

TEST_F(PosixSerialTest, PhaseSettingsAreRealAndTheFoundOnesComeBackByteForByte) {
    const termios2 before = pty.slaveLine();
    auto device = open();
    ASSERT_NE(device, nullptr);
    zq::LineSettings saved;
    ASSERT_TRUE(device->getState(saved));

    ASSERT_TRUE(device->setState(zq::lineSettingsFor(saved, 14400)));
    const termios2 during = pty.slaveLine();
    EXPECT_EQ(during.c_ospeed, 14400u);
    EXPECT_EQ(during.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
    EXPECT_EQ(during.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(during.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(during.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(during.c_oflag & OPOST, 0u);
    EXPECT_EQ(during.c_cc[VMIN], 0);
    EXPECT_EQ(during.c_cc[VTIME], 0);

    EXPECT_TRUE(device->setState(saved));
    EXPECT_TRUE(device->close());
    const termios2 after = pty.slaveLine();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

TEST_F(PosixSerialTest, FieldsReadBackAsTheyWereSet) {
    auto device = open();
    ASSERT_NE(device, nullptr);
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
}

TEST_F(PosixSerialTest, FramingTheKernelRefusesFailsTheSet) {
    // Linux makes a pseudo-terminal 8-bit without parity whatever is asked.
    termios2 probe = pty.slaveLine();
    const termios2 found = probe;
    probe.c_cflag |= PARENB;
    pty.setSlaveLine(probe);
    const bool parityRefused = (pty.slaveLine().c_cflag & PARENB) == 0;
    pty.setSlaveLine(found);
    if (!parityRefused) {
        GTEST_SKIP() << "this kernel keeps parity on a pseudo-terminal";
    }
    auto device = open();
    ASSERT_NE(device, nullptr);
    zq::LineSettings saved;
    ASSERT_TRUE(device->getState(saved));
    zq::LineSettings withParity = zq::lineSettingsFor(saved, 14400);
    withParity.fields.parity = zq::Parity::Even;
    EXPECT_FALSE(device->setState(withParity));
}

TEST_F(PosixSerialTest, HangUpFailsReadAndWrite) {
    auto device = openForPhase();
    ASSERT_NE(device, nullptr);
    pty.hangUp();
    std::array<std::uint8_t, 6> buffer{};
    std::size_t count = 0;
    EXPECT_FALSE(device->read(buffer, count));
    EXPECT_FALSE(device->write(buffer, count));
}

TEST(PosixOpen, FailuresSayWhy) {
    zq::PosixPlatform platform;
    zq::OpenFailure why;
    EXPECT_EQ(platform.openSerial("/nonexistent-zq417/ttyUSB9", why), nullptr);
    EXPECT_EQ(why.kind, zq::OpenFailure::Kind::NoSuchDevice);
    EXPECT_EQ(why.code, ENOENT);
    EXPECT_NE(why.detail.find("/nonexistent-zq417/ttyUSB9"), std::string::npos);

    std::string regular = "/tmp/posix_serial_test_XXXXXX";
    const int fd = ::mkstemp(regular.data());
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(platform.openSerial(regular, why), nullptr);
    EXPECT_EQ(why.kind, zq::OpenFailure::Kind::NotATerminal);
    ::unlink(regular.c_str());

    EXPECT_EQ(platform.openSerial("/dev/null", why), nullptr);
    EXPECT_EQ(why.kind, zq::OpenFailure::Kind::NotATerminal);
}

TEST(PosixOpen, OnlyTheFirstFourComNamesAreOnBoardPorts) {
    EXPECT_EQ(zq::posixDevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(zq::posixDevicePath("COM4"), "/dev/ttyS3");
    EXPECT_EQ(zq::posixDevicePath("com2"), "/dev/ttyS1");
    EXPECT_EQ(zq::posixDevicePath("COM0"), "COM0");
    EXPECT_EQ(zq::posixDevicePath("COM5"), "COM5");
    EXPECT_EQ(zq::posixDevicePath("COM10"), "COM10");
    EXPECT_EQ(zq::posixDevicePath("/dev/pts/3"), "/dev/pts/3");
}

}  // namespace
