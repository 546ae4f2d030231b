// Prints a program's dialog template and version record as the system reads them from the .exe,
// one fact a line, for the Wine tests to compare with the dialog table: what the resource
// compiler made of the script is what counts, not the script.
//
//   dumpres PROGRAM.exe DIALOG_ID
//
// Exit status: 0 printed, 1 a resource is missing or malformed, 2 wrong command line.
#include "job/win32/lean_windows.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Reads a DLGTEMPLATEEX front to back; every read is checked against the resource's size.
class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool ok() const { return ok_; }

    std::uint16_t word() {
        std::uint16_t value = 0;
        take(&value, sizeof value);
        return value;
    }
    std::uint32_t dword() {
        std::uint32_t value = 0;
        take(&value, sizeof value);
        return value;
    }
    std::int16_t coordinate() { return static_cast<std::int16_t>(word()); }
    std::uint8_t byte() {
        std::uint8_t value = 0;
        take(&value, sizeof value);
        return value;
    }

    // A NUL-terminated UTF-16 string; the texts here are ASCII, anything else shows as '?'.
    std::string text() {
        std::string out;
        for (std::uint16_t c = word(); ok_ && c != 0; c = word()) {
            out += c < 0x80 ? static_cast<char>(c) : '?';
        }
        return out;
    }

    // A name or an ordinal: 0 for none, 0xFFFF followed by a number, or a string.
    std::string nameOrOrdinal() {
        const std::uint16_t first = word();
        if (first == 0) {
            return "";
        }
        if (first == 0xFFFF) {
            return "#" + std::to_string(word());
        }
        offset_ -= sizeof first;
        return text();
    }

    void alignToDword() { offset_ = (offset_ + 3) & ~static_cast<std::size_t>(3); }
    void skip(std::size_t bytes) { take(nullptr, bytes); }

  private:
    void take(void* into, std::size_t bytes) {
        if (!ok_ || bytes > size_ || offset_ > size_ - bytes) {
            ok_ = false;
            return;
        }
        if (into != nullptr) {
            std::memcpy(into, data_ + offset_, bytes);
        }
        offset_ += bytes;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
    bool ok_ = true;
};

