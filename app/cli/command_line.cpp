#include "app/cli/command_line.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "app/cli/board_runs.h"
#include "app/cli/port_listing.h"
#include "app/cli/system_support.h"
#include "app/records/file_commands.h"
#include "app/records/file_outcome_text.h"
#include "app/records/image_choice.h"
#include "app/records/image_info.h"
#include "app/records/port_choice.h"
#include "app/records/safe_text.h"
#include "app/usage/usage_hints.h"
#include "app/version.h"
#include "serial/port_names.h"
#include "station/board_runner.h"

namespace zq::cli {

namespace {

std::string versionLine() {
    return "zq417-flash (" + std::string(version::ProductName) + ") " +
           std::string(version::Number);
}

// The parser calls a word that is no number "not in range"; what is wrong with it is its form.
CLI::Validator wholeMilliseconds() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const bool digits =
                !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
            return digits ? std::string() : "'" + text + "' is not a whole number of milliseconds";
        },
        "");
}

struct Example {
    std::string_view what;
    std::string_view command;
};

// A subcommand's --help ends with command lines to copy, each under what it does.
std::string examples(std::initializer_list<Example> list) {
    std::string text = "Examples:";
    for (const Example& example : list) {
        text += "\n  # " + std::string(example.what) + "\n  $ zq417-flash " +
                std::string(example.command);
    }
    return text;
}

void addImageOption(CLI::App& command, std::filesystem::path& imageFile, bool& force) {
    command
        .add_option("--image", imageFile,
                    "Use this image instead of the built-in one: Intel HEX when its content is "
                    "HEX text, whatever its name, and a binary image otherwise")
        ->type_name("FILE");
    command.add_flag("--force", force,
                     "Take an image file that is mostly printable text, yet not Intel HEX, as a "
                     "binary image as it stands (never broken HEX, nor a file known to be no "
                     "image, such as an ELF file or S-records)");
}

void addTransferOptions(CLI::App& command, RunRequest& request) {
    // Checked after parsing: `auto` looks at the ports present, and finding none is not a
    // mistake in the command line.
    command
        .add_option("-p,--port", request.ports,
                    portOptionHelp() + ". Give it several times to run on several boards at once.")
        ->type_name("PORT");
    command.add_flag("--trace", request.board.trace,
                     "Print every packet and port event on standard error");
    command.add_flag("--json", request.json,
                     "Print one JSON object per board on standard output (JSON Lines) instead of "
                     "the message texts");
    command.add_flag("-q,--quiet", request.quiet, "Show no progress, only the results");
    command
        .add_option("--latency", request.board.latencyMs,
                    "Wait this much longer for every reply, for USB serial adapters that hold "
                    "small replies back and cannot be tuned (default 0: the exact timeouts)")
        ->type_name("MS")
        ->check(wholeMilliseconds())
        ->check(CLI::Range(0u, 10000u));
    command
        .add_option("--log", request.logFile,
                    "Add each board's result to this file as one JSON line (the object --json "
                    "prints), on the disk before the next board's; the file is created when "
                    "missing and never truncated. \"journal\" sends each result to the system's "
                    "journal instead, one field per JSON member (./journal names a file)")
        ->type_name("FILE");
    addImageOption(command, request.imageFile, request.force);
}

void addRetriesOption(CLI::App& command, RunRequest& request) {
    command
        .add_option("--retries", request.board.retries,
                    "Try a board that the board or the line failed (exit 1) up to N more times, "
                    "each after a pause of " +
                        std::to_string(station::RetryPause.count()) +
                        " ms and a fresh probe (default 0)")
        ->type_name("N")
        ->check(CLI::Range(0u, 100u));
}

// The same device twice, under whatever names, is a usage error.
int refuseRepeated(const std::vector<std::string>& ports, std::ostream& err) {
    const auto repeated = firstRepeated(ports);
    if (!repeated) {
        return ExitSuccess;
    }
    const std::string& first = ports[repeated->first];
    const std::string& again = ports[repeated->second];
    err << "--port " << printableName(again) << " is given twice";
    if (again != first) {
        err << ": it is the same port as --port " << printableName(first);
    }
    err << '\n';
    return ExitUsage;
}

