#include "app/qt/updater_dialog.h"

#include <QAbstractEventDispatcher>
#include <QAbstractItemView>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSessionManager>
#include <QSettings>
#include <QSignalBlocker>
#include <QSocketNotifier>

#include <algorithm>
#include <functional>
#include <utility>

#include "app/explain/gone_port.h"
#include "app/qt/dialog_units.h"
#include "app/qt/message_boxes.h"
#include "app/qt/operation_boxes.h"
#include "serial/interruption.h"
#include "serial/port_names.h"
#include "station/exit_status.h"
#include "text/messages.h"
#include "transfer/operation.h"

namespace zq::qt {

namespace {

// Paints each new position at once: the operation holds the thread, so no event loop would.
class BarProgress : public ProgressTarget {
  public:
    explicit BarProgress(QProgressBar* bar) : bar_(bar) {}
    void setRange(std::uint32_t maximum) override {
        bar_->setRange(0, static_cast<int>(maximum));
        bar_->repaint();
    }
    void setPosition(std::uint32_t position) override {
        bar_->setValue(static_cast<int>(position));
        bar_->repaint();
    }

  private:
    QProgressBar* bar_;
};

QPushButton* makeButton(QWidget* parent, const char* text, const DialogUnits& du, QRect r) {
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setGeometry(du.rect(r.x(), r.y(), r.width(), r.height()));
    // Qt would make the first auto-default button the dialog's default, and Enter on any
    // control would then start a transfer; the window has no default button.
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

// Keeps the input events a loop delivers from reaching any widget.
// Drops the input queued during an operation, as the box that ends it would; a click on Exit
// (or Space on it) is kept as the request to end the window that it is, carried out after the
// box as a close request is.
class InputDropper : public QObject {
  public:
    InputDropper(const QPushButton* exit, std::function<void()> exitPressed)
        : exit_(exit), exitPressed_(std::move(exitPressed)) {}

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<const QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton &&
                exit_->rect().contains(exit_->mapFromGlobal(mouse->globalPosition().toPoint()))) {
                exitPressed_();
            }
        }
        if (event->type() == QEvent::KeyRelease && exit_->hasFocus() &&
            static_cast<const QKeyEvent*>(event)->key() == Qt::Key_Space) {
            exitPressed_();
        }
        return event->isInputEvent();
    }

  private:
    const QPushButton* exit_;
    std::function<void()> exitPressed_;
};

QLabel* makeLabel(QWidget* parent, const char* text, const DialogUnits& du, QRect r) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setGeometry(du.rect(r.x(), r.y(), r.width(), r.height()));
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setFocusPolicy(Qt::NoFocus);
    return label;
}

}  // namespace

std::string UpdaterDialog::SettingsMemory::recall() {
    return settings_ != nullptr
               ? settings_->value(QLatin1String(LastPortKey)).toString().toStdString()
               : std::string();
}

void UpdaterDialog::SettingsMemory::remember(const std::string& lastingName) {
    if (settings_ != nullptr) {
        settings_->setValue(QLatin1String(LastPortKey), QString::fromStdString(lastingName));
        settings_->sync();
    }
}

