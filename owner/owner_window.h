#pragma once

#include <cstdint>
#include <string_view>

namespace zq {

enum class BoxStyle {
    Error,  // title "Error", error icon, one OK button
    Plain,  // title "OK", no icon, one OK button
};

// Where an operation has got to, for a front end that tells its user what an interruption or a
// progress figure means for the board.
enum class OperationStage {
    Probing,      // handshake: nothing of the image has been sent
    Loader,       // the image is going to the loader of a board in download mode
    Firmware,     // the image is going to the board's firmware
    AwaitingAck,  // the whole image has gone to the firmware; its acknowledgement is awaited
    Programming,  // the board acknowledged the image and is programming its EEPROM
};

// The window that owns the message boxes of an operation. Every box is modal; the port-close
// failure box alone has no owner.
class OwnerWindow {
  public:
    virtual ~OwnerWindow() = default;
    virtual void showMessage(BoxStyle style, std::string_view text) = 0;
    virtual void showUnownedMessage(BoxStyle style, std::string_view text) = 0;
    // Called as the operation enters each stage; shows nothing by itself.
    virtual void operationStage(OperationStage) {}
    // Called once when a signal comes while the board programs its EEPROM: the operation is not
    // cut short but goes on to the board's result.
    virtual void signalHeldOff(int /*signal*/) {}
};

class ProgressTarget {
  public:
    virtual ~ProgressTarget() = default;
    virtual void setRange(std::uint32_t maximum) = 0;
    virtual void setPosition(std::uint32_t position) = 0;
};

}  // namespace zq
