#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/qt/station/station_feed.h"
#include "app/qt/station/station_log.h"
#include "app/qt/station/station_options.h"
#include "station/station.h"

class QGridLayout;
class QLabel;
class QMessageBox;
class QPushButton;
class QSettings;
class QTimer;

namespace zq::qt {

class FixtureTile;
class StationRun;
class StationSettingsPanel;

// The "Firmware Station" window: the station core behind a grid of tiles, one per fixture. The
// settings are made before Start and locked for the run; the boards run on threads of their own
// and the window only shows what they report, a few times a second at most.
class StationWindow : public QWidget {
  public:
    // `seam` reaches the system's ports (or virtual boards); `settings`, when given, keeps the
    // operator's labels of the fixtures.
    StationWindow(station::StationSeam seam, QSettings* settings, const StationChoices& choices,
                  QWidget* parent = nullptr);
    ~StationWindow() override;

    // Starts the run with the settings as they stand; false, with the reason shown, when they
    // cannot be used (a refused image, a log that cannot be opened, a port name unknown).
    bool start();
    // Boards in flight end as a signal ends them; the settings unlock once they have.
    void stop();
    bool running() const { return run_ != nullptr; }
    const StationCounts& counts() const { return counts_; }
    // A signal ends the program: the run stops and, once every port is back, the application
    // ends with 128 + the signal's number.
    void endFromSystem();
    // The process ends where it stands (the display went away): the ports are handed back now.
    void abandon();
    // Shows what the boards reported since the last time; the window calls it itself.
    void showChanges();
    // Shows tiles and counts as a feed took them; tiles not made yet come a few at a time.
    void present(const StationFeed::Changes& changes);
    // Called when the window has closed: no board was mid-way, or they have ended.
    std::function<void()> onClosed;

    // Where `settings` keeps a fixture's label: under this group, by the fixture's name.
    static constexpr const char* LabelGroup = "FixtureLabels";
    QString labelOf(const std::string& fixtureName) const;
    void setLabel(const std::string& fixtureName, const QString& label);

    StationSettingsPanel* settingsPanel;
    QPushButton* startButton;
    QPushButton* stopButton;
    QLabel* countsLine;                         // passed, failed, pulled, running
    QLabel* imageLine;                          // the image's name and short SHA-256
    QLabel* statusLine;                         // what the station is doing, or why it cannot start
    std::map<std::string, FixtureTile*> tiles;  // by the name the fixture's job opens

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void changed();
    void runEnded();
    void arrangeTiles();
    FixtureTile* tileFor(const TileState& state);
    void nameFixture(FixtureTile* tile);
    void showCounts(const StationCounts& counts);
    void refuse(const QString& why);
    void updateButtons();

    station::StationSeam seam_;
    QSettings* settings_;
    StationLog log_;
    std::unique_ptr<StationFeed> feed_;
    std::unique_ptr<StationRun> run_;
    QWidget* grid_;
    QGridLayout* gridLayout_;
    QTimer* takeTimer_;
    QElapsedTimer sinceTake_;
    StationCounts counts_;
    std::map<std::string, TileState> waiting_;  // states of tiles not made yet
    QPointer<QMessageBox> closeQuestion_;
    bool closeAfterRun_ = false;
    bool endingFromSystem_ = false;
    bool stopRaised_ = false;  // this run's Stop raised the process's interruption
};

}  // namespace zq::qt
