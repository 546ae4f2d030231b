// The headless front end: where each box's text lands, the reason printed after a failed open,
// the wire trace, the progress bar on a terminal and the exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/board_result.h"
#include "app/cli/command_line.h"
#include "app/cli/exit_status.h"
#include "app/cli/image_choice.h"
#include "app/cli/json_result.h"
#include "app/cli/reason_text.h"
#include "app/cli/run_output.h"
#include "app/cli/safe_text.h"
#include "app/cli/status_line.h"
#include "image/built_in_image.h"
#include "protocol/packet_ops.h"
#include "serial/posix/posix_platform.h"
#include "serial/tracing_platform.h"
#include "support/cli_run.h"
#include "support/image_files.h"
#include "support/operation_fixture.h"
#include "text/messages.h"

namespace zq::test {
namespace {

namespace fs = std::filesystem;
using cli::StatusLine;
using Lines = std::vector<std::string>;

std::string lineOf(std::string_view text) {
    return std::string(text) + "\n";
}

// What a terminal shows after receiving `text`: a carriage return goes back to the start of the
// line, a line feed starts the next one, anything else overwrites the cell under the cursor.
Lines screenOf(const std::string& text) {
    Lines lines(1);
    std::size_t column = 0;
    for (const char c : text) {
        if (c == '\n') {
            lines.emplace_back();
        }
        if (c == '\r' || c == '\n') {
            column = 0;
            continue;
        }
        std::string& line = lines.back();
        line.resize(std::max(line.size(), column + 1), ' ');
        line[column++] = c;
    }
    for (std::string& line : lines) {
        line.erase(line.find_last_not_of(' ') + 1);
    }
    return lines;
}

// ---------------------------------------------------------------------------------------------
// Message boxes

// Each box on a line of its own, "OK" boxes on standard output and "Error" boxes with the reason
// after them on standard error, so a script can tell them apart and a log keeps the exact wording.
TEST(RunOutput, PlainBoxesGoToStandardOutputErrorBoxesAndTheirReasonToStandardError) {
    std::ostringstream out;
    std::ostringstream err;
    cli::RunOutput output(out, err, cli::ProgressStyle::None, {"COM1"}, false);
    output.box(0, BoxStyle::Error, messages::BoardNotAnswering.update, "");
    output.box(0, BoxStyle::Plain, messages::Success.update, "");
    output.box(0, BoxStyle::Error, messages::CannotClosePort, "");
    output.box(0, BoxStyle::Plain, "plain", "");
    output.box(0, BoxStyle::Error, messages::CannotOpenPort, "the reason");
    EXPECT_EQ(out.str(), lineOf(messages::Success.update) + "plain\n");
    EXPECT_EQ(err.str(), lineOf(messages::BoardNotAnswering.update) +
                             lineOf(messages::CannotClosePort) + lineOf(messages::CannotOpenPort) +
                             "the reason\n");
}

// ---------------------------------------------------------------------------------------------
// The reason after a failed open

TEST(OpenFailureText, OneLineThatNamesTheDeviceAndWhatHappened) {
    using K = OpenFailure::Kind;
    struct Case {
        OpenFailure why;
        std::string_view starts;
        std::string_view says;
        std::string_view never = "\n";
    };
    // Without a group that grants access, the advice names the owner and the administrator,
    // never an empty group name and never a group to join.
    for (const Case& c :
         {Case{{K::PermissionDenied, 13, "", "dialout"},
               "/dev/ttyS0: permission denied",
               "add yourself to the group 'dialout'"},
          Case{{K::PermissionDenied, 13, "", "uucp"}, "/dev/ttyS0: ", "group 'uucp'", "dialout"},
          Case{{K::PermissionDenied, 13, "", ""},
               "/dev/ttyS0: permission denied",
               "administrator",
               "group '"},
          Case{{K::PermissionDenied, 13, "", "", "user root, group root, mode crw-------"},
               "/dev/ttyS0: permission denied (user root, group root, mode crw-------)",
               "an administrator must grant it (for example with a udev rule)",
               "usermod"},
          Case{{K::Busy}, "/dev/ttyS0: ", "held by another program"},
          Case{{K::Busy, 16, "", "", "", {"1234 (minicom)"}},
               "/dev/ttyS0: the port is held by 1234 (minicom)",
               "close that program"},
          Case{{K::NoSuchDevice}, "/dev/ttyS0: ", "no such device"},
          Case{{K::NotATerminal}, "/dev/ttyS0: ", "not a terminal"},
          Case{{K::Other, 0, ""}, "/dev/ttyS0: ", ""}}) {
        const std::string line = cli::explainOpenFailure(c.why, "/dev/ttyS0");
        EXPECT_EQ(line.rfind(c.starts, 0), 0u) << line;
        EXPECT_NE(line.find(c.says), std::string::npos) << line;
        EXPECT_EQ(line.find(c.never), std::string::npos) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    }
    EXPECT_EQ(cli::explainOpenFailure({K::Other, 5, "/dev/ttyS0: I/O error"}, "/dev/ttyS0"),
              "/dev/ttyS0: I/O error");
    EXPECT_EQ(cli::explainOpenFailure({}, "/dev/ttyS0"), "");
}

// ---------------------------------------------------------------------------------------------
// What an outcome makes of a board's result: its exit status, the reason after its box, the
// --latency advice and the JSON fields

Outcome outcomeOf(OutcomeKind kind, Step step, TransferMode performed,
                  void (*more)(Outcome&) = nullptr) {
    Outcome o;
    o.kind = kind;
    o.step = step;
    o.performed = performed;
    o.boardMode = performed == ModeUpdate ? BoardMode::Update : BoardMode::Download;
    if (more != nullptr) {
        more(o);
    }
    return o;
}

TEST(OutcomeText, EachOutcomeHasItsExitStatusReasonAdviceAndJsonFields) {
    using K = OutcomeKind;
    const SystemError gone{.code = 5, .text = "Input/output error", .deviceGone = true};
    struct Case {
        Outcome outcome;
        int exit;
        std::string_view reason;  // a part of it; empty: no reason at all
        unsigned latency = 0;     // the --latency advised; 0: no advice
    };
    const std::vector<Case> cases = {
        {outcomeOf(K::Success, Step::None, ModeUpdate, [](Outcome& o) { o.status = 0x0100; }), 0,
         ""},
        {outcomeOf(K::ImageRefused, Step::None, ModeDownload,
                   [](Outcome& o) { o.image = ImagePlanFault::TooLong; }),
         4, "the image is longer than the board's"},
        {outcomeOf(K::ImageRefused, Step::None, ModeDownload), 4, "there is no image to send"},
        {outcomeOf(K::PortNotOpened, Step::Open, ModeUpdate,
                   [](Outcome& o) { o.open.kind = OpenFailure::Kind::Busy; }),
         3, "/dev/ttyS0: the port is held by another program"},
        {outcomeOf(
             K::PortNotConfigured, Step::Configure, ModeUpdate,
             [](Outcome& o) {
                 o.fault = {"apply the line settings", {.code = 22, .text = "Invalid argument"}};
             }),
         3, "/dev/ttyS0: apply the line settings failed: Invalid argument (error 22)"},
        {outcomeOf(K::PortNotConfigured, Step::Configure, ModeUpdate), 3, ""},
        {outcomeOf(K::PortNotReleased, Step::Open, ModeUpdate), 3, ""},
        {outcomeOf(K::BoardInOtherMode, Step::Handshake, ModeUpdate), 5,
         "the board answered the handshake, so it runs its firmware (update mode)"},
        {outcomeOf(K::NoAnswer, Step::Handshake, ModeUpdate,
                   [](Outcome& o) { o.handshake.tries = 60; }),
         1, "the board never answered the handshake (60 tries): probably not powered"},
        {outcomeOf(K::NoAnswer, Step::Handshake, ModeDownload,
                   [](Outcome& o) { o.handshake.tries = 60; }),
         1, "nothing answered the handshake after the image went to the loader (60 tries)"},
        {outcomeOf(K::NotUnderstood, Step::Handshake, ModeUpdate,
                   [](Outcome& o) { o.handshake = {.tries = 60, .bytesSeen = 90}; }),
         1, "90 bytes came back in 60 handshake tries but never the board's answer"},
        {outcomeOf(K::NotUnderstood, Step::Handshake, ModeUpdate,
                   [](Outcome& o) {
                       o.handshake = {.tries = 60, .bytesSeen = 180, .partialReply = true};
                   }),
         1, "180 bytes came back", 50},
        {outcomeOf(K::NotSent, Step::WakeBytes, ModeDownload,
                   [](Outcome& o) {
                       o.fault.call = "write";
                       o.wanted = 2;
                   }),
         1, "the port refused the write of 2 bytes after 0"},
        {outcomeOf(K::NotSent, Step::TransferFirmware, ModeUpdate,
                   [](Outcome& o) { o.fault.call = "write"; }),
         1, "the port refused the write of the TransferFirmware packet"},
        {outcomeOf(K::NotSent, Step::Payload, ModeUpdate,
                   [](Outcome& o) {
                       o.sent = {true, 100};
                       o.wanted = 5728;
                   }),
         1, "the port took only 100 of 5728 bytes of the image within the write's time limit"},
        {outcomeOf(
             K::NotSent, Step::LoaderImage, ModeDownload,
             [](Outcome& o) {
                 o.fault = {"write", {.code = 5, .text = "Input/output error", .deviceGone = true}};
             }),
         1,
         "/dev/ttyS0: write failed: Input/output error (error 5); the device has gone: "
         "unplugged, switched off, or the line hung up"},
        {outcomeOf(K::NoReply, Step::PayloadAck, ModeUpdate), 1,
         "the board never answered the image"},
        {outcomeOf(K::NoReply, Step::TransferFirmware, ModeUpdate,
                   [](Outcome& o) { o.reply = {.received = 3, .got = ackPacket(), .lateBy = {}}; }),
         1, "only 3 of 6 bytes of the board's reply (AA 0E 00) came within", 50},
        {outcomeOf(K::WrongReply, Step::TransferFirmware, ModeUpdate,
                   [](Outcome& o) {
                       o.reply = {.expectedId = IdAck,
                                  .expectedParam = IdTransferFirmware,
                                  .received = 6,
                                  .got = makePacket(0xAA, IdAck, 0x07, 0, 0, 0),
                                  .accepted = true,
                                  .lateBy = {}};
                   }),
         1,
         "the board answered with Ack (AA 0E 07 00 00 00) instead of the Ack of the "
         "TransferFirmware packet"},
        {outcomeOf(K::WrongReply, Step::PayloadAck, ModeUpdate,
                   [](Outcome& o) {
                       o.reply = {
                           .expectedId = IdAck, .received = 6, .got = syncPacket(), .lateBy = {}};
                   }),
         1, "bytes that are no packet (AA 0D 00 00 00 00) instead of the Ack of the image"},
        {outcomeOf(K::LateReply, Step::TransferFirmware, ModeUpdate,
                   [](Outcome& o) {
                       o.reply = {.expectedId = IdAck,
                                  .received = 6,
                                  .got = ackPacket(),
                                  .accepted = true,
                                  .lateBy = std::chrono::microseconds(31500)};
                   }),
         1, "came after its window and was read 31.5 ms after that request", 40},
        {outcomeOf(K::LateReply, Step::PayloadAck, ModeUpdate,
                   [](Outcome& o) {
                       o.reply = {.received = 6, .got = ackPacket(), .lateBy = milliseconds(3)};
                   }),
         1, "a late reply", 20},
        {outcomeOf(K::EepromFailed, Step::Status, ModeUpdate,
                   [](Outcome& o) { o.status = 0x0080; }),
         1, "the board reported status 0x0080 after programming (bit 7: programming failed)"},
        {outcomeOf(K::StatusNotReported, Step::Status, ModeUpdate), 1,
         "the board did not report its status after programming"},
        {outcomeOf(K::StatusNotReported, Step::Status, ModeUpdate,
                   [](Outcome& o) {
                       o.fault = {"read", {.code = 5, .text = "Input/output error"}};
                   }),
         1, "/dev/ttyS0: read failed: Input/output error (error 5)"},
        {outcomeOf(K::Interrupted, Step::Payload, ModeUpdate, [](Outcome& o) { o.signal = 15; }),
         143, ""},
    };
    for (const Case& c : cases) {
        const Outcome& o = c.outcome;
        SCOPED_TRACE(std::to_string(static_cast<int>(o.kind)) + " " + std::string(c.reason));
        EXPECT_EQ(cli::exitStatusFor(o), c.exit);
        const std::string reason = cli::explainOutcome(o, "/dev/ttyS0");
        EXPECT_EQ(reason.empty(), c.reason.empty()) << reason;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
        const std::string advice = cli::latencyAdvice(o);
        EXPECT_EQ(advice.empty(), c.latency == 0) << advice;
        if (c.latency != 0) {
            EXPECT_NE(advice.find("try --latency " + std::to_string(c.latency) + ","),
                      std::string::npos)
                << advice;
        }

        cli::BoardResult result;
        cli::recordOutcome(result, o, true);
        const nlohmann::json json = nlohmann::json::parse(cli::jsonLine(result));
        EXPECT_EQ(json.at("exit"), c.exit);
        EXPECT_EQ(json.at("performed"), o.performed == ModeUpdate ? "update" : "download");
        EXPECT_EQ(json.at("board_mode"), o.performed == ModeUpdate ? "update" : "download");
        EXPECT_EQ(json.at("status"),
                  o.status ? nlohmann::json(*o.status) : nlohmann::json(nullptr));
    }

    // Before the probe of a flash nothing ran and nothing is known of the board.
    cli::BoardResult early;
    cli::recordOutcome(early,
                       outcomeOf(K::PortNotOpened, Step::Open, ModeDownload,
                                 [](Outcome& o) { o.boardMode = BoardMode::Unknown; }),
                       false);
    const nlohmann::json json = nlohmann::json::parse(cli::jsonLine(early));
    EXPECT_EQ(json.at("exit"), 3);
    EXPECT_TRUE(json.at("performed").is_null());
    EXPECT_TRUE(json.at("board_mode").is_null());

    // A close that failed after the outcome has its own line, with the system's reason.
    Outcome closed = outcomeOf(K::Success, Step::None, ModeUpdate);
    EXPECT_EQ(cli::explainCloseFailure(closed, "/dev/ttyS0"), "");
    closed.closeFault = {"close", gone};
    EXPECT_EQ(cli::explainCloseFailure(closed, "/dev/ttyS0"),
              "/dev/ttyS0: close failed: Input/output error (error 5); the device has gone: "
              "unplugged, switched off, or the line hung up");
    EXPECT_EQ(cli::exitStatusFor(closed), 0);
}

// ---------------------------------------------------------------------------------------------
// The wire trace

std::string stamp(sim::SimTime at) {
    char text[32];
    std::snprintf(text, sizeof text, "%9.3f ms  ",
                  std::chrono::duration<double, std::milli>(at).count());
    return text;
}

struct TracedLine {
    explicit TracedLine(sim::BoardConfig board = {}) : line(std::move(board)) {}

