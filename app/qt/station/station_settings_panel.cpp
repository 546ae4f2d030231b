#include "app/qt/station/station_settings_panel.h"

#include <QButtonGroup>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>

#include "app/qt/station/qt_text.h"
#include "app/qt/station/station_log.h"
#include "app/records/image_choice.h"

namespace zq::qt {

std::string shortSha(const std::string& sha256) {
    return sha256.substr(0, 12);
}

StationSettingsPanel::StationSettingsPanel(QWidget* parent)
    : QGroupBox(QStringLiteral("Settings"), parent) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 4, 8, 4);
    grid->setVerticalSpacing(2);

    builtInImage = new QRadioButton(QStringLiteral("Built-in"), this);
    fileImage = new QRadioButton(QStringLiteral("File:"), this);
    imagePath = new QLineEdit(this);
    imagePath->setReadOnly(true);
    chooseImage = new QPushButton(QStringLiteral("Choose..."), this);
    imageLine = new QLabel(this);
    imageLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* images = new QButtonGroup(this);
    images->addButton(builtInImage);
    images->addButton(fileImage);
    auto* imageRow = new QHBoxLayout;
    imageRow->addWidget(builtInImage);
    imageRow->addWidget(fileImage);
    imageRow->addWidget(imagePath, 1);
    imageRow->addWidget(chooseImage);
    grid->addWidget(new QLabel(QStringLiteral("Image:"), this), 0, 0);
    grid->addLayout(imageRow, 0, 1);
    grid->addWidget(imageLine, 1, 1);

    everyPort =
        new QRadioButton(QStringLiteral("Every USB serial adapter and virtual board"), this);
    matchingPorts = new QRadioButton(QStringLiteral("Matching:"), this);
    matchEdit = new QLineEdit(this);
    matchEdit->setPlaceholderText(QStringLiteral("*FTDI*, 0403:*"));
    listedPorts = new QRadioButton(QStringLiteral("These ports:"), this);
    portsEdit = new QLineEdit(this);
    portsEdit->setPlaceholderText(QStringLiteral("COM1 /dev/ttyUSB0"));
    auto* portModes = new QButtonGroup(this);
    for (QRadioButton* mode : {everyPort, matchingPorts, listedPorts}) {
        portModes->addButton(mode);
    }
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(everyPort);
    portRow->addWidget(matchingPorts);
    portRow->addWidget(matchEdit, 1);
    portRow->addWidget(listedPorts);
    portRow->addWidget(portsEdit, 1);
    grid->addWidget(new QLabel(QStringLiteral("Ports:"), this), 2, 0);
    grid->addLayout(portRow, 2, 1);

    logEdit = new QLineEdit(this);
    chooseLog = new QPushButton(QStringLiteral("Choose..."), this);
    retriesBox = new QSpinBox(this);
    retriesBox->setRange(0, static_cast<int>(MaxRetries));
    auto* logRow = new QHBoxLayout;
    logRow->addWidget(logEdit, 1);
    logRow->addWidget(chooseLog);
    logRow->addSpacing(16);
    logRow->addWidget(new QLabel(QStringLiteral("Retries:"), this));
    logRow->addWidget(retriesBox);
    grid->addWidget(new QLabel(QStringLiteral("Log:"), this), 3, 0);
    grid->addLayout(logRow, 3, 1);

    QObject::connect(builtInImage, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            checkImage();
        }
    });
    QObject::connect(fileImage, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            checkImage();
        }
    });
    QObject::connect(chooseImage, &QPushButton::clicked, this, [this] { pickImageFile(); });
    QObject::connect(chooseLog, &QPushButton::clicked, this, [this] { pickLogFile(); });
    QObject::connect(matchEdit, &QLineEdit::textEdited, this,
                     [this] { matchingPorts->setChecked(true); });
    QObject::connect(portsEdit, &QLineEdit::textEdited, this,
                     [this] { listedPorts->setChecked(true); });
    setChoices({});
}

