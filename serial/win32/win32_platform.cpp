#include "serial/win32/win32_platform.h"

#include "job/win32/lean_windows.h"
// After windows.h, which it needs for its types.
#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include "job/win32/system_message.h"
#include "serial/interruption.h"
#include "serial/port_names.h"

namespace zq {

namespace {

// LineSettings::native holds the DCB exactly as GetCommState gave it, reserved members included,
// so that settings handed back unchanged reach the driver byte for byte.
std::vector<std::uint8_t> encodeNative(const DCB& dcb) {
    std::vector<std::uint8_t> bytes(sizeof dcb);
    std::memcpy(bytes.data(), &dcb, sizeof dcb);
    return bytes;
}

bool decodeNative(const std::vector<std::uint8_t>& bytes, DCB& dcb) {
    if (bytes.size() != sizeof dcb) {
        return false;
    }
    std::memcpy(&dcb, bytes.data(), sizeof dcb);
    return true;
}

DWORD bit(bool on) {
    return on ? 1 : 0;
}

// The enumerations share the DCB's numbering; a value a driver reports outside them is carried
// through unchanged, so that it is put back as found.
DcbFields fieldsOf(const DCB& dcb) {
    DcbFields f;
    f.baudRate = dcb.BaudRate;
    f.byteSize = dcb.ByteSize;
    f.parity = static_cast<Parity>(dcb.Parity);
    f.stopBits = static_cast<StopBits>(dcb.StopBits);
    f.binary = dcb.fBinary != 0;
    f.parityCheck = dcb.fParity != 0;
    f.outxCtsFlow = dcb.fOutxCtsFlow != 0;
    f.outxDsrFlow = dcb.fOutxDsrFlow != 0;
    f.dtrControl = static_cast<DtrControl>(dcb.fDtrControl);
    f.dsrSensitivity = dcb.fDsrSensitivity != 0;
    f.txContinueOnXoff = dcb.fTXContinueOnXoff != 0;
    f.outX = dcb.fOutX != 0;
    f.inX = dcb.fInX != 0;
    f.errorCharReplace = dcb.fErrorChar != 0;
    f.nullStrip = dcb.fNull != 0;
    f.rtsControl = static_cast<RtsControl>(dcb.fRtsControl);
    f.abortOnError = dcb.fAbortOnError != 0;
    f.xonLim = dcb.XonLim;
    f.xoffLim = dcb.XoffLim;
    f.xonChar = dcb.XonChar;
    f.xoffChar = dcb.XoffChar;
    f.errorChar = dcb.ErrorChar;
    f.eofChar = dcb.EofChar;
    f.evtChar = dcb.EvtChar;
    return f;
}

void applyFields(DCB& dcb, const DcbFields& f) {
    dcb.BaudRate = f.baudRate;
    dcb.ByteSize = f.byteSize;
    dcb.Parity = static_cast<BYTE>(f.parity);
    dcb.StopBits = static_cast<BYTE>(f.stopBits);
    dcb.fBinary = bit(f.binary);
    dcb.fParity = bit(f.parityCheck);
    dcb.fOutxCtsFlow = bit(f.outxCtsFlow);
    dcb.fOutxDsrFlow = bit(f.outxDsrFlow);
    dcb.fDtrControl = static_cast<DWORD>(f.dtrControl) & 0x3;
    dcb.fDsrSensitivity = bit(f.dsrSensitivity);
    dcb.fTXContinueOnXoff = bit(f.txContinueOnXoff);
    dcb.fOutX = bit(f.outX);
    dcb.fInX = bit(f.inX);
    dcb.fErrorChar = bit(f.errorCharReplace);
    dcb.fNull = bit(f.nullStrip);
    dcb.fRtsControl = static_cast<DWORD>(f.rtsControl) & 0x3;
    dcb.fAbortOnError = bit(f.abortOnError);
    dcb.XonLim = f.xonLim;
    dcb.XoffLim = f.xoffLim;
    dcb.XonChar = f.xonChar;
    dcb.XoffChar = f.xoffChar;
    dcb.ErrorChar = f.errorChar;
    dcb.EofChar = f.eofChar;
    dcb.EvtChar = f.evtChar;
}

CommTimeouts fromNative(const COMMTIMEOUTS& t) {
    return {
        .readIntervalTimeout = t.ReadIntervalTimeout,
        .readTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier,
        .readTotalTimeoutConstant = t.ReadTotalTimeoutConstant,
        .writeTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier,
        .writeTotalTimeoutConstant = t.WriteTotalTimeoutConstant,
    };
}

COMMTIMEOUTS toNative(const CommTimeouts& t) {
    COMMTIMEOUTS native{};
    native.ReadIntervalTimeout = t.readIntervalTimeout;
    native.ReadTotalTimeoutMultiplier = t.readTotalTimeoutMultiplier;
    native.ReadTotalTimeoutConstant = t.readTotalTimeoutConstant;
    native.WriteTotalTimeoutMultiplier = t.writeTotalTimeoutMultiplier;
    native.WriteTotalTimeoutConstant = t.writeTotalTimeoutConstant;
    return native;
}

// One ReadFile or WriteFile takes a DWORD count; the chunk loops never ask for more than 512.
DWORD countFor(std::size_t size) {
    return static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD));
}

