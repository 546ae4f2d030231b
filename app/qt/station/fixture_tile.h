#pragma once

#include <QFrame>
#include <QString>

#include <functional>
#include <optional>

#include "app/qt/station/tile_state.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace zq::qt {

// One fixture on the station's grid: its name (and the operator's label for it), its board's
// state in a word and a colour, what the board is at, a progress bar while the image goes out,
// and Retry for a board that failed.
class FixtureTile : public QFrame {
  public:
    explicit FixtureTile(QWidget* parent = nullptr);

    void display(const TileState& state);
    void setLabel(const QString& label);
    // Retry is offered for a failed board while the run goes on.
    void setRetryAvailable(bool available);

    const TileState& state() const { return state_; }
    // The operator asks to name the fixture (double-click or the context menu).
    std::function<void()> onNameRequest;
    std::function<void()> onRetry;

    QLabel* title;
    QLabel* word;
    QLabel* detail;
    QProgressBar* bar;
    QPushButton* retryButton;

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void showTitle();
    void showRetry();

    TileState state_;
    QString label_;
    std::optional<TilePhase> painted_;  // the phase the colours were last set for
    bool retryAvailable_ = false;
};

}  // namespace zq::qt
