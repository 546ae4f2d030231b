// The "Firmware Station" window, offscreen: what its tiles and counts say for the boards'
// reports (a table of plug histories), the settings its command line gives and Start locks, and
// a run of the station core against boards in virtual time behind it.
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/qt/station/fixture_tile.h"
#include "app/qt/station/station_feed.h"
#include "app/qt/station/station_options.h"
#include "app/qt/station/station_settings_panel.h"
#include "app/qt/station/station_window.h"
#include "serial/forwarding_platform.h"
#include "serial/interruption.h"
#include "serial/posix/interrupt_pipe.h"
#include "sim/simulated_line.h"
#include "support/sim_fixture.h"

namespace {

using namespace std::chrono_literals;
using zq::OperationStage;
using zq::qt::StationCounts;
using zq::qt::StationFeed;
using zq::sim::BoardConfig;
using zq::sim::BoardMode;
using zq::sim::SimulatedLine;
using zq::station::BoardEnd;
using zq::station::BoardRecord;
using zq::station::BoardView;
using zq::station::Fixture;

// One fixture's boards as the station reports them, from the boards' threads.
struct Bench {
    explicit Bench(StationFeed& feed) : feed(feed) {}
    StationFeed& feed;
    zq::sim::SimulatedLine line;
    std::vector<std::unique_ptr<BoardRecord>> boards;

    BoardView view(const BoardRecord& record) {
        return {
            .number = record.number, .fixture = record.fixture, .record = record, .platform = line};
    }
    BoardRecord& plug(const std::string& port) {
        auto record = std::make_unique<BoardRecord>();
        record->number = boards.size();
        record->fixture = zq::station::fixtureNamed(port);
        boards.push_back(std::move(record));
        feed.boardStarted(view(*boards.back()));
        feed.tryStarting(view(*boards.back()), 1, 0);
        return *boards.back();
    }
    void end(BoardRecord& board, BoardEnd end,
             std::optional<OperationStage> during = std::nullopt) {
        board.end = end;
        board.pulledDuring = during;
        feed.boardEnded(board);
    }
};

using History = std::function<void(Bench&)>;

// No plug events: the ports present stay as they are.
struct NoPlugs : zq::PortWatcher {
    ~NoPlugs() override { ::close(fd); }
    int eventDescriptor() const override { return fd; }
    bool takeEvents() override { return false; }
    int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
};

// Virtual boards behind the window: each port's boards in order, one per plug, each on a
// simulated line of its own.
struct VirtualBoards {
    std::vector<zq::PortInfo> ports;
    std::map<std::string, std::deque<BoardConfig>> boards;
    std::map<std::string, std::vector<std::unique_ptr<SimulatedLine>>> lines;
    std::function<void(SimulatedLine&)> arm = [](SimulatedLine&) {};
    std::mutex lock;
    SimulatedLine unused;

    void add(const std::string& pts, std::deque<BoardConfig> configs) {
        zq::PortInfo port;
        port.systemName = pts;
        port.devicePath = "/dev/" + pts;
        port.bus = zq::PortInfo::Bus::Virtual;
        ports.push_back(port);
        boards[port.devicePath] = std::move(configs);
    }
    zq::station::StationSeam seam() {
        return {.platform = unused,
                .platformFor = [this](const Fixture& fixture) -> std::unique_ptr<zq::Platform> {
                    const std::lock_guard hold(lock);
                    std::deque<BoardConfig>& queue = boards.at(fixture.openName);
                    auto& line = lines[fixture.openName].emplace_back(
                        std::make_unique<SimulatedLine>(queue.front()));
                    if (queue.size() > 1) {
                        queue.pop_front();
                    }
                    line->deviceName = fixture.openName;
                    arm(*line);
                    return std::make_unique<zq::ForwardingPlatform>(*line);
                },
                .listPorts = [this] { return ports; },
                .watchPorts = [] { return std::make_unique<NoPlugs>(); }};
    }
    std::vector<std::string> logged(const QString& file) {
        std::vector<std::string> lines;
        std::ifstream in(file.toStdString());
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
};

// Answers the next question box with `button`.
void answerNextBox(QMessageBox::StandardButton button) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, button] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            timer->deleteLater();
            box->button(button)->click();
        }
    });
    timer->start(5);
}

}  // namespace

Q_DECLARE_METATYPE(History)
Q_DECLARE_METATYPE(StationCounts)

