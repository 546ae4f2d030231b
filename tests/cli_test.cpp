// The headless front end: where each box's text lands, how an outcome is rendered (exit status,
// reason, advice, JSON), the wire trace, the progress on a terminal and in a log, the command
// line's usage errors and several boards in one command.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <numeric>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/command_line.h"
#include "app/cli/exit_status.h"
#include "app/cli/terminal_printer.h"
#include "app/explain/reason_text.h"
#include "app/records/record_json.h"
#include "app/records/safe_text.h"
#include "app/version.h"
#include "image/built_in_image.h"
#include "image/image_identity.h"
#include "protocol/packet_ops.h"
#include "serial/forwarding_platform.h"
#include "serial/tracing_platform.h"
#include "support/cli_run.h"
#include "support/faulty_platform.h"
#include "support/identity_line.h"
#include "support/operation_fixture.h"
#include "support/text_lines.h"
#include "text/messages.h"

namespace zq::test {
namespace {

using Json = nlohmann::json;
using Lines = std::vector<std::string>;

// A plain progress line without the UTC time to the millisecond in front of it.
std::string unstamped(const std::string& line) {
    static const std::regex stamp(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z )");
    return std::regex_replace(line, stamp, "");
}

// What a terminal shows after receiving `text`: a carriage return goes back to the start of the
// line, a line feed starts the next one, ESC [ n A moves n lines up, ESC [ 2 K blanks the line and
// ESC [ J everything below; anything else overwrites the cell under the cursor.
Lines screenOf(const std::string& text) {
    Lines lines(1);
    std::size_t row = 0;
    std::size_t column = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\x1b') {
            const std::size_t end = text.find_first_of("AJK", i);
            if (text[end] == 'A') {
                row -= std::stoul(text.substr(i + 2, end - i - 2));
            } else {
                lines.resize(text[end] == 'J' ? row + 1 : lines.size());
                lines[row].clear();
            }
            i = end;
            continue;
        }
        if (c == '\n' && ++row == lines.size()) {
            lines.emplace_back();
        }
        if (c == '\r' || c == '\n') {
            column = 0;
            continue;
        }
        std::string& line = lines[row];
        line.resize(std::max(line.size(), column + 1), ' ');
        line[column++] = c;
    }
    for (std::string& line : lines) {
        line.erase(line.find_last_not_of(' ') + 1);
    }
    return lines;
}

// ---------------------------------------------------------------------------------------------
// What an outcome makes of a board's result: its exit status, the reason after its box, the
// --latency advice and the JSON fields. One row for each way of saying it; every reason is one
// line.