OpenFailure::Kind kindOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DEV_NOT_EXIST:
            return OpenFailure::Kind::NoSuchDevice;
        // A port another program holds is refused with "access denied", not with a sharing
        // violation: serial drivers allow one open at a time whatever the share mode.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return OpenFailure::Kind::Busy;
        default:
            return OpenFailure::Kind::Other;
    }
}

OpenFailure failureFor(DWORD error, const std::string& path) {
    OpenFailure failure;
    failure.kind = kindOf(error);
    failure.code = static_cast<int>(error);
    failure.detail = path + ": " + systemMessage(error) + " (error " + std::to_string(error) + ")";
    return failure;
}

SystemError systemError(DWORD code) {
    SystemError error{static_cast<int>(code), systemMessage(code)};
    // A USB adapter pulled out: the driver's handle stays, every call on it fails.
    error.deviceGone = code == ERROR_DEVICE_REMOVED || code == ERROR_BAD_COMMAND ||
                       code == ERROR_GEN_FAILURE || code == ERROR_DEV_NOT_EXIST ||
                       code == ERROR_ACCESS_DENIED;
    error.interrupted = code == ERROR_OPERATION_ABORTED && interruption::count() > 0;
    return error;
}

// Set from the console control handler's thread; sleeps wait on it.
std::atomic<HANDLE> wakeEvent{nullptr};

void wake() noexcept {
    if (const HANDLE event = wakeEvent.load()) {
        ::SetEvent(event);
    }
}

// Sleeps for `duration`; returns at once when a signal ends the wait. Without a signal this is
// one wait of the whole duration, timed as Sleep is. A shielded wait looks at the count every
// 20 ms, since the event stays set from the first signal on.
void napUnlessInterrupted(std::chrono::milliseconds duration) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + duration;
    for (;;) {
        if (interruption::stopsWaits()) {
            return;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) {
            return;
        }
        if (interruption::shielded()) {
            ::Sleep(static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(left.count(), 20)));
            continue;
        }
        if (::WaitForSingleObject(wakeEvent.load(), static_cast<DWORD>(left.count())) !=
            WAIT_OBJECT_0) {
            return;
        }
    }
}

class Win32SerialDevice final : public SerialDevice {
  public:
    explicit Win32SerialDevice(HANDLE handle) : handle_(handle) {}
    ~Win32SerialDevice() override {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
    }
    Win32SerialDevice(const Win32SerialDevice&) = delete;
    Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

