#pragma once

#include <QDialog>

#include <memory>
#include <optional>

#include "app/ports/port_list.h"
#include "app/ports/port_memory.h"
#include "app/ports/port_source.h"
#include "serial/platform.h"
#include "serial/platform_stack.h"
#include "transfer/operation.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSettings;
class QSocketNotifier;

namespace zq::qt {

// The "Firmware Updater" window: port choice, Download, Update, Exit and the progress bar. The
// operations run on the window's own thread and hold it until they end; while they wait, the
// window still paints and answers the window system, and user input waits.
//
// `ports` says which ports exist beyond COM1 to COM4 and when that changes (none by default);
// `settings`, when given, keeps the port of the last operation that succeeded.
class UpdaterDialog : public QDialog {
  public:
    explicit UpdaterDialog(Platform& platform, PortSource ports = {}, QSettings* settings = nullptr,
                           QWidget* parent = nullptr);
    ~UpdaterDialog() override;

    // Where `settings` keeps the port: its lasting name (a stable device name where there is one).
    static constexpr const char* LastPortKey = "LastPort";

    // The controls, in the order they are created.
    QProgressBar* progressBar;
    QPushButton* downloadButton;
    QPushButton* exitButton;
    QLabel* progressLabel;
    QPushButton* updateButton;
    QComboBox* portCombo;
    QLabel* portLabel;
    QLabel* versionLabel;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  public:
    // Escape is ignored: the window ends only through Exit or a close request.
    void reject() override {}
    // Exit and the close box end here; a port still held is handed back first. While an
    // operation runs they are carried out once it has ended, its box answered: it still uses
    // the port.
    void done(int result) override;
    // A signal ends the program: the running operation ends at its next port call or wait and
    // shows no more boxes, a box already up closes, the port is handed back without a box (nobody
    // may be there to answer one), and every event loop ends with 128 + the signal's number.
    void endFromSystem();
    // The process ends where it stands, from outside any event loop's control (the display went
    // away): a held port is handed back now.
    void abandon() { session_.abandon(); }

    // Lists the ports again, as a plug or unplug does.
    void refreshPorts();

  private:
    void runFromButton(TransferMode mode);
    void showPorts();
    void watchPorts();
    // Paints and takes window-system events while an operation waits; input stays queued.
    void answerWhileWaiting();
    void takeCloseRequests();
    void finishDeferred();

    PlatformStack stack_;
    WindowSession session_;
    PortSource ports_;
    PortList portList_;
    // In `settings`, when given.
    class SettingsMemory final : public PortMemory {
      public:
        explicit SettingsMemory(QSettings* settings) : settings_(settings) {}
        std::string recall() override;
        void remember(const std::string& lastingName) override;

      private:
        QSettings* settings_;
    } memory_;
    std::unique_ptr<PortWatcher> watcher_;
    QSocketNotifier* portEvents_ = nullptr;
    // While an operation waits the window answers its desktop; a request to end then (the
    // desktop session asking for its data) is carried out when the operation returns: it still
    // uses the port.
    bool answering_ = false;
    bool quietEndDeferred_ = false;
    std::optional<int> endDeferred_;  // Exit or a close request during an operation: its result
    bool portsChanged_ = false;       // a plug event came during an operation
};

}  // namespace zq::qt
