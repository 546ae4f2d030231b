// Without this every entry would carry the sender's source file and line, a path of the build
// machine that tells a reader nothing about the board.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/records/journal_fields.h"

namespace zq {
namespace {

constexpr char kJournalSocket[] = "/run/systemd/journal/socket";  // where libsystemd sends

// Why no journal would take an entry now, or nothing when one listens. A datagram socket connects
// only to a socket someone has bound, so this finds journald without writing an entry.
std::optional<std::string> journalUnreachable() {
    const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return std::string(std::strerror(errno));
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, kJournalSocket, sizeof kJournalSocket);
    std::optional<std::string> reason;
    if (connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        reason = std::string(kJournalSocket) + ": " + std::strerror(errno);
    }
    close(probe);
    return reason;
}

}  // namespace

std::optional<std::string> sendToJournal(const std::vector<std::string>& fields) {
    // libsystemd reports success when there is no journal at all (the entry goes nowhere), so a
    // record would count as kept that no one has.
    if (std::optional<std::string> reason = journalUnreachable()) {
        return reason;
    }
    std::vector<iovec> parts;
    parts.reserve(fields.size());
    for (const std::string& field : fields) {
        parts.push_back({const_cast<char*>(field.data()), field.size()});
    }
    const int sent = sd_journal_sendv(parts.data(), static_cast<int>(parts.size()));
    if (sent < 0) {
        return std::string(std::strerror(-sent));
    }
    return std::nullopt;
}

bool journalAvailable() {
    return !journalUnreachable();
}

}  // namespace zq