TEST(OutcomeText, EachOutcomeHasItsExitStatusReasonAdviceAndJsonFields) {
    using K = OutcomeKind;
    using Open = OpenFailure::Kind;
    struct Case {
        Outcome outcome;
        int exit;
        std::string_view reason;  // a part of it; empty: no reason at all
        unsigned latency = 0;     // the --latency advised; 0: no advice
    };
    const std::vector<Case> cases = {
        {{.kind = K::Success, .performed = ModeUpdate, .status = 0x0100}, 0, ""},
        {{.kind = K::ImageRefused,
          .phase = PhaseDownload,
          .image = {ImagePlanFault::TooLong, 8200, 8192}},
         4,
         "8200 bytes to load, more than the 8192 a Download takes"},
        {{.kind = K::ImageRefused, .image = {ImagePlanFault::NoImage}},
         4,
         "there is no image to send"},
        // Joining a group is advised only where one grants access; otherwise the owner, when known,
        // and an administrator are named.
        {{.kind = K::PortNotOpened, .open = {Open::PermissionDenied, 13, "", "uucp"}},
         3,
         "/dev/ttyS0: permission denied; add yourself to the group 'uucp' (sudo usermod -aG uucp"},
        {{.kind = K::PortNotOpened, .open = {Open::PermissionDenied, 13}},
         3,
         "/dev/ttyS0: permission denied; no group you could join grants access to it: an admin"},
        {{.kind = K::PortNotOpened, .open = {Open::PermissionDenied, 13, "", "", "user root"}},
         3,
         "/dev/ttyS0: permission denied (user root); no group you could join"},
        {{.kind = K::PortNotOpened, .open = {Open::Busy}},
         3,
         "/dev/ttyS0: the port is held by another program; close that program (fuser -v "
         "/dev/ttyS0"},
        {{.kind = K::PortNotOpened,
          .open = {Open::Busy, 16, "", "", "", {"12 (minicom)", "9 (cu)"}}},
         3,
         "/dev/ttyS0: the port is held by 12 (minicom), 9 (cu); close that program"},
        {{.kind = K::PortNotOpened, .open = {Open::NoSuchDevice}}, 3, "/dev/ttyS0: no such device"},
        {{.kind = K::PortNotOpened, .open = {Open::NotATerminal}}, 3, "/dev/ttyS0: not a terminal"},
        {{.kind = K::PortNotOpened, .open = {Open::Other, 5, "/dev/ttyS0: I/O error"}},
         3,
         "/dev/ttyS0: I/O error"},
        {{.kind = K::PortNotOpened, .open = {Open::Other}}, 3, "/dev/ttyS0: the system refused"},
        // A port call the system failed is the reason, whatever the kind would say.
        {{.kind = K::PortNotConfigured,
          .fault = {"apply the line settings", {.code = 22, .text = "Invalid argument"}}},
         3,
         "/dev/ttyS0: apply the line settings failed: Invalid argument (error 22)"},
        {{.kind = K::PortNotReleased}, 3, ""},
        {{.kind = K::BoardInOtherMode},
         5,
         "runs firmware (update mode): its own, or the image a Download loaded before its update "
         "phase failed; use update, or flash"},
        {{.kind = K::NoAnswer, .performed = ModeUpdate, .handshake = {.tries = 60}},
         1,
         "never answered the handshake (60 tries)"},
        {{.kind = K::NoAnswer, .handshake = {.tries = 60}},
         1,
         "after the image went to the loader (60 tries)"},
        {{.kind = K::NotUnderstood, .handshake = {.tries = 60, .bytesSeen = 90}},
         1,
         "90 bytes came back in 60 handshake tries"},
        {{.kind = K::NotSent, .fault = {"write"}, .wanted = 2},
         1,
         "refused the write of 2 bytes after 0"},
        {{.kind = K::NotSent, .step = Step::TransferFirmware, .fault = {"write"}},
         1,
         "refused the write of the TransferFirmware packet"},
        {{.kind = K::NotSent, .step = Step::DataCommand}, 1, "did not take the Data packet within"},
        {{.kind = K::NotSent, .step = Step::Payload, .sent = {true, 100}, .wanted = 5728},
         1,
         "took only 100 of 5728 bytes of the image"},
        {{.kind = K::NoReply, .step = Step::PayloadAck}, 1, "the board never answered the image"},
        {{.kind = K::NoReply, .reply = {.received = 3, .got = ackPacket()}},
         1,
         "only 3 of 6 bytes of the board's reply (AA 0E 00)",
         50},
        {{.kind = K::WrongReply,
          .step = Step::TransferFirmware,
          .reply = {.expectedId = IdAck,
                    .received = 6,
                    .got = makePacket(0xAA, IdAck, 7, 0, 0, 0),
                    .accepted = true}},
         1,
         "with Ack (AA 0E 07 00 00 00) instead of the Ack of the TransferFirmware packet"},
        {{.kind = K::WrongReply,
          .step = Step::PayloadAck,
          .reply = {.expectedId = IdAck, .received = 6, .got = syncPacket()}},
         1,
         "with bytes that are no packet (AA 0D 00 00 00 00) instead of the Ack of the image"},
        // The advice rounds up to the next 10 ms and never offers less than 20.
        {{.kind = K::LateReply,
          .reply = {.received = 6, .got = ackPacket(), .lateBy = std::chrono::microseconds(31500)}},
         1,
         "was read 31.5 ms after that request",
         40},
        {{.kind = K::LateReply,
          .reply = {.received = 6, .got = ackPacket(), .lateBy = milliseconds(3)}},
         1,
         "a late reply",
         20},
        // After the loader took the image the board runs it: the advice is an Update.
        {{.kind = K::LateReply,
          .imageLoaded = true,
          .reply = {.received = 6, .got = ackPacket(), .lateBy = milliseconds(33)}},
         1,
         "a late reply",
         40},
        {{.kind = K::EepromFailed, .status = 0x0080},
         1,
         "reported status 0x0080 after programming"},
        {{.kind = K::StatusNotReported}, 1, "did not report its status after programming"},
        // Gone is a board failure at every stage, even when a port call found it.
        {{.kind = K::BoardGone,
          .reached = OperationStage::Loader,
          .fault = {"apply the line settings",
                    {.code = 5, .text = "Input/output error", .deviceGone = true}}},
         1,
         "the board or its adapter went away during the loader's transfer (/dev/ttyS0: apply"},
        {{.kind = K::Interrupted, .signal = 15}, 143, ""},
    };
    for (const Case& c : cases) {
        Outcome o = c.outcome;
        o.performed = o.performed.value_or(ModeDownload);
        o.boardMode = o.performed == ModeUpdate ? BoardMode::Update : BoardMode::Download;
        SCOPED_TRACE(std::to_string(static_cast<int>(o.kind)) + " " + std::string(c.reason));
        EXPECT_EQ(exitStatusFor(o), c.exit);
        const std::string reason = explainOutcome(o, "/dev/ttyS0");
        EXPECT_EQ(reason.empty(), c.reason.empty()) << reason;
        EXPECT_TRUE(contains(reason, c.reason) && !contains(reason, "\n")) << reason;
        const std::string advice = latencyAdvice(o);
        EXPECT_EQ(advice.empty(), c.latency == 0) << advice;
        const std::string value = "--latency " + std::to_string(c.latency);
        EXPECT_TRUE(c.latency == 0 ||
                    (o.imageLoaded ? contains(advice, "try update " + value + " (or flash " + value)
                                   : contains(advice, "try " + value + ",")))
            << advice;

        station::BoardRecord record;
        record.tries.push_back({.outcome = o, .exit = exitStatusFor(o)});
        record.end = o.succeeded() ? station::BoardEnd::Succeeded : station::BoardEnd::Failed;
        record.exit = exitStatusFor(o);
        const Json json = recordJson(record);
        EXPECT_EQ(json.at("exit"), c.exit);
        EXPECT_EQ(json.at("performed"), o.performed == ModeUpdate ? "update" : "download");
        EXPECT_EQ(json.at("board_mode"), o.performed == ModeUpdate ? "update" : "download");
        EXPECT_EQ(json.at("status"), o.status ? Json(*o.status) : Json(nullptr));
    }

    // Before the probe of a flash nothing ran and nothing is known of the board.
    station::BoardRecord early;
    early.tries.push_back({.outcome = {.kind = K::PortNotOpened}, .exit = ExitPort});
    const Json json = recordJson(early);
    EXPECT_TRUE(json.at("performed").is_null());
    EXPECT_TRUE(json.at("board_mode").is_null());

    // A close that failed after the outcome has its own line, with the system's reason.
    Outcome closed;
    EXPECT_EQ(explainCloseFailure(closed, "/dev/ttyS0"), "");
    closed.closeFault = {"close", {.code = 5, .text = "Input/output error", .deviceGone = true}};
    EXPECT_EQ(explainCloseFailure(closed, "/dev/ttyS0"),
              "/dev/ttyS0: close failed: Input/output error (error 5); the device has gone: "
              "unplugged, switched off, or the line hung up");
    EXPECT_EQ(exitStatusFor(closed), 0);
}

