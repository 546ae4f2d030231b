#include "app/qt/operation_boxes.h"

#include "serial/interruption.h"

namespace zq::qt {

bool OperationBoxes::boxesShown() {
    if (beforeBox_) {
        beforeBox_();
    }
    return interruption::count() == 0;
}

void OperationBoxes::showMessage(BoxStyle style, std::string_view text) {
    if (boxesShown()) {
        boxes_.showMessage(style, text);
    }
}

void OperationBoxes::showUnownedMessage(BoxStyle style, std::string_view text) {
    if (boxesShown()) {
        boxes_.showUnownedMessage(style, text);
    }
}

}  // namespace zq::qt
