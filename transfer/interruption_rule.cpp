#include "transfer/interruption_rule.h"

namespace zq {

bool signalEnds(const Outcome& outcome) {
    return interruption::count() > (outcome.heldOff != 0 ? 1 : 0);
}

ProgrammingShield::ProgrammingShield(OwnerWindow& window, Outcome& outcome)
    : window_(window), outcome_(outcome), shield_([this](int signal) {
          if (outcome_.reached == OperationStage::Programming) {
              holdOff(signal);
          } else {
              noticed_ = signal;
          }
      }) {}

void ProgrammingShield::programming() {
    if (noticed_ != 0) {
        holdOff(noticed_);
    }
}

void ProgrammingShield::holdOff(int signal) {
    if (outcome_.heldOff == 0) {
        outcome_.heldOff = signal;
        window_.signalHeldOff(signal);
    }
}

}  // namespace zq
