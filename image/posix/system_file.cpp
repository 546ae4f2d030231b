#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "image/system_file.h"

namespace zq {

namespace {

int fd(std::intptr_t handle) {
    return static_cast<int>(handle);
}

}  // namespace

bool SystemFile::openForReading(const std::filesystem::path& path) {
    close();
    // Non-blocking for the open only: opening a pipe or a terminal must not wait.
    const int opened = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (opened < 0) {
        return fail(errnoError(errno));
    }
    handle_ = opened;
    struct stat info {};
    if (::fstat(opened, &info) != 0 ||
        ::fcntl(opened, F_SETFL, ::fcntl(opened, F_GETFL) & ~O_NONBLOCK) != 0) {
        const int error = errno;
        close();
        return fail(errnoError(error));
    }
    if (!S_ISREG(info.st_mode)) {
        close();
        return fail(S_ISDIR(info.st_mode) ? errnoError(EISDIR)
                                          : SystemError{0, "not a regular file"});
    }
    return true;
}

SystemFile::Created SystemFile::createNew(const std::filesystem::path& path) {
    close();
    const int opened =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
    if (opened < 0) {
        if (errno == EEXIST) {
            return Created::NameTaken;
        }
        fail(errnoError(errno));
        return Created::Failed;
    }
    handle_ = opened;
    return Created::Yes;
}

bool SystemFile::openExistingForWriting(const std::filesystem::path& path) {
    close();
    const int opened = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (opened < 0) {
        return fail(errnoError(errno));
    }
    handle_ = opened;
    return true;
}

bool SystemFile::openForAppending(const std::filesystem::path& path) {
    close();
    // Non-blocking for the open only: a pipe nobody reads would hold the open for ever.
    const int opened = ::open(
        path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (opened < 0) {
        const int error = errno;
        struct stat info {};
        if (error == ENXIO && ::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) {
            return fail({error, "a pipe that nobody reads: writing to it would wait for a reader"});
        }
        return fail(errnoError(error));
    }
    handle_ = opened;
    if (::fcntl(opened, F_SETFL, ::fcntl(opened, F_GETFL) & ~O_NONBLOCK) != 0) {
        const int error = errno;
        close();
        return fail(errnoError(error));
    }
    return true;
}

std::optional<std::uint64_t> SystemFile::size() const {
    struct stat info {};
    if (!isOpen() || ::fstat(fd(handle_), &info) != 0 || info.st_size < 0) {
        error_ = errnoError(isOpen() ? errno : EBADF);
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

std::optional<std::size_t> SystemFile::read(std::span<std::uint8_t> bytes) {
    std::size_t done = 0;
    while (isOpen() && done < bytes.size()) {
        const ssize_t got = ::read(fd(handle_), bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            fail(errnoError(errno));
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return isOpen() ? std::optional<std::size_t>(done) : std::nullopt;
}

bool SystemFile::write(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (isOpen() && done < bytes.size()) {
        const ssize_t put = ::write(fd(handle_), bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            return fail(errnoError(errno));
        }
        if (put == 0) {
            return fail(SystemError{0, "the system took no bytes"});
        }
        done += static_cast<std::size_t>(put);
    }
    return isOpen();
}

void SystemFile::takePermissionsOf(const std::filesystem::path& model) {
    struct stat info {};
    if (isOpen() && ::stat(model.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        // Only the read, write and execute bits: a copy never becomes set-user-ID.
        ::fchmod(fd(handle_), info.st_mode & 0777);
    }
}

bool SystemFile::sync() {
    if (!isOpen()) {
        return false;
    }
    // Devices and pipes cannot be synced; what they were given has gone already.
    return ::fsync(fd(handle_)) == 0 || errno == EINVAL || errno == EROFS ||
           fail(errnoError(errno));
}

bool SystemFile::close() {
    if (!isOpen()) {
        return true;
    }
    const int closing = fd(handle_);
    handle_ = Invalid;
    return ::close(closing) == 0 || fail(errnoError(errno));
}

std::optional<std::filesystem::path> finalName(const std::filesystem::path& path) {
    // As many links as the kernel follows in one name before it gives up with ELOOP.
    constexpr int MostLinks = 40;
    std::filesystem::path name = path;
    for (int links = 0; links <= MostLinks; ++links) {
        std::error_code error;
        const std::filesystem::path target = std::filesystem::read_symlink(name, error);
        if (error) {
            // No link, or nothing there yet: this is the name written. Whatever else went wrong
            // is left for the write to meet.
            return name;
        }
        // The directory part is left for the kernel to resolve, so that ".." in a link is taken
        // from where the link really is, not cut off against the name it was reached by.
        name = target.is_absolute() ? target : name.parent_path() / target;
    }
    return std::nullopt;
}

bool replaceName(const std::filesystem::path& from, const std::filesystem::path& to,
                 SystemError& error) {
    if (std::rename(from.c_str(), to.c_str()) == 0) {
        return true;
    }
    error = errnoError(errno);
    return false;
}

void syncDirectory(const std::filesystem::path& directory) {
    const std::filesystem::path where = directory.empty() ? "." : directory;
    const int opened = ::open(where.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (opened >= 0) {
        ::fsync(opened);
        ::close(opened);
    }
}

}  // namespace zq
