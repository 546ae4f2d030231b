#pragma once

#include "job/win32/lean_windows.h"

namespace zq {

// Asks for WM_DEVICECHANGE messages about serial port interfaces coming and going; without it a
// window hears of legacy COM ports only. Null when the system refuses; pass the result to
// unregisterPortNotifications when the window goes.
HDEVNOTIFY registerPortNotifications(HWND window);
void unregisterPortNotifications(HDEVNOTIFY registration);

// Whether a WM_DEVICECHANGE message means a port was added or removed: the window then lists the
// ports again (discoverPorts).
bool portsMayHaveChanged(UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace zq