// ---------------------------------------------------------------------------------------------
// The wire trace

// Each packet with its direction and time (writes when they begin, reads when their bytes are in),
// long transfers summarised, reads that time out empty, and the port events around them.
TEST(Trace, ShowsEachPacketWithItsDirectionAndTimeAndThePortEventsAroundIt) {
    sim::SimulatedLine line;
    // The trace counts from its own start, not from the clock's zero.
    line.clock.advanceBy(std::chrono::seconds(3));
    const sim::SimTime origin = line.clock.now();
    Lines traced;
    TracingPlatform tracing{line, [&](std::string_view l) { traced.emplace_back(l); }};
    PortState port{tracing};
    ASSERT_TRUE(openPort(port, "COM1") && initPort(port) && setLine(port, LineSpeed));
    purgePort(port);
    ASSERT_TRUE(syncDevice(port));
    std::vector<std::uint8_t> image(600);
    std::iota(image.begin(), image.end(), 0);
    EXPECT_EQ(writeChunked(port, image.data(), 600, nullptr).count, 600u);
    EXPECT_FALSE(receiveReply(port, 1).success);
    restorePortSettings(port);
    RecordingWindow window;
    ASSERT_TRUE(closePort(port, window));

    const auto at = [&](sim::SimTime t) {
        char text[32];
        std::snprintf(text, sizeof text, "%9.3f ms  ",
                      std::chrono::duration<double, std::milli>(t - origin).count());
        return std::string(text);
    };
    const auto writes = line.eventsOf(Kind::Write);
    const auto reads = line.eventsOf(Kind::Read);
    ASSERT_EQ(writes.size(), 4u);
    ASSERT_EQ(reads.size(), 3u);
    Lines wire;
    std::ranges::copy_if(traced, std::back_inserter(wire), [](const std::string& l) {
        return contains(l, " ms  -> ") || contains(l, " ms  <- ");
    });
    EXPECT_EQ(wire, (Lines{at(writes[0]->at) + "-> AA 0D 00 00 00 00",
                           at(reads[0]->endedAt) + "<- AA 0E 0D 00 00 00",
                           at(reads[1]->endedAt) + "<- AA 0D 00 00 00 00",
                           at(writes[1]->at) + "-> AA 0E 00 00 00 00",
                           at(writes[2]->at) + "-> 512 bytes  00 01 02 03 04 05 06 07 ...",
                           at(writes[3]->at) + "-> 88 bytes  00 01 02 03 04 05 06 07 ...",
                           at(reads[2]->endedAt) + "<- nothing (6 asked)"}));
    EXPECT_EQ(traced.front(), "    0.000 ms  open COM1");
    // 9600 7E2 with flow control is the line as it was found, put back.
    for (const char* event : {"ms  set line 14400 baud 8N1, ", "ms  purge", "ms  close",
                              "ms  set line 9600 baud 7E2, CTS and XON/XOFF flow control"}) {
        EXPECT_TRUE(std::ranges::any_of(traced, [&](auto& l) { return contains(l, event); }))
            << event;
    }
    EXPECT_FALSE(std::ranges::any_of(traced, [](auto& l) { return contains(l, "failed"); }));
}

