// The boards zq417-sim announces: what a reader takes from an announcement, what it cleans away,
// where discovery and `--port auto` put them, the plug events a front end sees, and the real
// programs end to end.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "serial/port_names.h"
#include "serial/virtual_boards.h"
#include "support/child_process.h"
#include "support/image_files.h"
#include "support/sim_process.h"
#include "support/text_lines.h"

namespace zq::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A character device under /dev for as long as the test holds it.
struct Pty {
    Pty() : master(::posix_openpt(O_RDWR | O_NOCTTY)) {
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) {
            path = ::ptsname(master);
        }
    }
    ~Pty() { ::close(master); }
    int master;
    std::string path;
};

// Each test announces into a runtime directory of its own.
class VirtualBoards : public ::testing::Test {
  protected:
    void SetUp() override { ::setenv("XDG_RUNTIME_DIR", runtime.path.c_str(), 1); }
    fs::path announced() const { return runtime / "zq417-sim"; }
    VirtualBoard board(const Pty& pty, int index, long pid = ::getpid()) const {
        return {pty.path, "", "download", pid, index, processStart(pid).value_or(0)};
    }
    TempDir runtime;
};

TEST(VirtualBoardAnnouncement, IsReadBackOnlyWhenEveryFieldIsSound) {
    const VirtualBoard good{"/dev/pts/7", "/tmp/zq-board0", "update", 4242, 3, 1234567};
    EXPECT_EQ(parseAnnouncement(announcementText(good)), good);
    for (const char* text : {
             "device=/tmp/pts7\nmode=update\npid=4242\nboard=0\n",
             "device=/dev/../etc/passwd\nmode=update\npid=4242\nboard=0\n",
             "device=/dev/pts/7\nmode=bootloader\npid=4242\nboard=0\n",
             "device=/dev/pts/7\nmode=update\npid=0\nboard=0\n",
             "device=/dev/pts/7\nmode=update\npid=42x\nboard=0\n",
             "device=/dev/pts/7\nmode=update\npid=4242\n",
             "device=/dev/pts/7\nlink=board0\nmode=update\npid=4242\nboard=0\n",
             "device=/dev/pts/7\nmode=update\nmode=download\npid=4242\nboard=0\n",
         }) {
        EXPECT_EQ(parseAnnouncement(text), std::nullopt) << text;
    }
}

