#include "sim/board_model.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace zq::sim {

namespace {

constexpr std::uint8_t Lead = 0xAA;
constexpr std::uint8_t IdTransferFirmware = 0x06;
constexpr std::uint8_t IdData = 0x0A;
constexpr std::uint8_t IdQuery = 0x0B;
constexpr std::uint8_t IdSync = 0x0D;
constexpr std::uint8_t IdAck = 0x0E;
constexpr std::uint8_t StatusRegister = 0xF2;
// A packet whose bytes straggle in longer than this is dropped half-way, as the firmware does.
constexpr SimTime PacketStaleAfter = std::chrono::milliseconds(100);

bool hasBit(std::uint16_t set, std::uint8_t id) {
    return id < 16 && ((set >> id) & 1U) != 0;
}

std::uint32_t length24(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16));
}

std::string hex(unsigned value, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%0*X", digits, value);
    return buffer;
}

}  // namespace

std::string describeMode(BoardMode mode) {
    return mode == BoardMode::Download ? "download" : "update";
}

BoardModel::BoardModel(BoardConfig config) : config_(std::move(config)) {}

BoardMode BoardModel::mode(SimTime at) const {
    if (config_.mode == BoardMode::Update || (firmwareStartsAt_ && at >= *firmwareStartsAt_)) {
        return BoardMode::Update;
    }
    return BoardMode::Download;
}

void BoardModel::report(SimTime at, const std::string& summary) {
    if (onExchange) {
        onExchange(at, summary);
    }
}

void BoardModel::receive(std::uint8_t byte, SimTime at) {
    if (dropped_) {
        return;
    }
    received_.push_back({byte, at});
    if (mode(at) == BoardMode::Download) {
        loaderByte(byte, at);
    } else {
        firmwareByte(byte, at);
    }
    if (config_.dropAfterBytes && received_.size() >= *config_.dropAfterBytes) {
        dropped_ = true;
        output_.clear();
        report(at, "line dropped after " + std::to_string(received_.size()) + " bytes");
    }
}

void BoardModel::loaderByte(std::uint8_t byte, SimTime at) {
    if (firmwareStartsAt_) {
        return;  // the image is starting; nothing listens until its firmware runs
    }
    if (loaderExpecting_) {
        loadedImage_.push_back(byte);
        if (loadedImage_.size() == *loaderExpecting_) {
            firmwareStartsAt_ = at + config_.bootTime;
            report(at, "loader: " + std::to_string(loadedImage_.size()) +
                           " image bytes received, image started");
        }
        return;
    }
    // The loader wakes on FF FF, then takes FF 0C 05 and a 24-bit length.
    loaderRecent_.push_back(byte);
    if (loaderRecent_.size() > 8) {
        loaderRecent_.erase(loaderRecent_.begin());
    }
    static constexpr std::uint8_t Wake[] = {0xFF, 0xFF, 0xFF, 0x0C, 0x05};
    if (loaderRecent_.size() == 8 &&
        std::equal(std::begin(Wake), std::end(Wake), loaderRecent_.begin())) {
        const std::uint32_t length = length24(&loaderRecent_[5]);
        loaderIgnored_ = received_.size() - 8;
        loaderExpecting_ = length;
        loadedImage_.clear();
        report(at, "loader: " + std::to_string(loaderIgnored_) +
                       " bytes ignored, then wake bytes and LoaderCommand for " +
                       std::to_string(length) + " bytes");
        if (length == 0) {
            firmwareStartsAt_ = at + config_.bootTime;
        }
    }
}

