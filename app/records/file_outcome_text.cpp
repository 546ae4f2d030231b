#include "app/records/file_outcome_text.h"

#include "app/records/safe_text.h"

namespace zq {

namespace {

// ": the system's text", or nothing when the system said nothing.
std::string systemReason(const SystemError& error) {
    if (!error) {
        return {};
    }
    return ": " + (error.text.empty() ? "error " + std::to_string(error.code) : error.text);
}

// What a file known to be no image is, and the command that makes an image of it, naming the
// file it would write.
std::string foreignText(const FileOutcome& outcome) {
    const std::filesystem::path& in = outcome.file;
    std::filesystem::path out = in;
    out.replace_extension(".hex");
    if (out == in) {
        out.replace_extension(".ihex");
    }
    const std::string from = printableName(in.string());
    const std::string to = printableName(out.string());
    const std::string linked =
        "convert the linked ELF file with objcopy -O ihex (the toolchain's "
        "own, such as arm-none-eabi-objcopy)";
    switch (outcome.foreign) {
        case ForeignFormat::Elf:
            return "an ELF file, not an image; convert it first: objcopy -O ihex " + from + " " +
                   to + " (or the toolchain's own objcopy, such as arm-none-eabi-objcopy)";
        case ForeignFormat::SRecord:
            return "Motorola S-records, not Intel HEX; convert them first: objcopy -I srec -O "
                   "ihex " +
                   from + " " + to;
        case ForeignFormat::Pe:
            return "a PE executable (the Windows format), not an image; if it was built for the "
                   "board, convert it first: objcopy -O ihex " +
                   from + " " + to;
        case ForeignFormat::MachO:
            return "a Mach-O file (the macOS format), built for a Mac, not an image; build the "
                   "firmware for the board, then " +
                   linked;
        case ForeignFormat::ArArchive:
            return "a static library (ar archive) of objects not yet linked, not an image; link "
                   "the firmware, then " +
                   linked;
        case ForeignFormat::Uf2:
            return "a UF2 file for a USB mass-storage loader, not an image; convert it first: "
                   "uf2conv.py --convert --output " +
                   printableName(std::filesystem::path(in).replace_extension(".bin").string()) +
                   " " + from;
        case ForeignFormat::Zip:
            return "a ZIP archive, not an image; unzip -l " + from +
                   " lists what it holds: take the image out of it (unzip " + from + ")";
        case ForeignFormat::Gzip:
            return "compressed with gzip, not an image; gunzip -k " + from +
                   " gives the file inside";
        case ForeignFormat::None:
            break;
    }
    return "not an image";
}

}  // namespace

std::string explainFileOutcome(const FileOutcome& outcome) {
    const std::string name = printableName(outcome.file.string()) + ": ";
    const std::string size = std::to_string(outcome.size);
    const std::string limit = std::to_string(outcome.limit);
    switch (outcome.fault) {
        case FileFault::None:
            break;
        case FileFault::CannotOpen:
            return name + "cannot be opened" + systemReason(outcome.error);
        case FileFault::CannotRead:
            return name + "cannot be read" + systemReason(outcome.error);
        case FileFault::TooLarge:
            if (outcome.hexText) {
                return name + "an Intel HEX text of " + size + " bytes, more than the " + limit +
                       " taken; the file was not read";
            }
            return name + size + " bytes, more than the " + limit +
                   " any operation takes; the file was not read";
        case FileFault::NoMemory:
            return name + size + " bytes, more than there is memory to hold";
        case FileFault::Empty:
            return name + "no image bytes in it";
        case FileFault::NotHex:
            return name +
                   "mostly printable text, neither Intel HEX nor machine code; --force would "
                   "take it as a binary image as it stands";
        case FileFault::NotAnImage:
            return name + foreignText(outcome);
        case FileFault::BrokenHex:
            return name + "not an Intel HEX image this tool takes: record " +
                   std::to_string(outcome.hex.faultRecord) + ": " + describeHexReading(outcome.hex);
        case FileFault::NoTempName:
            return name + "no free temporary name to convert it into";
        case FileFault::NotWritten:
            return name + "cannot be written" +
                   (outcome.call.empty() ? std::string()
                                         : ": " + std::string(outcome.call) + " failed") +
                   systemReason(outcome.error);
    }
    return {};
}

}  // namespace zq
