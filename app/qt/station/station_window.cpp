#include "app/qt/station/station_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "app/qt/station/fixture_tile.h"
#include "app/qt/station/qt_text.h"
#include "app/qt/station/station_run.h"
#include "app/qt/station/station_settings_panel.h"
#include "app/records/port_choice.h"
#include "serial/interruption.h"
#include "serial/port_names.h"
#include "station/exit_status.h"

namespace zq::qt {

namespace {

// The window takes the boards' news at most this often: 32 boards sending at once still cost it
// no more than this many updates a second.
constexpr int TakeEveryMs = 40;
// Making a tile costs about a millisecond: 32 boards plugged at once get theirs a few at a time,
// so that the loop keeps turning.
constexpr int NewTilesAtOnce = 6;

// Columns for `count` tiles: about twice as wide a grid as high, as the screen is; 32 fixtures
// make 8 columns of 4 rows.
int columnsFor(std::size_t count) {
    const int columns = static_cast<int>(std::ceil(std::sqrt(2.0 * static_cast<double>(count))));
    return std::clamp(columns, 1, 8);
}

// Names in the order a person counts them: pts/9 before pts/10, 1-1.2 before 1-1.10.
bool naturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const std::size_t startA = i;
            const std::size_t startB = j;
            while (i < a.size() && isDigit(a[i])) {
                ++i;
            }
            while (j < b.size() && isDigit(b[j])) {
                ++j;
            }
            // Leading zeros aside, a longer run of digits is the larger number.
            const std::string_view numberA = std::string_view(a).substr(startA, i - startA);
            const std::string_view numberB = std::string_view(b).substr(startB, j - startB);
            const std::string_view trimmedA =
                numberA.substr(std::min(numberA.find_first_not_of('0'), numberA.size()));
            const std::string_view trimmedB =
                numberB.substr(std::min(numberB.find_first_not_of('0'), numberB.size()));
            if (trimmedA.size() != trimmedB.size()) {
                return trimmedA.size() < trimmedB.size();
            }
            if (trimmedA != trimmedB) {
                return trimmedA < trimmedB;
            }
        } else {
            if (a[i] != b[j]) {
                return a[i] < b[j];
            }
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

}  // namespace

StationWindow::StationWindow(station::StationSeam seam, QSettings* settings,
                             const StationChoices& choices, QWidget* parent)
    : QWidget(parent), seam_(std::move(seam)), settings_(settings) {
    setWindowTitle(QStringLiteral("Firmware Station"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(4);

    auto* top = new QHBoxLayout;
    countsLine = new QLabel(this);
    QFont big = countsLine->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.25);
    countsLine->setFont(big);
    imageLine = new QLabel(this);
    imageLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(countsLine, 1);
    top->addWidget(imageLine);
    layout->addLayout(top);

    settingsPanel = new StationSettingsPanel(this);
    layout->addWidget(settingsPanel);

    auto* buttons = new QHBoxLayout;
    startButton = new QPushButton(QStringLiteral("Start"), this);
    stopButton = new QPushButton(QStringLiteral("Stop"), this);
    for (QPushButton* button : {startButton, stopButton}) {
        button->setAutoDefault(false);
    }
    statusLine = new QLabel(this);
    statusLine->setWordWrap(true);
    buttons->addWidget(startButton);
    buttons->addWidget(stopButton);
    buttons->addWidget(statusLine, 1);
    layout->addLayout(buttons);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    grid_ = new QWidget(scroll);
    gridLayout_ = new QGridLayout(grid_);
    gridLayout_->setContentsMargins(0, 0, 0, 0);
    gridLayout_->setSpacing(4);
    gridLayout_->setAlignment(Qt::AlignTop);
    scroll->setWidget(grid_);
    layout->addWidget(scroll, 1);

    takeTimer_ = new QTimer(this);
    takeTimer_->setSingleShot(true);
    QObject::connect(takeTimer_, &QTimer::timeout, this, [this] { showChanges(); });
    QObject::connect(startButton, &QPushButton::clicked, this, [this] { start(); });
    QObject::connect(stopButton, &QPushButton::clicked, this, [this] { stop(); });
    settingsPanel->onImageChecked = [this] {
        const auto& image = settingsPanel->image();
        imageLine->setText(
            image ? qtText(image->identity.name + "  SHA-256 " + shortSha(image->identity.sha256))
                  : QStringLiteral("no usable image"));
        updateButtons();
    };
    settingsPanel->setChoices(choices);
    showCounts({});
    statusLine->setText(QStringLiteral("Stopped. Start serves the ports as set above."));
    resize(1280, 700);
}

StationWindow::~StationWindow() {
    // Every board ends and hands its port back before the window's parts go.
    run_.reset();
}

void StationWindow::refuse(const QString& why) {
    statusLine->setText(why);
    statusLine->setStyleSheet(QStringLiteral("color: #c62828;"));
}

bool StationWindow::start() {
    if (run_) {
        return false;
    }
    if (!settingsPanel->image()) {
        refuse(QStringLiteral("Cannot start: the image is refused (see above); choose another."));
        return false;
    }
    const StationChoices choices = settingsPanel->choices();
    StationRun::Plan plan;
    plan.settings.board.operation = station::Operation::Flash;
    plan.settings.board.retries = choices.retries;
    plan.where.match = choices.match;
    std::vector<std::string> chosen;
    std::vector<std::string> notes;
    for (const std::string& given : choices.ports) {
        // Named as zq417-flash names them: COMn, a device, a by-id name, auto.
        const PortChoice choice = resolvePort(given, nativePortNaming(), seam_.listPorts);
        if (choice.outcome != PortChoice::Outcome::Chosen) {
            refuse(QStringLiteral("Cannot start: %1").arg(qtText(choice.message)));
            return false;
        }
        chosen.push_back(choice.port);
        notes.push_back(choice.note);
    }
    plan.where.ports = fixturesOf(chosen, notes, seam_.listPorts);
    if (choices.logFile.empty()) {
        refuse(QStringLiteral("Cannot start: name a log file."));
        return false;
    }
    if (const std::optional<std::string> why = log_.open(choices.logFile)) {
        refuse(QStringLiteral("Cannot start: the log %1 cannot be opened to add records: %2")
                   .arg(qtText(choices.logFile), qtText(*why)));
        return false;
    }
    for (auto& [key, tile] : tiles) {
        delete tile;
    }
    tiles.clear();
    waiting_.clear();
    feed_ = std::make_unique<StationFeed>(StationFeed::Hooks{
        .changed =
            [this] {
                QMetaObject::invokeMethod(
                    this, [this] { changed(); }, Qt::QueuedConnection);
            },
        .reasonOf = failureLine,
        .log = [this](const station::BoardRecord& record) { return log_.append(record); },
    });
    for (const station::Fixture& fixture : plan.where.ports) {
        feed_->expect(fixture);
    }
    settingsPanel->setLocked(true);
    stopRaised_ = false;
    closeAfterRun_ = false;
    run_ = std::make_unique<StationRun>(*settingsPanel->image(), std::move(plan), seam_, *feed_,
                                        [this] {
                                            QMetaObject::invokeMethod(
                                                this, [this] { runEnded(); }, Qt::QueuedConnection);
                                        });
    statusLine->setStyleSheet(QString());
    statusLine->setText(QStringLiteral("Running: every board plugged in is flashed; log %1")
                            .arg(qtText(choices.logFile)));
    updateButtons();
    showChanges();
    return true;
}

void StationWindow::stop() {
    if (!run_ || run_->stopping()) {
        return;
    }
    stopRaised_ = run_->stop() || stopRaised_;
    statusLine->setText(QStringLiteral(
        "Stopping: boards in flight end; a board programming its EEPROM finishes first."));
    updateButtons();
}

void StationWindow::runEnded() {
    if (!run_) {
        return;
    }
    run_->wait();
    run_.reset();
    showChanges();
    // Stop's interruption is forgotten for the next run; a signal's is not: it ends the program.
    if (!endingFromSystem_ && interruption::count() == (stopRaised_ ? 1 : 0)) {
        interruption::clearAfterRun();
    }
    settingsPanel->setLocked(false);
    for (auto& [key, tile] : tiles) {
        tile->setRetryAvailable(false);
    }
    if (statusLine->styleSheet().isEmpty()) {
        statusLine->setText(QStringLiteral("Stopped: every port is handed back."));
    }
    updateButtons();
    if (endingFromSystem_) {
        QCoreApplication::exit(exitStatusForSignal(interruption::signalNumber()));
    } else if (closeAfterRun_) {
        close();
    }
}

void StationWindow::endFromSystem() {
    endingFromSystem_ = true;
    if (closeQuestion_) {
        closeQuestion_->reject();
    }
    if (run_) {
        run_->stop();  // the signal's own interruption already stops the boards' waits
        return;
    }
    QCoreApplication::exit(exitStatusForSignal(interruption::signalNumber()));
}

void StationWindow::abandon() {
    if (run_) {
        run_->stop();
        run_->wait();
    }
}

void StationWindow::closeEvent(QCloseEvent* event) {
    if (!run_) {
        event->accept();
        if (onClosed) {
            onClosed();
        }
        return;
    }
    event->ignore();
    if (endingFromSystem_ || closeQuestion_) {
        return;
    }
    showChanges();
    const std::uint64_t midway = counts_.running;
    if (midway > 0 && !closeAfterRun_) {
        QMessageBox question(QMessageBox::Question, QStringLiteral("Firmware Station"),
                             QStringLiteral("%1 %2 still being flashed. Stop %3 and close the "
                                            "window once %4 ended?")
                                 .arg(midway)
                                 .arg(midway == 1 ? "board is" : "boards are")
                                 .arg(midway == 1 ? "it" : "them")
                                 .arg(midway == 1 ? "it has" : "they have"),
                             QMessageBox::Yes | QMessageBox::No, this);
        question.setInformativeText(
            QStringLiteral("A board programming its EEPROM finishes first; the others end as "
                           "STOPPED and can be flashed again."));
        question.setDefaultButton(QMessageBox::No);
        closeQuestion_ = &question;
        const int answer = question.exec();
        closeQuestion_ = nullptr;
        if (answer != QMessageBox::Yes || !run_) {
            return;
        }
    }
    closeAfterRun_ = true;
    stop();
}

void StationWindow::changed() {
    if (takeTimer_->isActive()) {
        return;
    }
    const qint64 since = sinceTake_.isValid() ? sinceTake_.elapsed() : TakeEveryMs;
    if (since >= TakeEveryMs) {
        showChanges();
    } else {
        takeTimer_->start(static_cast<int>(TakeEveryMs - since));
    }
}

void StationWindow::showChanges() {
    sinceTake_.start();
    StationFeed::Changes changes;
    changes.counts = counts_;
    present(feed_ ? feed_->take() : changes);
}

void StationWindow::present(const StationFeed::Changes& changes) {
    for (const TileState& state : changes.tiles) {
        waiting_[state.fixture] = state;  // a tile not made yet shows its newest state
    }
    int made = 0;
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        const bool fresh = !tiles.contains(it->first);
        if (fresh && made == NewTilesAtOnce) {
            ++it;
            continue;
        }
        made += fresh ? 1 : 0;
        tileFor(it->second)->display(it->second);
        it = waiting_.erase(it);
    }
    if (made > 0) {
        arrangeTiles();
    }
    showCounts(changes.counts);
    for (const std::string& error : changes.logErrors) {
        refuse(QStringLiteral("The log could not keep %1").arg(qtText(error)));
    }
    if (!waiting_.empty()) {
        takeTimer_->start(0);  // the other tiles after the loop has turned
    }
}

FixtureTile* StationWindow::tileFor(const TileState& state) {
    FixtureTile*& tile = tiles[state.fixture];
    if (tile == nullptr) {
        tile = new FixtureTile(grid_);
        tile->display(state);
        tile->setLabel(labelOf(state.name));
        tile->setRetryAvailable(run_ != nullptr);
        tile->onNameRequest = [this, tile] { nameFixture(tile); };
        tile->onRetry = [this, tile] {
            if (run_ && !run_->stopping() && !run_->retry(tile->state().fixture)) {
                statusLine->setText(QStringLiteral("%1 cannot be run again: it is no longer there.")
                                        .arg(qtText(tile->state().name)));
            }
        };
    }
    return tile;
}

void StationWindow::arrangeTiles() {
    // In the order of the fixtures' names, so that a fixture keeps its place from run to run.
    std::vector<FixtureTile*> ordered;
    for (auto& [key, tile] : tiles) {
        gridLayout_->removeWidget(tile);
        ordered.push_back(tile);
    }
    std::ranges::sort(ordered, [](const FixtureTile* a, const FixtureTile* b) {
        return naturalLess(a->state().name, b->state().name);
    });
    const int columns = columnsFor(ordered.size());
    for (int column = 0; column < std::max(gridLayout_->columnCount(), columns); ++column) {
        gridLayout_->setColumnStretch(column, column < columns ? 1 : 0);
    }
    for (std::size_t i = 0; i < ordered.size(); ++i) {
        gridLayout_->addWidget(ordered[i], static_cast<int>(i) / columns,
                               static_cast<int>(i) % columns);
        ordered[i]->show();
    }
}

void StationWindow::showCounts(const StationCounts& counts) {
    counts_ = counts;
    QString line = QStringLiteral("Passed %1    Failed %2    Pulled %3    Running %4")
                       .arg(counts.passed)
                       .arg(counts.failed)
                       .arg(counts.pulled)
                       .arg(counts.running);
    if (counts.stopped > 0) {
        line += QStringLiteral("    Stopped %1").arg(counts.stopped);
    }
    countsLine->setText(line);
}

QString StationWindow::labelOf(const std::string& fixtureName) const {
    if (settings_ == nullptr) {
        return {};
    }
    // A fixture's name may hold slashes, which a settings key takes for groups.
    const QString key = QString::fromLatin1(QUrl::toPercentEncoding(qtText(fixtureName)));
    return settings_->value(QStringLiteral("%1/%2").arg(QLatin1String(LabelGroup), key)).toString();
}

void StationWindow::setLabel(const std::string& fixtureName, const QString& label) {
    if (settings_ != nullptr) {
        const QString key = QString::fromLatin1(QUrl::toPercentEncoding(qtText(fixtureName)));
        const QString path = QStringLiteral("%1/%2").arg(QLatin1String(LabelGroup), key);
        if (label.trimmed().isEmpty()) {
            settings_->remove(path);
        } else {
            settings_->setValue(path, label.trimmed());
        }
    }
    for (auto& [key, tile] : tiles) {
        if (tile->state().name == fixtureName) {
            tile->setLabel(label.trimmed());
        }
    }
}

void StationWindow::nameFixture(FixtureTile* tile) {
    const std::string name = tile->state().name;
    bool ok = false;
    const QString label = QInputDialog::getText(
        this, QStringLiteral("Name this fixture"),
        QStringLiteral("A label for the fixture at %1 (empty: none):").arg(qtText(name)),
        QLineEdit::Normal, labelOf(name), &ok);
    if (ok) {
        setLabel(name, label);
    }
}

void StationWindow::updateButtons() {
    startButton->setEnabled(!run_ && settingsPanel->image().has_value());
    stopButton->setEnabled(run_ && !run_->stopping());
}

}  // namespace zq::qt