    sim::SimulatedLine line;
    // The trace counts from its own start, not from the clock's zero.
    sim::SimTime origin = (line.clock.advanceBy(std::chrono::seconds(3)), line.clock.now());
    Lines traced;
    TracingPlatform tracing{line, [this](std::string_view l) { traced.emplace_back(l); }};
    PortState port{tracing};

    void prepare() {
        ASSERT_TRUE(openPort(port, "COM1"));
        ASSERT_TRUE(initPort(port));
        ASSERT_TRUE(setLine(port, LineSpeed));
        purgePort(port);
    }
    Lines wireLines() const {
        Lines wire;
        std::copy_if(traced.begin(), traced.end(), std::back_inserter(wire), [](const auto& l) {
            return l.find(" ms  -> ") != std::string::npos ||
                   l.find(" ms  <- ") != std::string::npos;
        });
        return wire;
    }
    bool traces(std::string_view what) const {
        return std::any_of(traced.begin(), traced.end(),
                           [&](const auto& l) { return l.find(what) != std::string::npos; });
    }
};

TEST(Trace, HandshakeShowsEachPacketWithItsDirectionAndTimeAndThePortEventsAroundIt) {
    TracedLine t;
    t.prepare();
    ASSERT_TRUE(syncDevice(t.port));
    restorePortSettings(t.port);
    RecordingWindow window;
    ASSERT_TRUE(closePort(t.port, window));
    // The decorator changes nothing on the wire.
    EXPECT_EQ(t.line.wireFromHost(), bytesOf({0xAA, 0x0D, 0, 0, 0, 0, 0xAA, 0x0E, 0, 0, 0, 0}));

    const auto writes = t.line.eventsOf(Kind::Write);
    const auto reads = t.line.eventsOf(Kind::Read);
    ASSERT_EQ(writes.size(), 2u);
    ASSERT_EQ(reads.size(), 2u);
    // Writes are stamped when they begin, reads when their bytes are in.
    ASSERT_EQ(t.wireLines(), (Lines{
                                 stamp(writes[0]->at - t.origin) + "-> AA 0D 00 00 00 00",
                                 stamp(reads[0]->endedAt - t.origin) + "<- AA 0E 0D 00 00 00",
                                 stamp(reads[1]->endedAt - t.origin) + "<- AA 0D 00 00 00 00",
                                 stamp(writes[1]->at - t.origin) + "-> AA 0E 00 00 00 00",
                             }));
    EXPECT_EQ(t.traced.front(), "    0.000 ms  open COM1");
    // 9600 7E2 with flow control is the line as it was found, put back.
    for (const char* event : {"ms  set line 14400 baud 8N1, ", "ms  purge", "ms  close",
                              "ms  set line 9600 baud 7E2, CTS and XON/XOFF flow control"}) {
        EXPECT_TRUE(t.traces(event)) << event;
    }
    EXPECT_FALSE(t.traces("failed"));
}

TEST(Trace, LongTransfersAreSummarisedAndReadsThatTimeOutEmptyAreShown) {
    TracedLine t({.mode = sim::BoardMode::Download, .silent = true});
    t.prepare();
    std::vector<std::uint8_t> image(600);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i);
    }
    EXPECT_EQ(writeChunked(t.port, image.data(), 600, nullptr).count, 600u);
    EXPECT_FALSE(receiveReply(t.port, 1).success);
    const Lines wire = t.wireLines();
    ASSERT_EQ(wire.size(), 3u);
    EXPECT_EQ(wire[0].substr(wire[0].find("->")), "-> 512 bytes  00 01 02 03 04 05 06 07 ...");
    EXPECT_EQ(wire[1].substr(wire[1].find("->")), "-> 88 bytes  00 01 02 03 04 05 06 07 ...");
    EXPECT_EQ(wire[2].substr(wire[2].find("<-")), "<- nothing (6 asked)");
}

