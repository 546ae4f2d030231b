#include "app/usage/usage_hints.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <numeric>
#include <string_view>
#include <vector>

#include "app/explain/printable_name.h"

namespace zq {

namespace {

// Edits, a swap of two neighbours counting as one: "donwload" is one slip from "download".
std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) {
        d[i][0] = i;
    }
    std::iota(d[0].begin(), d[0].end(), std::size_t{0});
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

// A name is what was meant when at most two slips, and no more than one in three of its letters,
// separate them; failing that, when the word starts the one name that starts so.
std::optional<std::string> closest(std::string_view word, const std::vector<std::string>& names) {
    std::optional<std::string> best;
    std::size_t bestDistance = 3;
    for (const std::string& name : names) {
        const std::size_t distance = editDistance(word, name);
        if (distance < bestDistance && 3 * distance <= name.size()) {
            best = name;
            bestDistance = distance;
        }
    }
    if (best || word.empty()) {
        return best;
    }
    for (const std::string& name : names) {
        if (name.starts_with(word)) {
            if (best) {
                return std::nullopt;
            }
            best = name;
        }
    }
    return best;
}

std::string unknownLine(std::string_view what, std::string_view typed, std::string_view where,
                        const std::optional<std::string>& meant) {
    std::string line = printableName(typed) + ": unknown " + std::string(what);
    if (!where.empty()) {
        line += " of " + std::string(where);
    }
    if (meant) {
        line += "; did you mean " + *meant + "?";
    }
    return line;
}

const CLI::Option* optionNamed(const CLI::App& app, std::string_view name, bool isLong) {
    for (const CLI::Option* option : app.get_options()) {
        if (isLong ? option->check_lname(std::string(name))
                   : option->check_sname(std::string(name))) {
            return option;
        }
    }
    return nullptr;
}

std::vector<std::string> longNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options()) {
        for (const std::string& name : option->get_lnames()) {
            names.push_back(name);
        }
    }
    return names;
}

// `typed` as given; `name` what is compared with the long names for the hint.
std::string unknownOption(const CLI::App& app, std::string_view typed, std::string_view name,
                          std::string_view where) {
    const auto meant = closest(name, longNames(app));
    return unknownLine("option", typed, where, meant ? std::optional("--" + *meant) : std::nullopt);
}

bool takesValue(const CLI::Option& option) {
    return option.get_expected_max() > 0;
}

}  // namespace

std::optional<std::string> unknownWordLine(const CLI::App& app, int argc, const char* const* argv) {
    const CLI::App* current = &app;
    // The subcommand whose options are looked up; empty at the top level.
    std::string where;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--") {
            return std::nullopt;  // only positionals follow
        }
        if (word.starts_with("--")) {
            const std::string_view name = word.substr(2, word.find('=') - 2);
            const CLI::Option* option = optionNamed(*current, name, true);
            if (option == nullptr) {
                return unknownOption(*current, word.substr(0, name.size() + 2), name, where);
            }
            i += takesValue(*option) && word.find('=') == std::string_view::npos ? 1 : 0;
            continue;
        }
        if (word.size() > 1 && word[0] == '-') {
            // A cluster of short flags, the last of which may take a value (-qp COM1, -pCOM1).
            for (std::size_t at = 1; at < word.size(); ++at) {
                const CLI::Option* option = optionNamed(*current, word.substr(at, 1), false);
                if (option == nullptr) {
                    // "-json" is most likely --json mistyped.
                    return unknownOption(*current, word, word.substr(1), where);
                }
                if (takesValue(*option)) {
                    i += at + 1 == word.size() ? 1 : 0;
                    break;
                }
            }
            continue;
        }
        const auto subcommands = current->get_subcommands({});
        const auto named =
            std::find_if(subcommands.begin(), subcommands.end(),
                         [&](const CLI::App* s) { return s->check_name(std::string(word)); });
        if (named != subcommands.end()) {
            current = *named;
            where = current->get_name();
            continue;
        }
        if (!subcommands.empty() &&
            current->get_options([](const CLI::Option* o) { return o->get_positional(); })
                .empty()) {
            std::vector<std::string> names;
            for (const CLI::App* subcommand : subcommands) {
                names.push_back(subcommand->get_name());
            }
            return unknownLine("subcommand", word, "", closest(word, names));
        }
    }
    return std::nullopt;
}

}  // namespace zq
