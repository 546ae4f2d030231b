#include "image/image_file.h"

#include <algorithm>
#include <string_view>

#include "image/boot_header.h"
#include "image/image_sniff.h"
#include "image/system_file.h"

namespace zq {

namespace {

constexpr std::size_t HeadLength = 512;

bool allLineEnds(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](std::uint8_t b) { return b == '\r' || b == '\n'; });
}

ImageFile refused(ImageFile file, FileFault fault, std::string_view call = {},
                  SystemError error = {}) {
    file.outcome.fault = fault;
    file.outcome.call = call;
    file.outcome.error = std::move(error);
    file.outcome.hexText = file.format == ImageFormat::IntelHex;
    file.outcome.size = file.fileSize;
    file.bytes.clear();
    return file;
}

// Appends the next `count` bytes of the file; false when they are not all there.
bool readOn(SystemFile& in, std::vector<std::uint8_t>& bytes, std::uint64_t count,
            SystemError& error) {
    const std::size_t from = bytes.size();
    bytes.resize(from + static_cast<std::size_t>(count));
    const auto got = in.read(std::span(bytes).subspan(from));
    if (!got || *got != count) {
        error = got ? SystemError{0, "the file shrank while it was read"} : in.lastError();
        return false;
    }
    return true;
}

// A binary image: checked for size, emptiness and plausibility.
ImageFile asBinary(ImageFile file, std::size_t imageLimit, bool force) {
    file.format = ImageFormat::Binary;
    if (file.fileSize > imageLimit) {
        file.outcome.limit = imageLimit;
        return refused(std::move(file), FileFault::TooLarge);
    }
    if (file.bytes.empty()) {
        return refused(std::move(file), FileFault::Empty);
    }
    if (looksLikeText(file.bytes)) {
        if (!force) {
            return refused(std::move(file), FileFault::NotHex);
        }
        file.forced = true;
    }
    return file;
}

}  // namespace

ImageFile readImageFile(const std::filesystem::path& path, std::size_t imageLimit, bool force) {
    ImageFile file;
    file.outcome.file = path;
    SystemFile in;
    if (!in.openForReading(path)) {
        return refused(std::move(file), FileFault::CannotOpen, "open", in.lastError());
    }
    const auto size = in.size();
    if (!size) {
        return refused(std::move(file), FileFault::CannotRead, "stat", in.lastError());
    }
    file.fileSize = *size;
    // The head tells the kind and the header; a file too large for either kind is refused from
    // its size and the head alone.
    std::vector<std::uint8_t>& bytes = file.bytes;
    SystemError error;
    if (!readOn(in, bytes, std::min<std::uint64_t>(*size, HeadLength), error)) {
        return refused(std::move(file), FileFault::CannotRead, "read", std::move(error));
    }
    file.bootHeader = hasBootHeader(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    // A head of nothing but line ends does not yet tell the kind: the first other byte does, as
    // it does for a shorter file. Looked for no further than a HEX text may reach.
    const std::uint64_t reach = std::min<std::uint64_t>(*size, HexTextLimit + 1);
    bool blank = allLineEnds(withoutByteOrderMark(bytes));
    while (blank && bytes.size() < reach) {
        const std::size_t from = bytes.size();
        if (!readOn(in, bytes, std::min<std::uint64_t>(reach - from, HeadLength), error)) {
            return refused(std::move(file), FileFault::CannotRead, "read", std::move(error));
        }
        blank = allLineEnds(std::span(bytes).subspan(from));
    }
    // Known for what it is, whatever its size and whatever --force says.
    if (const ForeignFormat foreign = foreignFormatOf(bytes); foreign != ForeignFormat::None) {
        file.outcome.foreign = foreign;
        return refused(std::move(file), FileFault::NotAnImage);
    }
    const bool hexText = startsLikeHexText(bytes);
    file.format = hexText ? ImageFormat::IntelHex : ImageFormat::Binary;
    const std::uint64_t limit = hexText ? HexTextLimit : imageLimit;
    if (*size > limit) {
        file.outcome.limit = limit;
        return refused(std::move(file), FileFault::TooLarge);
    }
    if (!readOn(in, bytes, *size - bytes.size(), error)) {
        return refused(std::move(file), FileFault::CannotRead, "read", std::move(error));
    }
    if (!hexText) {
        return asBinary(std::move(file), imageLimit, force);
    }

    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    file.hex = readHex(text, HexDialect::Toolchain, imageLimit);
    if (!file.hex.ok()) {
        file.outcome.hex = file.hex;
        return refused(std::move(file), FileFault::BrokenHex);
    }
    bytes = std::move(file.hex.bytes);
    file.hex.bytes.clear();
    file.bootHeader = hasBootHeader(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    if (bytes.empty()) {
        return refused(std::move(file), FileFault::Empty);
    }
    return file;
}

}  // namespace zq
