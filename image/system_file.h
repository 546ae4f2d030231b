#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <utility>

#include "job/system_error.h"

namespace zq {

// One open file of the system, closed when it goes. Sizes come from the open file's own
// metadata, so a name swapped after the open cannot change what is measured or read.
class SystemFile {
  public:
    enum class Created { Yes, NameTaken, Failed };

    SystemFile() = default;
    SystemFile(const SystemFile&) = delete;
    SystemFile& operator=(const SystemFile&) = delete;
    ~SystemFile() { close(); }

    // Opens a regular file for reading (others may read it too). Anything else, a directory, a
    // device or a pipe, is refused without waiting on it.
    bool openForReading(const std::filesystem::path& path);
    // Creates a file under a name that held nothing: an existing name, a link included, is
    // never opened, followed or truncated.
    Created createNew(const std::filesystem::path& path);
    // Opens what the name already holds (a device, a pipe) to write through it.
    bool openExistingForWriting(const std::filesystem::path& path);
    // Opens a file to add to its end, creating it (readable by all) when it is missing; what it
    // holds is never truncated, and each write lands at the end whoever else writes there.
    bool openForAppending(const std::filesystem::path& path);

    bool isOpen() const { return handle_ != Invalid; }
    std::optional<std::uint64_t> size() const;
    // Fills `bytes` from the current position; the count is short only at the end of the file.
    std::optional<std::size_t> read(std::span<std::uint8_t> bytes);
    bool write(std::span<const std::uint8_t> bytes);
    // Gives the file the permission bits of the regular file `model` names, if there is one.
    void takePermissionsOf(const std::filesystem::path& model);
    // Puts the written bytes on the disk before anything relies on them being there.
    bool sync();
    bool close();
    // What the system said when the last call that failed did.
    const SystemError& lastError() const { return error_; }

  private:
    bool fail(SystemError error) {
        error_ = std::move(error);
        return false;
    }

    static constexpr std::intptr_t Invalid = -1;
    std::intptr_t handle_ = Invalid;  // a descriptor, or a HANDLE
    mutable SystemError error_{};     // size() is const and may fail too
};

// The name that writing `path` through its links would reach: the end of a chain of links, each
// relative one taken from its link's directory, whether that end exists or not; `path` itself
// when it is no link. Nothing when the links go round in a loop.
std::optional<std::filesystem::path> finalName(const std::filesystem::path& path);

// Gives `to` the file named `from` in one step: whatever `to` named before (a link itself, never
// the file it points to) is replaced, or stays as it was when this fails, with `error` saying why.
bool replaceName(const std::filesystem::path& from, const std::filesystem::path& to,
                 SystemError& error);

// Makes the names changed in `directory` durable; a no-op where the system has no such step.
void syncDirectory(const std::filesystem::path& directory);

}  // namespace zq
