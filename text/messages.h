#pragma once

#include <cstdint>
#include <string_view>

// Every text the program shows in a message box, word for word.
namespace zq::messages {

inline constexpr std::string_view MemoryNotEnough = "Memory not enough!";
inline constexpr std::string_view FirmwareTooLong = "Firmware size is too long!";
inline constexpr std::string_view CannotOpenPort =
    "Can not open selected COM port!\nPlease check that no application is using this port!";
inline constexpr std::string_view CannotConfigPort = "Can not config selected port!";
inline constexpr std::string_view CannotUseComPort = "Can not use COM port!";
inline constexpr std::string_view CannotUsePort = "Can not use port!";
inline constexpr std::string_view CannotClosePort = "Can Not Close Port!\nPlease Exit Application!";
inline constexpr std::string_view AfterTransferFirmwareCommand =
    "Error occurs after transfer firmware command!";
inline constexpr std::string_view EepromProgramFail =
    "EEPROM program fail!\nPlease check the followings:\n1. ZQ417 and EEPROM correctly "
    "connect.\n2. EEPROM is not be set to write protect mode.\n3. ZQ417 and EEPROM are good!";

inline constexpr std::string_view CannotOpenImageFile = "Can not open download/update file!";
inline constexpr std::string_view ReadImageFileFail = "Read download/update file fail!";

// A text for each transfer mode; empty where the mode has no message at that point.
struct ByMode {
    std::string_view download;
    std::string_view update;
    std::string_view advancedDownload;

    constexpr std::string_view forMode(std::uint8_t mode) const {
        switch (mode) {
            case 1:
                return download;
            case 2:
                return update;
            case 3:
                return advancedDownload;
            default:
                return {};
        }
    }
};

// The board answered the handshake, so it runs its firmware: wrong for the download phase.
inline constexpr ByMode BoardInUpdateMode{
    .download =
        "Error occurs before download operation!\nHardware system is in update "
        "mode.\nPlease set it to download mode.\nThen try again!",
    .update = {},
    .advancedDownload =
        "Error occurs before advanced download operation!\nHardware system is "
        "in update mode.\nPlease set it to download mode.\nThen try again!",
};

// The board did not answer the handshake: wrong for the update phase.
inline constexpr ByMode BoardNotAnswering{
    .download =
        "Error occurs during download operation!\n\nPlease check the followings:\n1.The "
        "power is on.\n2.RS232 cable has been correctly connected.\n3.Firmware baudrate "
        "has been correctly selected.\n4.Hardware system is in download mode.\n5.Selected "
        "firmware is good.\n6.Hardware is good.\nThen try again!",
    .update =
        "Error occurs during update operation!\n\nPlease check the followings:\n1.The power "
        "is on.\n2.RS232 cable has been correctly connected.\n3.Current baudrate has been "
        "correctly selected.\n4.Hardware system is in update mode.\n5.There is good "
        "firmware in ZQ417.\n6.Hardware is good.\nThen try again!",
    .advancedDownload =
        "Error occurs during advanced download operation!\n\nPlease check the followings:\n1.The "
        "power is on.\n2.RS232 cable has been correctly connected.\n3.First firmware baudrate has "
        "been correctly selected.\n4.Hardware system is in download mode.\n5.Selected first "
        "firmware is good.\n6.Hardware is good.\nThen try again!",
};

// The image could not be sent to the loader.
inline constexpr ByMode LoaderTransferFail{
    .download = "Error occurs during download operation!\nPlease reset ZQ417 board and try again!",
    .update = {},
    .advancedDownload =
        "Error occurs during advance download operation!\nPlease reset ZQ417 board and try again!",
};

// The payload of the update phase could not be sent.
inline constexpr ByMode PayloadSendFail{
    .download = "Error occurs during download operation!\nPlease reset ZQ417 board and try again!",
    .update = "Error occurs during update operation!\nPlease reset ZQ417 board and try again!",
    .advancedDownload =
        "Error occurs during advanced download operation!\nPlease reset ZQ417 "
        "board and try again!",
};

// The board did not acknowledge the payload.
inline constexpr ByMode PayloadNotAcknowledged{
    .download = "Error after download operation!\nPlease reset ZQ417 board and try again!",
    .update = "Error after update operation!\nPlease reset ZQ417 board and try again!",
    .advancedDownload =
        "Error after advanced download operation!\nPlease reset ZQ417 board and try again!",
};

inline constexpr ByMode Success{
    .download =
        "DownLoad success!\nYou can run application right now.\nAfter turn off power, you "
        "must set hardware system to update mode!",
    .update = "Update success!\nPlease reset hardware system to run new firmware!",
    .advancedDownload =
        "Advanced downLoad success!\nPlease turn off power and set hardware system to update "
        "mode!",
};

}  // namespace zq::messages
