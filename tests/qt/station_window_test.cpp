// The "Firmware Station" window, offscreen: what its tiles and counts say for the boards'
// reports (a table of plug histories), the settings its command line gives and Start locks, and
// a run of the station core against boards in virtual time behind it.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/qt/station/fixture_tile.h"
#include "app/qt/station/station_feed.h"
#include "app/qt/station/station_options.h"
#include "app/qt/station/station_window.h"
#include "sim/simulated_line.h"

namespace {

using namespace std::chrono_literals;
using zq::OperationStage;
using zq::qt::StationCounts;
using zq::qt::StationFeed;
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
        window.resize(1366, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* scroll = window.findChild<QScrollArea*>();
        QCOMPARE(scroll->verticalScrollBar()->maximum(), 0);
        QCOMPARE(scroll->horizontalScrollBar()->maximum(), 0);
        for (const auto& [name, tile] : window.tiles) {
            QVERIFY(tile->word->isVisible());
            QVERIFY(tile->word->height() >= tile->word->sizeHint().height());
        }
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
