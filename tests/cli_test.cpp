// The headless front end: where each box's text lands, the reason printed after a failed open,
// the wire trace, the progress bar on a terminal, the port listing and the exit statuses.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/command_line.h"
#include "app/cli/console_window.h"
#include "app/cli/open_failure_text.h"
#include "app/cli/port_listing.h"
#include "app/cli/progress_bar.h"
#include "app/cli/status_line.h"
#include "app/cli/tracing_platform.h"
#include "app/version.h"
#include "protocol/packet_ops.h"
#include "serial/posix/posix_platform.h"
#include "support/cli_run.h"
#include "support/sim_fixture.h"
#include "text/messages.h"

namespace zq::test {
namespace {

namespace fs = std::filesystem;
using cli::StatusLine;

// What a terminal shows after receiving `text`: a carriage return goes back to the start of the
// line, a line feed starts the next one, anything else overwrites the cell under the cursor.
std::vector<std::string> screenOf(const std::string& text) {
    std::vector<std::string> lines(1);
    std::size_t column = 0;
    for (const char c : text) {
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            lines.emplace_back();
            column = 0;
        } else {
            std::string& line = lines.back();
            if (line.size() <= column) {
                line.resize(column + 1, ' ');
            }
            line[column++] = c;
        }
    }
    for (std::string& line : lines) {
        line.erase(line.find_last_not_of(' ') + 1);
    }
    return lines;
}

std::vector<std::string> linesOf(std::string_view text) {
    std::vector<std::string> lines;
    std::istringstream in{std::string(text)};
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// ---------------------------------------------------------------------------------------------
// Message boxes

struct Console {
    std::ostringstream out;
    std::ostringstream err;
    StatusLine status{err};
    cli::ConsoleWindow window{out, err, status};
};

TEST(ConsoleWindow, PlainBoxesGoToStandardOutputAndErrorBoxesToStandardError) {
    Console c;
    c.window.showMessage(BoxStyle::Error, messages::BoardNotAnswering.update);
    c.window.showMessage(BoxStyle::Plain, messages::Success.update);
    c.window.showUnownedMessage(BoxStyle::Error, messages::CannotClosePort);
    c.window.showUnownedMessage(BoxStyle::Plain, "unowned plain");
    EXPECT_EQ(c.out.str(), std::string(messages::Success.update) + "\nunowned plain\n");
    EXPECT_EQ(c.err.str(), std::string(messages::BoardNotAnswering.update) + "\n" +
                               std::string(messages::CannotClosePort) + "\n");
    // The texts keep their line breaks: the box's second line is a line of its own.
    EXPECT_EQ(linesOf(c.out.str())[1], "Please reset hardware system to run new firmware!");
}

TEST(ConsoleWindow, ReasonFollowsOnlyTheCannotOpenPortBox) {
    Console c;
    int asked = 0;
    c.window.explainOpenFailureWith([&] {
        ++asked;
        return std::string("the reason");
    });
    c.window.showMessage(BoxStyle::Error, messages::CannotConfigPort);
    c.window.showMessage(BoxStyle::Error, messages::CannotUseComPort);
    EXPECT_EQ(asked, 0);
    c.window.showMessage(BoxStyle::Error, messages::CannotOpenPort);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(c.err.str(), std::string(messages::CannotConfigPort) + "\n" +
                               std::string(messages::CannotUseComPort) + "\n" +
                               std::string(messages::CannotOpenPort) + "\nthe reason\n");
    EXPECT_EQ(c.out.str(), "");
}

TEST(ConsoleWindow, BoxAfterAProgressBarStartsOnALineOfItsOwn) {
    Console c;
    cli::ProgressBar bar(c.status);
    bar.setRange(100);
    bar.setPosition(40);
    c.window.showMessage(BoxStyle::Error, messages::CannotUsePort);
    const std::vector<std::string> screen = screenOf(c.err.str());
    ASSERT_EQ(screen.size(), 3u);
    EXPECT_EQ(screen[0], cli::renderProgress(40, 100));
    EXPECT_EQ(screen[1], messages::CannotUsePort);
    EXPECT_EQ(screen[2], "");
}

// ---------------------------------------------------------------------------------------------
// The reason after a failed open

TEST(OpenFailureText, PermissionDeniedNamesTheGroupTheBackendFound) {
    const OpenFailure dialout{OpenFailure::Kind::PermissionDenied, 13,
                              "/dev/ttyS0: Permission denied (the device belongs to group dialout)",
                              "dialout"};
    const std::string line = cli::explainOpenFailure(dialout, "/dev/ttyS0");
    EXPECT_EQ(line.rfind("/dev/ttyS0: permission denied", 0), 0u) << line;
    EXPECT_NE(line.find("add yourself to the group 'dialout'"), std::string::npos) << line;

    const OpenFailure uucp{OpenFailure::Kind::PermissionDenied, 13,
                           "/dev/ttyUSB0: Permission denied (the device belongs to group uucp)",
                           "uucp"};
    const std::string other = cli::explainOpenFailure(uucp, "/dev/ttyUSB0");
    EXPECT_NE(other.find("group 'uucp'"), std::string::npos) << other;
    EXPECT_EQ(other.find("dialout"), std::string::npos) << other;

    // Without a group from the system the advice stays general, never an empty group name.
    const OpenFailure bare{OpenFailure::Kind::PermissionDenied, 13, "", ""};
    const std::string general = cli::explainOpenFailure(bare, "/dev/ttyS1");
    EXPECT_EQ(general.find("''"), std::string::npos) << general;
    EXPECT_NE(general.find("permission denied"), std::string::npos) << general;
}

TEST(OpenFailureText, EachKindSaysWhatHappenedToThatDevice) {
    struct Case {
        OpenFailure::Kind kind;
        std::string_view says;
    };
    for (const Case& c : {Case{OpenFailure::Kind::Busy, "held by another program"},
                          Case{OpenFailure::Kind::NoSuchDevice, "no such device"},
                          Case{OpenFailure::Kind::NotATerminal, "not a terminal"}}) {
        const std::string line = cli::explainOpenFailure({c.kind, 0, ""}, "/dev/ttyUSB3");
        EXPECT_EQ(line.rfind("/dev/ttyUSB3: ", 0), 0u) << line;
        EXPECT_NE(line.find(c.says), std::string::npos) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos) << "one line: " << line;
    }
    EXPECT_EQ(cli::explainOpenFailure({OpenFailure::Kind::Other, 5, "/dev/ttyS0: I/O error"},
                                      "/dev/ttyS0"),
              "/dev/ttyS0: I/O error");
    EXPECT_NE(cli::explainOpenFailure({OpenFailure::Kind::Other, 0, ""}, "/dev/ttyS0"), "");
    EXPECT_EQ(cli::explainOpenFailure({}, "/dev/ttyS0"), "");
}

// ---------------------------------------------------------------------------------------------
// The wire trace

std::string stamp(sim::SimTime at) {
    char text[32];
    std::snprintf(text, sizeof text, "%9.3f ms  ",
                  std::chrono::duration<double, std::milli>(at).count());
    return text;
}

// The trace counts from its own start, not from the clock's zero.
sim::SimTime startLater(sim::SimulatedLine& line) {
    line.clock.advanceBy(std::chrono::seconds(3));
    return line.clock.now();
}

struct TracedLine {
    explicit TracedLine(sim::BoardConfig board = {}) : line(std::move(board)) {}