struct HexToBinRequest {
    std::filesystem::path input;
    std::filesystem::path output;
};

struct SaveBinRequest {
    std::filesystem::path output;
    bool withHeader = false;
    std::filesystem::path imageFile;
    bool force = false;
};

// A file command's result as its line: why it failed, naming the file.
int renderFileCommand(const FileCommandResult& result, std::ostream& err) {
    if (result.refusal.refused()) {
        printRefusal(result.refusal, err);
    } else if (!result.ok()) {
        err << explainFileOutcome(result.outcome) << '\n';
    }
    return result.ok() ? ExitSuccess : result.imageRefused ? ExitImage : ExitFailed;
}

// Turns each port named on the command line, or the one in ZQ417_PORT, into the one its job
// opens; a non-zero exit status when one of them names none. Named nowhere, the port is the one
// USB serial adapter present: a guess such as COM1 could be a console or a modem.
int choosePorts(RunRequest& request, bool givenOnCommandLine, const CliContext& context) {
    std::string source = "--port ";
    if (!givenOnCommandLine) {
        const bool fromEnvironment = context.environmentPort && !context.environmentPort->empty();
        request.ports = {fromEnvironment ? *context.environmentPort : std::string("auto")};
        source = fromEnvironment ? "ZQ417_PORT " : "no port named (--port or ZQ417_PORT), so ";
    }
    request.portNotes.clear();
    for (std::string& port : request.ports) {
        const PortChoice choice = resolvePort(port, nativePortNaming(), context.listPorts);
        if (choice.outcome == PortChoice::Outcome::Chosen) {
            port = choice.port;
            request.portNotes.push_back(choice.note);
            continue;
        }
        context.err << source << printableName(port) << ": " << choice.message << '\n';
        return choice.outcome == PortChoice::Outcome::NoAdapter ? ExitNoPort : ExitUsage;
    }
    return ExitSuccess;
}

}  // namespace

