#include "app/win32/updater_dialog.h"

#include <commctrl.h>

#include <string>

#include "app/win32/dialog_ids.h"
#include "transfer/operation.h"

namespace zq::win32 {

namespace {

// The template is run without a creation parameter, so the dialog procedure reaches the run's
// state through this pointer, set by runUpdaterDialog for exactly as long as the dialog lives.
UpdaterSession* activeSession = nullptr;

void showBox(HWND owner, BoxStyle style, std::string_view text) {
    const std::string terminated(text);
    if (style == BoxStyle::Error) {
        ::MessageBoxA(owner, terminated.c_str(), "Error", MB_ICONERROR | MB_OK);
    } else {
        ::MessageBoxA(owner, terminated.c_str(), "OK", MB_OK);
    }
}

void initialise(HWND dialog, UpdaterSession& session) {
    const HWND combo = ::GetDlgItem(dialog, ZQ_PORT_COMBO);
    for (const char* name : {"COM1", "COM2", "COM3", "COM4"}) {
        ::SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    }
    ::SendMessageA(combo, CB_SETCURSEL, 0, 0);
    ::EnableWindow(::GetDlgItem(dialog, ZQ_UPDATE_BUTTON), TRUE);
    ::EnableWindow(::GetDlgItem(dialog, ZQ_DOWNLOAD_BUTTON), TRUE);
    session.job.mode = ModeDownload;
}

// The operation runs here on the dialog's thread and holds it until it ends: the buttons stay
// enabled and input waits, as the user expects of this tool.
void runButton(HWND dialog, TransferMode mode, UpdaterSession& session) {
    char portName[5] = {};
    ::SendMessageA(::GetDlgItem(dialog, ZQ_PORT_COMBO), WM_GETTEXT, sizeof portName,
                   reinterpret_cast<LPARAM>(portName));
    DialogBoxes boxes(dialog);
    ProgressBarControl bar(::GetDlgItem(dialog, ZQ_PROGRESS_BAR));
    // The close-failure box has no owner, so the dialog takes commands while it is up; one
    // that arrives then is ignored.
    if (session.run(boxes, mode, portName, &bar)) {
        ::SetCursor(::LoadCursorA(nullptr, IDC_ARROW));
    }
}

INT_PTR CALLBACK updaterDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    UpdaterSession& session = *activeSession;
    switch (message) {
        case WM_INITDIALOG:
            initialise(dialog, session);
            // The dialog manager gives no control the focus.
            return FALSE;
        case WM_CLOSE:
        case WM_DESTROY:
            ::EndDialog(dialog, 1);
            return TRUE;
        case WM_QUERYENDSESSION:
            // The session may end the process without another word; the answer is yes.
            session.endQuietly();
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
                default:
                    break;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void DialogBoxes::showMessage(BoxStyle style, std::string_view text) {
    showBox(dialog_, style, text);
}

// The close failure leaves the port in an unknown state; its box stands on its own.
void DialogBoxes::showUnownedMessage(BoxStyle style, std::string_view text) {
    showBox(nullptr, style, text);
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

INT_PTR runUpdaterDialog(HINSTANCE instance, HWND owner, UpdaterSession& session) {
    activeSession = &session;
    const INT_PTR result = ::DialogBoxParamA(instance, MAKEINTRESOURCEA(ZQ_UPDATER_DIALOG), owner,
                                             updaterDialogProc, 0);
    activeSession = nullptr;
    // Exit or the close request: the user is there to see a close failure.
    DialogBoxes boxes(nullptr);
    session.end(boxes);
    return result;
}

}  // namespace zq::win32
