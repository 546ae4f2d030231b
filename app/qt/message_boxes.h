#pragma once

#include <QWidget>

#include <string>
#include <string_view>

#include "transfer/failure_detail.h"

namespace zq::qt {

// The operation's message boxes: modal, one OK button, owned by `window` (the port-close failure
// box has no owner). An error box carries the reason the command line gives for the same outcome
// on `device`, and its advice, as its detailed text; the box's own text stays as it is.
ExplainedBoxes dialogBoxes(QWidget* window, const Outcome* outcome = nullptr,
                           std::string device = {});

// An error box ("Error", error icon, one OK button) with `detail` behind "Show Details...";
// modal, owned by `owner`.
void showErrorBox(QWidget* owner, std::string_view text, const std::string& detail);

}  // namespace zq::qt
