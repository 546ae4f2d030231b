#include "app/cli/exit_status.h"

#include "app/cli/board_result.h"
#include "text/messages.h"

namespace zq::cli {

namespace {

bool isOneOf(std::string_view text, const messages::ByMode& texts) {
    return !text.empty() &&
           (text == texts.download || text == texts.update || text == texts.advancedDownload);
}

}  // namespace

ExitStatus classifyOutcome(bool succeeded, std::span<const ShownBox> boxes, TransferMode mode) {
    if (succeeded) {
        return ExitSuccess;
    }
    // The first error box is the one that ended the operation; a close failure may follow it.
    for (const ShownBox& box : boxes) {
        if (box.style != BoxStyle::Error) {
            continue;
        }
        const std::string_view text = box.text;
        if (text == messages::CannotOpenPort || text == messages::CannotConfigPort) {
            return ExitPort;
        }
        if (text == messages::MemoryNotEnough || text == messages::FirmwareTooLong ||
            text == messages::CannotOpenImageFile || text == messages::ReadImageFileFail) {
            return ExitImage;
        }
        if (isOneOf(text, messages::BoardInUpdateMode)) {
            return ExitWrongMode;
        }
        if (isOneOf(text, messages::BoardNotAnswering)) {
            return mode == ModeUpdate ? ExitWrongMode : ExitFailed;
        }
        return ExitFailed;
    }
    return ExitFailed;
}

}  // namespace zq::cli
