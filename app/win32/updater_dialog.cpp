#include "app/win32/updater_dialog.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <utility>

#include "app/ports/port_memory.h"
#include "app/win32/dialog_ids.h"
#include "serial/port_discovery.h"
#include "serial/win32/port_notifications.h"
#include "transfer/failure_detail.h"
#include "transfer/operation.h"

namespace zq::win32 {

namespace {

// The template is run without a creation parameter, so the dialog procedure reaches the run's
// state through this pointer, set by runUpdaterDialog for exactly as long as the dialog lives.
UpdaterSession* activeSession = nullptr;

void showBox(HWND owner, BoxStyle style, std::string_view text, const std::string& detail) {
    if (style == BoxStyle::Error && !detail.empty()) {
        ::OutputDebugStringA(("Firmware Updater: " + detail + "\n").c_str());
    }
    const std::string terminated(text);
    if (style == BoxStyle::Error) {
        ::MessageBoxA(owner, terminated.c_str(), "Error", MB_ICONERROR | MB_OK);
    } else {
        ::MessageBoxA(owner, terminated.c_str(), "OK", MB_OK);
    }
}

class RegistryMemory final : public PortMemory {
  public:
    std::string recall() override {
        char name[256] = {};
        DWORD size = sizeof name - 1;
        if (::RegGetValueA(HKEY_CURRENT_USER, SettingsKey, LastPortValue, RRF_RT_REG_SZ, nullptr,
                           name, &size) != ERROR_SUCCESS) {
            return {};
        }
        return name;
    }
    void remember(const std::string& name) override {
        HKEY key = nullptr;
        if (::RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &key, nullptr) != ERROR_SUCCESS) {
            return;  // the port is offered again next time, just not chosen
        }
        ::RegSetValueExA(key, LastPortValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                         static_cast<DWORD>(name.size() + 1));
        ::RegCloseKey(key);
    }
};

// In list order, unsorted whatever the template's style: CB_INSERTSTRING does not sort.
void showPorts(HWND dialog, const PortList& ports) {
    const HWND combo = ::GetDlgItem(dialog, ZQ_PORT_COMBO);
    ::SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    const HDC dc = ::GetDC(combo);
    const HGDIOBJ oldFont =
        ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageA(combo, WM_GETFONT, 0, 0)));
    LONG widest = 0;
    for (const PortEntry& entry : ports.entries()) {
        ::SendMessageA(combo, CB_INSERTSTRING, static_cast<WPARAM>(-1),
                       reinterpret_cast<LPARAM>(entry.label.c_str()));
        SIZE extent{};
        ::GetTextExtentPoint32A(dc, entry.label.c_str(), static_cast<int>(entry.label.size()),
                                &extent);
        widest = std::max(widest, extent.cx);
    }
    ::SelectObject(dc, oldFont);
    ::ReleaseDC(combo, dc);
    ::SendMessageA(combo, CB_SETCURSEL, ports.chosen(), 0);
    // The closed box keeps the template's width; the open list is as wide as its longest line.
    RECT box{};
    ::GetWindowRect(combo, &box);
    const LONG margins = 2 * ::GetSystemMetrics(SM_CXEDGE) + ::GetSystemMetrics(SM_CXVSCROLL) + 8;
    ::SendMessageA(combo, CB_SETDROPPEDWIDTH,
                   static_cast<WPARAM>(std::max(widest + margins, box.right - box.left)), 0);
}

void initialise(HWND dialog, UpdaterSession& session) {
    session.ports.start(discoverPorts(), RegistryMemory().recall());
    showPorts(dialog, session.ports);
    session.portNotifications = registerPortNotifications(dialog);
    ::EnableWindow(::GetDlgItem(dialog, ZQ_UPDATE_BUTTON), TRUE);
    ::EnableWindow(::GetDlgItem(dialog, ZQ_DOWNLOAD_BUTTON), TRUE);
    session.job.mode = ModeDownload;
}

void refreshPorts(HWND dialog, UpdaterSession& session) {
    if (session.ports.update(discoverPorts())) {
        showPorts(dialog, session.ports);
    }
}

void choosePort(HWND dialog, UpdaterSession& session) {
    const LRESULT index = ::SendDlgItemMessageA(dialog, ZQ_PORT_COMBO, CB_GETCURSEL, 0, 0);
    if (index >= 0) {
        session.ports.choose(static_cast<std::size_t>(index));
    }
}

