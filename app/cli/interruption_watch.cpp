#include "app/cli/interruption_watch.h"

namespace zq::cli {

std::string interruptionLine(const InterruptedAt& where) {
    if (!where.stage) {
        return "Interrupted before anything was sent; the board is unchanged.";
    }
    switch (*where.stage) {
        case OperationStage::Probing:
            if (where.imageLoaded) {
                return "Interrupted after the image was loaded: it runs on the board but is not "
                       "programmed; run update to program it.";
            }
            return "Interrupted before the image was sent; the board is unchanged.";
        case OperationStage::Loader:
            return "Interrupted while the image was going to the loader: the board is still in "
                   "download mode; run download again.";
        case OperationStage::Firmware:
        case OperationStage::AwaitingAck:
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

void InterruptionWatch::stage(OperationStage stage) {
    if (where_.stage == OperationStage::Loader) {
        where_.imageLoaded = true;
    }
    where_.stage = stage;
    if (stage == OperationStage::AwaitingAck && !shield_) {
        shield_.emplace([this](int) {
            signalSeen_ = true;
            if (where_.stage == OperationStage::Programming) {
                warn();
            }
        });
    }
    if (stage == OperationStage::Programming && signalSeen_) {
        warn();
    }
}

void InterruptionWatch::warn() {
    if (warned_) {
        return;
    }
    warned_ = true;
    warnProgramming_();
}

bool InterruptionWatch::interrupted() const {
    // A signal the shield held off counts once the board is programming: its result is then
    // reported. Before that (no acknowledgement came) it ends the run like any other.
    const bool absorbed =
        shield_ && shield_->absorbedFirst() && where_.stage == OperationStage::Programming;
    return interruption::count() > (absorbed ? 1 : 0);
}

}  // namespace zq::cli
