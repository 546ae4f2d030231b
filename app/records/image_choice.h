#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/image_file.h"
#include "image/image_identity.h"
#include "job/image_store.h"
#include "job/transfer_job.h"
#include "station/board_settings.h"
#include "station/prepared_image.h"
#include "transfer/image_plan.h"

// The image a command works on: the built-in one, or a file taken by its content.
namespace zq {

struct ImageChoice {
    std::filesystem::path file{};  // empty: the built-in image
    bool force = false;            // take an implausible file as a binary image
};

// Why an image cannot be used: the box the window would show, when it shows one, then the lines
// of reason.
struct ImageRefusal {
    std::string box{};  // empty: none
    std::vector<std::string> reason{};

    bool refused() const { return !reason.empty(); }
    std::string joinedReason() const;  // the lines, one after the other
};

struct ChosenImage {
    bool builtIn = true;
    ImageFile file;                   // for a file: how it was read
    std::vector<std::uint8_t> bytes;  // the image as the job will hold it
    ImageIdentity identity;           // empty unless usable
    ImageRefusal refusal;             // why the file cannot be used

    bool ok() const { return !refusal.refused(); }
};

ChosenImage chooseImage(const ImageChoice& choice);

// The image every board of a run gets, or why it is refused; read before any port is touched.
// Flash may run either operation, so there the image must suit both.
std::optional<station::PreparedImage> prepareImage(const ImageChoice& choice,
                                                   station::Operation operation,
                                                   ImageRefusal& refusal);

// What each phase's size test makes of an image of `length` bytes: the phases' own rules, with
// the capacity of the programs' jobs.
struct ImageFit {
    PhaseLength download;
    PhaseLength update;
};

ImageFit fitOf(std::uint64_t length, bool bootHeader);

// The box's text, when there is a box, then each line of reason.
void printRefusal(const ImageRefusal& refusal, std::ostream& err);

// Points the job at its own copy of a file's image, kept in `store`.
void holdImage(TransferJob& job, ImageStore& store, std::span<const std::uint8_t> image);

}  // namespace zq
