#pragma once

#include "serial/win32/lean_windows.h"

#include <cstdint>
#include <string_view>
#include <utility>

#include "image/startup_directory.h"
#include "serial/owner_window.h"
#include "serial/platform.h"
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
};

// The dialog as the owner of the operation's message boxes.
class DialogBoxes final : public OwnerWindow {
  public:
    explicit DialogBoxes(HWND dialog) : dialog_(dialog) {}
    void showMessage(BoxStyle style, std::string_view text) override;
    void showUnownedMessage(BoxStyle style, std::string_view text) override;

  private:
    HWND dialog_;
};

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
