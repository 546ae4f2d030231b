#include "image/hex_convert.h"

#include "image/hex_reader.h"

namespace zq {

bool convertHexToBin(std::string_view text, const std::filesystem::path& outFileName,
                     FileOutcome& outcome) {
    OutputFile out;
    if (!out.create(outFileName)) {
        outcome = out.outcome();
        return false;
    }
    return convertHexToBin(text, out, outcome);
}

bool convertHexToBin(std::string_view text, const std::filesystem::path& outFileName) {
    FileOutcome ignored;
    return convertHexToBin(text, outFileName, ignored);
}

bool convertHexToBin(std::string_view text, OutputFile& out, FileOutcome& outcome) {
    HexReading image = readHex(text, HexDialect::BoardTool, BoardToolAddressLimit);
    if (!image.ok()) {
        outcome = FileOutcome{.fault = FileFault::BrokenHex, .hexText = true, .hex = image};
        return false;
    }
    if (!out.write(image.bytes) || !out.commit()) {
        outcome = out.outcome();
        return false;
    }
    outcome = {};
    return true;
}

bool convertHexToBin(std::string_view text, OutputFile& out) {
    FileOutcome ignored;
    return convertHexToBin(text, out, ignored);
}

}  // namespace zq
