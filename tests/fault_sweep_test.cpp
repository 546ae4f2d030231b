// Every port call of a whole Download and a whole Update made to go wrong in turn, and each fault
// of the board or the port named by the outcome: whatever happens, the user sees one box of the
// program's own, never a success the board did not confirm, and gets the port back as it was
// found, in bounded time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "image/boot_header.h"
#include "protocol/command_packet.h"
#include "support/faulty_platform.h"
#include "support/operation_fixture.h"
#include "text/messages.h"
#include "transfer/operation.h"

namespace zq::test {
namespace {

// Every deadline of an operation running out: sixty unanswered handshake tries, each read and
// write at its time limit, the loader's start and the board's programming waits.
constexpr milliseconds UpdateLimit{16300};
constexpr milliseconds DownloadLimit = UpdateLimit + milliseconds(10000);

const ShownBox CloseBox{BoxStyle::Error, false, std::string(messages::CannotClosePort)};

sim::BoardConfig boardFor(TransferMode mode) {
    return {.mode = mode == ModeUpdate ? sim::BoardMode::Update : sim::BoardMode::Download};
}

// The board took the whole image and programmed it, after running it from its loader when it
// started in download mode.
bool boardConfirmed(const sim::BoardModel& board) {
    const std::vector<std::uint8_t> image = paddedImage();
    std::vector<std::uint8_t> payload(BootHeader.begin(), BootHeader.end());
    payload.insert(payload.end(), image.begin(), image.end());
    return board.imagesProgrammed() == 1 && board.programmedPayload() == payload &&
           (board.config().mode == sim::BoardMode::Update || board.loadedImage() == image);
}

// One operation on a fresh port.
struct Session {
    explicit Session(sim::BoardConfig board = {}) : line(board), faulty(line), port(faulty) {}
    sim::SimulatedLine line;
    FaultyPlatform faulty;
    PortState port;
};

struct Ran {
    bool ok = false;
    zq::Outcome outcome;
    sim::SimTime took{};
    std::vector<ShownBox> boxes;
};

Ran runOnce(Session& s, TransferMode mode, std::uint32_t reserved = 0) {
    RecordingWindow window;
    RecordingProgress progress;
    TransferJob job;
    fillJob(job, mode, "COM1");
    job.reserved = reserved;
    const sim::SimTime start = s.line.clock.now();
    Ran out;
    out.ok = runOperation(window, job, &progress, s.port, out.outcome);
    out.took = s.line.clock.now() - start;
    out.boxes = std::move(window.boxes);
    return out;
}

// What must hold after any operation, whatever went wrong in it.
void checkOutcome(const Session& s, TransferMode mode, const Ran& out) {
    const std::optional<FaultHit>& hit = s.faulty.hit;
    SCOPED_TRACE(hit ? "struck call " + std::to_string(hit->call) : "struck nothing");
    const bool closeFailed =
        (hit && hit->kind == Kind::Close) || !s.line.eventsOf(Kind::CloseFailed).empty();
    const bool wakeFailed = out.outcome.step == Step::WakeBytes;

    // One box of the operation's own, and the close box only when a close failed.
    EXPECT_EQ(out.boxes.size(), closeFailed ? 2u : 1u);
    for (const ShownBox& box : out.boxes) {
        if (!box.owned) {
            EXPECT_EQ(box, CloseBox);
        } else if (out.ok) {
            EXPECT_EQ(box, plainBox(messages::Success.forMode(mode)));
        } else {
            EXPECT_EQ(box.style, BoxStyle::Error) << box.text;
        }
    }
    EXPECT_EQ(static_cast<bool>(out.outcome.closeFault), closeFailed);
    EXPECT_EQ(out.outcome.performed, mode);
    if (out.ok) {
        EXPECT_TRUE(boardConfirmed(s.line.board)) << "success the board did not confirm";
    }
    // The board programs only an image it acknowledged: the programming wait comes after the Ack.
    const auto sleeps = s.line.eventsOf(Kind::Sleep);
    EXPECT_EQ(std::any_of(sleeps.begin(), sleeps.end(), [](auto* e) { return e->asked == 5000; }),
              out.ok || out.outcome.step == Step::Status);

    // The port: handed back as found, or held where the program keeps it.
    const bool held = s.port.handle != nullptr;
    EXPECT_EQ(held, s.line.isOpen());
    const LineSettings found = sim::SimulatedLine::initialSettings();
    const DcbFields phaseSettings = lineSettingsFor(found, LineSpeed).fields;
    if (wakeFailed) {
        EXPECT_TRUE(held);
        EXPECT_EQ(s.line.settings().fields, phaseSettings);
        EXPECT_EQ(s.line.timeouts(), FixedTimeouts);
        EXPECT_EQ(s.line.timerRequests(), 1);
    } else {
        EXPECT_EQ(held, closeFailed);
        // A failed restoring call leaves what it should have put back. A port whose line
        // settings cannot be applied gets the settings found at open back before it is closed,
        // even when an earlier phase had changed them.
        if (!(hit && hit->restoring && hit->kind == Kind::SetTimeouts)) {
            EXPECT_EQ(s.line.timeouts(), sim::SimulatedLine::initialTimeouts());
        }
        if (hit && hit->kind == Kind::SetState && hit->restoring) {
            EXPECT_TRUE(s.line.settings().fields == found.fields ||
                        s.line.settings().fields == phaseSettings);
        } else {
            EXPECT_EQ(s.line.settings().fields, found.fields);
        }
        // A port that could not be let go keeps its timer request until it is.
        EXPECT_EQ(s.line.timerRequests(), held ? 1 : 0);
    }
    EXPECT_LE(out.took, mode == ModeUpdate ? UpdateLimit : DownloadLimit);
}

// Under the sanitizers every run costs far more, so only every few k is taken there.
#if defined(__SANITIZE_ADDRESS__)
constexpr int Stride = 4;
#else
constexpr int Stride = 1;
#endif

void sweep(TransferMode mode) {
    Session healthy(boardFor(mode));
    ASSERT_TRUE(runOnce(healthy, mode).ok);
    const auto runWith = [&](Fault fault, int k) {
        SCOPED_TRACE("fault " + std::to_string(static_cast<int>(fault)) +
                     " at k=" + std::to_string(k));
        Session s(boardFor(mode));
        s.faulty.arm(fault, k);
        const Ran out = runOnce(s, mode);
        ASSERT_TRUE(s.faulty.hit) << "the fault never struck";
        checkOutcome(s, mode, out);
    };
    for (int k = 1; k <= healthy.faulty.calls(); k += Stride) {
        runWith(Fault::FailCall, k);
    }
    for (Fault fault : {Fault::GarbageRead, Fault::EmptyRead}) {
        for (int k = 1; k <= healthy.faulty.reads(); k += Stride) {
            runWith(fault, k);
        }
    }
}

TEST(FaultSweep, EveryCallOfADownloadFailingInTurn) {
    sweep(ModeDownload);
}

TEST(FaultSweep, EveryCallOfAnUpdateFailingInTurn) {
    sweep(ModeUpdate);
}

using Spoil = std::function<void(sim::SimulatedLine&)>;

// Fails the reads that follow a write of a packet with this id.
Spoil readAfter(std::uint8_t id) {
    return [id](sim::SimulatedLine& line) {
        line.faults.readFails = [&line, id] {
            const auto writes = line.eventsOf(Kind::Write);
            return !writes.empty() && writes.back()->bytes.size() == 6 &&
                   writes.back()->bytes[1] == id;
        };
    };
}

Spoil failWrite(std::vector<std::uint8_t> prefix, long result = -1) {
    return [prefix, result](sim::SimulatedLine& line) {
        line.faults.writeFault = failWritesStartingWith(prefix, result);
    };
}

// The same with the device saying it has gone.
Spoil gone(Spoil spoil) {
    return [spoil](sim::SimulatedLine& line) {
        spoil(line);
        line.faults.error.deviceGone = true;
    };
}

// The loader took the image, then the line went: the update phase cannot set its speed.
Spoil lineGoneAtSpeedChange() {
    return gone([](sim::SimulatedLine& line) {
        line.faults.setStateFails = [&line, failed = false](const LineSettings&) mutable {
            return !line.board.loadedImage().empty() && !std::exchange(failed, true);
        };
    });
}

// The reads after the image's last bytes.
Spoil readAfterImage() {
    return gone([](sim::SimulatedLine& line) {
        line.faults.readFails = [&line] {
            const auto writes = line.eventsOf(Kind::Write);
            return !writes.empty() && writes.back()->bytes.size() > 6;
        };
    });
}

// Where a failed close shows its box: before the outcome's, or after it.
enum class Close { Fine, BoxFirst, BoxLast };

// What one fault of the board or of the port makes of a whole operation: the outcome names it,
// with its evidence, beside the boxes shown.
struct OutcomeCase {
    const char* name;
    TransferMode mode;
    sim::BoardConfig board;
    Spoil spoil;
    OutcomeKind kind;
    Step step;
    TransferPhase phase;
    zq::BoardMode boardMode;
    std::string_view box;
    std::string_view faultCall{};  // the port call that failed, with the device's reason
    std::optional<std::uint16_t> status{};
    std::uint32_t replyBytes = 0;                      // of the reply that was not the one wanted
    std::optional<std::chrono::nanoseconds> lateBy{};  // after the request it answers
    Close close = Close::Fine;
    std::uint32_t reserved = 0;  // of the capacity, so that the image is too long
    ImageFault image{};
};

TEST(FaultSweep, EachFaultOfTheBoardOrThePortEndsInItsOutcome) {
    using namespace messages;
    using K = OutcomeKind;
    constexpr auto Upd = sim::BoardMode::Update;
    constexpr auto Dl = sim::BoardMode::Download;
    constexpr auto Up = ModeUpdate;
    constexpr auto Down = ModeDownload;
    constexpr auto Seen = zq::BoardMode::Update;
    constexpr auto Quiet = zq::BoardMode::Download;
    constexpr auto Unsure = zq::BoardMode::Unknown;  // bytes, or a failed Sync: no handshake
    using Board = sim::BoardConfig;
    constexpr std::optional<std::uint16_t> NoStatus;
    const auto port = [](auto set) { return Spoil(set); };
    const Spoil closeFails = port([](auto& l) { l.faults.closeFailures = 1; });
    // Read at the next try, 30 ms and the reply's own 4.17 ms on the wire after that try's Sync.
    constexpr std::chrono::nanoseconds LateUpdate{34166664};
    constexpr std::optional<std::chrono::nanoseconds> OnTime;
    const std::vector<OutcomeCase> cases = {
        {"programmed", Up, Board{.mode = Upd, .statusValue = 0x0100}, nullptr, K::Success,
         Step::None, PhaseUpdate, Seen, Success.update, "", 0x0100},
        {"loaded and programmed", Down, Board{.mode = Dl}, nullptr, K::Success, Step::None,
         PhaseUpdate, Quiet, Success.download, "", 0},
        {"silent", Up, Board{.mode = Upd, .silent = true}, nullptr, K::NoAnswer, Step::Handshake,
         PhaseUpdate, Quiet, BoardNotAnswering.update},
        {"silent after the loader", Down, Board{.mode = Dl, .silent = true}, nullptr, K::NoAnswer,
         Step::Handshake, PhaseUpdate, Quiet, BoardNotAnswering.download},
        {"firmware under download", Down, Board{.mode = Upd}, nullptr, K::BoardInOtherMode,
         Step::Handshake, PhaseDownload, Seen, BoardInUpdateMode.download},
        {"replies split", Up, Board{.mode = Upd, .splitGap = milliseconds(20)}, nullptr,
         K::NotUnderstood, Step::Handshake, PhaseUpdate, Unsure, BoardNotAnswering.update},
        {"wrong Ack of TransferFirmware", Up, Board{.wrongAckFor = 1u << IdTransferFirmware},
         nullptr, K::WrongReply, Step::TransferFirmware, PhaseUpdate, Seen,
         AfterTransferFirmwareCommand, "", NoStatus, 6},
        {"TransferFirmware unanswered", Up, Board{.unansweredIds = 1u << IdTransferFirmware},
         nullptr, K::NoReply, Step::TransferFirmware, PhaseUpdate, Seen,
         AfterTransferFirmwareCommand},
        {"wrong Ack of Data", Up, Board{.wrongAckFor = 1u << IdData}, nullptr, K::WrongReply,
         Step::PayloadAck, PhaseUpdate, Seen, PayloadNotAcknowledged.update, "", NoStatus, 6},
        {"Data unanswered", Up, Board{.unansweredIds = 1u << IdData}, nullptr, K::NoReply,
         Step::PayloadAck, PhaseUpdate, Seen, PayloadNotAcknowledged.update},
        {"replies 30 ms late", Up, Board{.replyDelay = milliseconds(30)}, nullptr, K::LateReply,
         Step::TransferFirmware, PhaseUpdate, Seen, AfterTransferFirmwareCommand, "", NoStatus, 6,
         LateUpdate},
        // Measured from the handshake of the update phase, never from the loader's Syncs.
        {"replies 30 ms late after the loader", Down,
         Board{.mode = Dl, .replyDelay = milliseconds(30)}, nullptr, K::LateReply,
         Step::TransferFirmware, PhaseUpdate, Quiet, AfterTransferFirmwareCommand, "", NoStatus, 6,
         LateUpdate},
        {"EEPROM failed", Up, Board{.statusValue = 0x00FF}, nullptr, K::EepromFailed, Step::Status,
         PhaseUpdate, Seen, EepromProgramFail, "", 0x00FF},
        {"Query unanswered", Up, Board{.unansweredIds = 1u << IdQuery}, nullptr,
         K::StatusNotReported, Step::Status, PhaseUpdate, Seen, EepromProgramFail},
        // A board that goes away is a board failure at every stage, whichever call finds it.
        {"line dropped in the handshake", Up, Board{.dropAfterBytes = 3}, nullptr, K::BoardGone,
         Step::Handshake, PhaseUpdate, Unsure, BoardNotAnswering.update, "write"},
        {"line dropped in the image", Down, Board{.mode = Dl, .dropAfterBytes = 1000}, nullptr,
         K::BoardGone, Step::LoaderImage, PhaseDownload, Quiet, LoaderTransferFail.download,
         "write"},
        {"line gone after the loader", Down, Board{.mode = Dl}, lineGoneAtSpeedChange(),
         K::BoardGone, Step::Configure, PhaseUpdate, Quiet, CannotConfigPort,
         "apply the line settings"},
        {"line dropped in the payload", Up, Board{.dropAfterBytes = 1000}, nullptr, K::BoardGone,
         Step::Payload, PhaseUpdate, Seen, PayloadSendFail.update, "write"},
        {"line gone before the Ack", Up, Board{}, readAfterImage(), K::BoardGone, Step::PayloadAck,
         PhaseUpdate, Seen, PayloadNotAcknowledged.update, "read"},
        {"line gone while programming", Up, Board{}, gone(failWrite({0xAA, IdQuery})), K::BoardGone,
         Step::Status, PhaseUpdate, Seen, EepromProgramFail, "write"},
        {"no such port", Up, Board{}, port([](auto& l) { l.deviceName = "COM7"; }),
         K::PortNotOpened, Step::Open, PhaseUpdate, Unsure, CannotOpenPort},
        {"settings unreadable", Up, Board{}, port([](auto& l) { l.faults.getStateFails = true; }),
         K::PortNotConfigured, Step::Configure, PhaseUpdate, Unsure, CannotConfigPort,
         "read the line settings"},
        {"queues refused", Down, Board{}, port([](auto& l) { l.faults.setupQueuesFails = true; }),
         K::PortNotConfigured, Step::Configure, PhaseDownload, Unsure, CannotConfigPort,
         "set the queue sizes"},
        {"line speed refused", Up, Board{},
         port([](auto& l) { l.faults.setStateFails = [](const LineSettings&) { return true; }; }),
         K::PortNotConfigured, Step::Configure, PhaseUpdate, Unsure, CannotConfigPort,
         "apply the line settings"},
        {"Sync not written", Up, Board{}, failWrite({0xAA, IdSync}), K::NotSent, Step::Handshake,
         PhaseUpdate, Unsure, BoardNotAnswering.update, "write"},
        {"wake bytes not written", Down, Board{.mode = Dl}, failWrite({0xFF, 0xFF}), K::NotSent,
         Step::WakeBytes, PhaseDownload, Quiet, CannotUseComPort, "write"},
        {"Loader packet not written", Down, Board{.mode = Dl}, failWrite({0xFF, 0x0C}), K::NotSent,
         Step::LoaderCommand, PhaseDownload, Quiet, CannotUseComPort, "write"},
        {"TransferFirmware not written", Up, Board{}, failWrite({0xAA, IdTransferFirmware}),
         K::NotSent, Step::TransferFirmware, PhaseUpdate, Seen, CannotUseComPort, "write"},
        {"Data not written", Up, Board{}, failWrite({0xAA, IdData}), K::NotSent, Step::DataCommand,
         PhaseUpdate, Seen, CannotUsePort, "write"},
        {"image cut short", Down, Board{.mode = Dl},
         failWrite({builtInImage(), builtInImage() + 8}, 300), K::NotSent, Step::LoaderImage,
         PhaseDownload, Quiet, LoaderTransferFail.download},
        {"header cut short", Up, Board{}, failWrite({BootHeader.begin(), BootHeader.end()}, 31),
         K::NotSent, Step::Payload, PhaseUpdate, Seen, PayloadSendFail.update},
        {"Query not written", Up, Board{}, failWrite({0xAA, IdQuery}), K::StatusNotReported,
         Step::Status, PhaseUpdate, Seen, EepromProgramFail, "write"},
        {"Ack of TransferFirmware unreadable", Up, Board{}, readAfter(IdTransferFirmware),
         K::NoReply, Step::TransferFirmware, PhaseUpdate, Seen, AfterTransferFirmwareCommand,
         "read"},
        {"status unreadable", Up, Board{}, readAfter(IdQuery), K::StatusNotReported, Step::Status,
         PhaseUpdate, Seen, EepromProgramFail, "read"},
        {"close refused after success", Up, Board{}, closeFails, K::Success, Step::None,
         PhaseUpdate, Seen, Success.update, "", 0, 0, OnTime, Close::BoxFirst},
        {"close refused after silence", Up, Board{.silent = true}, closeFails, K::NoAnswer,
         Step::Handshake, PhaseUpdate, Quiet, BoardNotAnswering.update, "", NoStatus, 0, OnTime,
         Close::BoxLast},
        // The built-in image padded, 5696 bytes, against what a reserve of 3000 leaves.
        {"image too long", Down, Board{.mode = Dl}, nullptr, K::ImageRefused, Step::None,
         PhaseDownload, Unsure, FirmwareTooLong, "", NoStatus, 0, OnTime, Close::Fine, 3000,
         ImageFault{ImagePlanFault::TooLong, 5696, ImageCapacity - 3000}},
    };
    for (const OutcomeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Session s(c.board);
        s.line.faults.error = {.code = 5, .text = "Input/output error"};
        if (c.spoil) {
            c.spoil(s.line);
        }
        const Ran out = runOnce(s, c.mode, c.reserved);
        const zq::Outcome& o = out.outcome;
        EXPECT_EQ(o.kind, c.kind);
        EXPECT_EQ(o.step, c.step);
        EXPECT_EQ(o.phase, c.phase);
        EXPECT_EQ(o.boardMode, c.boardMode);
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.reply.received, c.replyBytes);
        EXPECT_EQ(o.reply.lateBy, c.lateBy);
        EXPECT_EQ(o.image, c.image);
        EXPECT_EQ(o.fault.call, c.faultCall);
        EXPECT_EQ(o.fault.error.code, c.faultCall.empty() ? 0 : 5);
        EXPECT_EQ(o.closeFault.call, c.close == Close::Fine ? "" : "close");
        std::vector<ShownBox> boxes{c.kind == K::Success ? plainBox(c.box) : errorBox(c.box)};
        if (c.close != Close::Fine) {
            boxes.insert(c.close == Close::BoxFirst ? boxes.begin() : boxes.end(), CloseBox);
        }
        EXPECT_EQ(out.boxes, boxes);
        checkOutcome(s, c.mode, out);
    }
}

}  // namespace
}  // namespace zq::test
