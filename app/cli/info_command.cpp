#include "app/cli/info_command.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "app/cli/safe_text.h"

#include "image/boot_header.h"
#include "transfer/transfer_job.h"

namespace zq::cli {

namespace {

// Everything info tells, gathered once for both forms.
struct Info {
    std::string name;
    std::string format;  // "binary" or "intel-hex"
    bool forced = false;
    std::optional<std::size_t> records;
    std::optional<std::uint32_t> lowest;
    std::optional<std::uint32_t> highest;
    std::uint64_t length = 0;
    std::uint64_t paddedLength = 0;
    bool bootHeader = false;
    ImageFit fit;
    std::optional<std::string> sha256;  // absent when the file was too large to read
};

std::string hex4(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", address);
    return text;
}

Info gather(const ChosenImage& image, const ImageChoice& choice) {
    Info info;
    info.name = image.builtIn ? "built-in" : choice.file.string();
    const ImageFile& file = image.file;
    info.format = file.format == ImageFormat::IntelHex ? "intel-hex" : "binary";
    info.forced = file.forced;
    if (file.format == ImageFormat::IntelHex && file.ok()) {
        info.records = file.hex.records;
        info.lowest = file.hex.lowest;
        info.highest = file.hex.highest;
    }
    if (image.ok()) {
        info.length = image.bytes.size();
        info.bootHeader =
            hasBootHeader(image.bytes.data(), static_cast<std::uint32_t>(info.length));
        info.fit = fitOf(image.bytes);
        info.sha256 = image.identity.sha256;
    } else {
        // Too large to be read: what the size alone tells.
        info.length = file.fileSize;
        info.bootHeader = file.bootHeader;
        info.fit.downloadLength = static_cast<std::uint32_t>(info.length + info.length % 2);
        info.fit.updateLength = info.fit.downloadLength + (info.bootHeader ? 0 : 32);
    }
    info.paddedLength = info.length + info.length % 2;
    return info;
}

std::string fitText(bool fits, std::uint64_t length) {
    return std::string(fits ? "fits" : "too long") + " (" + std::to_string(length) + " of " +
           std::to_string(ImageCapacity) + " bytes)";
}

void printText(const Info& info, std::ostream& out) {
    std::string format = info.format == "binary" ? "binary" : "Intel HEX";
    if (info.records) {
        format += ", " + std::to_string(*info.records) + " records, addresses " +
                  hex4(*info.lowest) + " to " + hex4(*info.highest);
    }
    if (info.forced) {
        format += " (taken as it stands: --force)";
    }
    out << "Image:          " << printableName(info.name) << '\n'
        << "Format:         " << format << '\n'
        << "Length:         " << info.length << " bytes\n"
        << "Padded length:  " << info.paddedLength << " bytes\n"
        << "Boot header:    " << (info.bootHeader ? "yes" : "no") << '\n'
        << "Download:       " << fitText(info.fit.download, info.fit.downloadLength) << '\n'
        << "Update:         " << fitText(info.fit.update, info.fit.updateLength) << '\n'
        << "SHA-256:        "
        << (info.sha256 ? *info.sha256 + " (of the image bytes, before pad and boot header)"
                        : std::string("not computed: the file is too long to be read"))
        << '\n';
}

void printJson(const Info& info, std::ostream& out) {
    nlohmann::ordered_json json;
    json["image"] = info.name;
    json["format"] = info.format;
    json["forced"] = info.forced;
    if (info.records) {
        json["hex"] = {{"records", *info.records},
                       {"lowestAddress", *info.lowest},
                       {"highestAddress", *info.highest}};
    } else {
        json["hex"] = nullptr;
    }
    json["length"] = info.length;
    json["paddedLength"] = info.paddedLength;
    json["bootHeader"] = info.bootHeader;
    json["capacity"] = ImageCapacity;
    json["download"] = {{"fits", info.fit.download}, {"length", info.fit.downloadLength}};
    json["update"] = {{"fits", info.fit.update}, {"length", info.fit.updateLength}};
    json["sha256"] = info.sha256 ? nlohmann::ordered_json(*info.sha256) : nullptr;
    out << jsonText(std::move(json)) << '\n';
}

}  // namespace

bool runInfo(const InfoRequest& request, std::ostream& out, std::ostream& err) {
    const ChosenImage image = chooseImage(request.image);
    // Only a file too large to read is still described: its size says what matters.
    if (!image.ok() && !(image.file.fault == ImageFileFault::TooLarge &&
                         image.file.format == ImageFormat::Binary)) {
        for (const std::string& line : image.refusal) {
            err << line << '\n';
        }
        return false;
    }
    const Info info = gather(image, request.image);
    if (request.json) {
        printJson(info, out);
    } else {
        printText(info, out);
    }
    return true;
}

}  // namespace zq::cli