UpdaterDialog::UpdaterDialog(Platform& platform, PortSource ports, QSettings* settings,
                             std::chrono::milliseconds latency, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      stack_(platform, {.latency = latency, .whileWaiting = [this] { answerWhileWaiting(); }}),
      session_(stack_.top()),
      ports_(std::move(ports)),
      memory_(settings) {
    setWindowTitle(QStringLiteral("Firmware Updater"));
    const QFont font = dialogFont();
    setFont(font);
    const DialogUnits du(font);
    setFixedSize(du.x(224), du.y(67));
    move(du.x(100), du.y(100));

    progressBar = new QProgressBar(this);
    progressBar->setGeometry(du.rect(13, 19, 198, 12));
    progressBar->setTextVisible(false);
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    progressBar->setFocusPolicy(Qt::NoFocus);

    downloadButton = makeButton(this, "Download", du, {85, 41, 38, 14});
    exitButton = makeButton(this, "Exit", du, {174, 41, 37, 14});
    progressLabel = makeLabel(this, "Download / Update Progress...", du, {13, 9, 100, 8});
    updateButton = makeButton(this, "Update", du, {129, 41, 38, 14});

    portCombo = new PortCombo(this);
    const QRect comboRect = du.rect(13, 44, 38, 53);
    // The template's height is that of the dropped list; the closed box keeps its own height.
    portCombo->setGeometry(comboRect.x(), comboRect.y(), comboRect.width(),
                           portCombo->sizeHint().height());
    portCombo->setMaxVisibleItems(4);
    portCombo->setFocusPolicy(Qt::StrongFocus);

    portLabel = makeLabel(this, "Port Select:", du, {13, 35, 52, 8});
    versionLabel = makeLabel(this, "Firmware Ver 1.06_nto", du, {144, 57, 76, 8});

    setTabOrder(downloadButton, exitButton);
    setTabOrder(exitButton, updateButton);
    setTabOrder(updateButton, portCombo);

    // The list offers the four ports whatever exists on this machine, then those present.
    portList_.start(ports_.present(), memory_.recall());
    showPorts();
    connect(portCombo, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) {
            portList_.choose(static_cast<std::size_t>(index));
        }
        showChosen();
    });
    watchPorts();
    updateButton->setEnabled(true);
    downloadButton->setEnabled(true);
    session_.job.mode = ModeDownload;

    // No push button has the focus at start, so Enter starts nothing: the window keeps it
    // itself (Qt would give it to the first button), and the first Tab reaches Download.
    setFocusPolicy(Qt::ClickFocus);
    setFocus();

    connect(exitButton, &QPushButton::clicked, this, [this] { done(1); });
    connect(downloadButton, &QPushButton::clicked, this, [this] { runFromButton(ModeDownload); });
    connect(updateButton, &QPushButton::clicked, this, [this] { runFromButton(ModeUpdate); });
    // The desktop session may end the process soon after asking for its data.
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
        if (answering_) {
            quietEndDeferred_ = true;
            return;
        }
        session_.endQuietly();
    });
    connect(qGuiApp, &QCoreApplication::aboutToQuit, this, [this] { session_.endQuietly(); });
}

UpdaterDialog::~UpdaterDialog() {
    session_.endQuietly();
}

void UpdaterDialog::done(int result) {
    if (session_.running()) {
        endDeferred_ = result;
        return;
    }
    ExplainedBoxes boxes = dialogBoxes(this);
    session_.end(boxes);
    QDialog::done(result);
}

void UpdaterDialog::endFromSystem() {
    const int status = exitStatusForSignal(interruption::signalNumber());
    if (session_.running()) {
        // The operation meets the interruption at its next port call or wait; a box it waits in
        // is closed here. The window ends once the operation has returned.
        if (!answering_) {
            QCoreApplication::exit(status);
        }
        return;
    }
    session_.endQuietly();
    hide();
    // Ends every loop of the thread, that of a box included.
    QCoreApplication::exit(status);
}

void UpdaterDialog::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier) {
        // Enter presses the push button that has the focus, and nothing otherwise.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void UpdaterDialog::closeEvent(QCloseEvent* event) {
    if (session_.running()) {
        event->ignore();
        endDeferred_ = 1;
        return;
    }
    event->accept();
    done(1);
}

void UpdaterDialog::runFromButton(TransferMode mode) {
    if (portCombo->currentIndex() >= 0) {
        portList_.choose(static_cast<std::size_t>(portCombo->currentIndex()));
    }
    // The whole name: COM12 and /dev/ttyUSB0 as much as COM1.
    const PortEntry port = portList_.chosenEntry();
    if (port.gone) {
        refuseGonePort(port);
        return;
    }
    ExplainedBoxes explained =
        dialogBoxes(this, &session_.lastOutcome(), devicePath(port.portName));
    BarProgress progress(progressBar);
    {
        OperationBoxes boxes(explained, [this] { takeCloseRequests(); });
        if (!session_.run(boxes, mode, port.portName, &progress)) {
            return;
        }
    }
    setCursor(Qt::ArrowCursor);
    if (interruption::count() > 0) {
        endFromSystem();
        return;
    }
    rememberIfSucceeded(session_, port, memory_);
    finishDeferred();
}

