#include "station/exit_status.h"

namespace zq {

ExitStatus exitStatusFor(const Outcome& outcome) {
    switch (outcome.kind) {
        case OutcomeKind::Success:
            return ExitSuccess;
        case OutcomeKind::ImageRefused:
            return ExitImage;
        case OutcomeKind::PortNotOpened:
        case OutcomeKind::PortNotConfigured:
        case OutcomeKind::PortNotReleased:
            return ExitPort;
        case OutcomeKind::BoardInOtherMode:
            return ExitWrongMode;
        case OutcomeKind::NoAnswer:
        case OutcomeKind::NotUnderstood:
        case OutcomeKind::NotSent:
        case OutcomeKind::NoReply:
        case OutcomeKind::WrongReply:
        case OutcomeKind::LateReply:
        case OutcomeKind::EepromFailed:
        case OutcomeKind::StatusNotReported:
        case OutcomeKind::BoardGone:
            return ExitFailed;
        case OutcomeKind::Interrupted:
            return static_cast<ExitStatus>(exitStatusForSignal(outcome.signal));
    }
    return ExitFailed;
}

}  // namespace zq
