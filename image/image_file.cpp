#include "image/image_file.h"

#include <algorithm>
#include <fstream>
#include <string_view>
#include <system_error>

#include "image/boot_header.h"
#include "image/image_sniff.h"

namespace zq {

namespace {

constexpr std::size_t HeadLength = 512;

bool readInto(std::ifstream& in, std::vector<std::uint8_t>& bytes, std::size_t count) {
    bytes.resize(count);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    return static_cast<std::size_t>(in.gcount()) == count;
}

// A head of nothing but line ends does not yet tell the kind: the first other byte does, as it
// does for a shorter file. Looked for no further than a HEX text may reach, and the stream is
// put back where the head ended.
bool firstRecordAfterLineEnds(std::ifstream& in, std::uint64_t fileSize) {
    const auto headEnd = in.tellg();
    bool record = false;
    const std::uint64_t reach = std::min<std::uint64_t>(fileSize, HexTextLimit + 1);
    for (std::uint64_t at = HeadLength; at < reach; ++at) {
        const int c = in.get();
        if (c != '\r' && c != '\n') {
            record = c == ':';
            break;
        }
    }
    in.clear();
    in.seekg(headEnd);
    return record;
}

ImageFile refused(ImageFile file, ImageFileFault fault) {
    file.fault = fault;
    file.bytes.clear();
    return file;
}

// A binary image: checked for size, emptiness and plausibility. A text that failed as HEX keeps
// that fault unless it is forced, since the HEX fault says more than its size does.
ImageFile asBinary(ImageFile file, std::size_t imageLimit, bool force) {
    file.format = ImageFormat::Binary;
    const bool invalidHex = file.fault == ImageFileFault::InvalidHex;
    if (invalidHex && !force) {
        return refused(std::move(file), ImageFileFault::InvalidHex);
    }
    if (file.fileSize > imageLimit) {
        file.sizeLimit = imageLimit;
        return refused(std::move(file), ImageFileFault::TooLarge);
    }
    if (file.bytes.empty()) {
        return refused(std::move(file), ImageFileFault::NoImageBytes);
    }
    if (invalidHex || looksLikeText(file.bytes)) {
        if (!force) {
            return refused(std::move(file), ImageFileFault::LooksLikeText);
        }
        file.forced = true;
    }
    file.fault = ImageFileFault::None;
    return file;
}

}  // namespace

ImageFile readImageFile(const std::filesystem::path& path, std::size_t imageLimit, bool force) {
    ImageFile file;
    std::error_code error;
    std::ifstream in;
    if (std::filesystem::is_regular_file(path, error)) {
        file.fileSize = std::filesystem::file_size(path, error);
        if (!error) {
            in.open(path, std::ios::binary);
        }
    }
    if (!in.is_open()) {
        return refused(std::move(file), ImageFileFault::CannotRead);
    }
    // The head tells the kind and the header; a file too large for either kind is refused from
    // its size and the head alone.
    std::vector<std::uint8_t> head;
    if (!readInto(in, head,
                  static_cast<std::size_t>(std::min<std::uint64_t>(file.fileSize, HeadLength)))) {
        return refused(std::move(file), ImageFileFault::CannotRead);
    }
    file.bootHeader = hasBootHeader(head.data(), static_cast<std::uint32_t>(head.size()));
    const std::span<const std::uint8_t> afterMark = withoutByteOrderMark(head);
    const bool onlyLineEnds = std::all_of(afterMark.begin(), afterMark.end(),
                                          [](std::uint8_t b) { return b == '\r' || b == '\n'; });
    const bool hexText = startsLikeHexText(head) || (onlyLineEnds && head.size() == HeadLength &&
                                                     firstRecordAfterLineEnds(in, file.fileSize));
    const std::uint64_t limit = hexText ? HexTextLimit : imageLimit;
    if (file.fileSize > limit) {
        file.format = hexText ? ImageFormat::IntelHex : ImageFormat::Binary;
        file.sizeLimit = limit;
        return refused(std::move(file), ImageFileFault::TooLarge);
    }
    std::vector<std::uint8_t> rest;
    if (!readInto(in, rest, static_cast<std::size_t>(file.fileSize) - head.size())) {
        return refused(std::move(file), ImageFileFault::CannotRead);
    }
    file.bytes = std::move(head);
    file.bytes.insert(file.bytes.end(), rest.begin(), rest.end());
    if (!hexText) {
        return asBinary(std::move(file), imageLimit, force);
    }

    const std::string_view text(reinterpret_cast<const char*>(file.bytes.data()),
                                file.bytes.size());
    file.hex = readHex(text, HexDialect::Toolchain, imageLimit);
    if (!file.hex.ok()) {
        file.fault = ImageFileFault::InvalidHex;
        return asBinary(std::move(file), imageLimit, force);
    }
    file.format = ImageFormat::IntelHex;
    file.bytes = std::move(file.hex.bytes);
    file.hex.bytes.clear();
    file.bootHeader =
        hasBootHeader(file.bytes.data(), static_cast<std::uint32_t>(file.bytes.size()));
    if (file.bytes.empty()) {
        return refused(std::move(file), ImageFileFault::NoImageBytes);
    }
    return file;
}

}  // namespace zq