void UpdaterDialog::refuseGonePort(const PortEntry& port) {
    // A command that comes while an operation waits in its box starts nothing.
    if (session_.running()) {
        return;
    }
    // Its device name may belong to another adapter by now: nothing is opened. A port still held
    // is handed back first, as for any other port named.
    ExplainedBoxes boxes = dialogBoxes(this);
    session_.end(boxes);
    showErrorBox(this, messages::CannotOpenPort, explainGonePort(port.portName));
}

void UpdaterDialog::finishDeferred() {
    if (std::exchange(quietEndDeferred_, false)) {
        session_.endQuietly();
    }
    if (std::exchange(portsChanged_, false)) {
        refreshPorts();
    }
    if (const std::optional<int> result = std::exchange(endDeferred_, std::nullopt)) {
        done(*result);
    }
}

void UpdaterDialog::answerWhileWaiting() {
    if (answering_) {
        return;
    }
    answering_ = true;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    answering_ = false;
}

void UpdaterDialog::takeCloseRequests() {
    // Qt counts a close request as input, so it waits through the operation's waits beside the
    // user's clicks; once the operation's box is up it would reach a window the box blocks, and
    // Qt would drop it. Taken now, it is carried out once the box is answered, and so is a click
    // on Exit. The rest of the input queued with it is dropped here as the box would drop it: it
    // is aimed at the window the box blocks.
    if (answering_) {
        return;
    }
    InputDropper dropper(exitButton, [this] { endDeferred_ = 1; });
    qApp->installEventFilter(&dropper);
    answering_ = true;
    // The waits took what was not input and left the dispatcher thinking nothing is pending.
    QAbstractEventDispatcher::instance()->wakeUp();
    QCoreApplication::processEvents();
    answering_ = false;
    qApp->removeEventFilter(&dropper);
}

void UpdaterDialog::showPorts() {
    const QSignalBlocker quiet(portCombo);
    portCombo->clear();
    int widest = 0;
    for (const PortEntry& entry : portList_.entries()) {
        const QString label = QString::fromStdString(entry.label);
        portCombo->addItem(label);
        widest = std::max(widest, portCombo->fontMetrics().horizontalAdvance(label));
    }
    portCombo->setCurrentIndex(static_cast<int>(portList_.chosen()));
    // The closed box keeps the template's width; the open list is as wide as its longest line.
    portCombo->view()->setMinimumWidth(widest + portCombo->fontMetrics().averageCharWidth() * 4);
    showChosen();
}

void UpdaterDialog::showChosen() {
    // The whole line as the tool tip.
    const PortEntry& chosen = portList_.chosenEntry();
    portCombo->setToolTip(QString::fromStdString(chosen.label));
    portCombo->showChosen(QString::fromStdString(chosen.shortName), chosen.gone);
}

void UpdaterDialog::refreshPorts() {
    if (portList_.update(ports_.present())) {
        showPorts();
    }
}

void UpdaterDialog::watchPorts() {
    watcher_ = ports_.watcher();
    if (!watcher_ || watcher_->eventDescriptor() < 0) {
        return;
    }
    portEvents_ = new QSocketNotifier(watcher_->eventDescriptor(), QSocketNotifier::Read, this);
    connect(portEvents_, &QSocketNotifier::activated, this, [this] {
        if (!watcher_->takeEvents()) {
            return;
        }
        // Listing every port would stretch the pauses of an operation that waits; the list is
        // read again once it has ended.
        if (session_.running()) {
            portsChanged_ = true;
            return;
        }
        refreshPorts();
    });
}

}  // namespace zq::qt
