// The command line's side of serial ports: how --port and ZQ417_PORT name them, `ports` and its
// JSON, and the reply window of USB serial adapters (--latency, late replies) in virtual time.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "app/cli/command_line.h"
#include "app/records/port_choice.h"
#include "serial/latency_allowance.h"
#include "serial/port_state.h"
#include "sim/simulated_line.h"
#include "support/cli_run.h"
#include "support/image_files.h"
#include "support/port_infos.h"
#include "support/text_lines.h"
#include "text/messages.h"

namespace zq::test {
namespace {

namespace fs = std::filesystem;
using Kind = sim::PortEvent::Kind;
using std::chrono::milliseconds;

const PortInfo BuiltIn = ttyPort("ttyS0", "Built-in serial port");

// `--port auto`, and a run that names no port at all (no --port, ZQ417_PORT unset or empty), take
// the one USB serial adapter present; --port wins over the environment.
TEST(PortNames, AutoOrNoPortTakesTheOneUsbAdapterAndOtherwiseSaysWhyWithTheList) {
    const std::vector<PortInfo> one{BuiltIn, usbAdapter()};
    struct Way {
        std::vector<std::string> port;
        std::optional<std::string> environment;
    };
    for (const Way& way : std::vector<Way>{
             {{"--port", "auto"}, "COM3"}, {{}, std::nullopt}, {{}, ""}, {{}, "auto"}}) {
        SCOPED_TRACE((way.port.empty() ? "no --port" : way.port[1]) + ", ZQ417_PORT " +
                     way.environment.value_or("unset"));
        // Said without --trace; only /dev/ttyUSB0 exists on the line, so success says it was
        // opened.
        std::vector<std::string> args = {"update"};
        args.insert(args.end(), way.port.begin(), way.port.end());
        sim::SimulatedLine line;
        line.deviceName = "/dev/ttyUSB0";
        const CliRun chosen =
            runCliWith(args, line, {.ports = one, .environmentPort = way.environment});
        EXPECT_EQ(chosen.status, ExitSuccess) << chosen.err;
        EXPECT_TRUE(contains(chosen.err, "auto is /dev/ttyUSB0  FT232R USB UART")) << chosen.err;
    }

    // With no adapter, or several, nothing is guessed: the ports are listed and none is opened.
    sim::SimulatedLine untouched;
    const auto withPorts = [&](std::vector<PortInfo> ports, std::optional<std::string> port) {
        return runCliWith({"update"}, untouched, {.ports = ports, .environmentPort = port});
    };
    const CliRun noAdapter = withPorts({BuiltIn}, std::nullopt);
    EXPECT_EQ(noAdapter.status, ExitNoPort);
    EXPECT_EQ(noAdapter.err,
              "no port named (--port or ZQ417_PORT), so auto: no USB serial adapter is present; "
              "the serial ports here:\n  /dev/ttyS0  Built-in serial port\n");
    const CliRun several = withPorts({BuiltIn, one[1], usbAdapter(1, 0x1a86, 0x7523, "")}, "");
    EXPECT_EQ(several.status, ExitUsage);
    EXPECT_TRUE(contains(several.err,
                         "2 USB serial adapters are present; name one with --port:\n"
                         "  /dev/ttyUSB0  FT232R USB UART  FTDI  0403:6001  serial A50285BI\n"
                         "  /dev/ttyUSB1  FT232R USB UART  FTDI  1a86:7523\n"))
        << several.err;
    const CliRun wrongEnvironment = withPorts(one, "COM9");
    EXPECT_EQ(wrongEnvironment.status, ExitUsage);
    EXPECT_TRUE(wrongEnvironment.err.starts_with("ZQ417_PORT COM9: only COM1 to COM4"))
        << wrongEnvironment.err;
    EXPECT_TRUE(untouched.events.empty());
}

// Two names of one device would have two threads fight over one board; nothing is opened.
TEST(PortNames, TheSameDeviceUnderTwoNamesIsRefusedAsGivenTwice) {
    TempDir dir;
    const std::string link = (dir / "adapter").string();
    fs::create_symlink("/dev/null", link);
    sim::SimulatedLine untouched;
    const CliRun run = runCliWith({"update", "--port", link, "--port", "/dev/null"}, untouched);
    EXPECT_EQ(run.status, ExitUsage);
    EXPECT_EQ(run.err,
              "--port /dev/null is given twice: it is the same port as --port " + link + "\n");
    EXPECT_TRUE(untouched.events.empty());
}

// A bench of three ports, one held by minicom; the COM part comes from the device nodes.
TEST(PortsCommand, ListsMakerIdsSerialAndHoldersAsTextAndAsJson) {
    TempDir root;
    const fs::path dev = root / "dev";
    const fs::path sys = root / "sys";
    const fs::path proc = root / "proc";
    fs::create_directories(dev);
    for (const char* node : {"ttyS0", "ttyS1"}) {
        std::ofstream(dev / node).put('\0');
    }
    fs::create_directories(sys / "class" / "tty" / "ttyS1");
    std::ofstream(sys / "class" / "tty" / "ttyS1" / "type") << "0\n";
    fs::create_directories(proc / "4242" / "fd");
    std::ofstream(proc / "4242" / "comm") << "minicom\n";
    PortInfo held = usbAdapter();
    held.devicePath = (dev / "ttyUSB0").string();
    std::ofstream(held.devicePath).put('\0');
    fs::create_symlink(held.devicePath, proc / "4242" / "fd" / "3");
    PortInfo noSerial = usbAdapter(1, 0x1a86, 0x7523, "");
    noSerial.stableName.clear();
    const std::vector<PortInfo> bench{BuiltIn, held, noSerial};
    const CliSetup setup{.devRoot = dev, .sysRoot = sys, .ports = bench, .procRoot = proc};

    sim::SimulatedLine line;
    const CliRun text = runCliWith({"ports"}, line, setup);
    EXPECT_EQ(text.status, ExitSuccess);
    // The COM ports are shown under the test's own device directory.
    EXPECT_EQ(text.out, std::regex_replace(R"(Serial ports:
  /dev/ttyS0  Built-in serial port
  DEV/ttyUSB0  FT232R USB UART  FTDI  0403:6001  serial A50285BI
    also /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0
    in use by 4242 (minicom)
  /dev/ttyUSB1  FT232R USB UART  FTDI  1a86:7523
COM ports:
  COM1  DEV/ttyS0  present
  COM2  DEV/ttyS1  present (the kernel found no UART behind it)
  COM3  DEV/ttyS2  absent
  COM4  DEV/ttyS3  absent
)",
                                           std::regex("DEV"), dev.string()));

