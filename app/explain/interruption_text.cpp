#include "app/explain/interruption_text.h"

namespace zq {

std::string interruptionLine(const Outcome& outcome) {
    if (!outcome.reached) {
        return "Interrupted before anything was sent; the board is unchanged.";
    }
    switch (*outcome.reached) {
        case OperationStage::Probing:
            if (outcome.imageLoaded) {
                return "Interrupted after the image was loaded: it runs on the board but is not "
                       "programmed; run update to program it.";
            }
            return "Interrupted before the image was sent; the board is unchanged.";
        case OperationStage::Loader:
            return "Interrupted while the image was going to the loader: the board is still in "
                   "download mode; run download again.";
        case OperationStage::Firmware:
        case OperationStage::AwaitingAck:
            if (outcome.imageLoaded) {
                return "Interrupted while the image was going to the board: nothing was "
                       "programmed, the board runs the loaded image; run update (or flash) to "
                       "program it.";
            }
            return "Interrupted while the image was going to the board: nothing was programmed, "
                   "the board keeps its old firmware; run the operation again.";
        case OperationStage::Programming:
            return "Interrupted while the board was programming its EEPROM: its result is "
                   "unknown; leave it powered for a few seconds, then run update again.";
    }
    return "Interrupted.";
}

std::string_view programmingNotice() {
    return "The board is programming its EEPROM: do not power it off. Waiting for its result "
           "(interrupt again to stop waiting).";
}

}  // namespace zq
