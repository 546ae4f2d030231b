#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/ports/port_entries.h"

namespace zq {

// The port list a window shows and the entry chosen in it, kept across plugs and unplugs. The
// window renders `entries()` in order and selects `chosen()`; it tells the list when the user
// picks another entry and when the system's ports may have changed.
class PortList {
  public:
    explicit PortList(PortNaming naming = nativePortNaming()) : naming_(naming) {}

    // Lists what is present. The port last used with success is chosen when it is there; COM1
    // otherwise, as at a first start, until that port comes.
    void start(const std::vector<PortInfo>& present, std::string_view remembered);

    // Lists again. A chosen port that is still there stays chosen, wherever it now sits. One
    // that went away stays chosen too, as an entry marked gone at the end of the list: the list
    // never moves the choice to a port the user did not pick (COM1 may be a console or a modem).
    // It is itself again once it comes back. True when what the window shows changed.
    bool update(const std::vector<PortInfo>& present);

    // The user picked entry `index`.
    void choose(std::size_t index);

    const std::vector<PortEntry>& entries() const { return entries_; }
    std::size_t chosen() const { return chosen_; }
    const PortEntry& chosenEntry() const { return entries_[chosen_]; }

  private:
    void place();

    PortNaming naming_;
    std::vector<PortEntry> entries_ = portEntries({}, naming_);
    std::size_t chosen_ = 0;
    std::string remembered_;  // the port that last worked, chosen when it comes until a pick
    std::optional<PortEntry> choice_;  // the port chosen, as last seen present
};

}  // namespace zq
