#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "image/image_identity.h"
#include "image/image_store.h"
#include "transfer/transfer_job.h"

// The image a command works on: the built-in one, or a file taken by its content.
namespace zq::cli {

struct ImageChoice {
    std::filesystem::path file{};  // empty: the built-in image
    bool force = false;            // take an implausible file as a binary image
};

struct ChosenImage {
    bool builtIn = true;
    ImageFile file;                    // for a file: how it was read
    std::vector<std::uint8_t> bytes;   // the image as the job will hold it
    ImageIdentity identity;            // empty unless usable
    std::vector<std::string> refusal;  // why it cannot be used, one line each; empty when it can

    bool ok() const { return refusal.empty(); }
};

ChosenImage chooseImage(const ImageChoice& choice);

// What each phase would send of the image, and whether it takes it: the phases' own rules.
struct ImageFit {
    bool download = false;
    bool update = false;
    std::uint32_t downloadLength = 0;  // padded, the boot header taken off when it is there
    std::uint32_t updateLength = 0;    // padded, the boot header put in front when it is not
};

ImageFit fitOf(std::span<const std::uint8_t> image);

// Why the operation of `mode` would refuse the image, as the lines to print: the box's text, then
// the reason; empty when every phase of the operation takes it.
std::vector<std::string> refusalFor(const ChosenImage& image, TransferMode mode);

// Points the job at its own copy of a file's image, kept in `store`.
void holdImage(TransferJob& job, ImageStore& store, std::span<const std::uint8_t> image);

// "Image: NAME, N bytes, SHA-256 ...": which image a run sends.
std::string identityLine(const ImageIdentity& identity);

}  // namespace zq::cli