// ---------------------------------------------------------------------------------------------
// The progress bar on a terminal, and progress lines in a log

TEST(ProgressBar, OutOfRangePositionsDrawAFullOrEmptyBar) {
    EXPECT_EQ(cli::renderProgress(7000, 5695), cli::renderProgress(5695, 5695));
    EXPECT_NE(cli::renderProgress(0, 0).find("100%"), std::string::npos);
    EXPECT_EQ(cli::renderProgress(0, 5695), "[" + std::string(40, '.') + "]   0%  0 / 5695 bytes");
    // Near the top of the range the percentage must not wrap around.
    EXPECT_NE(cli::renderProgress(0xFFFFFFFEu, 0xFFFFFFFFu).find(" 99%"), std::string::npos);
}

// Download sends the image twice, so two bars stay on screen and the programming, counted down
// while it lasts, leaves its time; the handshakes leave nothing. Trace lines, when asked for, pass
// above the bar without garbling it.
TEST(CommandLine, OnATerminalEachTransferLeavesOneFullBarAndTraceLinesPassAboveIt) {
    const std::string full = "[" + std::string(40, '#') + "] 100%  ";
    const Lines expected = {"loader      " + full + "5696 / 5696 bytes",
                            "firmware    " + full + "5728 / 5728 bytes", "programming took 6.2 s",
                            ""};
    for (const bool trace : {false, true}) {
        sim::SimulatedLine line({.mode = sim::BoardMode::Download});
        const CliRun run = runCliWith(trace ? Lines{"download", "--trace"} : Lines{"download"},
                                      line, {.terminal = true});
        EXPECT_EQ(run.status, ExitSuccess);
        EXPECT_EQ(run.out, lineOf(messages::Success.download));
        EXPECT_TRUE(run.err.starts_with(builtInIdentityLine())) << trace;
        EXPECT_TRUE(contains(run.err, "programming the EEPROM, about 6.1 s left")) << trace;
        Lines screen = screenOf(run.err.substr(builtInIdentityLine().size()));
        if (trace) {
            EXPECT_TRUE(screen.front().starts_with("    0.000 ms  COM1 is /dev/ttyS0"));
            std::erase_if(screen, [](const std::string& l) { return l.find(" ms  ") == 9; });
        }
        EXPECT_EQ(screen, expected) << run.err;
    }
}

