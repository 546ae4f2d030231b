#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
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
    if (::fstat(fd, &found) == 0 && S_ISREG(found.st_mode) && found.st_uid == ::geteuid() &&
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

enum class Device { Present, Gone, NotAPty };

// The number of the pseudo-terminal a path names, "/dev/pts/<n>" and nothing else; lstat: the
// path must be the device itself, and its device numbers must say the same number (136..143 are
// the pty slaves' majors).
std::optional<unsigned> ptyNumber(const std::string& path) {
    const std::string_view prefix = "/dev/pts/";
    const std::string_view rest =
        std::string_view(path).substr(path.starts_with(prefix) ? prefix.size() : path.size());
    unsigned number = 0;
    const auto [end, fault] = std::from_chars(rest.data(), rest.data() + rest.size(), number);
    if (rest.empty() || fault != std::errc() || end != rest.data() + rest.size()) {
        return std::nullopt;
    }
    return number;
}

Device deviceOf(const VirtualBoard& board) {
    struct stat found {};
    if (::lstat(board.devicePath.c_str(), &found) != 0) {
        return errno == ENOENT ? Device::Gone : Device::NotAPty;
    }
    const std::optional<unsigned> number = ptyNumber(board.devicePath);
    const unsigned major = ::major(found.st_rdev);
    return S_ISCHR(found.st_mode) && number && major >= 136 && major <= 143 &&
                   (major - 136) * 256 + ::minor(found.st_rdev) == *number
               ? Device::Present
               : Device::NotAPty;
}

// Whether the process holds the master of pseudo-terminal `number`: one of its descriptors is
// the multiplexer, and the kernel says which terminal that descriptor stands for.
bool holdsMaster(long pid, unsigned number) {
    const fs::path process = "/proc/" + std::to_string(pid);
    std::error_code ec;
    for (fs::directory_iterator fd(process / "fd", ec), end; !ec && fd != end; fd.increment(ec)) {
        std::error_code linkError;
        const fs::path target = fs::read_symlink(fd->path(), linkError);
        if (linkError || target.filename() != "ptmx") {
            continue;
        }
        std::ifstream info(process / "fdinfo" / fd->path().filename());
        for (std::string key; info >> key;) {
            unsigned index = 0;
            if (key == "tty-index:" && info >> index && index == number) {
                return true;
            }
        }
    }
    return false;
}

// The user a process runs as (its effective uid, from /proc/<pid>/status; the owner of
// /proc/<pid> is root for a process that changed its user).
std::optional<uid_t> processUser(long pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string key; status >> key;) {
        uid_t real = 0, effective = 0;
        if (key == "Uid:") {
            return status >> real >> effective ? std::optional(effective) : std::nullopt;
        }
    }
    return std::nullopt;
}

// The announcing process is the very one that announced (same start), of this user, and
// serves the board (holds its master).
bool announcedByItsSimulator(const VirtualBoard& board) {
    const std::optional<unsigned> number = ptyNumber(board.devicePath);
    return number && processUser(board.pid) == ::geteuid() &&
           processStart(board.pid) == board.started && holdsMaster(board.pid, *number);
}

// A link is shown as the board's lasting name only while it still leads to the board.
bool linkLeadsTo(const std::string& link, const std::string& device) {
    char target[512];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    return length > 0 && static_cast<std::size_t>(length) < sizeof target &&
           std::string_view(target, static_cast<std::size_t>(length)) == device;
}

}  // namespace

std::optional<unsigned long long> processStart(long pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(file, stat);
    // The name in parentheses may hold spaces and parentheses itself; the fields follow the last
    // ')': state is the 3rd field, the start time the 22nd.
    const auto closing = stat.rfind(')');
    if (closing == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(stat.substr(closing + 1));
    std::string field;
    for (int i = 3; i < 22 && fields >> field; ++i) {
    }
    unsigned long long started = 0;
    return fields >> started ? std::optional(started) : std::nullopt;
}

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
    withdraw();
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
    VirtualBoard started = board;
    started.started = processStart(board.pid).value_or(0);
    const bool written = writeAll(fd, announcementText(started));
    if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = failure(path);
        ::unlink(temporary.c_str());
        return false;
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
        if (!name->complete) {
            continue;  // being written
        }
        std::optional<VirtualBoard> board = readAnnouncement(it->path());
        if (!board || board->pid != name->pid || board->index != name->index ||
            deviceOf(*board) != Device::Present || !announcedByItsSimulator(*board)) {
            ::unlink(it->path().c_str());
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
