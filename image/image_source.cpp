#include "image/image_source.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include "image/file_text.h"
#include "image/hex_convert.h"
#include "image/load_image_file.h"
#include "image/temp_name.h"
#include "text/messages.h"

namespace zq {

bool isHexFileName(const std::filesystem::path& fileName) {
    std::string extension = fileName.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return extension == ".hex";
}

ImageSource loadImageSource(OwnerWindow& window, const std::filesystem::path& fileName,
                            const StartupDirectory& startup, TransferJob& job, ImageStore& store) {
    ImageSource source;
    if (!isHexFileName(fileName)) {
        if (!loadImageFile(window, fileName, job, store)) {
            source.failure = ImageSourceFailure::LoadFailed;
        }
        return source;
    }

    const FileText text = readFileText(fileName);
    if (text.status == FileText::Status::TooLarge) {
        // Far more text than the largest image the board takes could need.
        window.showMessage(BoxStyle::Error, messages::FirmwareTooLong);
        source.failure = ImageSourceFailure::LoadFailed;
        return source;
    }
    if (text.status != FileText::Status::Read) {
        source.failure = ImageSourceFailure::CannotReadHex;
        return source;
    }
    OutputFile out;
    switch (createFreeTempFile(startup, out, source.tempName)) {
        case SystemFile::Created::Yes:
            break;
        case SystemFile::Created::NameTaken:
            source.failure = ImageSourceFailure::NoTempName;
            return source;
        case SystemFile::Created::Failed:
            source.failure = ImageSourceFailure::TempNotWritten;
            return source;
    }
    if (!convertHexToBin(text.text, out)) {
        // The conversion only says whether it worked; the text says why it did not.
        const HexImage image = decodeHex(text.text);
        source.failure =
            image.ok() ? ImageSourceFailure::TempNotWritten : ImageSourceFailure::InvalidHex;
        source.hexFault = image.fault;
        source.hexFaultRecord = image.faultRecord;
        return source;
    }
    const bool loaded = loadImageFile(window, source.tempName, job, store);
    std::error_code ignored;
    std::filesystem::remove(source.tempName, ignored);
    if (!loaded) {
        source.failure = ImageSourceFailure::LoadFailed;
    }
    return source;
}

}  // namespace zq
