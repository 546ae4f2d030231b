#pragma once

#include <QDialog>

#include "serial/failure_recorder.h"
#include "serial/platform.h"
#include "transfer/operation.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace zq::qt {

// The "Firmware Updater" window: port choice, Download, Update, Exit and the progress bar. The
// operations run on the window's own thread and hold it until they end.
class UpdaterDialog : public QDialog {
  public:
    explicit UpdaterDialog(Platform& platform, QWidget* parent = nullptr);
    ~UpdaterDialog() override;

    // The controls, in the order they are created.
    QProgressBar* progressBar;
    QPushButton* downloadButton;
    QPushButton* exitButton;
    QLabel* progressLabel;
    QPushButton* updateButton;
    QComboBox* portCombo;
    QLabel* portLabel;
    QLabel* versionLabel;

    // Dialog-template ids of the controls.
    static constexpr int ProgressBarId = 1002;
    static constexpr int DownloadButtonId = 1032;
    static constexpr int ExitButtonId = 4;
    static constexpr int ProgressLabelId = 1031;
    static constexpr int UpdateButtonId = 1033;
    static constexpr int PortComboId = 1067;
    static constexpr int VersionLabelId = 1068;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  public:
    // Escape is ignored: the window ends only through Exit or a close request.
    void reject() override {}
    // Exit and the close box end here; a port still held is handed back first.
    void done(int result) override;
    // A signal or the window system ends the program: the port is handed back without a box,
    // since nobody may be there to answer one, and every event loop ends, a box's included.
    void endFromSystem();

  private:
    void runFromButton(TransferMode mode);

    Platform& platform_;
    FailureRecorder recorder_;  // keeps why a port call failed for the box it leads to
    WindowSession session_;
};

}  // namespace zq::qt
