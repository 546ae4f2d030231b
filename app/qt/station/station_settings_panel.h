#pragma once

#include <QGroupBox>

#include <functional>
#include <optional>

#include "app/qt/station/station_options.h"
#include "station/prepared_image.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace zq::qt {

// What the station is set to before it starts: the image (checked as `zq417-flash info` checks
// it; a refused one says why), the ports it serves, the log and the retries.
class StationSettingsPanel : public QGroupBox {
  public:
    explicit StationSettingsPanel(QWidget* parent = nullptr);

    void setChoices(const StationChoices& choices);
    StationChoices choices() const;
    // The image as checked; none when it is refused.
    const std::optional<station::PreparedImage>& image() const { return image_; }
    // Start locks every setting for the run.
    void setLocked(bool locked);
    std::function<void()> onImageChecked;

    QRadioButton* builtInImage;
    QRadioButton* fileImage;
    QLineEdit* imagePath;
    QPushButton* chooseImage;
    QLabel* imageLine;  // the image's name, size and SHA-256, or why it is refused
    QRadioButton* everyPort;
    QRadioButton* matchingPorts;
    QLineEdit* matchEdit;
    QRadioButton* listedPorts;
    QLineEdit* portsEdit;
    QLineEdit* logEdit;
    QPushButton* chooseLog;
    QSpinBox* retriesBox;

  private:
    void checkImage();
    void pickImageFile();
    void pickLogFile();

    std::optional<station::PreparedImage> image_;
};

// "1a2b3c4d5e6f": enough of a SHA-256 to tell images apart at a glance.
std::string shortSha(const std::string& sha256);

}  // namespace zq::qt
