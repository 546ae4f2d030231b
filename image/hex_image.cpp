#include "image/hex_image.h"

#include <utility>

#include "image/hex_reader.h"

namespace zq {

HexImage decodeHex(std::string_view text) {
    HexReading reading = readHex(text, HexDialect::BoardTool, BoardToolAddressLimit);
    HexImage image;
    image.bytes = std::move(reading.bytes);
    image.fault = reading.fault;
    image.faultRecord = reading.faultRecord;
    return image;
}

std::string_view describeHexFault(HexFault fault) {
    switch (fault) {
        case HexFault::None:
            return "no fault";
        case HexFault::NoEndRecord:
            return "the text ends without the end record :00000001FF";
        case HexFault::NoColon:
            return "the record does not start with ':'";
        case HexFault::CutShort:
            return "the text ends inside the record";
        case HexFault::NotHexDigit:
            return "a character that is not a hex digit";
        case HexFault::BadEndRecord:
            return "a record of count 00 that is not the end record :00000001FF";
        case HexFault::UnsupportedType:
            return "only data records (type 00) with 16-bit addresses are accepted";
        case HexFault::BadChecksum:
            return "the checksum does not add up";
        case HexFault::NoLineEnd:
            return "the record is not followed directly by CR LF";
        case HexFault::CountMismatch:
            return "the count does not match the number of digits on the line";
        case HexFault::TrailingData:
            return "characters after the checksum that belong to no record";
        case HexFault::UnknownType:
            return "a record type other than 00 to 05";
        case HexFault::BadAddressRecord:
            return "an address record whose count is not 02 (types 02, 04) or 04 (types 03, 05)";
        case HexFault::Overlap:
            return "it gives a byte another value than an earlier record did";
        case HexFault::AddressTooHigh:
            return "its data lies past the largest image";
    }
    return "unknown fault";
}

}  // namespace zq
