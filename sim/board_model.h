#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/virtual_clock.h"

namespace zq::sim {

enum class BoardMode { Download, Update };

// How the virtual board behaves, including the faults a test or a user of the simulator asks for.
struct BoardConfig {
    BoardMode mode = BoardMode::Update;
    unsigned baud = 14400;  // speed of the board's replies on the line; 0: no transmission delay
    std::uint16_t statusValue = 0x0000;  // what StatusRegister reports after programming
    bool silent = false;                 // never sends anything
    std::uint16_t wrongAckFor = 0;       // bit n set: the Ack of packet id n carries a wrong param
    std::uint16_t unansweredIds = 0;     // bit n set: packets of id n get no answer
    SimTime replyDelay{0};               // from the request's last byte to the reply's first
    SimTime splitGap{0};                 // a pause inside every reply packet, after its third byte
    int answerFromSync = 1;              // Sync packets before this one go unanswered
    std::optional<std::uint64_t> dropAfterBytes{};     // the line goes dead after this many bytes
    std::uint8_t dataReplyParam = 0x00;                // parameter 1 of the Data reply to a Query
    int statusBytes = 2;                               // value bytes that follow the Data reply
    SimTime bootTime = std::chrono::milliseconds(20);  // loaded image to firmware running
};

struct TimedByte {
    std::uint8_t byte;
    SimTime at;  // received: when it fully arrived; sent: when it is fully at the host
};

// The ZQ417 board: the download-mode loader and the update-mode firmware. It is fed the host's
// bytes with their arrival times and puts its replies, timed, on its output; it knows nothing of
// how the bytes travel, so the simulated line and the simulator on a pseudo-terminal share it.
class BoardModel {
  public:
    explicit BoardModel(BoardConfig config);

    void receive(std::uint8_t byte, SimTime at);

    // Replies in wire order, each with the time it has fully reached the host.
    std::deque<TimedByte>& output() { return output_; }

    bool lineDropped() const { return dropped_; }
    BoardMode mode(SimTime at) const;
    const BoardConfig& config() const { return config_; }
    BoardConfig& config() { return config_; }

    // Every byte the host sent that reached the board, in order.
    const std::vector<TimedByte>& received() const { return received_; }
    // The image the loader took, and the payload the firmware took for its EEPROM.
    const std::vector<std::uint8_t>& loadedImage() const { return loadedImage_; }
    const std::vector<std::uint8_t>& programmedPayload() const { return programmedPayload_; }
    int syncsSeen() const { return syncsSeen_; }
    // Payloads the firmware took in full and programmed, over the whole run.
    int imagesProgrammed() const { return imagesProgrammed_; }

    // Called with a one-line summary of each exchange the board took part in.
    std::function<void(SimTime at, const std::string& summary)> onExchange;

  private:
    void loaderByte(std::uint8_t byte, SimTime at);
    void firmwareByte(std::uint8_t byte, SimTime at);
    void handlePacket(const std::uint8_t* packet, SimTime at);
    void acknowledge(std::uint8_t id, SimTime at);
    void send(std::initializer_list<std::uint8_t> bytes, SimTime readyAt, bool packet);
    void report(SimTime at, const std::string& summary);

    BoardConfig config_;
    std::deque<TimedByte> output_;
    std::vector<TimedByte> received_;
    std::vector<std::uint8_t> loadedImage_;
    std::vector<std::uint8_t> programmedPayload_;
    SimTime txFree_{0};
    bool dropped_ = false;

    // Loader state.
    std::vector<std::uint8_t> loaderRecent_;
    std::uint64_t loaderIgnored_ = 0;
    std::optional<std::uint32_t> loaderExpecting_;
    std::optional<SimTime> firmwareStartsAt_;

    // Firmware state.
    std::vector<std::uint8_t> packet_;
    SimTime lastByteAt_{0};
    std::uint64_t firmwareIgnored_ = 0;
    std::optional<std::uint32_t> payloadExpecting_;
    std::uint32_t announcedLength_ = 0;
    int syncsSeen_ = 0;
    int imagesProgrammed_ = 0;
};

std::string describeMode(BoardMode mode);

}  // namespace zq::sim