void StationSettingsPanel::setChoices(const StationChoices& choices) {
    imagePath->setText(qtText(choices.imageFile));
    QString ports;
    for (const std::string& port : choices.ports) {
        ports += (ports.isEmpty() ? QString() : QStringLiteral(" ")) + qtText(port);
    }
    portsEdit->setText(ports);
    matchEdit->setText(qtText(choices.match));
    (choices.ports.empty() ? (choices.match.empty() ? everyPort : matchingPorts) : listedPorts)
        ->setChecked(true);
    logEdit->setText(qtText(choices.logFile.empty() ? defaultLogFile().string() : choices.logFile));
    retriesBox->setValue(static_cast<int>(choices.retries));
    // Checked once whichever button was on before.
    const QSignalBlocker quiet(builtInImage);
    const QSignalBlocker quietToo(fileImage);
    (choices.imageFile.empty() ? builtInImage : fileImage)->setChecked(true);
    checkImage();
}

StationChoices StationSettingsPanel::choices() const {
    StationChoices choices;
    if (fileImage->isChecked()) {
        choices.imageFile = imagePath->text().toStdString();
    }
    choices.logFile = logEdit->text().trimmed().toStdString();
    choices.retries = static_cast<unsigned>(retriesBox->value());
    if (matchingPorts->isChecked()) {
        choices.match = matchEdit->text().trimmed().toStdString();
    } else if (listedPorts->isChecked()) {
        for (const QString& port : portsEdit->text().split(
                 QRegularExpression(QStringLiteral("[\\s,;]+")), Qt::SkipEmptyParts)) {
            choices.ports.push_back(port.toStdString());
        }
    }
    return choices;
}

void StationSettingsPanel::setLocked(bool locked) {
    for (QWidget* child : findChildren<QWidget*>()) {
        if (child != imageLine) {
            child->setEnabled(!locked);
        }
    }
}

void StationSettingsPanel::checkImage() {
    image_.reset();
    ImageChoice choice;
    if (fileImage->isChecked()) {
        if (imagePath->text().isEmpty()) {
            imageLine->setText(QStringLiteral("Choose an image file."));
            imageLine->setStyleSheet(QStringLiteral("color: #c62828;"));
            if (onImageChecked) {
                onImageChecked();
            }
            return;
        }
        choice.file = imagePath->text().toStdString();
    }
    ImageRefusal refusal;
    image_ = prepareImage(choice, station::Operation::Flash, refusal);
    if (image_) {
        const ImageIdentity& id = image_->identity;
        imageLine->setText(qtText(id.name + ", " + std::to_string(id.length) + " bytes, SHA-256 " +
                                  shortSha(id.sha256)));
        imageLine->setToolTip(qtText(identityLine(id)));
        imageLine->setStyleSheet(QString());
    } else {
        imageLine->setText(QStringLiteral("Refused: ") + qtText(refusal.joinedReason()));
        imageLine->setToolTip(QString());
        imageLine->setStyleSheet(QStringLiteral("color: #c62828;"));
    }
    if (onImageChecked) {
        onImageChecked();
    }
}

void StationSettingsPanel::pickImageFile() {
    const QString file = QFileDialog::getOpenFileName(
        this, QStringLiteral("Firmware image"), imagePath->text(),
        QStringLiteral("Firmware images (*.hex *.ihx *.bin);;All files (*)"));
    if (file.isEmpty()) {
        return;
    }
    imagePath->setText(file);
    if (fileImage->isChecked()) {
        checkImage();
    } else {
        fileImage->setChecked(true);
    }
}

void StationSettingsPanel::pickLogFile() {
    const QString file = QFileDialog::getSaveFileName(
        this, QStringLiteral("Station log"), logEdit->text(),
        QStringLiteral("JSON Lines (*.jsonl);;All files (*)"), nullptr,
        QFileDialog::DontConfirmOverwrite);  // records are added, never overwritten
    if (!file.isEmpty()) {
        logEdit->setText(file);
    }
}

}  // namespace zq::qt