// The operation runs here on the dialog's thread and holds it until it ends: the buttons stay
// enabled and input waits, as the user expects of this tool.
void runButton(HWND dialog, TransferMode mode, UpdaterSession& session) {
    choosePort(dialog, session);
    // The whole name: COM12 as much as COM1; the platform opens it as \\.\COM12.
    const PortEntry port = session.ports.chosenEntry();
    ExplainedBoxes boxes = dialogBoxes(dialog, &session.lastOutcome());
    ProgressBarControl bar(::GetDlgItem(dialog, ZQ_PROGRESS_BAR));
    // The close-failure box has no owner, so the dialog takes commands while it is up; one
    // that arrives then is ignored.
    if (session.run(boxes, mode, port.portName, &bar)) {
        ::SetCursor(::LoadCursorA(nullptr, IDC_ARROW));
        RegistryMemory memory;
        rememberIfSucceeded(session, port, memory);
        if (session.closeDeferred) {
            session.closeDeferred = false;
            ::EndDialog(dialog, 1);
        }
    }
}

INT_PTR CALLBACK updaterDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    UpdaterSession& session = *activeSession;
    switch (message) {
        case WM_INITDIALOG:
            initialise(dialog, session);
            // The dialog manager gives no control the focus.
            return FALSE;
        case WM_CLOSE:
            if (session.answering) {
                session.closeDeferred = true;
                return TRUE;
            }
            ::EndDialog(dialog, 1);
            return TRUE;
        case WM_DESTROY:
            ::EndDialog(dialog, 1);
            return TRUE;
        case WM_DEVICECHANGE:
            if (portsMayHaveChanged(message, wParam, lParam)) {
                refreshPorts(dialog, session);
            }
            return FALSE;
        case WM_QUERYENDSESSION:
            // The session may end the process without another word; the answer is yes. An
            // operation that is only waiting still uses the port: the session may yet be
            // cancelled, so the port is let go only once the end is sure.
            if (!session.answering) {
                session.endQuietly();
            }
            ::SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_ENDSESSION:
            if (wParam != FALSE) {
                session.endQuietly();
            }
            ::SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 0);
            return TRUE;
        case WM_COMMAND:
            // Enter (IDOK) and Escape (IDCANCEL) arrive here too and are ignored like any
            // command but the three buttons.
            switch (LOWORD(wParam)) {
                case ZQ_EXIT_BUTTON:
                    ::EndDialog(dialog, 1);
                    break;
                case ZQ_DOWNLOAD_BUTTON:
                    runButton(dialog, ModeDownload, session);
                    break;
                case ZQ_UPDATE_BUTTON:
                    runButton(dialog, ModeUpdate, session);
                    break;
                case ZQ_PORT_COMBO:
                    if (HIWORD(wParam) == CBN_SELCHANGE) {
                        choosePort(dialog, session);
                    }
                    break;
                default:
                    break;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

// The close failure leaves the port in an unknown state; its box stands on its own.
ExplainedBoxes dialogBoxes(HWND dialog, const Outcome* outcome) {
    return ExplainedBoxes(
        [dialog](bool owned, BoxStyle style, std::string_view text, const std::string& detail) {
            showBox(owned ? dialog : nullptr, style, text, detail);
        },
        outcome);
}

// The operation holds the thread, so nothing would paint until it ended: each change is
// painted at once.
void ProgressBarControl::setRange(std::uint32_t maximum) {
    ::SendMessageA(bar_, PBM_SETRANGE32, 0, static_cast<LPARAM>(maximum));
    ::UpdateWindow(bar_);
}

void ProgressBarControl::setPosition(std::uint32_t position) {
    ::SendMessageA(bar_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    ::UpdateWindow(bar_);
}

void answerWhileWaiting() {
    UpdaterSession* session = activeSession;
    if (session == nullptr || session->answering) {
        return;
    }
    session->answering = true;
    // Any peek takes the messages sent to the thread (the window manager's, device changes) and
    // tells the system the window is alive. Of the posted ones only paints and timers: clicks,
    // keys and the commands they lead to stay queued. The bound stops a window that never
    // validates its paint from holding the operation.
    MSG message;
    for (int i = 0; i < 64 && ::PeekMessageA(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE);
         ++i) {
        ::DispatchMessageA(&message);
    }
    for (int i = 0; i < 64 && ::PeekMessageA(&message, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE);
         ++i) {
        ::DispatchMessageA(&message);
    }
    session->answering = false;
}

INT_PTR runUpdaterDialog(HINSTANCE instance, HWND owner, UpdaterSession& session) {
    activeSession = &session;
    const INT_PTR result = ::DialogBoxParamA(instance, MAKEINTRESOURCEA(ZQ_UPDATER_DIALOG), owner,
                                             updaterDialogProc, 0);
    activeSession = nullptr;
    unregisterPortNotifications(std::exchange(session.portNotifications, nullptr));
    // Exit or the close request: the user is there to see a close failure.
    ExplainedBoxes boxes = dialogBoxes(nullptr);
    session.end(boxes);
    return result;
}

}  // namespace zq::win32
