// A build without the systemd journal (Windows, or a system without libsystemd): nothing is sent.
#include "app/records/journal_fields.h"

namespace zq {

std::optional<std::string> sendToJournal(const std::vector<std::string>&) {
    return "this build has no systemd journal";
}

bool journalAvailable() {
    return false;
}

}  // namespace zq
