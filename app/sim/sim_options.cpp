#include "app/sim/sim_options.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/usage/usage_hints.h"
#include "app/version.h"

namespace zq::sim {

namespace {

// Packet ids and register values are written in hex in our documents and in decimal by habit, so
// both are taken; a leading zero does not switch to octal as it would with strtol's base 0.
CLI::Validator number(unsigned long long minimum, unsigned long long maximum) {
    return CLI::Validator(
        [minimum, maximum](std::string& text) -> std::string {
            std::string_view digits = text;
            int base = 10;
            if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
                digits.remove_prefix(2);
                base = 16;
            }
            unsigned long long value = 0;
            const auto [end, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
            if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size()) {
                return "'" + text + "' is neither a decimal number nor 0x followed by hex digits";
            }
            if (value < minimum || value > maximum) {
                return "'" + text + "' is outside " + std::to_string(minimum) + ".." +
                       std::to_string(maximum);
            }
            text = std::to_string(value);
            return {};
        },
        "");
}

// The board model keeps per-id faults in a 16-bit set, which covers every id the protocol uses.
std::uint16_t idSet(const std::vector<unsigned>& ids) {
    std::uint16_t set = 0;
    for (const unsigned id : ids) {
        set = static_cast<std::uint16_t>(set | (1U << id));
    }
    return set;
}

}  // namespace

