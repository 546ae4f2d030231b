#include "app/records/image_info.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "app/records/json_values.h"
#include "app/records/safe_text.h"

#include "image/boot_header.h"

namespace zq {

namespace {

// Everything info tells, gathered once for both forms; what is not known stays empty.
struct Info {
    std::string name;
    std::optional<std::string> format;  // "binary" or "intel-hex"
    bool forced = false;
    std::optional<std::size_t> records;
    std::optional<std::uint32_t> lowest;
    std::optional<std::uint32_t> highest;
    std::optional<std::uint64_t> length;  // with the header and fit
    bool bootHeader = false;
    ImageFit fit;  // the loader's test measures the padded length, the header not yet taken off
    std::optional<std::string> sha256;
    ImageRefusal refusal;
};

std::string hex4(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", address);
    return text;
}

Info gather(const ChosenImage& image, const ImageChoice& choice) {
    Info info;
    info.name = image.builtIn ? "built-in" : choice.file.string();
    info.refusal = image.refusal;
    const ImageFile& file = image.file;
    const FileFault fault = file.outcome.fault;
    if (fault != FileFault::CannotOpen && fault != FileFault::CannotRead) {
        info.format = file.format == ImageFormat::IntelHex ? "intel-hex" : "binary";
    }
    info.forced = file.forced;
    if (file.format == ImageFormat::IntelHex && file.ok()) {
        info.records = file.hex.records;
        info.lowest = file.hex.lowest;
        info.highest = file.hex.highest;
    }
    if (image.ok()) {
        info.length = image.bytes.size();
        info.bootHeader =
            hasBootHeader(image.bytes.data(), static_cast<std::uint32_t>(image.bytes.size()));
        if (!image.identity.sha256.empty()) {
            info.sha256 = image.identity.sha256;
        }
    } else if (fault == FileFault::TooLarge && file.format == ImageFormat::Binary) {
        // Too large to be read: what the size alone tells.
        info.length = file.fileSize;
        info.bootHeader = file.bootHeader;
    }
    if (info.length) {
        info.fit = fitOf(*info.length, info.bootHeader);
    }
    return info;
}

std::string fitText(const PhaseLength& fit) {
    return std::string(fit.fits ? "fits" : "too long") + " (" + std::to_string(fit.measured) +
           " of " + std::to_string(ImageCapacity) + " bytes)";
}

void printText(const Info& info, std::ostream& out) {
    std::string format = info.format == "intel-hex" ? "Intel HEX" : "binary";
    if (info.records) {
        format += ", " + std::to_string(*info.records) + " records, addresses " +
                  hex4(*info.lowest) + " to " + hex4(*info.highest);
    }
    if (info.forced) {
        format += " (taken as it stands: --force)";
    }
    out << "Image:          " << printableName(info.name) << '\n'
        << "Format:         " << format << '\n'
        << "Length:         " << *info.length << " bytes\n"
        << "Padded length:  " << info.fit.download.measured << " bytes\n"
        << "Boot header:    " << (info.bootHeader ? "yes" : "no") << '\n'
        << "Download:       " << fitText(info.fit.download) << '\n'
        << "Update:         " << fitText(info.fit.update) << '\n'
        << "SHA-256:        "
        << (info.sha256 ? *info.sha256 + " (of the image bytes, before pad and boot header)"
                        : std::string("not computed: the file is too long to be read"))
        << '\n';
}

void printJson(const Info& info, std::ostream& out) {
    const auto known = [&info](auto value) {
        return info.length ? nlohmann::ordered_json(value) : nlohmann::ordered_json(nullptr);
    };
    const auto fit = [&known](const PhaseLength& phase) {
        return known(nlohmann::ordered_json{{"fits", phase.fits}, {"length", phase.measured}});
    };
    nlohmann::ordered_json json;
    json["image"] = info.name;
    json["format"] = orNull(info.format);
    json["forced"] = info.forced;
    json["hex"] = info.records ? nlohmann::ordered_json{{"records", *info.records},
                                                        {"lowest_address", *info.lowest},
                                                        {"highest_address", *info.highest}}
                               : nlohmann::ordered_json();
    json["length"] = orNull(info.length);
    json["padded_length"] = known(info.fit.download.measured);
    json["boot_header"] = known(info.bootHeader);
    json["capacity"] = ImageCapacity;
    json["download"] = fit(info.fit.download);
    json["update"] = fit(info.fit.update);
    json["sha256"] = orNull(info.sha256);
    if (info.refusal.refused()) {
        json["refusal"] = {{"box", textOrNull(info.refusal.box)},
                           {"reason", info.refusal.joinedReason()}};
    } else {
        json["refusal"] = nullptr;
    }
    out << jsonText(std::move(json)) << '\n';
}

}  // namespace

bool runInfo(const InfoRequest& request, std::ostream& out, std::ostream& err) {
    const Info info = gather(chooseImage(request.image), request.image);
    if (request.json) {
        printJson(info, out);
    } else {
        printRefusal(info.refusal, err);
        // Only a file too large to read is still described: its size says what matters.
        if (info.length) {
            printText(info, out);
        }
    }
    return !info.refusal.refused();
}

}  // namespace zq
