#include "app/records/file_commands.h"

#include <cstdint>
#include <span>

#include "app/records/safe_text.h"
#include "image/file_text.h"
#include "image/hex_reader.h"
#include "image/image_sniff.h"
#include "image/output_file.h"
#include "image/save_image.h"
#include "job/image_store.h"

namespace zq {

namespace {

FileCommandResult failure(FileOutcome outcome, bool imageRefused = false) {
    return {.imageRefused = imageRefused, .outcome = std::move(outcome), .failed = true};
}

// Writing the output would replace the input it is read from.
std::optional<FileCommandResult> outputOverInput(const std::filesystem::path& input,
                                                 const std::filesystem::path& output) {
    if (!namesSameFile(input, output)) {
        return std::nullopt;
    }
    FileCommandResult result{.failed = true};
    result.refusal.reason = {printableName(output.string()) + ": this is the input file " +
                             printableName(input.string()) + " itself; name another output file"};
    return result;
}

}  // namespace

FileCommandResult convertHexToBin(const std::filesystem::path& input,
                                  const std::filesystem::path& output) {
    if (auto refused = outputOverInput(input, output)) {
        return *refused;
    }
    FileText text = readFileText(input, HexTextLimit);
    if (!text.ok()) {
        text.outcome.hexText = true;
        return failure(text.outcome);
    }
    // Refused as an image is: an ELF file or S-records named here get the command that
    // converts them, and a text that is not HEX is an image refused, as it is for info.
    const auto content =
        std::span(reinterpret_cast<const std::uint8_t*>(text.text.data()), text.text.size());
    if (const ForeignFormat foreign = foreignFormatOf(content); foreign != ForeignFormat::None) {
        return failure({.fault = FileFault::NotAnImage, .file = input, .foreign = foreign}, true);
    }
    const HexReading image = readHex(text.text, HexDialect::Toolchain, ImageCapacity);
    if (!image.ok()) {
        return failure(
            {.fault = FileFault::BrokenHex, .file = input, .hexText = true, .hex = image}, true);
    }
    OutputFile out;
    if (!out.create(output) || !out.write(image.bytes) || !out.commit()) {
        return failure(out.outcome());
    }
    return {};
}

FileCommandResult saveImage(const std::filesystem::path& output, bool withHeader,
                            const ImageChoice& choice) {
    if (!choice.file.empty()) {
        if (auto refused = outputOverInput(choice.file, output)) {
            return *refused;
        }
    }
    const ChosenImage image = chooseImage(choice);
    if (!image.ok()) {
        return {.imageRefused = true, .refusal = image.refusal, .failed = true};
    }
    // Declared before the job, which points into it.
    ImageStore store;
    TransferJob job;
    holdImage(job, store, image.bytes);
    FileOutcome saved;
    if (!saveImageAsBin(job, output, withHeader, saved)) {
        return failure(saved);
    }
    return {};
}

}  // namespace zq