namespace {

class StationWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void tilesSayWhereEachBoardIs_data() {
        QTest::addColumn<History>("history");
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<StationCounts>("counts");
        using S = OperationStage;
        QTest::newRow("plugged: probing")
            << History([](Bench& b) { b.feed.stage(b.view(b.plug("A")), S::Probing); }) << "probing"
            << "board 1" << StationCounts{.running = 1};
        QTest::newRow("half the image out") << History([](Bench& b) {
            BoardRecord& r = b.plug("A");
            b.feed.stage(b.view(r), S::Firmware);
            b.feed.range(b.view(r), 5728);
            b.feed.position(b.view(r), 2864);
        }) << "sending"
                                            << "board 1: 50 %" << StationCounts{.running = 1};
        QTest::newRow("programming for 3 s") << History([](Bench& b) {
            BoardRecord& r = b.plug("A");
            b.feed.stage(b.view(r), S::Programming);
            b.feed.programming(b.view(r), 3000ms);
        }) << "programming"
                                             << "board 1: 3 s" << StationCounts{.running = 1};
        QTest::newRow("confirmed")
            << History([](Bench& b) { b.end(b.plug("A"), BoardEnd::Succeeded); }) << "PASSED"
            << "board 1" << StationCounts{.passed = 1};
        QTest::newRow("failed, with the first line of why")
            << History([](Bench& b) { b.end(b.plug("A"), BoardEnd::Failed); }) << "FAILED"
            << "board 1: the board did not answer" << StationCounts{.failed = 1};
        QTest::newRow("pulled while the image went out")
            << History([](Bench& b) { b.end(b.plug("A"), BoardEnd::Pulled, S::Loader); })
            << "PULLED"
            << "board 1: pulled while sending" << StationCounts{.pulled = 1};
        QTest::newRow("a failed try waits for the next") << History([](Bench& b) {
            BoardRecord& r = b.plug("A");
            b.feed.tryEnded(b.view(r), {}, 6200ms);
        }) << "waiting"
                                                         << "board 1: tried again in 6 s"
                                                         << StationCounts{.running = 1};
        QTest::newRow("Stop cut it short")
            << History([](Bench& b) { b.end(b.plug("A"), BoardEnd::Interrupted); }) << "STOPPED"
            << "board 1" << StationCounts{.stopped = 1};
        QTest::newRow("a result stays until the next board is plugged there")
            << History([](Bench& b) {
                   b.end(b.plug("A"), BoardEnd::Failed);
                   b.end(b.plug("B"), BoardEnd::Succeeded);
                   b.plug("A");
               })
            << "probing"
            << "board 3" << StationCounts{.passed = 1, .failed = 1, .running = 1};
    }

    void tilesSayWhereEachBoardIs() {
        QFETCH(History, history);
        StationFeed feed({.reasonOf = [](const BoardRecord&) {
            return std::string("the board did not answer");
        }});
        Bench bench(feed);
        history(bench);
        zq::sim::SimulatedLine line;
        zq::qt::StationWindow window({.platform = line}, nullptr, {});
        window.present(feed.take());
        QVERIFY(window.tiles.contains("A"));
        const zq::qt::FixtureTile* tile = window.tiles.at("A");
        QFETCH(QString, word);
        QFETCH(QString, detail);
        QFETCH(StationCounts, counts);
        QCOMPARE(tile->word->text(), word);
        QCOMPARE(tile->detail->text(), detail);
        QVERIFY(counts == window.counts());
    }

    // 32 boards reporting at once wake the window once; it then takes each tile once, as it
    // stands last.
    void manyReportsWakeTheWindowOnce() {
        int wakes = 0;
        StationFeed feed({.changed = [&] { ++wakes; }});
        Bench bench(feed);
        for (int board = 0; board < 32; ++board) {
            BoardRecord& r = bench.plug("/dev/pts/" + std::to_string(board));
            bench.feed.range(bench.view(r), 5728);
            for (std::uint32_t sent = 0; sent <= 5728; sent += 512) {
                bench.feed.position(bench.view(r), sent);
            }
        }
        QCOMPARE(wakes, 1);
        const StationFeed::Changes changes = feed.take();
        QCOMPARE(changes.tiles.size(), std::size_t{32});
        QCOMPARE(changes.tiles.front().position, 5632u);
        bench.feed.position(bench.view(*bench.boards[0]), 5728);
        QCOMPARE(wakes, 2);
    }

