#include "app/cli/exit_status.h"

#include <algorithm>

namespace zq::cli {

std::string exitStatusTable() {
    std::string table = "Exit status (a subcommand's --help says where it differs):\n";
    for (const ExitStatusMeaning& row : ExitStatusMeanings) {
        table += "  " + std::string(row.status) + "  " + std::string(row.meaning) + "\n";
    }
    return table + std::string(SeveralPortsExit);
}

std::string exitStatusSentence(std::initializer_list<ExitStatusMeaning> statuses) {
    std::string sentence = "Exit status: ";
    for (const ExitStatusMeaning& own : statuses) {
        std::string_view meaning = own.meaning;
        if (meaning.empty()) {
            const auto row =
                std::ranges::find(ExitStatusMeanings, own.status, &ExitStatusMeaning::status);
            meaning = row->meaning.substr(0, row->meaning.find_first_of("(;"));
            meaning = meaning.substr(0, meaning.find_last_not_of(' ') + 1);
        }
        sentence += std::string(&own == statuses.begin() ? "" : ", ") + std::string(own.status) +
                    " " + std::string(meaning);
    }
    return sentence + ".";
}

}  // namespace zq::cli
