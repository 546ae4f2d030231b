#include "app/cli/interruption_watch.h"

namespace zq::cli {

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
