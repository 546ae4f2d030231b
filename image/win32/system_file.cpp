#include "image/system_file.h"

#include <algorithm>
#include <string>

#include "job/win32/lean_windows.h"
#include "job/win32/system_message.h"

namespace zq {

namespace {

HANDLE handleOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t keep(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

SystemError windowsError(DWORD code) {
    // A full stop would end the sentence the text is put into.
    return SystemError{static_cast<int>(code), systemMessage(code, "\r\n. ")};
}

SystemError lastWindowsError() {
    return windowsError(::GetLastError());
}

}  // namespace

bool SystemFile::openForReading(const std::filesystem::path& path) {
    close();
    const HANDLE opened = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        return fail(lastWindowsError());
    }
    handle_ = keep(opened);
    if (::GetFileType(opened) != FILE_TYPE_DISK) {
        close();
        return fail(SystemError{0, "not a regular file"});
    }
    return true;
}

SystemFile::Created SystemFile::createNew(const std::filesystem::path& path) {
    close();
    // CREATE_NEW fails on any existing name; the reparse-point flag keeps a link from being
    // followed should one appear.
    const HANDLE opened =
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
            return Created::NameTaken;
        }
        fail(windowsError(error));
        return Created::Failed;
    }
    handle_ = keep(opened);
    return Created::Yes;
}

bool SystemFile::openExistingForWriting(const std::filesystem::path& path) {
    close();
    const HANDLE opened = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        return fail(lastWindowsError());
    }
    handle_ = keep(opened);
    return true;
}

bool SystemFile::openForAppending(const std::filesystem::path& path) {
    close();
    // Append access alone: the system puts every write at the end of the file.
    const HANDLE opened =
        ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        return fail(lastWindowsError());
    }
    handle_ = keep(opened);
    return true;
}

std::optional<std::uint64_t> SystemFile::size() const {
    LARGE_INTEGER size{};
    if (!isOpen() || !::GetFileSizeEx(handleOf(handle_), &size) || size.QuadPart < 0) {
        error_ = isOpen() ? lastWindowsError() : windowsError(ERROR_INVALID_HANDLE);
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::optional<std::size_t> SystemFile::read(std::span<std::uint8_t> bytes) {
    std::size_t done = 0;
    while (isOpen() && done < bytes.size()) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(handleOf(handle_), bytes.data() + done, want, &got, nullptr)) {
            fail(lastWindowsError());
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return isOpen() ? std::optional<std::size_t>(done) : std::nullopt;
}

bool SystemFile::write(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (isOpen() && done < bytes.size()) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD put = 0;
        if (!::WriteFile(handleOf(handle_), bytes.data() + done, want, &put, nullptr)) {
            return fail(lastWindowsError());
        }
        if (put == 0) {
            return fail(SystemError{0, "the system took no bytes"});
        }
        done += put;
    }
    return isOpen();
}

void SystemFile::takePermissionsOf(const std::filesystem::path&) {
    // A new file takes its access from the directory, as the file it replaces did.
}

bool SystemFile::sync() {
    if (!isOpen()) {
        return false;
    }
    // Devices cannot be flushed; what they were given has gone already.
    if (::FlushFileBuffers(handleOf(handle_))) {
        return true;
    }
    const SystemError error = lastWindowsError();
    return ::GetFileType(handleOf(handle_)) != FILE_TYPE_DISK || fail(error);
}

bool SystemFile::close() {
    if (!isOpen()) {
        return true;
    }
    const HANDLE closing = handleOf(handle_);
    handle_ = Invalid;
    return ::CloseHandle(closing) != 0 || fail(lastWindowsError());
}

std::optional<std::filesystem::path> finalName(const std::filesystem::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return path;
    }
    // Opening without FILE_FLAG_OPEN_REPARSE_POINT follows the whole chain, and the system names
    // where it ended. A link to nothing cannot be opened; it is replaced like a file.
    const HANDLE opened =
        ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_CANT_RESOLVE_FILENAME ? std::nullopt
                                                    : std::optional<std::filesystem::path>(path);
    }
    std::wstring name(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(opened, name.data(), static_cast<DWORD>(name.size()),
                                               FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= name.size()) {
        name.resize(length);
        length = ::GetFinalPathNameByHandleW(opened, name.data(), static_cast<DWORD>(name.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    ::CloseHandle(opened);
    if (length == 0 || length >= name.size()) {
        return path;
    }
    name.resize(length);
    return std::filesystem::path(name);
}

bool replaceName(const std::filesystem::path& from, const std::filesystem::path& to,
                 SystemError& error) {
    if (::MoveFileExW(from.c_str(), to.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
        return true;
    }
    error = lastWindowsError();
    return false;
}

void syncDirectory(const std::filesystem::path&) {
    // MOVEFILE_WRITE_THROUGH has made the rename durable already.
}

}  // namespace zq
