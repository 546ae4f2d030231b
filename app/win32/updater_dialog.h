#pragma once

#include "job/win32/lean_windows.h"

#include <cstdint>
#include <string_view>
#include <utility>

#include "app/ports/port_list.h"
#include "image/startup_directory.h"
#include "owner/owner_window.h"
#include "serial/platform.h"
#include "transfer/failure_detail.h"
#include "transfer/operation.h"

namespace zq::win32 {

// Everything one run of the window holds: the one port and the one job, kept across the
// operations so that a port a failure left open is reused by the next one, and handed back when
// the window ends.
struct UpdaterSession : WindowSession {
    UpdaterSession(Platform& platform, StartupDirectory startup)
        : WindowSession(platform), startup(std::move(startup)) {}

    // Read only by the image file operations, which no control of the window invokes.
    StartupDirectory startup;

    // What the port list shows, and its registration for plug and unplug messages.
    PortList ports;
    HDEVNOTIFY portNotifications = nullptr;
    // While an operation waits, the dialog answers paints and the system's messages; a close
    // request that comes then is carried out when the operation returns.
    bool answering = false;
    bool closeDeferred = false;
};

// Where the dialog keeps the port of the last operation that succeeded: its COM name, under
// HKEY_CURRENT_USER.
inline constexpr const char* SettingsKey = "Software\\Firmware Updater";
inline constexpr const char* LastPortValue = "LastPort";

// Paints and takes the system's messages while an operation of the running dialog waits; input
// (keys, clicks, the commands they lead to) stays queued until the operation ends. The hook of
// the platform the dialog's session runs on.
void answerWhileWaiting();

// The dialog as the owner of the operation's message boxes. The boxes read exactly as they
// always have; with `outcome`, what the system said about the failure behind an error box goes
// to the debugger's output as the box comes up.
ExplainedBoxes dialogBoxes(HWND dialog, const Outcome* outcome = nullptr);

class ProgressBarControl final : public ProgressTarget {
  public:
    explicit ProgressBarControl(HWND bar) : bar_(bar) {}
    void setRange(std::uint32_t maximum) override;
    void setPosition(std::uint32_t position) override;

  private:
    HWND bar_;
};

// Shows the dialog of template 1 modally, owned by `owner`, until Exit or a close request ends
// it, then hands back a port the session still holds; returns the dialog's result.
INT_PTR runUpdaterDialog(HINSTANCE instance, HWND owner, UpdaterSession& session);

}  // namespace zq::win32
