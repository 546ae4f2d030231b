#pragma once

#include <QWidget>

#include "transfer/failure_detail.h"

namespace zq::qt {

// The operation's message boxes: modal, one OK button, owned by `window` (the port-close failure
// box has no owner); an error box carries the failure behind it as its detailed text.
ExplainedBoxes dialogBoxes(QWidget* window, const Outcome* outcome = nullptr);

}  // namespace zq::qt