TEST_F(VirtualBoards, ReadBackWhileAnnouncedWithWhatIsStaleRemovedOnTheWay) {
    const Pty live, other;
    const fs::path link = runtime / "board0";
    fs::create_symlink(live.path, link);
    VirtualBoard linked = board(live, 0);
    linked.linkPath = link.string();
    BoardAnnouncement announcement;
    std::string error;
    ASSERT_TRUE(announcement.announce(linked, error)) << error;
    EXPECT_EQ(fs::status(announced()).permissions(), fs::perms::owner_all);

    const long dead = 0x7fffffff;  // beyond any pid the system gives out
    VirtualBoard misleading = board(other, 3);
    misleading.linkPath = "/dev/null";  // a link that leads elsewhere is dropped, not followed
    const std::string own = std::to_string(::getpid());
    VirtualBoard reused = board(other, 4);  // an earlier process that had our number
    reused.started += 1;
    VirtualBoard notAPty = board(other, 5), multiplexer = board(other, 6);
    notAPty.devicePath = "/dev/null";
    multiplexer.devicePath = "/dev/pts/ptmx";
    // A process of another user that holds the master (when we may make one), and one of ours
    // (init, as root) that does not.
    int changed[2] = {-1, -1};
    const pid_t stranger = ::getuid() == 0 && ::pipe(changed) == 0 ? ::fork() : -1;
    if (stranger == 0) {
        _exit(::setuid(65534) == 0 && ::write(changed[1], "", 1) == 1 ? (::pause(), 0) : 1);
    }
    char done = 0;
    ASSERT_TRUE(stranger < 0 || ::read(changed[0], &done, 1) == 1);  // it runs as nobody now
    const std::string strangers = std::to_string(stranger);
    for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
             {std::to_string(dead) + "-0.board",
              announcementText({other.path, "", "update", dead, 0, 0})},
             {std::to_string(dead) + "-1.tmp", "device="},
             {own + "-1.board", announcementText(board(Pty{}, 1))},
             {own + "-2.board", "device=/dev/null\n"},
             {own + "-3.board", announcementText(misleading)},
             {own + "-4.board", announcementText(reused)},
             {own + "-5.board", announcementText(notAPty)},
             {own + "-6.board", announcementText(multiplexer)},
             {"1-7.board", announcementText(board(other, 7, 1))},
             {strangers + "-8.board", announcementText(board(other, 8, stranger))}}) {
        writeText(announced() / name, text);
    }

    std::vector<VirtualBoard> boards = announcedBoards();
    if (stranger > 0) {
        ::kill(stranger, SIGKILL);
        ::waitpid(stranger, nullptr, 0);
    }
    ::close(changed[0]);
    ::close(changed[1]);
    std::sort(boards.begin(), boards.end(), [](auto& a, auto& b) { return a.index < b.index; });
    misleading.linkPath.clear();
    EXPECT_EQ(boards, (std::vector<VirtualBoard>{linked, misleading}));
    // Only the proven boards' entries stay: the rest are gone, forged, or a stranger's.
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(announced())) {
        left.insert(entry.path().filename().string());
    }
    EXPECT_EQ(left, (std::set<std::string>{own + "-0.board", own + "-3.board"}));

    announcement.withdraw();
    EXPECT_FALSE(fs::exists(announced() / (own + "-0.board")));
    // A directory that is not plainly the user's own is not used.
    fs::remove_all(announced());
    fs::create_symlink(runtime.path, announced());
    EXPECT_FALSE(announcement.announce(linked, error));
    EXPECT_NE(error.find("is not a directory of this user's"), std::string::npos) << error;
}

TEST(AutoPort, TakesAVirtualBoardOnlyWhenNoUsbAdapterIsPresent) {
    PortInfo usb, onBoard;
    usb.devicePath = "/dev/ttyUSB0";
    usb.bus = PortInfo::Bus::Usb;
    onBoard.devicePath = "/dev/ttyS4";
    const PortInfo sim = portOf({"/dev/pts/3", "", "update", 4242, 0, 0});
    const PortInfo sim2 = portOf({"/dev/pts/4", "", "update", 4242, 1, 0});
    for (const auto& [present, chosen, candidates] :
         std::vector<std::tuple<std::vector<PortInfo>, std::string, std::size_t>>{
             {{onBoard, sim, usb}, "/dev/ttyUSB0", 1},
             {{onBoard, sim}, "/dev/pts/3", 1},
             {{sim, sim2}, "", 2},
             {{onBoard}, "", 0}}) {
        const NamedPort named = readPortName("auto", PortNaming::Posix, [&] { return present; });
        EXPECT_EQ(named.port, chosen);
        EXPECT_EQ(named.candidates.size(), candidates);
    }
}

bool readable(int fd, std::chrono::milliseconds limit) {
    pollfd p{.fd = fd, .events = POLLIN, .revents = 0};
    return ::poll(&p, 1, static_cast<int>(limit.count())) == 1;
}

TEST_F(VirtualBoards, APlugEventWhenABoardComesOrGoesOrItsSimulatorIsKilled) {
    const std::unique_ptr<PortWatcher> watcher = watchPorts();
    ASSERT_TRUE(watcher);
    const int fd = watcher->eventDescriptor();
    const auto fires = [&] {
        const bool fired = readable(fd, 5s) && watcher->takeEvents();
        return fired && !readable(fd, 0ms);
    };
    const Pty pty;
    BoardAnnouncement announcement;
    std::string error;
    ASSERT_TRUE(announcement.announce(board(pty, 0), error));
    EXPECT_TRUE(fires()) << "announced";
    // A Download leaves the board running its firmware: announced again, its one file says so.
    VirtualBoard running = board(pty, 0);
    running.mode = "update";
    ASSERT_TRUE(announcement.announce(running, error));
    EXPECT_TRUE(fires()) << "announced again";
    EXPECT_EQ(announcedBoards(), std::vector<VirtualBoard>{running});
    announcement.withdraw();
    EXPECT_TRUE(fires()) << "withdrawn";

    SimProcess simulator({"--quiet"});
    ASSERT_FALSE(simulator.devicePath().empty());
    EXPECT_TRUE(fires()) << "announced by another process";
    simulator.signal(SIGKILL);
    simulator.waitForExit();
    EXPECT_TRUE(fires()) << "its simulator killed";
}

