#include "image/hex_convert.h"

#include "image/hex_image.h"
#include "image/output_file.h"

namespace zq {

bool convertHexToBin(std::string_view text, const std::filesystem::path& outFileName) {
    OutputFile out;
    if (!out.create(outFileName)) {
        return false;
    }
    const HexImage image = decodeHex(text);
    if (!image.ok() || !out.write(image.bytes)) {
        return false;
    }
    return out.commit();
}

}  // namespace zq