int runCli(int argc, const char* const* argv, CliContext& context) {
    CLI::App app(std::string(version::ProductName) +
                     ": puts firmware on a ZQ417 board over RS-232 and converts its image files.",
                 "zq417-flash");
    app.set_version_flag("--version", versionLine());
    app.require_subcommand(1);
    RunRequest download{.board = {.operation = station::Operation::Download}};
    RunRequest update{.board = {.operation = station::Operation::Update}};
    RunRequest flash{.board = {.operation = station::Operation::Flash}};
    CLI::App* downloadCommand = app.add_subcommand(
        "download", "Load and program the firmware on a board set to download mode");
    CLI::App* updateCommand =
        app.add_subcommand("update", "Program the firmware on a board set to update mode");
    CLI::App* flashCommand = app.add_subcommand(
        "flash", "Probe the board and run download or update, whichever its mode calls for");
    CLI::App* portsCommand = app.add_subcommand(
        "ports",
        "List the serial ports here, with maker, VID:PID, serial number and which program "
        "holds them, and which of COM1..COM4 exist");
    bool portsJson = false;
    portsCommand->add_flag("--json", portsJson, "Print the list as JSON");
    addTransferOptions(*downloadCommand, download);
    addTransferOptions(*updateCommand, update);
    addTransferOptions(*flashCommand, flash);
    addRetriesOption(*flashCommand, flash);
    downloadCommand->footer(examples({
        {"the board on the first serial port, with the built-in firmware", "download --port COM1"},
        {"an image of your own in Intel HEX, on the one USB serial adapter present",
         "download --port auto --image firmware.hex"},
        {"two boards at once, one JSON line each", "download --json --port COM1 --port COM2"},
    }));
    updateCommand->footer(examples({
        {"the board on the first serial port, with the built-in firmware", "update --port COM1"},
        {"a binary image, through a USB adapter that holds small replies back",
         "update --image firmware.bin --latency 20"},
        {"only the result, for a script", "update --quiet --port COM2"},
    }));
    flashCommand->footer(examples({
        {"whatever mode the board on the first serial port is in", "flash --port COM1"},
        {"try again up to twice when the line fails, and keep each result",
         "flash --retries 2 --log results.jsonl"},
        {"three boards at once, one JSON line each",
         "flash --json --port COM1 --port COM2 --port COM3"},
    }));
    portsCommand->footer(
        exitStatusSentence({{"0", "listed (also when there are none)"}, {"2", ""}}) + "\n\n" +
        examples({
            {"the ports, and which of them the board may be on", "ports"},
            {"the same for a script", "ports --json"},
        }));

    RunRequest watch{.board = {.operation = station::Operation::Flash}};
    CLI::App* watchCommand = app.add_subcommand(
        "watch", "Wait for boards and flash each one as it appears, until interrupted");
    addTransferOptions(*watchCommand, watch);
    addRetriesOption(*watchCommand, watch);
    watchCommand->get_option("--port")->description(
        "Watch this port instead, named as for flash, for a board that answers a short "
        "handshake, probed every second; give it several times for several ports. A board in "
        "download mode says nothing until it is loaded, so only boards whose firmware runs "
        "are found this way. Default: every USB serial adapter and virtual board");
    watchCommand
        ->add_option("--match", watch.match,
                     "Watch only the USB serial adapters and virtual boards whose name, device "
                     "path, by-id name, description or VID:PID matches this wildcard, such as "
                     "'*FTDI*' or '0403:*'")
        ->type_name("PATTERN")
        ->excludes("--port");
    watchCommand
        ->add_option("--count", watch.count,
                     "Stop once this many boards are done (default: only a signal stops)")
        ->type_name("N")
        ->check(CLI::PositiveNumber);
    watchCommand
        ->add_option("--stop-after-failures", watch.stopAfterFailures,
                     "End the watch once this many boards in a row failed (boards pulled or "
                     "interrupted do not count; one that succeeds starts the count again); boards "
                     "in flight are brought to their end first, and the exit status is 7")
        ->type_name("N")
        ->check(CLI::PositiveNumber);
    watchCommand
        ->add_option("--station", watch.station,
                     "The station's name in every record (default: this computer's host name)")
        ->type_name("NAME");
    watchCommand->footer(
        "Each board is flashed as flash does, once per plug: after its result its port is left "
        "alone until it goes and comes back (with --port: until its board stops answering and "
        "answers again). Boards already plugged in when watch starts are flashed at once. Several "
        "boards run at the same time, each on its own.\n"
        "A board is tried again (--retries) only while it stays plugged, with the --latency its "
        "late replies advise; one pulled ends with its own record, and a board plugged there "
        "afterwards is a new board.\n"
        "A signal (Ctrl+C), --count or --stop-after-failures ends the watch: boards in flight end "
        "as under flash (one programming its EEPROM is waited for), then a summary names every "
        "board that did not succeed. Exit status: 0 when every board succeeded (or none came), "
        "128+n when signal n cut a board short, 7 when --stop-after-failures ended it, otherwise "
        "the status of the first board, in the order they appeared, that failed.\n\n" +
        examples({
            {"a station: every board plugged in, retried once, each result kept",
             "watch --json --log results.jsonl --retries 1"},
            {"only FTDI adapters, and stop after ten boards", "watch --match '0403:*' --count 10"},
            {"boards whose firmware runs, on two fixed ports", "watch --port COM1 --port COM2"},
        }));

    HexToBinRequest hexToBin;
    CLI::App* hexToBinCommand = app.add_subcommand(
        "hex2bin", "Convert an Intel HEX file into a binary image (byte n at address n)");
    hexToBinCommand->add_option("INPUT", hexToBin.input, "The Intel HEX file")
        ->required()
        ->type_name("INPUT.hex");
    hexToBinCommand->add_option("OUTPUT", hexToBin.output, "The binary image to write")
        ->required()
        ->type_name("OUTPUT.bin");
    hexToBinCommand->footer(
        exitStatusSentence({{"0", "the binary image was written"},
                            {"1", "it was not (the line printed names the file and why)"},
                            {"2", ""}}) +
        "\n\n" +
        examples({
            {"the image a toolchain wrote, as the bytes the board gets",
             "hex2bin firmware.hex firmware.bin"},
            {"then see whether it fits and what it holds",
             "hex2bin firmware.hex firmware.bin && zq417-flash info --image firmware.bin"},
        }));

    SaveBinRequest saveBin;
    CLI::App* saveBinCommand = app.add_subcommand(
        "save-bin", "Write the built-in image, or the one given with --image, as a binary file");
    saveBinCommand->add_option("OUTPUT", saveBin.output, "The binary image to write")
        ->required()
        ->type_name("OUTPUT.bin");
    saveBinCommand->add_flag("--with-header", saveBin.withHeader,
                             "Put the boot header in front unless the image starts with it");
    addImageOption(*saveBinCommand, saveBin.imageFile, saveBin.force);
    saveBinCommand->footer(
        exitStatusSentence({{"0", "the binary image was written"},
                            {"1", "it was not (the line printed names the file and why)"},
                            {"2", ""},
                            {"4", "the --image file was refused"}}) +
        "\n\n" +
        examples({
            {"the built-in firmware as a binary image", "save-bin firmware.bin"},
            {"an Intel HEX image as a binary file with the boot header in front",
             "save-bin --with-header --image firmware.hex loader.bin"},
        }));

    InfoRequest info;
    CLI::App* infoCommand = app.add_subcommand(
        "info", "Tell what download and update would send: format, lengths, fit and SHA-256");
    addImageOption(*infoCommand, info.image.file, info.image.force);
    infoCommand->add_flag("--json", info.json, "Print it as one JSON object");
    infoCommand->footer(
        exitStatusSentence({{"0", "the image would be sent"},
                            {"2", ""},
                            {"4", "it would be refused (and is described all the same)"}}) +
        "\n\n" +
        examples({
            {"what the built-in firmware is", "info"},
            {"whether an image of your own fits, and its SHA-256", "info --image firmware.hex"},
            {"the same for a script", "info --json --image firmware.bin"},
        }));

    // Set last: a subcommand added after it would inherit it.
    app.footer(
        "Messages go to standard output when they report success and to standard error "
        "otherwise.\n\n" +
        exitStatusTable());

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and version end the run successfully; every other parse error is a usage error,
        // whatever code the parser picked. A mistyped name is reported as itself: the parser
        // would call a mistyped subcommand a missing one.
        if (e.get_exit_code() != 0) {
            if (const auto line = unknownWordLine(app, argc, argv)) {
                context.err << *line << "\nRun with --help for more information.\n";
                return ExitUsage;
            }
        }
        return app.exit(e, context.out, context.err) == 0 ? ExitSuccess : ExitUsage;
    }

    if (portsCommand->parsed()) {
        printPorts(context, portsJson);
        return ExitSuccess;
    }
    if (hexToBinCommand->parsed()) {
        return renderFileCommand(convertHexToBin(hexToBin.input, hexToBin.output), context.err);
    }
    if (saveBinCommand->parsed()) {
        return renderFileCommand(
            saveImage(saveBin.output, saveBin.withHeader, {saveBin.imageFile, saveBin.force}),
            context.err);
    }
    if (infoCommand->parsed()) {
        return runInfo(info, context.out, context.err) ? ExitSuccess : ExitImage;
    }
    if (watchCommand->parsed()) {
        if (watchCommand->count("--port") > 0) {
            if (const int status = choosePorts(watch, true, context); status != ExitSuccess) {
                return status;
            }
            if (const int status = refuseRepeated(watch.ports, context.err);
                status != ExitSuccess) {
                return status;
            }
        }
        return runWatch(watch, context);
    }
    CLI::App* const command = downloadCommand->parsed() ? downloadCommand
                              : updateCommand->parsed() ? updateCommand
                                                        : flashCommand;
    RunRequest& request = downloadCommand->parsed() ? download
                          : updateCommand->parsed() ? update
                                                    : flash;
    if (const int status = choosePorts(request, command->count("--port") > 0, context);
        status != ExitSuccess) {
        return status;
    }
    if (const int status = refuseRepeated(request.ports, context.err); status != ExitSuccess) {
        return status;
    }
    return runOnPorts(request, context);
}

}  // namespace zq::cli
