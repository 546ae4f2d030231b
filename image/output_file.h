#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "image/file_outcome.h"
#include "image/system_file.h"

namespace zq {

// A binary file being written that appears only once it is written in full and on the disk.
// Whatever path ends without a successful commit() leaves every name as it was before.
class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // Writes under a new name beside the file `path` names, put in its place by commit(): until
    // then that file is untouched. A link (or a chain of them) at `path` stays, and the file it
    // leads to is the one replaced, or created when it does not exist yet. A device or a pipe is
    // written through instead, as there is nothing to replace.
    bool create(const std::filesystem::path& path);
    // Writes `path` itself, which must name nothing yet (a link included).
    SystemFile::Created createNew(const std::filesystem::path& path);
    bool write(std::span<const std::uint8_t> bytes);
    // Syncs, closes and puts the file in place; on failure the new file is gone.
    bool commit();
    // Why the last of these that failed did: NotWritten, the name given and the failing call.
    const FileOutcome& outcome() const { return outcome_; }

  private:
    void discard();
    bool fail(std::string_view call, SystemError error);

    SystemFile file_;
    std::filesystem::path target_;   // where the bytes end up
    std::filesystem::path written_;  // the new file, empty when writing through
    bool open_ = false;
    FileOutcome outcome_;
};

// Whether both names lead to one existing file (the same device and inode), whatever links or
// other paths lead there: writing one would then replace the other.
bool namesSameFile(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace zq
