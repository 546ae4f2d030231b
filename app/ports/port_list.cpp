#include "app/ports/port_list.h"

#include <utility>

namespace zq {

namespace {

PortEntry goneEntry(PortEntry entry) {
    entry.gone = true;
    entry.label += "  (gone)";
    return entry;
}

}  // namespace

void PortList::start(const std::vector<PortInfo>& present, std::string_view remembered) {
    entries_ = portEntries(present, naming_);
    // A remembered port that is absent now is chosen when it comes, unless the user picks
    // another first: the adapter is often plugged in after the window is up.
    remembered_ = std::string(remembered);
    choice_.reset();
    place();
}

bool PortList::update(const std::vector<PortInfo>& present) {
    const std::vector<PortEntry> before = entries_;
    const std::size_t chosenBefore = chosen_;
    entries_ = portEntries(present, naming_);
    place();
    return entries_ != before || chosen_ != chosenBefore;
}

void PortList::choose(std::size_t index) {
    if (index < entries_.size()) {
        chosen_ = index;
        remembered_.clear();
        if (!entries_[index].gone) {
            choice_ = entries_[index];
        }
    }
}

void PortList::place() {
    if (!choice_) {
        const std::optional<std::size_t> found = findPortEntry(entries_, remembered_);
        chosen_ = found.value_or(0);
        if (found) {
            choice_ = entries_[*found];
        }
        return;
    }
    // By the lasting name only: another adapter may have taken the chosen one's device name.
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].lastingName == choice_->lastingName) {
            chosen_ = i;
            choice_ = entries_[i];
            return;
        }
    }
    entries_.push_back(goneEntry(*choice_));
    chosen_ = entries_.size() - 1;
}

}  // namespace zq
