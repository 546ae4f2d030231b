// Whole operations (download, update, flash) in virtual time against a hostile board: the board
// model with fault switches the input picks (as zq417-sim's options do), and after every write of
// the host, bytes the input adds to the board's replies, when it likes. Invariants, after every
// run: success only when the board sent a good status in answer to the host's last Query and the
// whole payload went out; the run ends within the bound the protocol's timeouts allow; the port
// is handed back as found; and the outcome's evidence is what the board sent.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "image/boot_header.h"
#include "image/built_in_image.h"
#include "protocol/command_packet.h"
#include "sim/simulated_line.h"
#include "transfer/operation.h"

namespace {

using namespace std::chrono_literals;
using zq::sim::PortEvent;

// Sixty unanswered handshake tries, each read and write at its limit, the loader's start and the
// board's programming, for a Download; a flash's probe is its operation's own handshake.
constexpr auto RunLimit = 26300ms;

// The input, read from the front; zeros once it is used up.
struct Input {
    std::span<const std::uint8_t> data;
    std::uint8_t next() {
        if (data.empty()) {
            return 0;
        }
        const std::uint8_t byte = data.front();
        data = data.subspan(1);
        return byte;
    }
};

class Quiet final : public zq::OwnerWindow {
  public:
    void showMessage(zq::BoxStyle, std::string_view) override {}
    void showUnownedMessage(zq::BoxStyle, std::string_view) override {}
    void operationStage(zq::OperationStage) override {}
};

// The board as zq417-sim's switches make it: its mode and one fault, with a value from the input.
zq::sim::BoardConfig boardFrom(Input& in) {
    zq::sim::BoardConfig board;
    const std::uint8_t switches = in.next();
    const std::uint8_t value = in.next();
    board.mode = (switches & 1) != 0 ? zq::sim::BoardMode::Download : zq::sim::BoardMode::Update;
    switch ((switches >> 1) % 9) {
        case 1:
            board.silent = true;
            break;
        case 2:
            board.wrongAckFor = static_cast<std::uint16_t>(1u << (value % 16));
            break;
        case 3:
            board.unansweredIds = static_cast<std::uint16_t>(1u << (value % 16));
            break;
        case 4:
            board.replyDelay = std::chrono::milliseconds(value);
            break;
        case 5:
            board.splitGap = std::chrono::milliseconds(value);
            break;
        case 6:
            board.statusValue = static_cast<std::uint16_t>(value | (in.next() << 8));
            break;
        case 7:
            board.dropAfterBytes = static_cast<std::uint64_t>(value) * 64;
            break;
        case 8:
            board.answerFromSync = value % 70;
            break;
        default:
            break;
    }
    return board;
}

// After each write of the host: up to 15 bytes more from the board, at a delay from the input.
void addReplies(zq::sim::SimulatedLine& line, Input& in) {
    line.faults.writeFault = [&line, &in](std::span<const std::uint8_t> bytes) {
        const std::uint8_t count = in.next() & 0x0F;
        auto at = line.clock.now() + bytes.size() * 700us + std::chrono::milliseconds(in.next());
        auto& output = line.board.output();
        for (std::uint8_t k = 0; k < count; ++k) {
            at += std::chrono::microseconds(in.next() * 100);
            const auto later = std::find_if(output.begin(), output.end(),
                                            [&](const auto& byte) { return byte.at > at; });
            output.insert(later, {in.next(), at});
        }
        return std::optional<long>();
    };
}

// Everything the host read after it last wrote a packet of this id.
std::vector<std::uint8_t> readAfterLast(const zq::sim::SimulatedLine& line, std::uint8_t id) {
    std::vector<std::uint8_t> read;
    for (const PortEvent& event : line.events) {
        if (event.kind == PortEvent::Kind::Write && event.bytes.size() == 6 &&
            event.bytes[0] == zq::PacketLead && event.bytes[1] == id) {
            read.clear();
        } else if (event.kind == PortEvent::Kind::Read) {
            read.insert(read.end(), event.bytes.begin(), event.bytes.end());
        }
    }
    return read;
}

bool contains(const std::vector<std::uint8_t>& all, std::span<const std::uint8_t> part) {
    return std::search(all.begin(), all.end(), part.begin(), part.end()) != all.end();
}

// Says which invariant broke, for the finding's report.
void check(bool holds, int line) {
    if (!holds) {
        std::fprintf(stderr, "operation_fuzzer.cpp:%d: invariant broken\n", line);
        __builtin_trap();
    }
}
#define CHECK(holds) check(holds, __LINE__)

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in{{data, size}};
    const std::uint8_t operation = in.next() % 3;
    zq::sim::SimulatedLine line(boardFrom(in));
    addReplies(line, in);
    Quiet window;
    zq::PortState port(line);
    zq::TransferJob job;
    zq::fillJob(job, operation == 1 ? zq::ModeUpdate : zq::ModeDownload, "COM1");
    zq::Outcome outcome;
    const auto began = line.clock.now();
    const bool ok = operation == 2 ? zq::runFlash(window, job, nullptr, port, outcome)
                                   : zq::runOperation(window, job, nullptr, port, outcome);

    CHECK(ok == outcome.succeeded());
    CHECK(line.clock.now() - began <= RunLimit);
    // Handed back as found, by the front end where the text keeps the port for the window's next
    // operation (wake bytes not sent); no close fails here.
    zq::releaseHeldPort(window, port);
    CHECK(!line.isOpen() && port.handle == nullptr && line.timerRequests() == 0);
    CHECK(line.settings().fields == zq::sim::SimulatedLine::initialSettings().fields);
    CHECK(line.timeouts() == zq::sim::SimulatedLine::initialTimeouts());

    // A status the board sent: its Ack of the Query, its Data reply, then the value.
    const std::vector<std::uint8_t> status = readAfterLast(line, zq::IdQuery);
    const bool statusSent = status.size() >= 14 && status[6] == zq::PacketLead &&
                            status[7] == zq::IdData && status[8] == 0x00;
    const auto sentValue =
        static_cast<std::uint16_t>(statusSent ? status[12] | status[13] << 8 : 0);
    if (ok) {
        CHECK(statusSent && outcome.status == sentValue &&
              (sentValue & zq::StatusProgramFailed) == 0);
        const std::vector<std::uint8_t> wire = line.wireFromHost();
        CHECK(contains(wire, zq::BootHeader) &&
              contains(wire, std::span(zq::builtInImage(), zq::BuiltInImageLength)));
    }
    const zq::ReplyEvidence& reply = outcome.reply;
    switch (outcome.kind) {
        case zq::OutcomeKind::EepromFailed:
            CHECK(statusSent && outcome.status == sentValue &&
                  (sentValue & zq::StatusProgramFailed) != 0);
            break;
        case zq::OutcomeKind::WrongReply:
        case zq::OutcomeKind::LateReply:
            CHECK(reply.received == 6 &&
                  contains(readAfterLast(line, 0), std::span(reply.got.bytes)));
            break;
        case zq::OutcomeKind::NoReply:
            CHECK(reply.received < 6);
            break;
        case zq::OutcomeKind::BoardInOtherMode:
            CHECK(outcome.boardMode == zq::BoardMode::Update);
            break;
        default:
            break;
    }
    return 0;
}
