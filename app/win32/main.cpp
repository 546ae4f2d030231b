// The "Firmware Updater" window on Windows. The command line is not read.
#include "app/win32/updater_dialog.h"
// After windows.h, which updater_dialog.h brings and which it needs for its types.
#include <commctrl.h>

#include "serial/platform_stack.h"
#include "serial/win32/win32_platform.h"

namespace {

zq::StartupDirectory currentDirectory() {
    char directory[MAX_PATH] = {};
    const DWORD length = ::GetCurrentDirectoryA(sizeof directory, directory);
    zq::StartupDirectory startup;
    // A path that does not fit comes back as the size it needs; a truncated path would name
    // another directory, so none is recorded.
    if (length > 0 && length < sizeof directory) {
        startup.path.assign(directory, length);
    }
    return startup;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const HWND owner = ::GetDesktopWindow();
    // Registers the progress bar's window class, which the template names.
    ::InitCommonControls();
    zq::Win32Platform platform;
    zq::PlatformStack stack(platform, {.whileWaiting = zq::win32::answerWhileWaiting});
    zq::win32::UpdaterSession session(stack.top(), currentDirectory());
    zq::win32::runUpdaterDialog(instance, owner, session);
    return 0;
}
