#include "app/records/image_choice.h"

#include <algorithm>
#include <memory>

#include "app/explain/reason_text.h"
#include "app/records/file_outcome_text.h"
#include "app/records/safe_text.h"
#include "image/built_in_image.h"
#include "text/messages.h"
#include "transfer/operation.h"

namespace zq {

namespace {

// The box the window shows for a file it cannot take, where it shows one.
std::string_view boxFor(const FileOutcome& outcome) {
    switch (outcome.fault) {
        case FileFault::CannotOpen:
        case FileFault::CannotRead:
            return messages::CannotOpenImageFile;
        case FileFault::TooLarge:
            return outcome.hexText ? std::string_view() : messages::FirmwareTooLong;
        case FileFault::Empty:
            return messages::ReadImageFileFail;
        default:
            return {};
    }
}

// The box an image check shows, kept for the refusal.
class BoxRecorder final : public OwnerWindow {
  public:
    void showMessage(BoxStyle, std::string_view shown) override { text = shown; }
    void showUnownedMessage(BoxStyle, std::string_view) override {}

    std::string text;
};

}  // namespace

std::optional<station::PreparedImage> prepareImage(const ImageChoice& choice,
                                                   station::Operation operation,
                                                   ImageRefusal& refusal) {
    ChosenImage chosen = chooseImage(choice);
    if (!chosen.ok()) {
        refusal = chosen.refusal;
        return std::nullopt;
    }
    // The core judges the image for every phase the operation may run before any board is
    // touched, flash's both included; its box and the reason its outcome gives are said once.
    ImageStore store;
    TransferJob job;
    fillJob(job, operation == station::Operation::Update ? ModeUpdate : ModeDownload, {});
    holdImage(job, store, chosen.bytes);
    BoxRecorder boxes;
    if (Outcome outcome; !checkImage(boxes, job, job.mode, outcome)) {
        refusal = {boxes.text,
                   {printableName(chosen.identity.name) + ": " + explainOutcome(outcome, {})}};
        return std::nullopt;
    }
    return station::PreparedImage{std::move(chosen.bytes), std::move(chosen.identity)};
}

std::string ImageRefusal::joinedReason() const {
    std::string joined;
    for (const std::string& line : reason) {
        joined += (joined.empty() ? "" : "\n") + line;
    }
    return joined;
}

ChosenImage chooseImage(const ImageChoice& choice) {
    ChosenImage chosen;
    if (choice.file.empty()) {
        chosen.bytes.assign(builtInImage(), builtInImage() + BuiltInImageLength);
        chosen.identity = identifyImage("built-in", chosen.bytes);
        return chosen;
    }
    chosen.builtIn = false;
    const std::string name = choice.file.string();
    chosen.file = readImageFile(choice.file, ImageCapacity, choice.force);
    if (!chosen.file.ok()) {
        chosen.refusal = {std::string(boxFor(chosen.file.outcome)),
                          {explainFileOutcome(chosen.file.outcome)}};
    } else {
        chosen.bytes = std::move(chosen.file.bytes);
        chosen.file.bytes.clear();
        chosen.identity = identifyImage(name, chosen.bytes);
    }
    return chosen;
}

ImageFit fitOf(std::uint64_t length, bool bootHeader) {
    return {measureForPhase(length, bootHeader, PhaseDownload, ImageCapacity),
            measureForPhase(length, bootHeader, PhaseUpdate, ImageCapacity)};
}

void printRefusal(const ImageRefusal& refusal, std::ostream& err) {
    if (!refusal.box.empty()) {
        err << refusal.box << '\n';
    }
    for (const std::string& line : refusal.reason) {
        err << line << '\n';
    }
}

void holdImage(TransferJob& job, ImageStore& store, std::span<const std::uint8_t> image) {
    store.buffer = std::make_unique<std::uint8_t[]>(image.size() + 1);
    std::copy(image.begin(), image.end(), store.buffer.get());
    job.image = std::span<std::uint8_t>(store.buffer.get(), image.size() + 1);
    job.imageLength = static_cast<std::uint32_t>(image.size());
}

}  // namespace zq
