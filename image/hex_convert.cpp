#include "image/hex_convert.h"

#include "image/hex_image.h"

namespace zq {

bool convertHexToBin(std::string_view text, const std::filesystem::path& outFileName) {
    OutputFile out;
    return out.create(outFileName) && convertHexToBin(text, out);
}

bool convertHexToBin(std::string_view text, OutputFile& out) {
    const HexImage image = decodeHex(text);
    return image.ok() && out.write(image.bytes) && out.commit();
}

}  // namespace zq