    const CliRun json = runCliWith({"ports", "--json"}, line, setup);
    EXPECT_EQ(json.status, ExitSuccess);
    // Known values as their JSON types; what cannot be known null.
    const nlohmann::json ports = nlohmann::json::parse(json.out).at("ports");
    const nlohmann::json com2 = nlohmann::json::parse(json.out).at("com_ports")[1];
    EXPECT_EQ(
        (nlohmann::json{ports[1]["vid"], ports[1]["pid"], ports[1]["bus"], ports[1]["in_use"],
                        ports[1]["users"], ports[0]["vid"], ports[0]["bus"], ports[0]["in_use"],
                        com2["present"], com2["uart_found"]}),
        (nlohmann::json{"0403", "6001", "usb", true, nlohmann::json::array({"4242 (minicom)"}),
                        nullptr, "other", false, true, false}));
}

// The durations of the reads of a run, in order.
std::vector<sim::SimTime> readDurations(const sim::SimulatedLine& line) {
    std::vector<sim::SimTime> durations;
    for (const sim::PortEvent* read : line.eventsOf(Kind::Read)) {
        durations.push_back(read->endedAt - read->at);
    }
    return durations;
}

TEST(ReplyWindow, LatencyWidensEveryReadWindowByExactlyThatMuchAndRestoresTheTimeoutsFound) {
    sim::SimulatedLine exact({.silent = true});
    EXPECT_EQ(runCliWith({"update"}, exact).status, ExitFailed);
    sim::SimulatedLine widened({.silent = true});
    EXPECT_EQ(runCliWith({"update", "--latency", "7"}, widened).status, ExitFailed);

    const std::vector<sim::SimTime> before = readDurations(exact);
    const std::vector<sim::SimTime> after = readDurations(widened);
    ASSERT_FALSE(before.empty());
    ASSERT_EQ(before.size(), after.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after[i] - before[i], milliseconds(7)) << "read " << i;
    }
    EXPECT_EQ(widened.timeouts(), sim::SimulatedLine::initialTimeouts());

    // Only timeouts with a total limit change.
    const CommTimeouts atOnce{TimeoutMaxDword, 0, 0, 0, 0};
    EXPECT_EQ(widenReadWindow(atOnce, milliseconds(20)), atOnce);
    const CommTimeouts noTotal{15, 0, 0, 0, 0};
    EXPECT_EQ(widenReadWindow(noTotal, milliseconds(20)), noTotal);
}

// Replies that leave N ms after each request end past the 24 ms window of a 6-byte read, as they
// do behind an adapter's latency timer, and replies that pause inside (zq417-sim --split-gap)
// longer than the 15 ms allowed between bytes: the failure says what came, and suggests a
// --latency with which the same board succeeds.
TEST(ReplyWindow, TheLatencySuggestedForALateOrSplitReplyMakesTheBoardSucceed) {
    const auto late = [](int ms) {
        return sim::BoardConfig{.mode = sim::BoardMode::Update, .replyDelay = milliseconds(ms)};
    };
    const auto split = [](int ms) {
        return sim::BoardConfig{.mode = sim::BoardMode::Update, .splitGap = milliseconds(ms)};
    };
    for (const sim::BoardConfig& board :
         {late(26), late(30), late(40), late(60), late(200), split(20), split(40), split(80),
          split(120), split(200)}) {
        SCOPED_TRACE(std::to_string(board.replyDelay.count()) + " ns late, split by " +
                     std::to_string(board.splitGap.count()) + " ns");
        sim::SimulatedLine slow(board);
        const CliRun failed = runCliWith({"update", "--quiet", "--json"}, slow);
        EXPECT_EQ(failed.status, ExitFailed);
        const std::size_t at = failed.err.find("try --latency ");
        ASSERT_NE(at, std::string::npos) << failed.err;
        // Split replies: the advice covers the gap with some to spare, in the JSON result too.
        const int advised = std::stoi(failed.err.substr(at + 14));
        EXPECT_TRUE(contains(failed.err,
                             nlohmann::json::parse(failed.out).at("advice").get<std::string>()));
        if (board.splitGap.count() > 0) {
            EXPECT_GE(milliseconds(advised), board.splitGap + milliseconds(10));
        }
        const std::string latency = std::to_string(advised);
        sim::SimulatedLine widened(board);
        const CliRun run = runCliWith({"update", "--quiet", "--latency", latency}, widened);
        EXPECT_EQ(run.status, ExitSuccess) << run.err;
    }
}

}  // namespace
}  // namespace zq::test
