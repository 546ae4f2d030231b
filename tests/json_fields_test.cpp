// The field names of every JSON output of zq417-flash against the lists README.md gives of them:
// a field added, renamed or dropped without its documentation fails here.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/info_command.h"
#include "app/cli/json_result.h"
#include "app/cli/port_listing.h"
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

// The first column of the table that follows the line `heading` in README.md.
Names documentedNames(const std::string& heading) {
    std::ifstream readme(ZQ_README_PATH);
    std::string line;
    while (std::getline(readme, line) && line != heading) {
    }
    EXPECT_EQ(line, heading) << "not in README.md";
    static const std::regex row("\\| `([^`]+)` \\|.*");
    Names names;
    std::smatch field;
    while (std::getline(readme, line) && (line.empty() || line.starts_with('|'))) {
        if (std::regex_match(line, field, row)) {
            names.insert(field[1]);
        }
    }
    return names;
}

std::string infoJson(const std::filesystem::path& image) {
    std::ostringstream out;
    std::ostringstream err;
    cli::runInfo({.image = {.file = image}, .json = true}, out, err);
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
    listing.ports.push_back({port, {.holders = {"42 (minicom)"}}});
    listing.comPorts.push_back({.name = "COM1", .device = "/dev/ttyS0"});
    std::ostringstream ports;
    cli::printPortListing(listing, ports, true);

    // An image refused before any board was touched: nothing is known of its bytes.
    cli::BoardResult result;
    result.port = "COM1";
    result.device = "/dev/ttyS0";
    result.operation = "flash";
    result.image.name = "app.hex";
    result.messages = {{BoxStyle::Error, "Error occurs"}};

    EXPECT_EQ(printedNames(info), documentedNames("`info --json`, one object:"));
    EXPECT_EQ(printedNames({ports.str()}), documentedNames("`ports --json`, one object:"));
    EXPECT_EQ(printedNames({cli::jsonLine(result)}),
              documentedNames("A board's result, one JSON line (`--json` and `--log`):"));
}

}  // namespace
}  // namespace zq::test
