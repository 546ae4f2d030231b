#pragma once

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace zq::test {

inline std::string lineOf(std::string_view text) {
    return std::string(text) + "\n";
}

inline std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

inline bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

}  // namespace zq::test
