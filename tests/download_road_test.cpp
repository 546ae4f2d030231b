// One whole Download with the board in download mode and the built-in image, checked byte for
// byte on the wire and against the protocol's own timing.
#include <gtest/gtest.h>

#include "protocol/command_packet.h"
#include "support/operation_fixture.h"
#include "text/messages.h"

namespace zq::test {
namespace {

double ms(sim::SimTime t) {
    return std::chrono::duration<double, std::milli>(t).count();
}

void append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

TEST(DownloadRoad, WireTimingBoxAndPortAreExact) {
    SimOperation op({.mode = sim::BoardMode::Download}, ModeDownload);
    ASSERT_TRUE(op.run());

    // What went to the board, in order.
    const std::vector<std::uint8_t> image = paddedImage();
    std::vector<std::uint8_t> expected = repeat(packetBytes(syncPacket()), 60);
    append(expected, {0xFF, 0xFF});
    append(expected, {0xFF, 0x0C, 0x05, 0x40, 0x16, 0x00});
    append(expected, image);
    append(expected, packetBytes(syncPacket()));
    append(expected, packetBytes(ackPacket()));
    append(expected, {0xAA, 0x06, 0x03, 0x60, 0x16, 0x00});
    append(expected, {0xAA, 0x0A, 0x03, 0x60, 0x16, 0x00});
    append(expected, {BootHeader.begin(), BootHeader.end()});
    append(expected, image);
    append(expected, {0xAA, 0x0B, 0xF2, 0x00, 0x00, 0x00});
    append(expected, packetBytes(ackPacket()));
    EXPECT_EQ(op.line.wireFromHost(), expected);
    EXPECT_EQ(op.line.board.loadedImage(), image);

    // When each write began, in milliseconds of the simulation.
    const auto w = op.writes();
    ASSERT_EQ(w.size(), 93u);
    const double syncTry = ms(sim::byteDone({}, 14400, 6)) + 1 + 24;
    EXPECT_NEAR(ms(w[59]->at), 59 * syncTry, 0.001);
    EXPECT_NEAR(ms(w[60]->at), 60 * syncTry + 5, 0.001);  // wake bytes
    EXPECT_EQ(w[61]->at, w[60]->endedAt);                 // LoaderCommand: no pause
    EXPECT_EQ(w[62]->at, w[61]->endedAt);                 // first chunk: no pause
    EXPECT_EQ(w[62]->asked, 512u);
    EXPECT_EQ(w[73]->asked, 64u);  // 11 chunks of 512, then 64
    EXPECT_EQ(w[73]->at - w[72]->endedAt, milliseconds(1));
    EXPECT_EQ(w[74]->at - w[73]->endedAt, milliseconds(100));  // the image starts meanwhile
    // The update phase: handshake answered at once, then the announcements and the payload.
    EXPECT_EQ(w[78]->asked, 32u);
    EXPECT_EQ(w[78]->at - w[77]->endedAt, milliseconds(5 + 1));
    EXPECT_EQ(w[90]->asked, 64u);
    // The Ack of Data arrives within the reply window; 5 s later the status query goes out.
    const auto reads = op.line.eventsOf(Kind::Read);
    const sim::PortEvent* dataAck = nullptr;
    for (const sim::PortEvent* r : reads) {
        if (r->at > w[90]->endedAt && r->at < w[91]->at) {
            dataAck = r;
            break;
        }
    }
    ASSERT_NE(dataAck, nullptr);
    EXPECT_EQ(dataAck->bytes, (std::vector<std::uint8_t>{0xAA, 0x0E, 0x0A, 0, 0, 0}));
    EXPECT_EQ(w[91]->at - dataAck->endedAt, milliseconds(5000));
    const sim::PortEvent* close = op.line.eventsOf(Kind::Close).back();
    EXPECT_EQ(close->at - w[92]->endedAt, milliseconds(1 + 1000));

    // The outcome: one box, the port handed back as it was found.
    EXPECT_EQ(op.window.boxes, (std::vector<ShownBox>{plainBox(messages::Success.download)}));
    EXPECT_TRUE(handedBack(op.line));
    EXPECT_EQ(op.line.eventsOf(Kind::Open).size(), 1u);  // the update phase reused the port

    // The bar covers each phase, and the update phase's reaches its end.
    EXPECT_EQ(op.progress.ranges, (std::vector<std::uint32_t>{5696, 5728}));
    EXPECT_EQ(op.progress.positions.back(), 5728u);
    EXPECT_EQ(op.progress.positions[11], 5696u);
    EXPECT_EQ(op.progress.positions[12], 32u);
}

}  // namespace
}  // namespace zq::test
