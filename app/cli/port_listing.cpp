#include "app/cli/port_listing.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>
#include <tuple>

namespace zq::cli {

namespace fs = std::filesystem;

namespace {

constexpr std::array<std::string_view, 3> Families{"ttyS", "ttyUSB", "ttyACM"};

// Orders devices by family, then by number, so ttyS2 comes before ttyS10.
struct DeviceKey {
    std::size_t family;
    unsigned long number;
    bool operator<(const DeviceKey& other) const {
        return std::tie(family, number) < std::tie(other.family, other.number);
    }
};

std::optional<DeviceKey> keyOf(std::string_view name) {
    for (std::size_t f = 0; f < Families.size(); ++f) {
        const std::string_view family = Families[f];
        if (name.size() <= family.size() || name.substr(0, family.size()) != family) {
            continue;
        }
        const std::string_view digits = name.substr(family.size());
        if (digits.size() > 6 || !std::all_of(digits.begin(), digits.end(),
                                              [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        return DeviceKey{f, std::stoul(std::string(digits))};
    }
    return std::nullopt;
}

// The serial core reports the UART type it detected; 0 means none was found.
bool kernelFoundNoUart(const fs::path& sysRoot, const std::string& node) {
    std::ifstream type(sysRoot / "class" / "tty" / node / "type");
    int value = -1;
    return type >> value && value == 0;
}

// A directory that cannot be read lists as empty: /dev/serial/by-id exists only while a USB
// serial adapter is plugged in.
std::vector<fs::directory_entry> entriesOf(const fs::path& dir) {
    std::vector<fs::directory_entry> entries;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(*it);
    }
    return entries;
}

}  // namespace

PortListing listPorts(const fs::path& devRoot, const fs::path& sysRoot) {
    PortListing listing;
    std::error_code ec;
    std::vector<std::pair<DeviceKey, fs::path>> found;
    for (const fs::directory_entry& entry : entriesOf(devRoot)) {
        if (entry.is_directory(ec)) {
            continue;
        }
        if (const auto key = keyOf(entry.path().filename().string())) {
            found.emplace_back(*key, entry.path());
        }
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [key, path] : found) {
        listing.devices.push_back(std::move(path));
    }

    for (const fs::directory_entry& entry : entriesOf(devRoot / "serial" / "by-id")) {
        std::error_code resolveError;
        fs::path target = fs::canonical(entry.path(), resolveError);
        listing.byId.emplace_back(entry.path(), resolveError ? fs::path() : std::move(target));
    }
    std::sort(listing.byId.begin(), listing.byId.end());

    for (int n = 1; n <= 4; ++n) {
        ComPortEntry com;
        com.name = "COM" + std::to_string(n);
        const std::string node = "ttyS" + std::to_string(n - 1);
        com.device = devRoot / node;
        com.present = fs::exists(com.device, ec);
        com.noUart = com.present && kernelFoundNoUart(sysRoot, node);
        listing.comPorts.push_back(std::move(com));
    }
    return listing;
}

void printPortListing(const PortListing& listing, std::ostream& out) {
    out << "Serial devices:\n";
    if (listing.devices.empty() && listing.byId.empty()) {
        out << "  none found\n";
    }
    for (const fs::path& device : listing.devices) {
        out << "  " << device.string() << '\n';
    }
    for (const auto& [link, target] : listing.byId) {
        out << "  " << link.string() << " -> "
            << (target.empty() ? std::string("(unresolved)") : target.string()) << '\n';
    }
    out << "COM ports:\n";
    for (const ComPortEntry& com : listing.comPorts) {
        out << "  " << com.name << "  " << com.device.string() << "  "
            << (com.present ? "present" : "absent");
        if (com.noUart) {
            out << " (the kernel found no UART behind it)";
        }
        out << '\n';
    }
}

}  // namespace zq::cli
