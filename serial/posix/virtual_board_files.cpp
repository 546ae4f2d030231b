#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "serial/virtual_boards.h"

namespace zq {

namespace {

namespace fs = std::filesystem;

// An announcement is a few dozen bytes; anything larger is not one.
constexpr std::size_t LargestAnnouncement = 4096;

std::string failure(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool running(long pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

bool writeAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno != EINTR) {
            return false;
        }
        done += written > 0 ? static_cast<std::size_t>(written) : 0;
    }
    return true;
}

// Not through a link, not a device or a pipe that would block the reader, and not without end.
std::optional<VirtualBoard> readAnnouncement(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat found {};
    std::string text(LargestAnnouncement, '\0');
    ssize_t got = -1;
    if (::fstat(fd, &found) == 0 && S_ISREG(found.st_mode) &&
        static_cast<std::size_t>(found.st_size) <= LargestAnnouncement) {
        got = ::read(fd, text.data(), text.size());
    }
    ::close(fd);
    if (got < 0) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(got));
    return parseAnnouncement(text);
}

enum class Device { Present, Gone, NotADevice };

// lstat: the path must be the device itself, not a link that leads out of /dev.
Device deviceOf(const VirtualBoard& board) {
    struct stat found {};
    if (::lstat(board.devicePath.c_str(), &found) != 0) {
        return errno == ENOENT ? Device::Gone : Device::NotADevice;
    }
    return S_ISCHR(found.st_mode) ? Device::Present : Device::NotADevice;
}

// A link is shown as the board's lasting name only while it still leads to the board.
bool linkLeadsTo(const std::string& link, const std::string& device) {
    char target[512];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    return length > 0 && static_cast<std::size_t>(length) < sizeof target &&
           std::string_view(target, static_cast<std::size_t>(length)) == device;
}

}  // namespace

std::string virtualBoardDirectory(std::string& error) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string path = runtime != nullptr && runtime[0] == '/'
                                 ? std::string(runtime) + "/zq417-sim"
                                 : "/tmp/zq417-sim-" + std::to_string(::geteuid());
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        error = failure(path);
        return {};
    }
    struct stat found {};
    if (::lstat(path.c_str(), &found) != 0) {
        error = failure(path);
        return {};
    }
    if (!S_ISDIR(found.st_mode) || found.st_uid != ::geteuid()) {
        error = path + " is not a directory of this user's";
        return {};
    }
    if ((found.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
        error = failure(path);
        return {};
    }
    return path;
}

bool BoardAnnouncement::announce(const VirtualBoard& board, std::string& error) {
    const std::string directory = virtualBoardDirectory(error);
    if (directory.empty()) {
        return false;
    }
    const std::string temporary = directory + "/" + announcementName(board.pid, board.index, false);
    const std::string path = directory + "/" + announcementName(board.pid, board.index, true);
    ::unlink(temporary.c_str());  // an earlier process of this number was killed while writing
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = failure(temporary);
        return false;
    }
    const bool written = writeAll(fd, announcementText(board));
    if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = failure(path);
        ::unlink(temporary.c_str());
        return false;
    }
    // Renamed over the one before, a board announced again is never missing from a list.
    if (!path_.empty() && path_ != path) {
        ::unlink(path_.c_str());
    }
    path_ = path;
    return true;
}

void BoardAnnouncement::withdraw() {
    if (!path_.empty()) {
        ::unlink(path_.c_str());
        path_.clear();
    }
}

std::vector<VirtualBoard> announcedBoards() {
    std::vector<VirtualBoard> boards;
    std::string error;
    const std::string directory = virtualBoardDirectory(error);
    if (directory.empty()) {
        return boards;
    }
    std::error_code ec;
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
        const std::optional<AnnouncementName> name =
            readAnnouncementName(it->path().filename().string());
        if (!name) {
            continue;
        }
        if (!running(name->pid)) {
            ::unlink(it->path().c_str());
            continue;
        }
        std::optional<VirtualBoard> board =
            name->complete ? readAnnouncement(it->path()) : std::nullopt;
        if (!board || board->pid != name->pid || board->index != name->index) {
            continue;
        }
        const Device device = deviceOf(*board);
        if (device == Device::Gone) {
            ::unlink(it->path().c_str());
        }
        if (device != Device::Present) {
            continue;
        }
        if (!board->linkPath.empty() && !linkLeadsTo(board->linkPath, board->devicePath)) {
            board->linkPath.clear();
        }
        boards.push_back(std::move(*board));
    }
    return boards;
}

}  // namespace zq
