#include "app/cli/file_outcome_text.h"

#include "app/cli/safe_text.h"

namespace zq::cli {

namespace {

// ": the system's text", or nothing when the system said nothing.
std::string systemReason(const SystemError& error) {
    if (!error) {
        return {};
    }
    return ": " + (error.text.empty() ? "error " + std::to_string(error.code) : error.text);
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

}  // namespace zq::cli
