#include "serial/posix/termios_mapping.h"

#include <sys/ioctl.h>

#include <cstring>

namespace zq::posix {

namespace {

constexpr std::size_t NativeSize = sizeof(termios2) + sizeof(int) + 1;

Parity parityOf(tcflag_t cflag) {
    if ((cflag & PARENB) == 0) {
        return Parity::None;
    }
    const bool odd = (cflag & PARODD) != 0;
    if ((cflag & CMSPAR) != 0) {
        return odd ? Parity::Mark : Parity::Space;
    }
    return odd ? Parity::Odd : Parity::Even;
}

StopBits stopBitsOf(tcflag_t cflag) {
    return (cflag & CSTOPB) != 0 ? StopBits::Two : StopBits::One;
}

void setFlag(tcflag_t& flags, tcflag_t bits, bool on) {
    flags = on ? (flags | bits) : (flags & ~bits);
}

// Drivers report the rate their divider really gives; a UART copes with a couple of percent.
bool closeEnough(speed_t wanted, speed_t got) {
    const std::uint64_t difference = wanted > got ? wanted - got : got - wanted;
    return difference * 50 <= wanted;
}

}  // namespace

std::vector<std::uint8_t> encodeNative(const NativeRecord& record) {
    std::vector<std::uint8_t> bytes(NativeSize);
    std::memcpy(bytes.data(), &record.line, sizeof record.line);
    std::memcpy(bytes.data() + sizeof record.line, &record.modemBits, sizeof record.modemBits);
    bytes.back() = record.modemKnown ? 1 : 0;
    return bytes;
}

std::optional<NativeRecord> decodeNative(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() != NativeSize) {
        return std::nullopt;
    }
    NativeRecord record;
    std::memcpy(&record.line, bytes.data(), sizeof record.line);
    std::memcpy(&record.modemBits, bytes.data() + sizeof record.line, sizeof record.modemBits);
    record.modemKnown = bytes.back() != 0;
    return record;
}

std::uint8_t byteSizeOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
        case CS5:
            return 5;
        case CS6:
            return 6;
        case CS7:
            return 7;
        default:
            return 8;
    }
}

DcbFields fieldsOf(const NativeRecord& record) {
    const termios2& t = record.line;
    DcbFields f;
    f.baudRate = t.c_ospeed;
    f.byteSize = byteSizeOf(t.c_cflag);
    f.parity = parityOf(t.c_cflag);
    f.stopBits = stopBitsOf(t.c_cflag);
    f.binary = true;
    f.parityCheck = (t.c_iflag & INPCK) != 0;
    f.outxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
    f.outX = (t.c_iflag & IXON) != 0;
    f.inX = (t.c_iflag & IXOFF) != 0;
    f.xonChar = static_cast<char>(t.c_cc[VSTART]);
    f.xoffChar = static_cast<char>(t.c_cc[VSTOP]);
    if (record.modemKnown) {
        f.dtrControl =
            (record.modemBits & TIOCM_DTR) != 0 ? DtrControl::Enable : DtrControl::Disable;
        f.rtsControl =
            (record.modemBits & TIOCM_RTS) != 0 ? RtsControl::Enable : RtsControl::Disable;
    }
    return f;
}

bool applyFields(termios2& t, const DcbFields& f) {
    static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    if (f.byteSize < 5 || f.byteSize > 8) {
        return false;
    }
    // BOTHER in both speed fields: 14400 has no Bxxx constant, and the input follows the output.
    t.c_cflag &= ~(CBAUD | CIBAUD);
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = f.baudRate;
    t.c_ospeed = f.baudRate;

    t.c_cflag = (t.c_cflag & ~CSIZE) | sizes[f.byteSize - 5];
    t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (f.parity) {
        case Parity::None:
            break;
        case Parity::Odd:
            t.c_cflag |= PARENB | PARODD;
            break;
        case Parity::Even:
            t.c_cflag |= PARENB;
            break;
        case Parity::Mark:
            t.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case Parity::Space:
            t.c_cflag |= PARENB | CMSPAR;
            break;
    }
    // Linux sends one and a half stop bits for CSTOPB with five data bits, as Windows does.
    setFlag(t.c_cflag, CSTOPB, f.stopBits != StopBits::One);
    setFlag(t.c_iflag, INPCK, f.parityCheck);
    setFlag(t.c_cflag, CRTSCTS, f.outxCtsFlow);
    setFlag(t.c_iflag, IXON, f.outX);
    setFlag(t.c_iflag, IXOFF, f.inX);
    t.c_cc[VSTART] = static_cast<cc_t>(f.xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(f.xoffChar);
    return true;
}

// Flow control and parity checking are left to the fields.
void makeRaw(termios2& t) {
    t.c_iflag &= ~(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | IUCLC | IMAXBEL);
    // A break is a line condition on Windows, not a NUL byte in the data.
    t.c_iflag |= IGNBRK;
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

bool kernelTook(const termios2& wanted, const termios2& got) {
    return closeEnough(wanted.c_ospeed, got.c_ospeed) &&
           byteSizeOf(wanted.c_cflag) == byteSizeOf(got.c_cflag) &&
           parityOf(wanted.c_cflag) == parityOf(got.c_cflag) &&
           stopBitsOf(wanted.c_cflag) == stopBitsOf(got.c_cflag);
}

std::chrono::nanoseconds byteTimeOf(const termios2& t) {
    if (t.c_ospeed == 0) {
        return std::chrono::milliseconds(1);
    }
    const int parityBits = (t.c_cflag & PARENB) != 0 ? 1 : 0;
    const int stopBits = (t.c_cflag & CSTOPB) != 0 ? 2 : 1;
    const long long bits = 1 + byteSizeOf(t.c_cflag) + parityBits + stopBits;
    return std::chrono::nanoseconds(1'000'000'000LL * bits / t.c_ospeed);
}

}  // namespace zq::posix