// ---------------------------------------------------------------------------------------------
// The progress bar on a terminal

// A trace line never lands in the bar, and a box after a finished bar starts on a line of its own.
TEST(StatusLine, RedrawsInPlaceAndLetsTraceLinesAndBoxesPassAbove) {
    std::ostringstream err;
    StatusLine status{err};
    status.show(cli::renderProgress(500, 1000));
    status.printAbove("trace one");
    status.show(cli::renderProgress(1000, 1000));
    status.printAbove("trace two");
    status.finish();
    err << messages::CannotUsePort << '\n';
    EXPECT_EQ(screenOf(err.str()), (Lines{"trace one", "trace two", cli::renderProgress(1000, 1000),
                                          std::string(messages::CannotUsePort), ""}));
}

TEST(ProgressBar, OutOfRangePositionsDrawAFullOrEmptyBar) {
    EXPECT_EQ(cli::renderProgress(7000, 5695), cli::renderProgress(5695, 5695));
    EXPECT_NE(cli::renderProgress(5695, 5695).find("100%"), std::string::npos);
    EXPECT_NE(cli::renderProgress(0, 0).find("100%"), std::string::npos);
    EXPECT_NE(cli::renderProgress(0, 5695).find("  0%"), std::string::npos);
    // Near the top of the range the percentage must not wrap around.
    EXPECT_NE(cli::renderProgress(0xFFFFFFFEu, 0xFFFFFFFFu).find(" 99%"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// The command line

TEST(CommandLine, RunsThatTouchNoPortExitWithZeroOrWithTwoForAUsageError) {
    const auto check = [](const std::string& command, int status) {
        std::istringstream words(command);
        const std::vector<std::string> args{std::istream_iterator<std::string>(words),
                                            std::istream_iterator<std::string>()};
        sim::SimulatedLine line;
        const CliRun run = runCliWith(args, line);
        EXPECT_EQ(run.status, status) << command;
        EXPECT_FALSE((status == cli::ExitUsage ? run.err : run.out).empty()) << command;
        EXPECT_TRUE(line.events.empty()) << command;
    };
    for (const char* wrong :
         {"", "frobnicate", "download --port", "download --port COM5", "download --port COM10",
          "update --port COM0", "update --port ttyUSB0", "update --speed 9600", "update extra",
          "ports --port COM1"}) {
        check(wrong, cli::ExitUsage);
    }
    for (const char* asked : {"--help", "update --help", "--version"}) {
        check(asked, cli::ExitSuccess);
    }
}

// File and port names are byte strings: control characters on a terminal, and bytes that are not
// UTF-8 anywhere (they would make JSON invalid), come out as \xNN.
TEST(CommandLine, NamesAreWrittenWithControlsAndBytesThatAreNotUtf8Escaped) {
    struct Case {
        std::string name;
        std::string valid;
        std::string printable;
    };
    const std::string unicode = "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\x8c";
    const std::string invalid = "\xe0\x80\xaf \xed\xa0\x80 \xf4\x90\x80\x80 \xff \xe2\x82";
    const std::string invalidEscaped =
        "\\xe0\\x80\\xaf \\xed\\xa0\\x80 \\xf4\\x90\\x80\\x80 \\xff \\xe2\\x82";
    for (const Case& c : {
             Case{"/dev/ttyUSB0", "/dev/ttyUSB0", "/dev/ttyUSB0"},
             Case{unicode, unicode, unicode},
             // C0 and DEL; CSI as a C1 control
             Case{"\x1b[2J\x7f\t", "\x1b[2J\x7f\t", "\\x1b[2J\\x7f\\x09"},
             Case{"\xc2\x9b"
                  "1m",
                  "\xc2\x9b"
                  "1m",
                  "\\xc2\\x9b1m"},
             // Overlong, a surrogate, past U+10FFFF, a stray byte, a sequence cut short
             Case{invalid, invalidEscaped, invalidEscaped},
         }) {
        EXPECT_EQ(cli::validUtf8(c.name), c.valid);
        EXPECT_EQ(cli::printableName(c.name), c.printable);
    }
    sim::SimulatedLine line;
    const CliRun run = runCliWith({"update", "--port", "tty\x1b[31m"}, line);
    EXPECT_EQ(run.err, "--port tty\\x1b[31m: not a port name; did you mean /dev/tty\\x1b[31m?\n");
}

TEST(CommandLine, PortLeftOpenByAFailedDownloadIsHandedBackBeforeExit) {
    sim::SimulatedLine line({.mode = sim::BoardMode::Download});
    line.faults.writeFault = failWritesStartingWith({0xFF, 0xFF});  // the wake bytes
    const CliRun run = runCliWith({"download", "--quiet"}, line);
    EXPECT_EQ(run.status, cli::ExitFailed);
    // Quiet keeps the image's name, beside the progress it leaves out.
    EXPECT_EQ(
        run.err,
        lineOf(cli::identityLine(identifyImage("built-in", {builtInImage(), BuiltInImageLength}))) +
            lineOf(messages::CannotUseComPort) +
            lineOf("the port refused the write of 2 bytes after 0"));
    EXPECT_FALSE(line.isOpen());
    EXPECT_EQ(line.settings().fields, sim::SimulatedLine::initialSettings().fields);
    EXPECT_EQ(line.timeouts(), sim::SimulatedLine::initialTimeouts());
}

// Download sends the image twice, so two bars stay on screen, each after its handshake and the
// second followed by the programming count; trace lines, when asked for, pass above the bar
// without garbling it. Off a terminal there is no bar at all.
TEST(CommandLine, OnATerminalEachTransferLeavesOneFullBarAndTraceLinesPassAboveIt) {
    sim::SimulatedLine offTerminal({.mode = sim::BoardMode::Download});
    EXPECT_EQ(runCliWith({"download"}, offTerminal).err.find('\r'), std::string::npos);
    const std::regex traceLine(R"( *\d+\.\d{3} ms  \S.*)");
    const std::regex barLine(R"((loader|firmware) +\[#{40}\] 100%  (\d+) / \2 bytes)");
    const std::regex stageLine(
        R"(probing +waiting for the board to answer the handshake|programming +the EEPROM, about 0\.\d s left)");
    for (const bool trace : {false, true}) {
        sim::SimulatedLine line({.mode = sim::BoardMode::Download});
        const CliRun run = runCliWith(trace ? std::vector<std::string>{"download", "--trace"}
                                            : std::vector<std::string>{"download"},
                                      line, {.terminal = true});
        EXPECT_EQ(run.status, cli::ExitSuccess);
        EXPECT_EQ(run.out, lineOf(messages::Success.download));
        const Lines screen = screenOf(run.err);
        EXPECT_EQ(screen.back(), "");
        EXPECT_EQ(screen.front(), cli::identityLine(identifyImage(
                                      "built-in", {builtInImage(), BuiltInImageLength})));
        EXPECT_EQ(screen.at(1).starts_with("    0.000 ms  COM1 is /dev/ttyS0"), trace);
        std::size_t bars = 0;
        for (std::size_t i = 1; i + 1 < screen.size(); ++i) {
            bars += std::regex_match(screen[i], barLine) ? 1 : 0;
            EXPECT_TRUE(std::regex_match(screen[i], barLine) ||
                        std::regex_match(screen[i], stageLine) ||
                        (trace && std::regex_match(screen[i], traceLine)))
                << "line " << i << ": " << screen[i];
        }
        EXPECT_EQ(bars, 2u) << run.err;
    }
}

}  // namespace
}  // namespace zq::test
