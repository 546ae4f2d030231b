#include "app/cli/port_listing.h"

#include <nlohmann/json.hpp>

#include "app/records/port_choice.h"
#include "app/records/port_json.h"
#include "app/records/safe_text.h"

namespace zq::cli {

namespace {

void printText(const PortListing& listing, std::ostream& out) {
    out << "Serial ports:\n";
    if (listing.ports.empty()) {
        out << "  none found\n";
    }
    for (const auto& [port, users] : listing.ports) {
        out << describePortLine(port);
        out << '\n';
        if (!port.stableName.empty()) {
            out << "    also " << printableName(port.stableName) << '\n';
        }
        if (!users.holders.empty()) {
            out << "    in use by";
            for (std::size_t i = 0; i < users.holders.size(); ++i) {
                out << (i == 0 ? " " : ", ") << printableName(users.holders[i]);
            }
            out << '\n';
        }
    }
    out << "COM ports:\n";
    for (const ComPortPresence& com : listing.comPorts) {
        out << "  " << com.name << "  " << printableName(com.device) << "  "
            << (com.present ? "present" : "absent");
        if (com.noUart) {
            out << " (the kernel found no UART behind it)";
        }
        out << '\n';
    }
}

void printJson(const PortListing& listing, std::ostream& out) {
    nlohmann::ordered_json ports = nlohmann::ordered_json::array();
    for (const auto& [port, users] : listing.ports) {
        nlohmann::ordered_json entry = portJson(port);
        // null: whether another program holds it cannot be known from here
        entry["in_use"] = users.known() ? nlohmann::ordered_json(!users.holders.empty()) : nullptr;
        entry["users"] = users.known() ? nlohmann::ordered_json(users.holders) : nullptr;
        ports.push_back(std::move(entry));
    }
    nlohmann::ordered_json comPorts = nlohmann::ordered_json::array();
    for (const ComPortPresence& com : listing.comPorts) {
        comPorts.push_back({{"name", com.name},
                            {"device", com.device},
                            {"present", com.present},
                            {"uart_found", com.present && !com.noUart}});
    }
    out << jsonText(nlohmann::ordered_json{{"ports", ports}, {"com_ports", comPorts}}, 2) << '\n';
}

}  // namespace

void printPorts(const CliContext& context, bool json) {
    PortListing listing;
    for (PortInfo& port : context.listPorts ? context.listPorts() : std::vector<PortInfo>{}) {
        PortUsers users =
            findPortUsers(port.devicePath, context.procRoot.string(), port.simulatorPid);
        listing.ports.push_back({std::move(port), std::move(users)});
    }
    listing.comPorts = discoverComPorts(context.devRoot.string(), context.sysRoot.string());
    printPortListing(listing, context.out, json);
}

void printPortListing(const PortListing& listing, std::ostream& out, bool json) {
    if (json) {
        printJson(listing, out);
    } else {
        printText(listing, out);
    }
}

}  // namespace zq::cli
