#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/port_discovery.h"

// The boards zq417-sim serves announce themselves, one small file each, in a directory of the
// user's own, so that every front end finds them beside the real ports. POSIX only: Windows has
// no simulator, and its discovery lists none.
namespace zq {

struct VirtualBoard {
    std::string devicePath;  // "/dev/pts/3": what the host opens
    std::string linkPath;    // the simulator's --link, may be empty
    std::string mode;        // "download" or "update", as the board started
    long pid = 0;            // the simulator's
    int index = 0;           // which of the simulator's boards
    // The simulator's start (clock ticks since boot): with the pid it names one process, not a
    // later one that was given the same number.
    unsigned long long started = 0;
    bool operator==(const VirtualBoard&) const = default;
};

// $XDG_RUNTIME_DIR/zq417-sim, else /tmp/zq417-sim-<uid>; created (0700) when missing. Empty, with
// `error` saying why, when it cannot be made or is not a directory of this user's: anyone could
// have placed one under /tmp.
std::string virtualBoardDirectory(std::string& error);

// An announcement's text, and the board it names. Everything read back is checked: a character
// device under /dev, a known mode, a live simulator's numbers; a link is kept only while it still
// leads to that device.
std::string announcementText(const VirtualBoard& board);
std::optional<VirtualBoard> parseAnnouncement(std::string_view text);

// How a port list shows the board.
PortInfo portOf(const VirtualBoard& board);

// An announcement's file is "<pid>-<board>.board", written first as "<pid>-<board>.tmp": the
// name alone says whose it is, so a dead simulator's files go without being read.
struct AnnouncementName {
    long pid = 0;
    int index = 0;
    bool complete = false;  // not the file being written
};
std::string announcementName(long pid, int index, bool complete);
std::optional<AnnouncementName> readAnnouncementName(std::string_view name);

// A board's announcement for as long as this object holds it. The file appears complete or not
// at all (written aside, then renamed), so a reader never sees half of one.
class BoardAnnouncement {
  public:
    BoardAnnouncement() = default;
    ~BoardAnnouncement() { withdraw(); }
    BoardAnnouncement(const BoardAnnouncement&) = delete;
    BoardAnnouncement& operator=(const BoardAnnouncement&) = delete;

    bool announce(const VirtualBoard& board, std::string& error);
    void withdraw();

  private:
    std::string path_;
};

// The boards announced now, in no particular order. A board is taken only when it is provably
// the simulator's: a pseudo-terminal whose master the announcing process (the same instance, of
// this user) holds. Anything else (a simulator killed without a chance to withdraw, its pid and
// pty given out again since; a device that is no pty; a hand-written entry) is removed on the way,
// so that no byte goes to a stranger's terminal.
std::vector<VirtualBoard> announcedBoards();

// When the process started, from /proc/<pid>/stat; nothing when it is not there.
std::optional<unsigned long long> processStart(long pid);

// Fires when a board is announced or withdrawn, and when a simulator ends without withdrawing
// its boards; null when the directory cannot be had.
std::unique_ptr<PortWatcher> watchVirtualBoards();

}  // namespace zq