// In lower case whether given by number (the predefined classes) or by name: class names are
// matched without regard to case, and windres stores names in capitals where rc.exe keeps them.
std::string controlClass(const std::string& name) {
    static const char* const Predefined[] = {"button",  "edit",      "static",
                                             "listbox", "scrollbar", "combobox"};
    if (name.size() > 1 && name[0] == '#') {
        const unsigned long number = std::strtoul(name.c_str() + 1, nullptr, 10);
        if (number >= 0x80 && number <= 0x85) {
            return Predefined[number - 0x80];
        }
    }
    std::string lower = name;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

// The generic window style bits by name, the class-specific low word as a number.
std::string describeStyle(std::uint32_t style) {
    static const struct {
        std::uint32_t bit;
        const char* name;
    } Bits[] = {
        {WS_POPUP, "WS_POPUP"},
        {WS_CHILD, "WS_CHILD"},
        {WS_MINIMIZE, "WS_MINIMIZE"},
        {WS_VISIBLE, "WS_VISIBLE"},
        {WS_DISABLED, "WS_DISABLED"},
        {WS_CLIPSIBLINGS, "WS_CLIPSIBLINGS"},
        {WS_CLIPCHILDREN, "WS_CLIPCHILDREN"},
        {WS_MAXIMIZE, "WS_MAXIMIZE"},
        {WS_BORDER, "WS_BORDER"},
        {WS_DLGFRAME, "WS_DLGFRAME"},
        {WS_VSCROLL, "WS_VSCROLL"},
        {WS_HSCROLL, "WS_HSCROLL"},
        {WS_SYSMENU, "WS_SYSMENU"},
        {WS_THICKFRAME, "WS_THICKFRAME"},
        {WS_GROUP, "WS_GROUP"},
        {WS_TABSTOP, "WS_TABSTOP"},
    };
    std::string out;
    // WS_CAPTION is two bits, which a caption always sets together.
    if ((style & WS_CAPTION) == WS_CAPTION) {
        out = "WS_CAPTION";
        style &= ~static_cast<std::uint32_t>(WS_CAPTION) | 0xFFFF;
    }
    for (const auto& [bit, name] : Bits) {
        if ((style & bit) != 0) {
            out += out.empty() ? "" : "|";
            out += name;
        }
    }
    char low[16];
    std::snprintf(low, sizeof low, "0x%04X", static_cast<unsigned>(style & 0xFFFF));
    return (out.empty() ? "0" : out) + " low=" + low;
}

int dumpDialog(HMODULE program, int id) {
    const HRSRC found = ::FindResourceA(program, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
    const HGLOBAL loaded = found != nullptr ? ::LoadResource(program, found) : nullptr;
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        std::printf("no dialog %d\n", id);
        return 1;
    }
    Reader in(static_cast<const std::uint8_t*>(bytes), ::SizeofResource(program, found));
    const std::uint16_t version = in.word();
    const std::uint16_t signature = in.word();
    if (version != 1 || signature != 0xFFFF) {
        std::printf("dialog %d: not a DIALOGEX template\n", id);
        return 1;
    }
    in.dword();  // help id
    const std::uint32_t exStyle = in.dword();
    const std::uint32_t style = in.dword();
    const std::uint16_t count = in.word();
    const int x = in.coordinate(), y = in.coordinate(), cx = in.coordinate(), cy = in.coordinate();
    const std::string menu = in.nameOrOrdinal();
    const std::string windowClass = in.nameOrOrdinal();
    const std::string caption = in.text();
    std::printf("dialog %d DIALOGEX %d,%d,%d,%d\n", id, x, y, cx, cy);
    std::printf("  style %s\n", describeStyle(style).c_str());
    std::printf("  exstyle 0x%08lX\n", static_cast<unsigned long>(exStyle));
    std::printf("  caption \"%s\" menu \"%s\" class \"%s\"\n", caption.c_str(), menu.c_str(),
                windowClass.c_str());
    if ((style & DS_SETFONT) != 0) {
        const unsigned points = in.word();
        const unsigned weight = in.word();
        const unsigned italic = in.byte();
        const unsigned charset = in.byte();
        const std::string face = in.text();
        std::printf("  font %u \"%s\" weight %u italic %u charset %u\n", points, face.c_str(),
                    weight, italic, charset);
    }
    for (unsigned i = 0; i < count && in.ok(); ++i) {
        in.alignToDword();
        in.dword();  // help id
        const std::uint32_t itemExStyle = in.dword();
        const std::uint32_t itemStyle = in.dword();
        const int ix = in.coordinate(), iy = in.coordinate(), icx = in.coordinate(),
                  icy = in.coordinate();
        const auto itemId = static_cast<std::int32_t>(in.dword());
        const std::string itemClass = controlClass(in.nameOrOrdinal());
        const std::string text = in.nameOrOrdinal();
        in.skip(in.word());  // creation data
        std::printf("  control %d \"%s\" %s %d,%d,%d,%d\n", static_cast<int>(itemId), text.c_str(),
                    itemClass.c_str(), ix, iy, icx, icy);
        std::printf("    style %s exstyle 0x%08lX\n", describeStyle(itemStyle).c_str(),
                    static_cast<unsigned long>(itemExStyle));
    }
    if (!in.ok()) {
        std::printf("dialog %d: template cut short\n", id);
        return 1;
    }
    return 0;
}

std::string versionPart(DWORD high, DWORD low) {
    return std::to_string(HIWORD(high)) + "," + std::to_string(LOWORD(high)) + "," +
           std::to_string(HIWORD(low)) + "," + std::to_string(LOWORD(low));
}

int dumpVersion(const char* path) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path, &ignored);
    std::vector<char> record(size);
    if (size == 0 || !::GetFileVersionInfoA(path, 0, size, record.data())) {
        std::printf("no version record\n");
        return 1;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(record.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
        length < sizeof *fixed) {
        std::printf("version record without its fixed part\n");
        return 1;
    }
    std::printf("version FILEVERSION %s PRODUCTVERSION %s\n",
                versionPart(fixed->dwFileVersionMS, fixed->dwFileVersionLS).c_str(),
                versionPart(fixed->dwProductVersionMS, fixed->dwProductVersionLS).c_str());
    std::printf("  flags 0x%02lX mask 0x%02lX os 0x%05lX type %lu subtype %lu\n",
                fixed->dwFileFlags, fixed->dwFileFlagsMask, fixed->dwFileOS, fixed->dwFileType,
                fixed->dwFileSubtype);

    WORD* translations = nullptr;
    if (::VerQueryValueA(record.data(), "\\VarFileInfo\\Translation",
                         reinterpret_cast<void**>(&translations), &length)) {
        for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) {
            std::printf("  translation 0x%04X %u\n", translations[i], translations[i + 1]);
        }
    }
    static const char* const Names[] = {
        "Comments",     "CompanyName",    "FileDescription", "FileVersion",
        "InternalName", "LegalCopyright", "LegalTrademarks", "OriginalFilename",
        "PrivateBuild", "ProductName",    "ProductVersion",  "SpecialBuild",
    };
    for (const char* name : Names) {
        const std::string key = std::string("\\StringFileInfo\\040904b0\\") + name;
        char* value = nullptr;
        if (::VerQueryValueA(record.data(), key.c_str(), reinterpret_cast<void**>(&value),
                             &length)) {
            std::printf("  040904b0 %s \"%s\"\n", name, length > 0 ? value : "");
        } else {
            std::printf("  040904b0 %s (absent)\n", name);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: dumpres PROGRAM.exe DIALOG_ID\n");
        return 2;
    }
    const HMODULE program = ::LoadLibraryExA(
        argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (program == nullptr) {
        std::printf("cannot load %s\n", argv[1]);
        return 1;
    }
    const int dialog = dumpDialog(program, std::atoi(argv[2]));
    const int version = dumpVersion(argv[1]);
    return dialog != 0 || version != 0 ? 1 : 0;
}
