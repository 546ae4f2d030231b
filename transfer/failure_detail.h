#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "owner/owner_window.h"
#include "transfer/outcome.h"

namespace zq {

// What the system said about the failure behind an operation's error box, for a window's detail
// text or trace: the port call that failed the operation, or why the port would not open. Empty
// when no call failed with a reason (a board that says nothing is no port call's fault).
std::string failureDetail(const Outcome& outcome);

// The same for the box of a close that failed.
std::string closeFailureDetail(const Outcome& outcome);

// A window's message boxes, as every window shows them: each through the window's own `show`,
// owned by the window (the close-failure box by nobody), and with `outcome` the detail of the
// failure behind it, which a window gives beside an error box while its text stays as it is.
class ExplainedBoxes final : public OwnerWindow {
  public:
    using Show = std::function<void(bool owned, BoxStyle style, std::string_view text,
                                    const std::string& detail)>;
    explicit ExplainedBoxes(Show show, const Outcome* outcome = nullptr)
        : show_(std::move(show)), outcome_(outcome) {}
    void showMessage(BoxStyle style, std::string_view text) override {
        show_(true, style, text, outcome_ ? failureDetail(*outcome_) : std::string());
    }
    void showUnownedMessage(BoxStyle style, std::string_view text) override {
        show_(false, style, text, outcome_ ? closeFailureDetail(*outcome_) : std::string());
    }

  private:
    Show show_;
    const Outcome* outcome_;
};

}  // namespace zq
