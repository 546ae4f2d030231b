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
        if (!loadImageFile(window, fileName, job, store, source.outcome)) {
            source.failure = ImageSourceFailure::LoadFailed;
        }
        return source;
    }

    FileText text = readFileText(fileName);
    source.outcome = std::move(text.outcome);
    source.outcome.hexText = true;
    if (source.outcome.fault == FileFault::TooLarge) {
        // Far more text than the largest image the board takes could need.
        window.showMessage(BoxStyle::Error, messages::FirmwareTooLong);
        source.failure = ImageSourceFailure::LoadFailed;
        return source;
    }
    if (!source.outcome.ok()) {
        source.failure = ImageSourceFailure::CannotReadHex;
        return source;
    }
    OutputFile out;
    switch (createFreeTempFile(startup, out, source.tempName)) {
        case SystemFile::Created::Yes:
            break;
        case SystemFile::Created::NameTaken:
            source.failure = ImageSourceFailure::NoTempName;
            source.outcome = fileFailure(FileFault::NoTempName, fileName);
            return source;
        case SystemFile::Created::Failed:
            source.failure = ImageSourceFailure::TempNotWritten;
            source.outcome = out.outcome();
            return source;
    }
    if (!convertHexToBin(text.text, out, source.outcome)) {
        source.failure = source.outcome.fault == FileFault::BrokenHex
                             ? ImageSourceFailure::InvalidHex
                             : ImageSourceFailure::TempNotWritten;
        if (source.outcome.file.empty()) {
            source.outcome.file = fileName;
        }
        return source;
    }
    const bool loaded = loadImageFile(window, source.tempName, job, store, source.outcome);
    std::error_code ignored;
    std::filesystem::remove(source.tempName, ignored);
    if (!loaded) {
        source.failure = ImageSourceFailure::LoadFailed;
    }
    return source;
}

}  // namespace zq
