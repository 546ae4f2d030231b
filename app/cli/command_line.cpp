#include "app/cli/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>

#include "app/cli/console_window.h"
#include "app/cli/status_line.h"
#include "app/cli/system_support.h"
#include "app/cli/transfer_command.h"
#include "app/version.h"
#include "image/built_in_image.h"
#include "image/file_text.h"
#include "image/hex_convert.h"
#include "image/hex_image.h"
#include "image/image_store.h"
#include "image/save_image.h"

namespace zq::cli {

namespace {

char upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

std::string versionLine() {
    return "zq417-flash (" + std::string(version::ProductName) + ") " +
           std::string(version::Number) + " [" + std::string(version::Text) + "]";
}

// The port name as the job expects it ("COM1".."COM4" whatever the case, or the path as
// given); nothing when it is neither.
std::optional<std::string> normalizePortName(std::string_view name) {
    if (name.size() == 4 && upper(name[0]) == 'C' && upper(name[1]) == 'O' &&
        upper(name[2]) == 'M' && name[3] >= '1' && name[3] <= '4') {
        return std::string("COM") + name[3];
    }
    if (isDevicePath(name)) {
        return std::string(name);
    }
    return std::nullopt;
}

// Transforms the option in place, so the job sees the normalised name.
std::string checkPort(std::string& name) {
    if (const auto normalized = normalizePortName(name)) {
        name = *normalized;
        return {};
    }
    std::string upperName(name);
    std::transform(upperName.begin(), upperName.end(), upperName.begin(), upper);
    if (upperName.rfind("COM", 0) == 0) {
        return "only COM1 to COM4 exist; name any other port by its device path";
    }
    return portNameAdvice(name);
}

void addImageOption(CLI::App& command, std::filesystem::path& imageFile) {
    command
        .add_option("--image", imageFile,
                    "Use this image instead of the built-in one: a binary image, or Intel HEX "
                    "when the name ends in .hex")
        ->type_name("FILE");
}

void addTransferOptions(CLI::App& command, TransferRequest& request) {
    command.add_option("-p,--port", request.portName, portOptionHelp())
        ->type_name("PORT")
        ->capture_default_str()
        ->transform(CLI::Validator(checkPort, ""));
    command.add_flag("--trace", request.trace,
                     "Print every packet and port event on standard error");
    addImageOption(command, request.imageFile);
}

struct HexToBinRequest {
    std::filesystem::path input;
    std::filesystem::path output;
};

struct SaveBinRequest {
    std::filesystem::path output;
    bool withHeader = false;
    std::filesystem::path imageFile;
};

// A failed conversion leaves no output file, so the line says why and nothing else is needed.
int runHexToBin(const HexToBinRequest& request, std::ostream& err) {
    const std::optional<std::string> text = readFileText(request.input);
    if (!text) {
        err << request.input.string() << ": cannot be read\n";
        return ExitFailed;
    }
    if (convertHexToBin(*text, request.output)) {
        return ExitSuccess;
    }
    const HexImage image = decodeHex(*text);
    if (image.ok()) {
        err << request.output.string() << ": cannot be written\n";
    } else {
        err << request.input.string() << ": not an Intel HEX image this tool takes: record "
            << image.faultRecord << ": " << describeHexFault(image.fault) << '\n';
    }
    return ExitFailed;
}

int runSaveBin(const SaveBinRequest& request, const CliContext& context) {
    // Declared before the job, which points into it.
    ImageStore store;
    TransferJob job;
    job.image = builtInImage();
    job.imageLength = BuiltInImageLength;
    if (!request.imageFile.empty()) {
        StatusLine statusLine(context.err);
        ConsoleWindow window(context.out, context.err, statusLine);
        const ImageSource source =
            loadImageSource(window, request.imageFile, context.startup, job, store);
        if (!source.ok()) {
            if (const std::string line =
                    imageSourceFailureLine(source, request.imageFile, context.startup);
                !line.empty()) {
                context.err << line << '\n';
            }
            return ExitFailed;
        }
    }
    if (!saveImageAsBin(job, request.output, request.withHeader)) {
        context.err << request.output.string() << ": cannot be written\n";
        return ExitFailed;
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
    app.footer(
        "Messages go to standard output when they report success and to standard error "
        "otherwise.\nExit status: 0 the operation succeeded, 1 it failed, 2 the command line "
        "was wrong, 128 + n signal n interrupted it (the port is handed back first).");

    TransferRequest download{.mode = ModeDownload};
    TransferRequest update{.mode = ModeUpdate};
    CLI::App* downloadCommand = app.add_subcommand(
        "download", "Load and program the firmware on a board set to download mode");
    CLI::App* updateCommand =
        app.add_subcommand("update", "Program the firmware on a board set to update mode");
    CLI::App* portsCommand =
        app.add_subcommand("ports", "List the serial devices here and which of COM1..COM4 exist");
    addTransferOptions(*downloadCommand, download);
    addTransferOptions(*updateCommand, update);

    HexToBinRequest hexToBin;
    CLI::App* hexToBinCommand = app.add_subcommand(
        "hex2bin", "Convert an Intel HEX file into a binary image (byte n at address n)");
    hexToBinCommand->add_option("INPUT", hexToBin.input, "The Intel HEX file")
        ->required()
        ->type_name("INPUT.hex");
    hexToBinCommand->add_option("OUTPUT", hexToBin.output, "The binary image to write")
        ->required()
        ->type_name("OUTPUT.bin");

    SaveBinRequest saveBin;
    CLI::App* saveBinCommand = app.add_subcommand(
        "save-bin", "Write the built-in image, or the one given with --image, as a binary file");
    saveBinCommand->add_option("OUTPUT", saveBin.output, "The binary image to write")
        ->required()
        ->type_name("OUTPUT.bin");
    saveBinCommand->add_flag("--with-header", saveBin.withHeader,
                             "Put the boot header in front unless the image starts with it");
    addImageOption(*saveBinCommand, saveBin.imageFile);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and version end the run successfully; every other parse error is a usage error,
        // whatever code the parser picked.
        return app.exit(e, context.out, context.err) == 0 ? ExitSuccess : ExitUsage;
    }

    if (portsCommand->parsed()) {
        printPorts(context);
        return ExitSuccess;
    }
    if (hexToBinCommand->parsed()) {
        return runHexToBin(hexToBin, context.err);
    }
    if (saveBinCommand->parsed()) {
        return runSaveBin(saveBin, context);
    }
    const TransferRequest& request = downloadCommand->parsed() ? download : update;
    const Console console{context.out, context.err, context.errIsTerminal};
    if (context.catchInterrupts) {
        installInterruptHandlers();
    }
    const TransferOutcome outcome =
        runTransferOutcome(request, context.platform, console, context.startup);
    if (outcome.interruptedBy != 0) {
        // What a shell reports for a program a signal ended.
        return 128 + outcome.interruptedBy;
    }
    return outcome.succeeded ? ExitSuccess : ExitFailed;
}

}  // namespace zq::cli