    sim::SimulatedLine line;
    sim::SimTime origin = startLater(line);
    std::vector<std::string> traced;
    cli::TracingPlatform tracing{line, [this](std::string_view l) { traced.emplace_back(l); }};
    PortState port{tracing};

    void prepare() {
        ASSERT_TRUE(openPort(port, "COM1"));
        ASSERT_TRUE(initPort(port));
        ASSERT_TRUE(setLine(port, LineSpeed));
        purgePort(port);
    }
    std::vector<std::string> wireLines() const {
        std::vector<std::string> wire;
        for (const std::string& l : traced) {
            if (l.find(" ms  -> ") != std::string::npos ||
                l.find(" ms  <- ") != std::string::npos) {
                wire.push_back(l);
            }
        }
        return wire;
    }
};

TEST(Trace, HandshakeShowsEachPacketWithItsDirectionAndTime) {
    TracedLine t;
    t.prepare();
    ASSERT_TRUE(syncDevice(t.port));
    // The decorator changes nothing on the wire.
    EXPECT_EQ(t.line.wireFromHost(), bytesOf({0xAA, 0x0D, 0, 0, 0, 0, 0xAA, 0x0E, 0, 0, 0, 0}));

    const auto writes = t.line.eventsOf(Kind::Write);
    const auto reads = t.line.eventsOf(Kind::Read);
    ASSERT_EQ(writes.size(), 2u);
    ASSERT_EQ(reads.size(), 2u);
    // Writes are stamped when they begin, reads when their bytes are in.
    EXPECT_EQ(t.wireLines(), (std::vector<std::string>{
                                 stamp(writes[0]->at - t.origin) + "-> AA 0D 00 00 00 00",
                                 stamp(reads[0]->endedAt - t.origin) + "<- AA 0E 0D 00 00 00",
                                 stamp(reads[1]->endedAt - t.origin) + "<- AA 0D 00 00 00 00",
                                 stamp(writes[1]->at - t.origin) + "-> AA 0E 00 00 00 00",
                             }));
    ASSERT_FALSE(t.traced.empty());
    EXPECT_EQ(t.traced.front(), "    0.000 ms  open COM1");
}

TEST(Trace, PortEventsWorthKnowingAreListed) {
    TracedLine t;
    t.prepare();
    restorePortSettings(t.port);
    RecordingWindow window;
    ASSERT_TRUE(closePort(t.port, window));
    const auto has = [&](std::string_view what) {
        for (const std::string& l : t.traced) {
            if (l.find(what) != std::string::npos) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(has("ms  set line 14400 baud 8N1, "));
    // The settings put back.
    EXPECT_TRUE(has("ms  set line 9600 baud 7E2, CTS and XON/XOFF flow control"));
    EXPECT_TRUE(has("ms  purge"));
    EXPECT_TRUE(has("ms  close"));
    EXPECT_FALSE(has("failed"));
}

TEST(Trace, ReadsThatTimeOutEmptyAreShown) {
    TracedLine t({.silent = true});
    t.prepare();
    EXPECT_FALSE(receiveReply(t.port, 1).success);
    ASSERT_EQ(t.wireLines().size(), 1u);
    EXPECT_NE(t.wireLines()[0].find("<- nothing (6 asked)"), std::string::npos);
}

TEST(Trace, LongTransfersAreSummarisedWithTheirFirstBytes) {
    TracedLine t({.mode = sim::BoardMode::Download});
    t.prepare();
    std::vector<std::uint8_t> image(600);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i);
    }
    const TransferCount sent = writeChunked(t.port, image.data(), 600, nullptr);
    EXPECT_EQ(sent.count, 600u);
    const std::vector<std::string> wire = t.wireLines();
    ASSERT_EQ(wire.size(), 2u);
    EXPECT_EQ(wire[0].substr(wire[0].find("->")), "-> 512 bytes  00 01 02 03 04 05 06 07 ...");
    EXPECT_EQ(wire[1].substr(wire[1].find("->")), "-> 88 bytes  00 01 02 03 04 05 06 07 ...");
}

// ---------------------------------------------------------------------------------------------
// The progress bar on a terminal

TEST(ProgressBar, RedrawsInPlaceAndLetsTraceLinesPassAbove) {
    std::ostringstream err;
    StatusLine status(err);
    cli::ProgressBar bar(status);
    bar.setRange(1000);
    bar.setPosition(500);
    status.printAbove("trace one");
    bar.setPosition(1000);
    status.printAbove("trace two");
    status.finish();
    EXPECT_EQ(screenOf(err.str()), (std::vector<std::string>{"trace one", "trace two",
                                                             cli::renderProgress(1000, 1000), ""}));
    EXPECT_NE(cli::renderProgress(1000, 1000).find("100%"), std::string::npos);
}

TEST(ProgressBar, OutOfRangePositionsDrawAFullOrEmptyBar) {
    EXPECT_EQ(cli::renderProgress(7000, 5695), cli::renderProgress(5695, 5695));
    EXPECT_NE(cli::renderProgress(0, 0).find("100%"), std::string::npos);
    EXPECT_NE(cli::renderProgress(0, 5695).find("  0%"), std::string::npos);
    // Near the top of the range the percentage must not wrap around.
    EXPECT_NE(cli::renderProgress(0xFFFFFFFEu, 0xFFFFFFFFu).find(" 99%"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// The command line

CliRun runWith(std::vector<std::string> args, Platform& platform, bool terminal = false,
               const fs::path& devRoot = "/dev", const fs::path& sysRoot = "/sys") {
    return runCliWith(std::move(args), platform, {terminal, devRoot, sysRoot, {}});
}

TEST(CommandLine, UsageErrorsExitWithTwoAndTouchNoPort) {
    const std::vector<std::vector<std::string>> wrong{
        {},
        {"flash"},
        {"download", "--port"},
        {"download", "--port", "COM5"},
        {"download", "--port", "COM10"},
        {"update", "--port", "COM0"},
        {"update", "--port", "ttyUSB0"},
        {"update", "--speed", "9600"},
        {"update", "extra"},
        {"ports", "--port", "COM1"},
    };
    for (const auto& args : wrong) {
        sim::SimulatedLine line;
        const CliRun run = runWith(args, line);
        const std::string shown = args.empty() ? "(none)" : args.front();
        EXPECT_EQ(run.status, cli::ExitUsage) << shown;
        EXPECT_FALSE(run.err.empty()) << shown;
        EXPECT_TRUE(line.events.empty()) << shown;
    }
}

TEST(CommandLine, HelpAndVersionExitWithZero) {
    sim::SimulatedLine line;
    const CliRun help = runWith({"--help"}, line);
    EXPECT_EQ(help.status, cli::ExitSuccess);
    for (const char* word : {"download", "update", "ports"}) {
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    }
    const CliRun portHelp = runWith({"update", "--help"}, line);
    EXPECT_EQ(portHelp.status, cli::ExitSuccess);
    EXPECT_NE(portHelp.out.find("--port"), std::string::npos);

    const CliRun version = runWith({"--version"}, line);
    EXPECT_EQ(version.status, cli::ExitSuccess);
    EXPECT_NE(version.out.find(version::Number), std::string::npos);
    EXPECT_NE(version.out.find(version::Text), std::string::npos);
    EXPECT_TRUE(line.events.empty());
}

TEST(CommandLine, UpdateSucceedsWithTheSuccessTextAloneOnStandardOutput) {
    sim::SimulatedLine line;  // the board runs its firmware
    const CliRun run = runWith({"update", "--port", "com1"}, line);
    EXPECT_EQ(run.status, cli::ExitSuccess);
    EXPECT_EQ(run.out, std::string(messages::Success.update) + "\n");
    EXPECT_EQ(run.err, "");  // not a terminal: no progress at all
    EXPECT_FALSE(line.board.programmedPayload().empty());
}

TEST(CommandLine, DownloadOnATerminalDrawsOneBarPerTransferThenTheBox) {
    sim::SimulatedLine line({.mode = sim::BoardMode::Download});
    const CliRun run = runWith({"download"}, line, true);
    EXPECT_EQ(run.status, cli::ExitSuccess);
    EXPECT_EQ(run.out, std::string(messages::Success.download) + "\n");
    const std::vector<std::string> screen = screenOf(run.err);
    ASSERT_EQ(screen.size(), 3u) << run.err;
    EXPECT_NE(screen[0].find("100%"), std::string::npos) << screen[0];
    EXPECT_NE(screen[1].find("100%"), std::string::npos) << screen[1];
    EXPECT_EQ(screen[2], "");
}

TEST(CommandLine, FailedOperationExitsWithOneAndItsBoxOnStandardError) {
    sim::SimulatedLine line;  // in update mode, so Download must refuse
    const CliRun run = runWith({"download"}, line);
    EXPECT_EQ(run.status, cli::ExitFailed);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, std::string(messages::BoardInUpdateMode.download) + "\n");
}

TEST(CommandLine, PortLeftOpenByAFailedDownloadIsHandedBackBeforeExit) {
    sim::SimulatedLine line({.mode = sim::BoardMode::Download});
    line.faults.writeFault = [](std::span<const std::uint8_t> bytes) -> std::optional<long> {
        if (bytes.size() == 2 && bytes[0] == 0xFF) {
            return -1;  // the wake bytes cannot be sent
        }
        return std::nullopt;
    };
    const CliRun run = runWith({"download"}, line);
    EXPECT_EQ(run.status, cli::ExitFailed);
    EXPECT_EQ(run.err, std::string(messages::CannotUseComPort) + "\n");
    EXPECT_FALSE(line.isOpen());
    EXPECT_EQ(line.settings().fields, sim::SimulatedLine::initialSettings().fields);
    EXPECT_EQ(line.timeouts(), sim::SimulatedLine::initialTimeouts());
}

TEST(CommandLine, PortThatCannotBeOpenedGetsTheBoxAndOneLineOfReason) {
    sim::SimulatedLine line;
    line.faults.openFails = OpenFailure::Kind::Busy;
    const CliRun run = runWith({"update"}, line);
    EXPECT_EQ(run.status, cli::ExitFailed);
    const std::vector<std::string> lines = linesOf(run.err);
    ASSERT_EQ(lines.size(), 3u) << run.err;
    EXPECT_EQ(lines[0] + "\n" + lines[1], messages::CannotOpenPort);
    EXPECT_EQ(lines[2].rfind("/dev/ttyS0: the port is held by another program", 0), 0u) << lines[2];
}

TEST(CommandLine, TraceAndProgressShareTheTerminalCleanly) {
    sim::SimulatedLine line;
    const CliRun run = runWith({"update", "--trace"}, line, true);
    EXPECT_EQ(run.status, cli::ExitSuccess);
    const std::regex traceLine(R"( *\d+\.\d{3} ms  \S.*)");
    const std::regex barLine(R"(\[[#.]{40}\] +\d+%  \d+ / \d+ bytes)");
    const std::vector<std::string> screen = screenOf(run.err);
    ASSERT_GT(screen.size(), 10u);
    std::size_t bars = 0;
    for (std::size_t i = 0; i + 1 < screen.size(); ++i) {
        const bool isBar = std::regex_match(screen[i], barLine);
        bars += isBar ? 1 : 0;
        EXPECT_TRUE(isBar || std::regex_match(screen[i], traceLine))
            << "line " << i << ": " << screen[i];
    }
    EXPECT_EQ(bars, 1u);
    EXPECT_EQ(screen.back(), "");
    EXPECT_EQ(screen.front(), "    0.000 ms  COM1 is /dev/ttyS0");
}

// ---------------------------------------------------------------------------------------------
// The port listing

struct FakeSystem {
    FakeSystem() {
        std::string pattern = (fs::temp_directory_path() / "zq417-cli-XXXXXX").string();
        root = ::mkdtemp(pattern.data());
        fs::create_directories(dev() / "serial" / "by-id");
        for (const char* node : {"ttyS0", "ttyS1", "ttyS10", "ttyS2", "ttyUSB0", "ttyACM1", "tty0",
                                 "ttySX", "console", "ttyUSB"}) {
            std::ofstream(dev() / node).put('\0');
        }
        fs::create_symlink("../../ttyUSB0", dev() / "serial" / "by-id" / "usb-Maker_Cable-if00");
        for (const auto& [node, type] : {std::pair{"ttyS0", "4"}, std::pair{"ttyS1", "0"}}) {
            fs::create_directories(sys() / "class" / "tty" / node);
            std::ofstream(sys() / "class" / "tty" / node / "type") << type << '\n';
        }
    }
    ~FakeSystem() { fs::remove_all(root); }

    fs::path dev() const { return root / "dev"; }
    fs::path sys() const { return root / "sys"; }

    fs::path root;
};

TEST(PortListing, FindsSerialNodesInNumberOrderAndTheComPortsPresent) {
    FakeSystem fake;
    const cli::PortListing listing = cli::listPorts(fake.dev(), fake.sys());
    const fs::path d = fake.dev();
    EXPECT_EQ(listing.devices, (std::vector<fs::path>{d / "ttyS0", d / "ttyS1", d / "ttyS2",
                                                      d / "ttyS10", d / "ttyUSB0", d / "ttyACM1"}));
    ASSERT_EQ(listing.byId.size(), 1u);
    EXPECT_EQ(listing.byId[0].second, fs::canonical(d / "ttyUSB0"));

    ASSERT_EQ(listing.comPorts.size(), 4u);
    EXPECT_TRUE(listing.comPorts[0].present);
    EXPECT_FALSE(listing.comPorts[0].noUart);
    EXPECT_TRUE(listing.comPorts[1].noUart);
    EXPECT_TRUE(listing.comPorts[2].present);
    EXPECT_FALSE(listing.comPorts[3].present);
}

TEST(PortListing, ComPortsMapToTheDevicesTheBackendOpens) {
    const cli::PortListing listing = cli::listPorts("/dev", "/sys");
    for (const cli::ComPortEntry& com : listing.comPorts) {
        EXPECT_EQ(com.device, posixDevicePath(com.name)) << com.name;
    }
}

TEST(PortListing, PortsCommandPrintsTheListingAndSucceeds) {
    FakeSystem fake;
    sim::SimulatedLine line;
    const CliRun run = runWith({"ports"}, line, false, fake.dev(), fake.sys());
    EXPECT_EQ(run.status, cli::ExitSuccess);
    const std::vector<std::string> lines = linesOf(run.out);
    const auto shown = [&](const std::string& l) {
        return std::find(lines.begin(), lines.end(), l) != lines.end();
    };
    EXPECT_TRUE(shown("  " + (fake.dev() / "serial/by-id/usb-Maker_Cable-if00").string() + " -> " +
                      fs::canonical(fake.dev() / "ttyUSB0").string()))
        << run.out;
    EXPECT_TRUE(shown("  COM1  " + (fake.dev() / "ttyS0").string() + "  present")) << run.out;
    EXPECT_TRUE(shown("  COM4  " + (fake.dev() / "ttyS3").string() + "  absent")) << run.out;
}

}  // namespace
}  // namespace zq::test
