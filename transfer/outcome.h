#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "job/transfer_job.h"
#include "owner/owner_window.h"
#include "protocol/packet_ops.h"
#include "serial/platform.h"
#include "serial/port_state.h"
#include "transfer/image_plan.h"

namespace zq {

// What ended an operation. The boxes say it in the board tool's fixed words; this says it to a
// program, with the evidence, so a front end never has to read a box to know what happened.
enum class OutcomeKind : std::uint8_t {
    Success,
    ImageRefused,       // the job's image breaks a length rule; no port was touched
    PortNotOpened,      // `open` says why
    PortNotConfigured,  // `fault` is the call that failed
    PortNotReleased,    // a port held from an earlier operation could not be closed
    NoAnswer,           // nothing came back: to the handshake, or after the loader
    NotUnderstood,      // bytes came back during the handshake, but no handshake
    BoardInOtherMode,   // the download phase found the firmware answering
    NotSent,            // a packet or the image did not leave: `step`, `fault`
    NoReply,            // nothing (or part of a packet) came for `step`'s packet: `reply`
    WrongReply,         // something else came for `step`'s packet: `reply`
    LateReply,          // the reply came after its window: `reply.lateBy`
    EepromFailed,       // the board reported `status` with its failure bit set
    StatusNotReported,  // the board did not tell its status: `reply`
    BoardGone,          // the board or its adapter went away during `reached`: `fault`
    Interrupted,        // a signal ended it at `reached`: `signal` (see signalEnds)
};

// The step of an operation an outcome points at.
enum class Step : std::uint8_t {
    None,
    Open,
    Configure,
    Handshake,
    WakeBytes,
    LoaderCommand,
    LoaderImage,
    TransferFirmware,
    DataCommand,
    Payload,
    PayloadAck,
    Status,
};

// What the first handshake of an operation showed about the board.
enum class BoardMode : std::uint8_t { Unknown, Download, Update };

struct Outcome {
    OutcomeKind kind = OutcomeKind::Success;
    std::optional<TransferMode> performed{};  // the operation that ran (flash chooses it), if any
    TransferPhase phase = PhaseDownload;      // the phase that ended it
    Step step = Step::None;
    std::optional<OperationStage> reached{};  // none: nothing was sent
    bool imageLoaded = false;  // the loader took the whole image (a Download's first phase)
    bool probed = false;       // the first handshake was made: `handshake` and `boardMode` tell it
    BoardMode boardMode = BoardMode::Unknown;  // stays unknown for bytes that made no handshake
    ImageFault image{};                        // for ImageRefused: why, with the lengths compared
    OpenFailure open{};
    PortFault fault{};
    ReplyEvidence reply{};
    HandshakeResult handshake{};
    TransferCount sent{};  // for NotSent: what left of `wanted` bytes
    std::uint32_t wanted = 0;
    std::optional<std::uint16_t> status{};
    int signal = 0;   // for Interrupted
    int heldOff = 0;  // a signal that came while the board programmed: it did not end the operation
    PortFault closeFault{};  // a close that failed on the way out, after the outcome above

    // The bool every operation returns beside its outcome is this, and nothing else.
    bool succeeded() const { return kind == OutcomeKind::Success; }
};

}  // namespace zq
