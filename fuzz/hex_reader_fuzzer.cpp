// The HEX reader in both dialects on arbitrary text. Line ends are mixed in by the fuzzer itself;
// the first byte picks extended address records in front, so that the fuzzer reaches the base
// arithmetic without having to find a whole valid record first. Invariants: a reading that
// succeeds holds exactly the bytes up to its highest address and never reaches the limit; the
// board tool's dialect gives what decodeHex gives.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "image/hex_image.h"
#include "image/hex_reader.h"

namespace {

constexpr std::size_t Limit = 8192;

const char* const Prefixes[] = {
    "",
    ":020000040000FA\n",
    ":020000040001F9\r\n",
    ":020000021000EC\n",
    ":0200000200FFFD\n:0400000500000000F7\n",
    ":020000048000 7A\n",
    ":020000040000fa",
    "\n\r\n",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::string text = Prefixes[data[0] % std::size(Prefixes)];
    text.append(reinterpret_cast<const char*>(data + 1), size - 1);
    // A buffer of exactly the text's size: a read past its end is a sanitizer report.
    const std::unique_ptr<char[]> exact(new char[text.size() + 1]);
    std::copy(text.begin(), text.end(), exact.get());
    const std::string_view view(exact.get(), text.size());

    const zq::HexReading reading = zq::readHex(view, zq::HexDialect::Toolchain, Limit);
    if (reading.ok()) {
        if (reading.bytes.size() > Limit || reading.dataBytes > reading.bytes.size()) {
            __builtin_trap();
        }
        if (reading.dataBytes != 0 &&
            (reading.highest + 1 != reading.bytes.size() || reading.lowest > reading.highest)) {
            __builtin_trap();
        }
    } else if (!reading.bytes.empty() || reading.faultRecord == 0 ||
               zq::describeHexReading(reading).empty()) {
        __builtin_trap();
    }

    const zq::HexReading board =
        zq::readHex(view, zq::HexDialect::BoardTool, zq::BoardToolAddressLimit);
    const zq::HexImage decoded = zq::decodeHex(view);
    if (board.bytes != decoded.bytes || board.fault != decoded.fault ||
        board.faultRecord != decoded.faultRecord) {
        __builtin_trap();
    }
    return 0;
}