// Off a terminal each stage says when it starts and ends, each line stamped with the time of day
// and each stage's length on the board's platform, here the line's virtual clock; flash says what
// its probe chose, and a failure box comes after the end of the stage it ended, as it happened;
// --quiet leaves only the results.
TEST(Progress, PlainLinesCarryTheirTimeOnThePlatformAndNameEachPhaseAndWhatFlashChose) {
    sim::SimulatedLine line({.mode = sim::BoardMode::Download});
    const CliRun run = runCliWith({"flash"}, line);
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_TRUE(run.err.starts_with(builtInIdentityLine())) << run.err;
    // The line's clock starts at 2024-05-01T00:00:00Z; a stamp keeps whole milliseconds.
    EXPECT_EQ(linesOf(run.err.substr(builtInIdentityLine().size())),
              (Lines{"2024-05-01T00:00:00.000Z probing: started",
                     "2024-05-01T00:00:01.754Z probing: ended in 1.755 s",
                     "2024-05-01T00:00:01.754Z flash: the board is silent, as in download mode; "
                     "running download",
                     "2024-05-01T00:00:01.754Z loader: started",
                     "2024-05-01T00:00:05.817Z loader: ended, 5696 of 5696 bytes in 4.062 s",
                     "2024-05-01T00:00:05.817Z probing: started",
                     "2024-05-01T00:00:05.839Z probing: ended in 0.023 s",
                     "2024-05-01T00:00:05.839Z firmware: started",
                     "2024-05-01T00:00:09.841Z firmware: ended, 5728 of 5728 bytes in 4.001 s",
                     "2024-05-01T00:00:09.841Z programming: started",
                     "2024-05-01T00:00:16.051Z programming: ended in 6.210 s"}));
    sim::SimulatedLine failed({.mode = sim::BoardMode::Update, .statusValue = 0x0080});
    const std::string failedErr = runCliWith({"flash"}, failed).err;
    EXPECT_TRUE(contains(failedErr, "flash: the board answers in update mode; running update\n"));
    const std::size_t ended = failedErr.find("programming: ended in");
    EXPECT_NE(ended, std::string::npos) << failedErr;
    EXPECT_LT(ended, failedErr.find(messages::EepromProgramFail)) << failedErr;
    sim::SimulatedLine quiet({.mode = sim::BoardMode::Update});
    const CliRun q = runCliWith({"update", "--quiet"}, quiet);
    // Only the results: not even the image's line.
    EXPECT_EQ(q.err, "");
    EXPECT_EQ(q.out, lineOf(messages::Success.update));
}