void BoardModel::firmwareByte(std::uint8_t byte, SimTime at) {
    if (payloadExpecting_) {
        programmedPayload_.push_back(byte);
        if (programmedPayload_.size() == *payloadExpecting_) {
            payloadExpecting_.reset();
            ++imagesProgrammed_;
            const bool answered = !config_.silent && !hasBit(config_.unansweredIds, IdData);
            acknowledge(IdData, at);
            report(at, "Data: " + std::to_string(programmedPayload_.size()) + " bytes received, " +
                           (answered ? "acknowledged" : "not acknowledged") +
                           ", EEPROM programmed, status " + hex(config_.statusValue, 4));
        }
        return;
    }
    if (!packet_.empty() && at - lastByteAt_ > PacketStaleAfter) {
        packet_.clear();
    }
    lastByteAt_ = at;
    if (packet_.empty() && byte != Lead) {
        ++firmwareIgnored_;
        return;
    }
    packet_.push_back(byte);
    if (packet_.size() == 6) {
        const std::vector<std::uint8_t> packet = std::exchange(packet_, {});
        handlePacket(packet.data(), at);
    }
}

void BoardModel::handlePacket(const std::uint8_t* p, SimTime at) {
    const std::uint8_t id = p[1];
    const SimTime replyAt = at + config_.replyDelay;
    switch (id) {
        case IdSync: {
            ++syncsSeen_;
            const std::string name = "Sync #" + std::to_string(syncsSeen_);
            if (config_.silent || syncsSeen_ < config_.answerFromSync ||
                hasBit(config_.unansweredIds, IdSync)) {
                report(at, name + ": not answered");
                return;
            }
            acknowledge(IdSync, at);
            send({Lead, IdSync, 0, 0, 0, 0}, replyAt, true);
            report(at, name + ": answered with Ack and Sync");
            return;
        }
        case IdAck:
            report(at, "host Ack");
            return;
        case IdTransferFirmware:
            announcedLength_ = length24(p + 3);
            acknowledge(id, at);
            report(at, "TransferFirmware for " + std::to_string(announcedLength_) + " bytes");
            return;
        case IdData: {
            const std::uint32_t length = length24(p + 3);
            programmedPayload_.clear();
            report(at, "Data: " + std::to_string(length) + " bytes announced");
            if (length == 0) {
                acknowledge(IdData, at);
            } else {
                payloadExpecting_ = length;
            }
            return;
        }
        case IdQuery: {
            const std::uint8_t reg = p[2];
            const std::uint16_t value = reg == StatusRegister ? config_.statusValue : 0;
            if (config_.silent || hasBit(config_.unansweredIds, IdQuery)) {
                report(at, "Query " + hex(reg, 2) + ": not answered");
                return;
            }
            acknowledge(IdQuery, at);
            send({Lead, IdData, config_.dataReplyParam, 0, 0, 0}, replyAt, true);
            const std::uint8_t valueBytes[2] = {static_cast<std::uint8_t>(value & 0xFF),
                                                static_cast<std::uint8_t>(value >> 8)};
            for (int i = 0; i < std::min(config_.statusBytes, 2); ++i) {
                send({valueBytes[i]}, replyAt, false);
            }
            report(at, "Query " + hex(reg, 2) + ": value " + hex(value, 4));
            return;
        }
        default:
            report(at, "packet id " + hex(id, 2) + " ignored");
            return;
    }
}

void BoardModel::acknowledge(std::uint8_t id, SimTime at) {
    if (hasBit(config_.unansweredIds, id)) {
        return;
    }
    const std::uint8_t param = hasBit(config_.wrongAckFor, id) ? (id ^ 0x01) : id;
    send({Lead, IdAck, param, 0, 0, 0}, at + config_.replyDelay, true);
}

void BoardModel::send(std::initializer_list<std::uint8_t> bytes, SimTime readyAt, bool packet) {
    if (config_.silent || dropped_) {
        return;
    }
    SimTime cursor = std::max(readyAt, txFree_);
    long long index = 0;
    for (const std::uint8_t b : bytes) {
        if (packet && index == 3) {
            cursor += config_.splitGap;
        }
        cursor = byteDone(cursor, config_.baud, 1);
        output_.push_back({b, cursor});
        ++index;
    }
    txFree_ = cursor;
}

}  // namespace zq::sim
