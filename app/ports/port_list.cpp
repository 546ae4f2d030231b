#include "app/ports/port_list.h"

#include <utility>

namespace zq {

void PortList::start(const std::vector<PortInfo>& present, std::string_view remembered) {
    entries_ = portEntries(present, naming_);
    wanted_ = std::string(remembered);
    // A remembered port that is absent now is chosen when it comes, unless the user picks
    // another first: the adapter is often plugged in after the window is up.
    chooseWanted();
}

bool PortList::update(const std::vector<PortInfo>& present) {
    std::vector<PortEntry> fresh = portEntries(present, naming_);
    const std::size_t before = chosen_;
    const bool sameEntries = fresh == entries_;
    entries_ = std::move(fresh);
    chooseWanted();
    return !sameEntries || chosen_ != before;
}

void PortList::choose(std::size_t index) {
    if (index < entries_.size()) {
        chosen_ = index;
        wanted_ = entries_[index].lastingName;
    }
}

void PortList::chooseWanted() {
    chosen_ = findPortEntry(entries_, wanted_).value_or(0);
}

}  // namespace zq