// ---------------------------------------------------------------------------------------------
// The command line

// A mistyped name is named, with the valid one it is closest to, if any is close.
TEST(CommandLine, RunsThatTouchNoPortExitWithZeroOrWithTwoForAUsageError) {
    struct Case {
        std::string command;
        int status = ExitUsage;
        std::string firstLine{};  // of standard error, or output for a success; empty: any
    };
    for (const Case& c : {
             Case{"", ExitUsage, "A subcommand is required"},
             Case{"frobnicate", ExitUsage, "frobnicate: unknown subcommand"},
             Case{"donwload", ExitUsage, "donwload: unknown subcommand; did you mean download?"},
             Case{"flsh", ExitUsage, "flsh: unknown subcommand; did you mean flash?"},
             Case{"port", ExitUsage, "port: unknown subcommand; did you mean ports?"},
             Case{"save", ExitUsage, "save: unknown subcommand; did you mean save-bin?"},
             Case{"--versoin", ExitUsage, "--versoin: unknown option; did you mean --version?"},
             Case{"download --prot=COM1", ExitUsage,
                  "--prot: unknown option of download; did you mean --port?"},
             Case{"update --latency -1 --prto", ExitUsage, "--prto: unknown option of update"},
             Case{"ports -json", ExitUsage, "-json: unknown option of ports; did you mean --json?"},
             Case{"download -qx", ExitUsage, "-qx: unknown option of download"},
             Case{"download -- --prot", ExitUsage,
                  "The following argument was not expected: --prot"},
             Case{"download --port"},
             Case{"update extra"},
             Case{"flash --port COM2 --port com2"},
             Case{"update --latency abc", ExitUsage,
                  "--latency: 'abc' is not a whole number of milliseconds"},
             Case{"hex2bin in.hex"},
             Case{"--help", ExitSuccess},
             Case{"update --help", ExitSuccess},
             Case{"--version", ExitSuccess,
                  "zq417-flash (Firmware Updater) " + std::string(version::Number)},
         }) {
        std::istringstream words(c.command);
        const Lines args{std::istream_iterator<std::string>(words),
                         std::istream_iterator<std::string>()};
        sim::SimulatedLine line;
        const CliRun run = runCliWith(args, line);
        EXPECT_EQ(run.status, c.status) << c.command;
        const std::string& said = c.status == ExitUsage ? run.err : run.out;
        EXPECT_FALSE(said.empty()) << c.command;
        if (!c.firstLine.empty()) {
            EXPECT_EQ(said.substr(0, said.find('\n')), c.firstLine) << c.command;
        }
        EXPECT_TRUE(line.events.empty()) << c.command;
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
             Case{unicode, unicode, unicode},
             // C0 and DEL; CSI as a C1 control
             Case{"\x1b[2J\x7f\t", "\x1b[2J\x7f\t", "\\x1b[2J\\x7f\\x09"},
             Case{"\xc2\x9b\x31m", "\xc2\x9b\x31m", "\\xc2\\x9b1m"},
             // Overlong, a surrogate, past U+10FFFF, a stray byte, a sequence cut short
             Case{invalid, invalidEscaped, invalidEscaped},
         }) {
        EXPECT_EQ(validUtf8(c.name), c.valid);
        EXPECT_EQ(printableName(c.name), c.printable);
    }
    sim::SimulatedLine line;
    const CliRun run = runCliWith({"update", "--port", "tty\x1b[31m"}, line);
    EXPECT_EQ(run.err, "--port tty\\x1b[31m: not a port name; did you mean /dev/tty\\x1b[31m?\n");
}

