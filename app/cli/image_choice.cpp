#include "app/cli/image_choice.h"

#include <algorithm>
#include <memory>

#include "app/cli/safe_text.h"
#include "image/boot_header.h"
#include "image/built_in_image.h"
#include "text/messages.h"
#include "transfer/image_plan.h"

namespace zq::cli {

namespace {

constexpr std::string_view ForceHint = "--force would take it as a binary image as it stands";

std::vector<std::string> refusalOf(const ImageFile& file, const std::string& name) {
    switch (file.fault) {
        case ImageFileFault::None:
            return {};
        case ImageFileFault::CannotRead:
            return {std::string(messages::CannotOpenImageFile)};
        case ImageFileFault::TooLarge:
            if (file.format == ImageFormat::IntelHex) {
                return {name + ": an Intel HEX text of " + std::to_string(file.fileSize) +
                        " bytes, more than the " + std::to_string(file.sizeLimit) +
                        " taken; the file was not read"};
            }
            return {std::string(messages::FirmwareTooLong),
                    name + ": " + std::to_string(file.fileSize) + " bytes, more than the " +
                        std::to_string(file.sizeLimit) +
                        " any operation takes; the file was not read"};
        case ImageFileFault::NoImageBytes:
            return {std::string(messages::ReadImageFileFail), name + ": no image bytes in it"};
        case ImageFileFault::InvalidHex:
            return {name + ": not an Intel HEX image this tool takes: record " +
                        std::to_string(file.hex.faultRecord) + ": " + describeHexReading(file.hex),
                    name + ": " + std::string(ForceHint)};
        case ImageFileFault::LooksLikeText:
            return {name + ": mostly printable text, neither Intel HEX nor machine code; " +
                    std::string(ForceHint)};
    }
    return {};
}

}  // namespace

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
    chosen.refusal = refusalOf(chosen.file, printableName(name));
    if (chosen.ok()) {
        chosen.bytes = std::move(chosen.file.bytes);
        chosen.file.bytes.clear();
        chosen.identity = identifyImage(name, chosen.bytes);
    }
    return chosen;
}

ImageFit fitOf(std::span<const std::uint8_t> image) {
    // The phases' own rules decide, on a scratch job of the window's capacity with the spare
    // byte the pad needs; the lengths are the ones those rules compare with the capacity.
    std::vector<std::uint8_t> copy(image.begin(), image.end());
    copy.push_back(0);
    TransferJob job;
    job.capacity = ImageCapacity;
    job.image = copy;
    job.imageLength = static_cast<std::uint32_t>(image.size());
    const auto padded = static_cast<std::uint32_t>(image.size() + image.size() % 2);
    const bool header = hasBootHeader(image.data(), job.imageLength);
    return {
        .download = planImage(job, PhaseDownload).failure.empty(),
        .update = planImage(job, PhaseUpdate).failure.empty(),
        .downloadLength = padded,
        .updateLength = padded + (header ? 0u : static_cast<std::uint32_t>(BootHeader.size())),
    };
}

std::vector<std::string> refusalFor(const ChosenImage& image, TransferMode mode) {
    if (!image.ok()) {
        return image.refusal;
    }
    const ImageFit fit = fitOf(image.bytes);
    const std::string capacity = std::to_string(ImageCapacity);
    if (mode != ModeUpdate && !fit.download) {
        return {std::string(messages::FirmwareTooLong),
                printableName(image.identity.name) + ": " + std::to_string(fit.downloadLength) +
                    " bytes to load, more than the " + capacity + " a Download takes"};
    }
    if (!fit.update) {
        return {std::string(messages::FirmwareTooLong),
                printableName(image.identity.name) + ": " + std::to_string(fit.updateLength) +
                    " bytes to program with the boot header, more than the " + capacity +
                    " an Update takes"};
    }
    return {};
}

void holdImage(TransferJob& job, ImageStore& store, std::span<const std::uint8_t> image) {
    store.buffer = std::make_unique<std::uint8_t[]>(image.size() + 1);
    std::copy(image.begin(), image.end(), store.buffer.get());
    job.image = std::span<std::uint8_t>(store.buffer.get(), image.size() + 1);
    job.imageLength = static_cast<std::uint32_t>(image.size());
}

std::string identityLine(const ImageIdentity& identity) {
    return "Image: " + printableName(identity.name) + ", " + std::to_string(identity.length) +
           " bytes, SHA-256 of these bytes (before pad and boot header) " + identity.sha256;
}

}  // namespace zq::cli
