// Reads the live "Firmware Updater" window from outside, for the Wine tests: what a message box
// says and who owns it, what the port list offers, and where a control sits on the screen so
// that xdotool can click it. Runs under Wine beside the window, in the same prefix.
//
//   readbox box [WAIT_MS]            the box titled "OK" or "Error", once it appears
//   readbox combo TITLE ID           the items of a combo box and the selected one
//   readbox centre TITLE ID          the screen position of a control's centre, as "X Y"
//   readbox progress TITLE ID        a progress bar's position and range
//   readbox select TITLE ID PREFIX   chooses the first combo item that starts with PREFIX, as a
//                                    user picking it would (the dialog hears CBN_SELCHANGE)
//
// Exit status: 0 found, 1 not found within the wait, 2 wrong command line.
#include "job/win32/lean_windows.h"
// After windows.h, which it needs for its types.
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// MessageBox gives its text this control id, on Windows and on Wine alike.
constexpr int BoxTextId = 0xFFFF;

// Wide throughout: Wine hands the text of another process's combo box items back in UTF-16 even
// to an ANSI caller.
std::string narrow(const std::wstring& text) {
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    out.resize(std::char_traits<char>::length(out.c_str()));
    return out;
}

std::string textOf(HWND window) {
    // WM_GETTEXT, not GetWindowText: only the message reaches into another process's controls.
    const LRESULT length = ::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length > 0 ? length : 0) + 1);
    ::SendMessageW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
    return narrow(buffer.data());
}

std::string className(HWND window) {
    char name[256] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

// A message box is a dialog of the system's dialog class.
HWND findBox(std::string& title) {
    for (const char* candidate : {"OK", "Error"}) {
        if (const HWND box = ::FindWindowA("#32770", candidate)) {
            title = candidate;
            return box;
        }
    }
    return nullptr;
}

// Wine's box always has an icon control and hides it when the box has no icon.
bool hasIcon(HWND box) {
    for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        const LONG style = ::GetWindowLongA(child, GWL_STYLE);
        if (className(child) == "Static" && (style & SS_TYPEMASK) == SS_ICON &&
            ::IsWindowVisible(child) && ::SendMessageW(child, STM_GETICON, 0, 0) != 0) {
            return true;
        }
    }
    return false;
}

// Line breaks as the program wrote them, whatever the control keeps.
std::string withoutCarriageReturns(std::string text) {
    std::string out;
    for (const char c : text) {
        if (c != '\r') {
            out += c;
        }
    }
    return out;
}

int readBox(DWORD waitMs) {
    const DWORD start = ::GetTickCount();
    std::string title;
    HWND box = nullptr;
    while ((box = findBox(title)) == nullptr) {
        if (::GetTickCount() - start >= waitMs) {
            std::printf("no box\n");
            return 1;
        }
        ::Sleep(50);
    }
    const HWND owner = ::GetWindow(box, GW_OWNER);
    std::printf("title: %s\n", title.c_str());
    std::printf("icon: %s\n", hasIcon(box) ? "yes" : "no");
    std::printf("owner: %s\n", owner != nullptr ? textOf(owner).c_str() : "(none)");
    const HWND text = ::GetDlgItem(box, BoxTextId);
    std::printf("text:\n%s\n", text != nullptr ? withoutCarriageReturns(textOf(text)).c_str() : "");
    return 0;
}

HWND findControl(const char* title, const char* idText) {
    const HWND dialog = ::FindWindowA("#32770", title);
    if (dialog == nullptr) {
        std::printf("no window titled \"%s\"\n", title);
        return nullptr;
    }
    const HWND control = ::GetDlgItem(dialog, std::atoi(idText));
    if (control == nullptr) {
        std::printf("no control %s in \"%s\"\n", idText, title);
    }
    return control;
}

int readCombo(const char* title, const char* idText) {
    const HWND combo = findControl(title, idText);
    if (combo == nullptr) {
        return 1;
    }
    const LRESULT count = ::SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = ::SendMessageW(combo, CB_GETLBTEXTLEN, i, 0);
        std::vector<wchar_t> item(static_cast<std::size_t>(length > 0 ? length : 0) + 1);
        ::SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()));
        std::printf("item: %s\n", narrow(item.data()).c_str());
    }
    std::printf("selected: %s\n", textOf(combo).c_str());
    return 0;
}

int printCentre(const char* title, const char* idText) {
    const HWND control = findControl(title, idText);
    RECT rect{};
    if (control == nullptr || !::GetWindowRect(control, &rect)) {
        return 1;
    }
    std::printf("%ld %ld\n", (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    return 0;
}

int readProgress(const char* title, const char* idText) {
    const HWND bar = findControl(title, idText);
    if (bar == nullptr) {
        return 1;
    }
    // With no structure to fill, PBM_GETRANGE answers with one limit, so it crosses processes.
    const LRESULT position = ::SendMessageW(bar, PBM_GETPOS, 0, 0);
    const LRESULT low = ::SendMessageW(bar, PBM_GETRANGE, TRUE, 0);
    const LRESULT high = ::SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
    std::printf("position %ld of %ld..%ld\n", static_cast<long>(position), static_cast<long>(low),
                static_cast<long>(high));
    return 0;
}

// Posts a button's command to the dialog, as a click would send it, without waiting for the
// dialog to take it: the dialog may be inside an operation, with a box of its own up.
int postCommand(const char* title, const char* idText) {
    const HWND control = findControl(title, idText);
    if (control == nullptr) {
        return 1;
    }
    const int id = std::atoi(idText);
    const BOOL posted = ::PostMessageA(::GetParent(control), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                                       reinterpret_cast<LPARAM>(control));
    return posted ? 0 : 1;
}

int selectItem(const char* title, const char* idText, const std::string& prefix) {
    const HWND combo = findControl(title, idText);
    if (combo == nullptr) {
        return 1;
    }
    const LRESULT count = ::SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = ::SendMessageW(combo, CB_GETLBTEXTLEN, i, 0);
        std::vector<wchar_t> item(static_cast<std::size_t>(length > 0 ? length : 0) + 1);
        ::SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()));
        if (narrow(item.data()).rfind(prefix, 0) == 0) {
            ::SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
            const int id = std::atoi(idText);
            ::SendMessageA(::GetParent(combo), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                           reinterpret_cast<LPARAM>(combo));
            return 0;
        }
    }
    std::printf("no item starting with \"%s\"\n", prefix.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "box" && argc <= 3) {
        return readBox(argc == 3 ? static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)) : 0);
    }
    if (command == "combo" && argc == 4) {
        return readCombo(argv[2], argv[3]);
    }
    if (command == "centre" && argc == 4) {
        return printCentre(argv[2], argv[3]);
    }
    if (command == "progress" && argc == 4) {
        return readProgress(argv[2], argv[3]);
    }
    if (command == "command" && argc == 4) {
        return postCommand(argv[2], argv[3]);
    }
    if (command == "select" && argc == 5) {
        return selectItem(argv[2], argv[3], argv[4]);
    }
    std::fprintf(stderr,
                 "usage: readbox box [WAIT_MS] | combo TITLE ID | centre TITLE ID | "
                 "progress TITLE ID | command TITLE ID | select TITLE ID PREFIX\n");
    return 2;
}