// The devices the virtual ports of `zq417-flash ports --json` name, with their modes and which
// board of which simulator each is.
std::set<std::string> listedBoards() {
    ChildProcess ports(ZQ417_FLASH_PATH, {"ports", "--json"}, true);
    EXPECT_EQ(ports.waitForExit(), 0) << ports.err();
    std::set<std::string> boards;
    const nlohmann::json listed = nlohmann::json::parse(ports.out());
    for (const auto& port : listed["ports"]) {
        if (port["bus"] == "virtual") {
            boards.insert(port["device"].get<std::string>() + " " +
                          port["board_mode"].get<std::string>() + (port["in_use"] ? " held" : "") +
                          " #" + port["board_index"].dump() + " of " +
                          port["simulator_pid"].dump());
        }
    }
    return boards;
}

TEST_F(VirtualBoards, TheRealSimulatorsBoardsFollowTheRealPortsWhileTheyRunAndNotAfter) {
    SimProcess two({"--boards", "2", "--quiet"});
    SimProcess one({"--mode", "update", "--quiet"});
    const std::string first = two.devicePath();
    const std::string second = two.devicePath();
    const std::string third = one.devicePath();
    const std::vector<PortInfo> ports = discoverPorts();
    const auto firstVirtual =
        std::find_if(ports.begin(), ports.end(), [](const PortInfo& p) { return p.isVirtual(); });
    ASSERT_EQ(ports.end() - firstVirtual, 3);
    std::vector<PortInfo> sorted(firstVirtual, ports.end());
    sortPorts(sorted);
    EXPECT_EQ(std::vector<PortInfo>(firstVirtual, ports.end()), sorted);
    // Device numbers are the system's to give out, so the order of the boards is not known here.
    for (auto p = firstVirtual; p != ports.end(); ++p) {
        EXPECT_EQ(p->description, std::string("zq417-sim virtual board (") +
                                      (p->devicePath == third ? "update" : "download") + " mode)");
    }
    const std::string twos = " of " + std::to_string(two.pid());
    EXPECT_EQ(listedBoards(),
              (std::set<std::string>{first + " download #0" + twos, second + " download #1" + twos,
                                     third + " update #0 of " + std::to_string(one.pid())}));
    // A board another program holds names that program, never the simulator that serves it.
    const int holder = ::open(third.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(::ioctl(holder, TIOCEXCL), 0);
    ChildProcess busy(ZQ417_FLASH_PATH, {"update", "--quiet", "--port", third}, true);
    EXPECT_EQ(busy.waitForExit(), 3);
    EXPECT_TRUE(contains(busy.err(), "held by " + std::to_string(::getpid()) + " (")) << busy.err();
    EXPECT_FALSE(contains(busy.err(), std::to_string(one.pid()) + " (")) << busy.err();
    ::close(holder);
    EXPECT_EQ(two.stop(), 0);
    one.signal(SIGKILL);
    one.waitForExit();
    // The stopped simulator withdrew its boards; the killed one could not, and the next reader
    // cleans up after it.
    EXPECT_EQ(std::distance(fs::directory_iterator(announced()), fs::directory_iterator()), 1);
    EXPECT_EQ(listedBoards(), std::set<std::string>{});
    EXPECT_TRUE(fs::is_empty(announced()));
}

}  // namespace
}  // namespace zq::test