TEST(CommandLine, PortLeftOpenByAFailedDownloadIsHandedBackBeforeExit) {
    sim::SimulatedLine line({.mode = sim::BoardMode::Download});
    line.faults.writeFault = failWritesStartingWith({0xFF, 0xFF});  // the wake bytes
    const CliRun run = runCliWith({"download", "--quiet"}, line);
    EXPECT_EQ(run.status, ExitFailed);
    EXPECT_EQ(run.err, lineOf(messages::CannotUseComPort) +
                           lineOf("the port refused the write of 2 bytes after 0"));
    EXPECT_TRUE(handedBack(line));
}

// ---------------------------------------------------------------------------------------------
// Several boards in one command

// A simulated line of its own for each port, made when the run asks for the port's platform.
struct Boards {
    const std::map<std::string, sim::BoardConfig>& configs;
    std::map<std::string, std::unique_ptr<sim::SimulatedLine>> lines{};
    std::mutex lock{};
    bool terminal = false;
    std::map<std::string, int> failingCall{};  // the port whose k-th device call fails

    CliRun run(const Lines& args) {
        sim::SimulatedLine unused;
        return runCliWith(
            args, unused,
            {.terminal = terminal, .platformFor = [this](const std::string& port) {
                 const std::lock_guard hold(lock);
                 auto& line = lines[port] = std::make_unique<sim::SimulatedLine>(configs.at(port));
                 line->deviceName = port;
                 if (failingCall.contains(port)) {
                     auto faulty = std::make_unique<FaultyPlatform>(*line);
                     faulty->arm(Fault::FailCall, failingCall.at(port));
                     faulty->error = errnoError(EIO);
                     return std::unique_ptr<Platform>(std::move(faulty));
                 }
                 // Lent to the run, which owns its platforms, so the test can read the line after.
                 return std::unique_ptr<Platform>(std::make_unique<ForwardingPlatform>(*line));
             }});
    }
};

// Behind its port's prefix a line names the port once, also when its reason is a port call the
// system failed; the result keeps the whole reason.
TEST(SeveralBoards, ALineNamesItsPortOnceWhenAPortCallFails) {
    const std::map<std::string, sim::BoardConfig> configs = {
        {"/dev/ttyB0", {.mode = sim::BoardMode::Update}},
        {"/dev/ttyB1", {.mode = sim::BoardMode::Update}}};
    Boards boards{configs};
    boards.failingCall = {{"/dev/ttyB1", 17}};  // the write of TransferFirmware
    const CliRun run = boards.run({"update", "--port", "/dev/ttyB0", "--port", "/dev/ttyB1"});
    EXPECT_EQ(run.status, ExitFailed) << run.err;
    for (const std::string& stamped : linesOf(run.err)) {
        const std::string line = unstamped(stamped);
        if (!line.starts_with("summary: ")) {
            EXPECT_FALSE(contains(line.substr(1), "/dev/ttyB")) << line;
        }
    }
    EXPECT_TRUE(contains(run.err, "summary: /dev/ttyB1 failed (exit 1): write failed: "))
        << run.err;
}

