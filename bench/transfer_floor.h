#pragma once

// The least time the protocol allows for a Download and an Update of the built-in image against a
// board that answers at once: the sum of its own pauses and read timeouts.

#include <chrono>
#include <cstdint>
#include <tuple>

#include "image/boot_header.h"
#include "protocol/command_packet.h"
#include "protocol/packet_ops.h"
#include "serial/port_state.h"
#include "transfer/image_plan.h"
#include "transfer/operation.h"

namespace zq::bench {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

// A reply read with nothing coming lasts its whole total timeout.
constexpr milliseconds ReplyTimeout{zq::FixedTimeouts.readTotalTimeoutConstant +
                                    zq::FixedTimeouts.readTotalTimeoutMultiplier *
                                        std::tuple_size_v<decltype(zq::CommandPacket::bytes)>};

// A chunk loop pauses before a last chunk shorter than a whole one.
inline milliseconds shortChunkPause(std::uint32_t length) {
    return length % zq::ChunkSize != 0 ? 1ms : 0ms;
}

// The loader never answers, so every try runs out.
inline milliseconds handshakeUnanswered() {
    return zq::SyncTries * (1ms              // before reading the Ack
                            + ReplyTimeout)  // no Ack comes
           + 5ms;                            // after the last try
}

// The firmware answers the first try at once.
inline milliseconds handshakeAnswered() {
    return 1ms     // before reading the Ack
           + 1ms   // before reading the board's Sync
           + 1ms   // after our Ack
           + 5ms;  // after the handshake
}

inline milliseconds downloadPhaseFloor(std::uint32_t loaderLength) {
    return handshakeUnanswered()            // the board must not answer in download mode
           + shortChunkPause(loaderLength)  // the image to the loader
           + 100ms;                         // the loaded image starts
}

inline milliseconds updatePhaseFloor(std::uint32_t imageLength) {
    return handshakeAnswered()                       // the firmware answers
           + 1ms                                     // before the Ack of TransferFirmware
           + 5ms                                     // after Data, before the payload
           + shortChunkPause(zq::BootHeader.size())  // the header's chunk loop
           + shortChunkPause(imageLength)            // the image's chunk loop
           + 1ms                                     // before the Ack of the payload
           + 5000ms                                  // the board programs its EEPROM
           + 200ms                                   // before the answer to the Query
           + 1ms                                     // after the Query
           + 1ms                                     // after acknowledging the status
           + 1000ms;                                 // before handing the port back
}

// The lengths come from the same rules the phases apply to the built-in image.
inline milliseconds floorOf(zq::TransferMode mode) {
    zq::TransferJob job;
    zq::fillJob(job, mode, "COM1");
    const zq::ImagePlan update = zq::planImage(job, zq::PhaseUpdate);
    const milliseconds updatePhase =
        updatePhaseFloor(update.length - static_cast<std::uint32_t>(zq::BootHeader.size()));
    if (mode == zq::ModeUpdate) {
        return updatePhase;
    }
    return downloadPhaseFloor(zq::planImage(job, zq::PhaseDownload).length) + updatePhase;
}

}  // namespace zq::bench