    // 32 fixtures fit a 1366x768 screen (less the title bar and a panel) without scrolling, and
    // every tile still shows its word.
    void thirtyTwoFixturesFitTheScreen() {
        StationFeed feed({});
        Bench bench(feed);
        for (int board = 0; board < 32; ++board) {
            bench.plug("/dev/ttyUSB" + std::to_string(board));
        }
        zq::sim::SimulatedLine line;
        zq::qt::StationWindow window({.platform = line}, nullptr, {});
        window.present(feed.take());
        QTRY_COMPARE(window.tiles.size(), std::size_t{32});
        window.resize(1366, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* scroll = window.findChild<QScrollArea*>();
        QCOMPARE(scroll->verticalScrollBar()->maximum(), 0);
        QCOMPARE(scroll->horizontalScrollBar()->maximum(), 0);
        // In the order a person counts: ttyUSB2 in the first row, ttyUSB10 in the second.
        QVERIFY(window.tiles.at("/dev/ttyUSB10")->y() > window.tiles.at("/dev/ttyUSB2")->y());
        for (const auto& [name, tile] : window.tiles) {
            QVERIFY(tile->word->isVisible());
            QVERIFY(tile->word->height() >= tile->word->sizeHint().height());
        }
    }

    void cleanup() { zq::interruption::resetForTests(); }

    // The station core runs behind the window: a board that passes, one that fails and passes
    // when Retry presents its fixture again; the settings stay locked until Stop has ended the
    // run, and the next run may start afresh.
    void aRunFlashesEachBoardAndRetriesAFailedOne() {
        QTemporaryDir dir;
        VirtualBoards virt;
        virt.add("pts/1", {{.mode = BoardMode::Update}});
        virt.add("pts/2", {{.mode = BoardMode::Update, .statusValue = 0x0080},
                           {.mode = BoardMode::Download}});
        zq::qt::StationChoices choices;
        choices.logFile = dir.filePath("log.jsonl").toStdString();
        zq::qt::StationWindow window(virt.seam(), nullptr, choices);
        window.show();
        QVERIFY(window.start());
        QVERIFY(!window.startButton->isEnabled());
        QVERIFY(!window.settingsPanel->retriesBox->isEnabled());
        QVERIFY(!window.settingsPanel->logEdit->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(window.counts().failed, 1u, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(window.counts().passed, 1u, 20000);
        zq::qt::FixtureTile* failed = window.tiles.at("/dev/pts/2");
        QCOMPARE(failed->word->text(), QString("FAILED"));
        // The first line of the board's own reason.
        QVERIFY2(failed->detail->text().contains("status 0x0080"),
                 qPrintable(failed->detail->text()));
        QCOMPARE(window.tiles.at("/dev/pts/1")->word->text(), QString("PASSED"));
        QVERIFY(failed->retryButton->isVisible());
        QTest::mouseClick(failed->retryButton, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(window.counts().passed, 2u, 20000);
        QCOMPARE(failed->word->text(), QString("PASSED"));
        QCOMPARE(virt.lines.at("/dev/pts/2").size(), std::size_t{2});
        window.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!window.running(), 20000);
        QVERIFY(window.settingsPanel->retriesBox->isEnabled());
        QVERIFY(window.startButton->isEnabled());
        // Stop's interruption is forgotten, its wake pipe emptied: the next run's waits wait.
        QCOMPARE(zq::interruption::count(), 0);
        pollfd wake{zq::posix::interruptPipeFd(), POLLIN, 0};
        QCOMPARE(::poll(&wake, 1, 0), 0);
        QCOMPARE(virt.logged(dir.filePath("log.jsonl")).size(), std::size_t{3});
        for (const auto& [port, lines] : virt.lines) {
            for (const auto& line : lines) {
                QVERIFY(zq::test::handedBack(*line));
            }
        }
    }

    // Closing while a board is mid-way asks first: No leaves the run as it is; Yes stops it, and
    // the window closes once the board has ended, its port handed back and its record logged.
    void closingWhileABoardIsMidwayAsksFirst() {
        QTemporaryDir dir;
        VirtualBoards virt;
        virt.add("pts/1", {{.mode = BoardMode::Update}});
        virt.arm = [](SimulatedLine& line) {
            line.faults.onSleep = [](std::chrono::milliseconds) {
                for (int i = 0; i < 10000 && zq::interruption::count() == 0; ++i) {
                    std::this_thread::sleep_for(1ms);
                }
            };
        };
        zq::qt::StationChoices choices;
        choices.logFile = dir.filePath("log.jsonl").toStdString();
        zq::qt::StationWindow window(virt.seam(), nullptr, choices);
        bool closed = false;
        window.onClosed = [&] { closed = true; };
        window.show();
        QVERIFY(window.start());
        QTRY_COMPARE_WITH_TIMEOUT(window.counts().running, 1u, 20000);
        answerNextBox(QMessageBox::No);
        window.close();
        QVERIFY(window.running() && !closed);
        QVERIFY(window.stopButton->isEnabled());
        answerNextBox(QMessageBox::Yes);
        window.close();
        QTRY_VERIFY_WITH_TIMEOUT(closed, 20000);
        QVERIFY(!window.running());
        QCOMPARE(window.tiles.at("/dev/pts/1")->word->text(), QString("STOPPED"));
        QVERIFY(zq::test::handedBack(*virt.lines.at("/dev/pts/1").front()));
        const std::vector<std::string> logged = virt.logged(dir.filePath("log.jsonl"));
        QCOMPARE(logged.size(), std::size_t{1});
        QVERIFY(logged[0].find("\"interrupted_by\":2") != std::string::npos);
    }

    // An image file that is no image says why beside it, and the station cannot start with it.
    void aRefusedImageCannotBeStarted() {
        QTemporaryDir dir;
        QFile junk(dir.filePath("junk.bin"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(
            "\x7f"
            "ELF not an image");
        junk.close();
        zq::qt::StationChoices choices;
        choices.imageFile = junk.fileName().toStdString();
        choices.logFile = dir.filePath("log.jsonl").toStdString();
        SimulatedLine line;
        zq::qt::StationWindow window({.platform = line}, nullptr, choices);
        QVERIFY(window.settingsPanel->imageLine->text().startsWith("Refused: "));
        QVERIFY(window.settingsPanel->imageLine->text().size() > 12);
        QVERIFY(!window.startButton->isEnabled());
        QVERIFY(!window.start());
        QVERIFY(!window.running());
    }

    void theCommandLineFillsTheSettings_data() {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QString>("error");
        QTest::newRow("as watch names them")
            << QStringList{"--station", "--image=a.hex", "--log", "l.jsonl",      "--retries", "2",
                           "--port",    "COM1",          "-p",    "/dev/ttyUSB0", "--start"}
            << "";
        QTest::newRow("retries past the limit")
            << QStringList{"--station", "--retries", "101"}
            << "--retries takes a whole number from 0 to 100, not '101'";
        QTest::newRow("a pattern and ports")
            << QStringList{"--station", "--match", "*FTDI*", "--port", "COM1"}
            << "--match and --port exclude each other: the ports given are the ones watched";
        QTest::newRow("a value missing")
            << QStringList{"--station", "--log"} << "--log needs a value";
    }

    void theCommandLineFillsTheSettings() {
        QFETCH(QStringList, words);
        std::vector<QByteArray> bytes{"firmware-updater"};
        for (const QString& word : words) {
            bytes.push_back(word.toUtf8());
        }
        std::vector<char*> argv;
        for (QByteArray& word : bytes) {
            argv.push_back(word.data());
        }
        const zq::qt::StationRequest request =
            zq::qt::readStationRequest(static_cast<int>(argv.size()), argv.data());
        QFETCH(QString, error);
        QCOMPARE(QString::fromStdString(request.error), error);
        if (!request.error.empty()) {
            return;
        }
        QVERIFY(request.station && request.start);
        QCOMPARE(request.choices.imageFile, std::string("a.hex"));
        QCOMPARE(request.choices.logFile, std::string("l.jsonl"));
        QCOMPARE(request.choices.retries, 2u);
        QCOMPARE(request.choices.ports, (std::vector<std::string>{"COM1", "/dev/ttyUSB0"}));
    }

    // A label the operator gives a fixture stays with its name, also for the next window.
    void aFixtureKeepsItsLabel() {
        QTemporaryDir dir;
        QSettings settings(dir.filePath("labels.conf"), QSettings::IniFormat);
        zq::sim::SimulatedLine line;
        StationFeed feed({});
        Bench bench(feed);
        bench.plug("/dev/ttyUSB0");
        {
            zq::qt::StationWindow window({.platform = line}, &settings, {});
            window.present(feed.take());
            window.setLabel("/dev/ttyUSB0", "Left jig");
            QCOMPARE(window.tiles.at("/dev/ttyUSB0")->title->text(),
                     QString("Left jig (/dev/ttyUSB0)"));
        }
        bench.plug("/dev/ttyUSB0");
        zq::qt::StationWindow again({.platform = line}, &settings, {});
        again.present(feed.take());
        QCOMPARE(again.tiles.at("/dev/ttyUSB0")->title->text(), QString("Left jig (/dev/ttyUSB0)"));
    }
};

}  // namespace

QTEST_MAIN(StationWindowTest)
#include "station_window_test.moc"