// Flash chooses for each board, one failing board stops no other, every line of text names its
// board and the summary and the exit status name the failure. As JSON, one object for each board
// with the boxes it showed, in the line's virtual time: each run starts as its line does and lasts
// as long as the line's clock has run.
TEST(SeveralBoards, EachBoardRunsToItsEndAndIsReportedWholeAsTextOrAsJson) {
    const std::map<std::string, sim::BoardConfig> configs = {
        {"/dev/ttyB0", {.mode = sim::BoardMode::Download}},
        {"/dev/ttyB1", {.mode = sim::BoardMode::Update, .statusValue = 0x0080}},
        {"/dev/ttyB2", {.mode = sim::BoardMode::Update}}};
    const Lines args = {"flash",      "--port", "/dev/ttyB0", "--port",
                        "/dev/ttyB1", "--port", "/dev/ttyB2"};
    Boards text{configs};
    const CliRun run = text.run(args);
    EXPECT_EQ(run.status, ExitFailed);
    EXPECT_EQ(text.lines["/dev/ttyB0"]->board.imagesProgrammed(), 1);
    EXPECT_EQ(text.lines["/dev/ttyB2"]->board.imagesProgrammed(), 1);
    for (const std::string& stamped : linesOf(run.out + run.err)) {
        const std::string line = unstamped(stamped);
        if (!line.starts_with("summary: ")) {
            ASSERT_TRUE(line.starts_with("/dev/ttyB")) << line;
            EXPECT_FALSE(contains(line.substr(1), "/dev/ttyB")) << line;
        }
    }
    EXPECT_TRUE(contains(run.out, "/dev/ttyB0: DownLoad success!\n"));
    EXPECT_TRUE(contains(run.out, "/dev/ttyB2: Update success!\n"));
    EXPECT_TRUE(contains(run.err, "/dev/ttyB1: EEPROM program fail!\n/dev/ttyB1: Please check"));
    EXPECT_TRUE(contains(run.err,
                         "summary: 2 of 3 boards succeeded\nsummary: /dev/ttyB1 failed (exit 1): "
                         "the board reported status"))
        << run.err;

    // On a terminal each board's line in the block ends as what was sent and what the board did.
    Boards terminal{configs};
    terminal.terminal = true;
    const Lines screen = screenOf(terminal.run(args).err);
    const Lines block(screen.end() - 6, screen.end() - 3);
    EXPECT_EQ(block, (Lines{"/dev/ttyB0: done: sent 5696 + 5728 bytes, programming took 6.2 s",
                            "/dev/ttyB1: failed (exit 1): sent 5728 bytes, programming took 6.2 s",
                            "/dev/ttyB2: done: sent 5728 bytes, programming took 6.2 s"}))
        << testing::PrintToString(screen);

    Boards json{configs};
    Lines withJson = args;
    withJson.push_back("--json");
    const CliRun jsonRun = json.run(withJson);
    EXPECT_EQ(jsonRun.status, ExitFailed);
    EXPECT_FALSE(contains(jsonRun.err, "Error occurs")) << "boxes go into the JSON only";
    EXPECT_TRUE(contains(jsonRun.err, "summary: 2 of 3 boards succeeded"));
    Lines lines = linesOf(jsonRun.out);
    ASSERT_EQ(lines.size(), 4u) << jsonRun.out;
    // The summary ends the lines, naming the board that failed.
    EXPECT_EQ(Json::parse(lines.back()).at("summary").at("not_succeeded").at(0).at("port"),
              "/dev/ttyB1");
    lines.pop_back();
    std::map<std::string, Json> boards;
    for (const std::string& line : lines) {
        const Json j = Json::parse(line);
        boards[j.at("port")] = j;
    }
    for (const char* port : {"/dev/ttyB0", "/dev/ttyB2"}) {
        const Json& ok = boards.at(port);
        EXPECT_TRUE(ok.at("ok") == true && ok.at("reason").is_null() &&
                    ok.at("interrupted_by").is_null() && ok.at("messages")[0].at("title") == "OK")
            << ok;
    }
    // The result as the run came to it: its boxes, the image sent and its span in virtual time.
    const Json& failed = boards.at("/dev/ttyB1");
    EXPECT_EQ(failed.at("messages"),
              Json::array({{{"title", "Error"}, {"text", messages::EepromProgramFail}}}));
    EXPECT_FALSE(failed.at("reason").get<std::string>().empty());
    EXPECT_EQ(failed.at("operation"), "flash");
    EXPECT_EQ(failed.at("device"), "/dev/ttyB1");
    EXPECT_EQ(failed.at("image"),
              (Json{{"name", "built-in"},
                    {"length", BuiltInImageLength},
                    {"sha256", sha256Hex({builtInImage(), BuiltInImageLength})}}));
    EXPECT_EQ(failed.at("started"), "2024-05-01T00:00:00.000Z");
    EXPECT_EQ(failed.at("seconds"),
              std::chrono::duration<double>(json.lines.at("/dev/ttyB1")->clock.now()).count());
}

}  // namespace
}  // namespace zq::test
