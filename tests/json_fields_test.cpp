// The field names of every JSON output of zq417-flash, and its exit statuses, against the lists
// README.md gives of them: a field or status added, renamed or dropped without its documentation
// fails here.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/exit_status.h"
#include "app/cli/port_listing.h"
#include "app/records/image_info.h"
#include "app/records/record_json.h"
#include "support/image_files.h"

namespace zq::test {
namespace {

using Names = std::set<std::string>;

// Every field of `value` as README names it: `image.name`, `ports[].vid`. Each must be snake_case,
// and what is not known null, never an empty string.
void collectNames(const nlohmann::json& value, const std::string& path, Names& names) {
    static const std::regex snakeCase("[a-z][a-z0-9]*(_[a-z0-9]+)*");
    if (value.is_array()) {
        for (const nlohmann::json& item : value) {
            collectNames(item, path + "[]", names);
        }
    } else if (value.is_object()) {
        for (const auto& [key, field] : value.items()) {
            EXPECT_TRUE(std::regex_match(key, snakeCase)) << path << " has " << key;
            const std::string name = path.empty() ? key : path + "." + key;
            names.insert(name);
            collectNames(field, name, names);
        }
    } else if (value.is_string()) {
        EXPECT_NE(value, "") << path;
    }
}

Names printedNames(const std::vector<std::string>& documents) {
    Names names;
    for (const std::string& document : documents) {
        collectNames(nlohmann::json::parse(document), "", names);
    }
    return names;
}

// The rows of the table that follows the line `heading` in README.md, its heading row left out,
// each cell without its markup.
std::vector<std::vector<std::string>> readmeTable(const std::string& heading) {
    std::ifstream readme(ZQ_README_PATH);
    std::string line;
    // The heading may be a list item's text, indented.
    while (std::getline(readme, line) &&
           line.substr(std::min(line.find_first_not_of(' '), line.size())) != heading) {
    }
    EXPECT_FALSE(readme.eof()) << heading << " not in README.md";
    std::vector<std::vector<std::string>> rows;
    while (std::getline(readme, line) && (rows.empty() || line.find('|') != std::string::npos)) {
        static const std::regex cell("\\|\\s*([^|]*[^| ])\\s*(?=\\|)");
        std::vector<std::string> cells;
        for (auto it = std::sregex_iterator(line.begin(), line.end(), cell);
             it != std::sregex_iterator(); ++it) {
            cells.push_back(std::regex_replace((*it)[1].str(), std::regex("`"), ""));
        }
        if (!cells.empty() && !cells.front().starts_with("---")) {
            rows.push_back(cells);
        }
    }
    if (!rows.empty()) {
        rows.erase(rows.begin());
    }
    return rows;
}

// The first column of that table.
Names documentedNames(const std::string& heading) {
    Names names;
    for (const std::vector<std::string>& row : readmeTable(heading)) {
        names.insert(row.front());
    }
    return names;
}

std::string infoJson(const std::filesystem::path& image) {
    std::ostringstream out;
    std::ostringstream err;
    runInfo({.image = {.file = image}, .json = true}, out, err);
    return out.str();
}

// Each output is printed with every optional part filled in at least once.
TEST(JsonFields, EveryOutputPrintsInSnakeCaseTheFieldsReadmeListsAndNoEmptyText) {
    TempDir dir;
    writeText(dir / "app.hex", hexRecord(0x0000, {1, 2, 3}) + EndRecord);
    const std::vector<std::string> info = {infoJson(dir / "app.hex"), infoJson(dir / "missing")};

    cli::PortListing listing;
    PortInfo port;
    port.systemName = "ttyS0";
    port.devicePath = "/dev/ttyS0";
    port.byPath = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0";
    PortInfo board;
    board.systemName = "pts/3";
    board.devicePath = "/dev/pts/3";
    board.bus = PortInfo::Bus::Virtual;
    board.simulatorPid = 42;
    board.boardIndex = 0;
    listing.ports.push_back({board, {}});
    listing.ports.push_back({port, {.holders = {"42 (minicom)"}}});
    listing.comPorts.push_back({.name = "COM1", .device = "/dev/ttyS0"});
    std::ostringstream ports;
    cli::printPortListing(listing, ports, true);

    // A board whose image went to the loader before its port went away.
    station::BoardRecord record;
    record.fixture = station::fixtureNamed("COM1");
    record.image.name = "app.hex";
    record.tries.push_back({.outcome = {.kind = OutcomeKind::NoAnswer},
                            .exit = 1,
                            .boxes = {{BoxStyle::Error, "Error occurs"}}});
    record.end = station::BoardEnd::Pulled;

    EXPECT_EQ(printedNames(info), documentedNames("`info --json`, one object:"));
    EXPECT_EQ(printedNames({ports.str()}), documentedNames("`ports --json`, one object:"));
    EXPECT_EQ(printedNames({recordLine(record)}),
              documentedNames("A board's result, one JSON line (`--json` and `--log`):"));
}

// The README keeps the table of exit statuses that the help, the manual page and README.txt are
// made from, word for word.
TEST(ExitStatuses, ReadmeGivesTheTableTheHelpIsMadeFrom) {
    std::vector<std::vector<std::string>> table;
    for (const cli::ExitStatusMeaning& row : cli::ExitStatusMeanings) {
        table.push_back({std::string(row.status), std::string(row.meaning)});
    }
    EXPECT_EQ(readmeTable("- Exit status, by class, the same for every subcommand (the table "
                          "`--help` gives):"),
              table);
}

}  // namespace
}  // namespace zq::test
