#pragma once

#include "owner/owner_window.h"
#include "serial/interruption.h"
#include "transfer/outcome.h"

namespace zq {

// The one rule of what a signal does to an operation, for every front end: it ends it, save that
// the board must not be abandoned while it programs its EEPROM. From the moment the whole image
// has gone the first signal no longer cuts the waits: once the board has acknowledged the image
// the signal is held off and the operation goes on to the board's result; without the
// acknowledgement it ends the operation after all. A second signal ends it in any case.
bool signalEnds(const Outcome& outcome);

// Stands from the moment the whole image has gone to the end of the phase, holding the first
// signal off as signalEnds says. `programming` marks the board's acknowledgement.
class ProgrammingShield {
  public:
    ProgrammingShield(OwnerWindow& window, Outcome& outcome);
    void programming();

  private:
    void holdOff(int signal);

    OwnerWindow& window_;
    Outcome& outcome_;
    int noticed_ = 0;  // the first signal, noticed before the acknowledgement
    interruption::Shield shield_;
};

}  // namespace zq