std::optional<int> parseSimOptions(int argc, const char* const* argv, SimOptions& options) {
    CLI::App app{
        "A virtual ZQ417 board on a pseudo-terminal, for trying the Firmware Updater without "
        "hardware.\n"
        "The first line on stdout names the device to give the updater, e.g.\n"
        "  zq417-sim: board in download mode on /dev/pts/5\n"
        "then one line per exchange with the host, stamped in ms since the start. The board "
        "stays up across operations: a download leaves it running its firmware (update mode).",
        "zq417-sim"};
    app.footer(
        "A dropped line (--drop-after) closes the pseudo-terminal: the host's reads then return "
        "end of file at once, its writes and line-setting calls fail with EIO, and zq417-sim "
        "exits with status 0. SIGINT, SIGTERM and SIGHUP end the program cleanly; the link is "
        "removed in every case.\n\n"
        "A pulled board (--pull-while-programming, --pull-after-programming) goes as an adapter "
        "pulled from the machine does: its pseudo-terminal is closed, so the host's reads return "
        "end of file or fail with EIO and its writes fail, and its announcement and link are "
        "removed; a line \"board [K] pulled ...\" says so. A board pulled while programming has "
        "acknowledged the whole image (100 ms before) and not answered the status Query. After "
        "--plug-gap a new board in the start mode is plugged into the same link: a new "
        "pseudo-terminal, announced as the same board K, the link leading to it, its device "
        "named by the same line as at the start. SIGUSR1 pulls every board at once, each "
        "replaced in the same way.\n\n"
        "Exit status:\n"
        "  0  the board ended cleanly (a signal, a dropped line, --exit-after-operations)\n"
        "  1  the pseudo-terminal or the link could not be set up, or the line not served\n"
        "  2  the command line is wrong\n\n"
        "Examples:\n"
        "  # a board in download mode, reachable as /tmp/zq417-com1\n"
        "  $ zq417-sim --mode download --link /tmp/zq417-com1\n"
        "  # a board in update mode whose EEPROM write fails\n"
        "  $ zq417-sim --mode update --status 0x0080\n"
        "  # a board whose replies come 30 ms late, as some USB adapters deliver them\n"
        "  $ zq417-sim --mode update --reply-delay 30\n"
        "  # four boards for a station, the exchanges not printed\n"
        "  $ zq417-sim --boards 4 --quiet\n"
        "  # a board pulled while it programs, then one that stays\n"
        "  $ zq417-sim --mode update --pull-while-programming 1\n"
        "  # a fixture through which 10 boards pass, each swapped once it is programmed\n"
        "  $ zq417-sim --mode update --pull-after-programming 9\n");
    app.set_version_flag("--version", "zq417-sim (" + std::string(version::ProductName) + ") " +
                                          std::string(version::Number));

    std::string mode = "download";
    unsigned baud = options.board.baud;
    bool noPacing = false;
    unsigned status = options.board.statusValue;
    std::vector<unsigned> wrongAck;
    std::vector<unsigned> unanswered;
    unsigned replyDelayMs = 0;
    unsigned splitGapMs = 0;
    std::uint64_t dropAfter = 0;
    unsigned dataReplyParam = options.board.dataReplyParam;
    auto bootMs = static_cast<unsigned>(
        std::chrono::duration_cast<std::chrono::milliseconds>(options.board.bootTime).count());
    int exitAfter = 0;
    unsigned plugGapMs = static_cast<unsigned>(options.plugGap.count());

    app.add_option("--mode", mode, "Program the board runs at the start: download or update")
        ->check(CLI::IsMember({"download", "update"}).description(""))
        ->type_name("MODE")
        ->capture_default_str();
    CLI::Option* baudOption =
        app.add_option("--baud", baud, "Line speed that paces the board's replies")
            ->transform(number(1, 4'000'000))
            ->type_name("RATE")
            ->capture_default_str();
    app.add_flag("--no-pacing", noPacing, "Send replies without transmission delay (benchmarks)")
        ->excludes(baudOption);
    app.add_option("--link", options.linkPath,
                   "Also make PATH a symbolic link to the device while running; a link already "
                   "there is replaced")
        ->type_name("PATH");
    app.add_option("--status", status,
                   "Value the status register reports after programming, up to 0xFFFF "
                   "(bit 0x0080 set: programming failed)")
        ->transform(number(0, 0xFFFF))
        ->type_name("VALUE")
        ->capture_default_str();
    app.add_flag("--silent", options.board.silent, "The board never sends anything");
    app.add_option("--wrong-ack", wrongAck,
                   "Packet id 0..15 whose Ack carries a wrong parameter 1, e.g. 0x0A; repeatable")
        ->transform(number(0, 15))
        ->type_name("ID")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--unanswered", unanswered, "Packet id 0..15 that gets no answer; repeatable")
        ->transform(number(0, 15))
        ->type_name("ID")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--reply-delay", replyDelayMs,
                   "Pause from a request's last byte to the reply's first")
        ->transform(number(0, UINT_MAX))
        ->type_name("MS")
        ->capture_default_str();
    app.add_option("--split-gap", splitGapMs, "Pause after the third byte of every reply packet")
        ->transform(number(0, UINT_MAX))
        ->type_name("MS")
        ->capture_default_str();
    app.add_option("--answer-from-sync", options.board.answerFromSync,
                   "First Sync packet that is answered; earlier ones are ignored")
        ->transform(number(1, INT_MAX))
        ->type_name("N")
        ->capture_default_str();
    app.add_option("--drop-after", dropAfter,
                   "Drop the line once this many bytes came from the host (see below)")
        ->transform(number(1, UINT64_MAX))
        ->type_name("BYTES");
    app.add_option("--data-reply-param", dataReplyParam,
                   "Parameter 1 of the Data packet that answers a Query, up to 0xFF")
        ->transform(number(0, 0xFF))
        ->type_name("VALUE")
        ->capture_default_str();
    app.add_option("--status-bytes", options.board.statusBytes,
                   "Value bytes (0..2) sent after the Data packet that answers a Query")
        ->transform(number(0, 2))
        ->type_name("N")
        ->capture_default_str();
    app.add_option("--boot-ms", bootMs, "Time from a loaded image to its firmware answering")
        ->transform(number(0, UINT_MAX))
        ->type_name("MS")
        ->capture_default_str();
    app.add_flag("--quiet", options.quiet, "Do not print the exchanges");
    app.add_option("--boards", options.boards,
                   "Serve N independent boards, each on a pseudo-terminal of its own and with the "
                   "same switches; one line per board names its device (\"board K in ... mode on "
                   "PATH\", K from 0), and with --link each gets the link LINK0 .. LINK<N-1>")
        ->transform(number(1, 256))
        ->type_name("N")
        ->capture_default_str();
    app.add_option("--exit-after-operations", exitAfter,
                   "Exit when the host closes the device after N images were programmed")
        ->transform(number(1, INT_MAX))
        ->type_name("N");

    app.add_option("--pull-while-programming", options.pullWhileProgramming,
                   "Pull the first N boards of each link while they program their EEPROM; each is "
                   "replaced by a new board (see below)")
        ->transform(number(1, INT_MAX))
        ->type_name("N");
    app.add_option("--pull-after-programming", options.pullAfterProgramming,
                   "Then pull the next N boards of each link once the host has let go of them "
                   "after programming an image; each is replaced by a new board")
        ->transform(number(1, INT_MAX))
        ->type_name("N");
    app.add_option("--plug-gap", plugGapMs, "Pause from a board's pull to its successor's plug")
        ->transform(number(0, UINT_MAX))
        ->type_name("MS")
        ->capture_default_str();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and version end the run successfully; every other parse error is a usage error,
        // as for zq417-flash: a mistyped name is reported with the name it comes closest to.
        constexpr int UsageError = 2;
        if (e.get_exit_code() != 0) {
            if (const auto line = unknownWordLine(app, argc, argv)) {
                std::cerr << *line << "\nRun with --help for more information.\n";
                return UsageError;
            }
        }
        return app.exit(e) == 0 ? 0 : UsageError;
    }

    using std::chrono::milliseconds;
    options.board.mode = mode == "update" ? BoardMode::Update : BoardMode::Download;
    options.board.baud = noPacing ? 0 : baud;
    options.board.statusValue = static_cast<std::uint16_t>(status);
    options.board.wrongAckFor = idSet(wrongAck);
    options.board.unansweredIds = idSet(unanswered);
    options.board.replyDelay = milliseconds(replyDelayMs);
    options.board.splitGap = milliseconds(splitGapMs);
    if (app.count("--drop-after") > 0) {
        options.board.dropAfterBytes = dropAfter;
    }
    options.board.dataReplyParam = static_cast<std::uint8_t>(dataReplyParam);
    options.board.bootTime = milliseconds(bootMs);
    if (app.count("--exit-after-operations") > 0) {
        options.exitAfterOperations = exitAfter;
    }
    options.plugGap = milliseconds(plugGapMs);
    return std::nullopt;
}

}  // namespace zq::sim
