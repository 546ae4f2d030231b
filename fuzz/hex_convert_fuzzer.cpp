// convertHexToBin on arbitrary text, writing a real file: it exists afterwards exactly when the
// conversion succeeded, and then holds the decoded image. Half the inputs get their checksums
// put right first, so that the fuzzer gets past the checksum into the layout of whole files.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "image/hex_convert.h"
#include "image/hex_image.h"
#include "image/hex_record.h"

namespace {

namespace fs = std::filesystem;

// One file per fuzzing process, in the temporary directory the run was given.
const fs::path& outputPath() {
    static const fs::path path =
        fs::temp_directory_path() / ("zq417-hex-fuzz-" + std::to_string(::getpid()) + ".bin");
    return path;
}

char hexDigit(unsigned value) {
    return "0123456789ABCDEF"[value & 0x0F];
}

// Rewrites the checksum digits of every record whose layout can be followed, where they fit.
void repairChecksums(char* text, std::size_t size) {
    std::size_t position = 0;
    while (position < size) {
        const std::string_view record(text + position, size - position);
        const auto count = zq::parseHexByte(record, 1);
        if (record[0] != ':' || !count) {
            return;
        }
        const std::size_t checksumAt = 2 * std::size_t{*count} + 9;
        if (checksumAt + 1 >= record.size()) {
            return;
        }
        unsigned sum = 0;
        for (std::size_t index = 1; index < checksumAt; index += 2) {
            sum += zq::parseHexByte(record, index).value_or(0);
        }
        const unsigned checksum = (0x100 - sum % 0x100) & 0xFF;
        text[position + checksumAt] = hexDigit(checksum >> 4);
        text[position + checksumAt + 1] = hexDigit(checksum);
        position += zq::hexRecordLength(*count);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool repair = data[0] % 2 == 1;
    const std::size_t length = size - 1;
    // A buffer of exactly the text's size: a read past its end is a sanitizer report.
    const std::unique_ptr<char[]> text(new char[length == 0 ? 1 : length]);
    std::copy(data + 1, data + size, text.get());
    if (repair) {
        repairChecksums(text.get(), length);
    }
    const std::string_view view(text.get(), length);

    const fs::path& out = outputPath();
    const bool converted = zq::convertHexToBin(view, out);
    std::error_code error;
    const bool exists = fs::exists(out, error);
    if (converted != exists) {
        __builtin_trap();
    }
    if (converted) {
        std::ifstream in(out, std::ios::binary);
        const std::vector<std::uint8_t> written{std::istreambuf_iterator<char>(in),
                                                std::istreambuf_iterator<char>()};
        if (written != zq::decodeHex(view).bytes) {
            __builtin_trap();
        }
        fs::remove(out, error);
    }
    return 0;
}