    bool getState(LineSettings& out) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(handle_, &dcb)) {
            return fail();
        }
        out.fields = fieldsOf(dcb);
        out.native = encodeNative(dcb);
        return true;
    }

    // The fields go onto the DCB as it was read; fields the caller left alone map back to the
    // very bits they came from, so settings handed back unchanged reach the driver as found.
    // Nothing is read back: the driver refuses what it cannot do through SetCommState, and Wine
    // reports a rate it only approximates (14400 on a pseudo-terminal) as a neighbouring one.
    bool setState(const LineSettings& settings) override {
        DCB dcb{};
        if (!decodeNative(settings.native, dcb)) {
            lastError_ = SystemError{ERROR_INVALID_PARAMETER, "settings not in this system's form"};
            return false;
        }
        applyFields(dcb, settings.fields);
        return ::SetCommState(handle_, &dcb) != 0 || fail();
    }

    bool getTimeouts(CommTimeouts& out) override {
        COMMTIMEOUTS native{};
        if (!::GetCommTimeouts(handle_, &native)) {
            return fail();
        }
        out = fromNative(native);
        return true;
    }

    bool setTimeouts(const CommTimeouts& timeouts) override {
        COMMTIMEOUTS native = toNative(timeouts);
        return ::SetCommTimeouts(handle_, &native) != 0 || fail();
    }

    bool setupQueues(std::uint32_t inputBytes, std::uint32_t outputBytes) override {
        return ::SetupComm(handle_, inputBytes, outputBytes) != 0 || fail();
    }

    bool flush() override {
        if (interruption::stopsWaits()) {
            return interrupted();
        }
        return ::FlushFileBuffers(handle_) != 0 || fail();
    }

    bool clearErrors() override {
        return ::ClearCommError(handle_, nullptr, nullptr) != 0 || fail();
    }

    bool purge(std::uint32_t flags) override { return ::PurgeComm(handle_, flags) != 0 || fail(); }

    bool read(std::span<std::uint8_t> into, std::size_t& got) override {
        // A read is bounded by the port's timeouts, so a signal is seen at the next call.
        got = 0;
        if (interruption::stopsWaits()) {
            return interrupted();
        }
        DWORD n = 0;
        const BOOL ok = ::ReadFile(handle_, into.data(), countFor(into.size()), &n, nullptr);
        got = n;
        return ok != 0 || fail();
    }

    bool write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
        written = 0;
        if (interruption::stopsWaits()) {
            return interrupted();
        }
        DWORD n = 0;
        const BOOL ok = ::WriteFile(handle_, bytes.data(), countFor(bytes.size()), &n, nullptr);
        written = n;
        return ok != 0 || fail();
    }

    bool close() override {
        if (handle_ == INVALID_HANDLE_VALUE) {
            lastError_ = systemError(ERROR_INVALID_HANDLE);
            return false;
        }
        if (!::CloseHandle(handle_)) {
            return fail();
        }
        handle_ = INVALID_HANDLE_VALUE;
        return true;
    }

    SystemError lastError() const override { return lastError_; }

  private:
    bool fail() {
        lastError_ = systemError(::GetLastError());
        return false;
    }

    bool interrupted() {
        lastError_ = SystemError{ERROR_OPERATION_ABORTED, "interrupted"};
        lastError_.interrupted = true;
        return false;
    }

    HANDLE handle_;
    SystemError lastError_{};
};

}  // namespace

std::unique_ptr<SerialDevice> Win32Platform::openSerial(const std::string& name, OpenFailure& why) {
    why = {};
    const std::string path = devicePath(name, PortNaming::Windows);
    const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        why = failureFor(::GetLastError(), path);
        return nullptr;
    }
    return std::make_unique<Win32SerialDevice>(handle);
}

bool armWin32Interruption() {
    if (wakeEvent.load() != nullptr) {
        return true;
    }
    const HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        return false;
    }
    wakeEvent.store(event);
    interruption::setWaker(&wake);
    return true;
}

void Win32Platform::sleep(std::chrono::milliseconds duration) {
    const auto ms = std::max<std::chrono::milliseconds::rep>(duration.count(), 0);
    if (wakeEvent.load() == nullptr) {
        ::Sleep(static_cast<DWORD>(ms));  // no handler: the exact old wait
        return;
    }
    napUnlessInterrupted(std::chrono::milliseconds(ms));
}

void Win32Platform::beginTimerResolution() {
    ::timeBeginPeriod(1);
}

void Win32Platform::endTimerResolution() {
    ::timeEndPeriod(1);
}

std::chrono::nanoseconds Win32Platform::now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

}  // namespace zq
