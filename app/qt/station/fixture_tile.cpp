#include "app/qt/station/fixture_tile.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include "app/qt/station/qt_text.h"

namespace zq::qt {

namespace {

// Background and text colour of each phase; the word says the same, for every eye.
struct Colours {
    const char* background;
    const char* text;
};

Colours coloursOf(TilePhase phase) {
    switch (phase) {
        case TilePhase::Waiting:
            return {"#eceff1", "#37474f"};
        case TilePhase::Probing:
        case TilePhase::Sending:
            return {"#e3f2fd", "#0d47a1"};
        case TilePhase::Programming:
            return {"#fff3e0", "#e65100"};
        case TilePhase::Passed:
            return {"#2e7d32", "#ffffff"};
        case TilePhase::Failed:
            return {"#c62828", "#ffffff"};
        case TilePhase::Pulled:
            return {"#6d4c41", "#ffffff"};
        case TilePhase::Stopped:
            return {"#616161", "#ffffff"};
    }
    return {"#eceff1", "#000000"};
}

}  // namespace

FixtureTile::FixtureTile(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("tile"));
    setFrameShape(QFrame::StyledPanel);
    setMinimumSize(150, 110);
    setMaximumHeight(170);  // a few fixtures make a row of tiles, not walls of colour
    setAutoFillBackground(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(2);
    title = new QLabel(this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    // A long name is cut at the tile's edge rather than widening the grid; its tool tip has it all.
    title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    word = new QLabel(this);
    QFont big = bold;
    big.setPointSizeF(bold.pointSizeF() * 1.5);
    word->setFont(big);
    detail = new QLabel(this);
    detail->setWordWrap(true);
    detail->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    detail->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    bar = new QProgressBar(this);
    bar->setTextVisible(false);
    bar->setMaximumHeight(10);
    retryButton = new QPushButton(QStringLiteral("Retry"), this);
    retryButton->setAutoDefault(false);
    QObject::connect(retryButton, &QPushButton::clicked, this, [this] {
        if (onRetry) {
            onRetry();
        }
    });
    layout->addWidget(title);
    layout->addWidget(word);
    layout->addWidget(detail, 1);
    layout->addWidget(bar);
    layout->addWidget(retryButton, 0, Qt::AlignRight);
    display(state_);
}

void FixtureTile::display(const TileState& state) {
    state_ = state;
    showTitle();
    word->setText(qtText(std::string(phaseWord(state.phase))));
    detail->setText(qtText(detailLine(state)));
    detail->setToolTip(detail->text());
    const bool sending = state.phase == TilePhase::Sending;
    bar->setVisible(sending);
    if (sending) {
        bar->setRange(0, static_cast<int>(std::max<std::uint32_t>(state.maximum, 1)));
        bar->setValue(
            static_cast<int>(std::min(state.position, std::max<std::uint32_t>(state.maximum, 1))));
    }
    showRetry();
    if (painted_ != state.phase) {
        // A palette, not a style sheet: 32 tiles changing colour at once must not re-polish
        // every widget on them.
        painted_ = state.phase;
        const Colours colours = coloursOf(state.phase);
        QPalette colour = palette();
        colour.setColor(QPalette::Window, QColor(QLatin1String(colours.background)));
        colour.setColor(QPalette::WindowText, QColor(QLatin1String(colours.text)));
        setPalette(colour);
    }
}

void FixtureTile::setLabel(const QString& label) {
    label_ = label;
    showTitle();
}

void FixtureTile::setRetryAvailable(bool available) {
    retryAvailable_ = available;
    showRetry();
}

void FixtureTile::showTitle() {
    const QString name = qtText(state_.name);
    title->setText(label_.isEmpty() ? name : label_ + QStringLiteral(" (") + name + u')');
    title->setToolTip(name);
}

void FixtureTile::showRetry() {
    retryButton->setVisible(retryAvailable_ && state_.phase == TilePhase::Failed);
}

void FixtureTile::mouseDoubleClickEvent(QMouseEvent*) {
    if (onNameRequest) {
        onNameRequest();
    }
}

void FixtureTile::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(QStringLiteral("Name this fixture..."), this, [this] {
        if (onNameRequest) {
            onNameRequest();
        }
    });
    if (retryButton->isVisible()) {
        menu.addAction(QStringLiteral("Retry"), this, [this] {
            if (onRetry) {
                onRetry();
            }
        });
    }
    menu.exec(event->globalPos());
}

}  // namespace zq::qt
