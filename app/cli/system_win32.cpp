#include "job/win32/lean_windows.h"

#include <atomic>
#include <iostream>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/cli/exit_status.h"
#include "app/cli/system_support.h"
#include "serial/interruption.h"
#include "serial/port_names.h"
#include "serial/win32/win32_platform.h"

namespace zq::cli {

namespace {

// Set once the transfer has handed the port back; a console-close handler waits for it.
std::atomic<HANDLE> handedBack{nullptr};

// The numbers a POSIX shell would report for the same events: Ctrl+C is SIGINT, Ctrl+Break is
// SIGBREAK, and the console going away is a hang-up.
constexpr int SigInt = 2;
constexpr int SigBreak = 21;
constexpr int SigHup = 1;

BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
            interruption::raise(SigInt);
            return TRUE;
        case CTRL_BREAK_EVENT:
            interruption::raise(SigBreak);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            interruption::raise(SigHup);
            // Windows ends the process when this returns: hold it until the port is handed
            // back (the system itself gives up on us after a few seconds).
            if (const HANDLE done = handedBack.load()) {
                ::WaitForSingleObject(done, 10000);
            }
            return TRUE;
        default:
            return FALSE;
    }
}

// The console's own streams: Windows has no SIGPIPE to turn into an interruption.
class ConsoleOutput : public ProgramOutput {
  public:
    std::ostream& out() override { return std::cout; }
    std::ostream& err() override { return std::cerr; }
    int finish(int status) override {
        std::cout.flush();
        if (!std::cout) {
            std::cerr << "zq417-flash: standard output could not be written; what it missed is on "
                         "standard error\n";
            status = status == ExitSuccess ? ExitOutputLost : status;
        }
        return status;
    }
};

}  // namespace

std::unique_ptr<ProgramOutput> makeProgramOutput() {
    return std::make_unique<ConsoleOutput>();
}

void installInterruptHandlers() {
    armWin32Interruption();
    handedBack.store(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void markPortHandedBack() {
    if (const HANDLE done = handedBack.load()) {
        ::SetEvent(done);
    }
}

std::unique_ptr<Platform> makeSystemPlatform() {
    return std::make_unique<Win32Platform>();
}

bool standardErrorIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::string portOptionHelp() {
    return "COMn, any port by its device name such as \\\\.\\COM10, or auto: the one USB "
           "serial adapter present. Default: %ZQ417_PORT%, else auto";
}

// Windows gives no plug-event descriptor (watch re-lists every second there), so this is never
// reached; a sleep keeps a caller from spinning all the same.
void awaitReadableOrSignal(int, int limitMs) {
    ::Sleep(limitMs < 0 ? 1000 : static_cast<DWORD>(limitMs));
}

}  // namespace zq::cli
