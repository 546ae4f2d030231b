#include "serial/virtual_boards.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <map>
#include <sstream>

namespace zq {

namespace {

template <typename Number>
std::optional<Number> decimal(std::string_view text, Number lowest, Number highest) {
    Number value{};
    const auto [end, fault] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || fault != std::errc() || end != text.data() + text.size() ||
        value < lowest || value > highest) {
        return std::nullopt;
    }
    return value;
}

// Absolute, already in its shortest form, so that "/dev/../etc" cannot pass for a device, and
// free of anything a list or a terminal would show other than as written.
bool plainAbsolutePath(const std::string& path) {
    return path.starts_with('/') && std::filesystem::path(path).lexically_normal() == path &&
           std::all_of(path.begin(), path.end(),
                       [](char c) { return static_cast<unsigned char>(c) > 0x20 && c != 0x7f; });
}

}  // namespace

std::string announcementText(const VirtualBoard& board) {
    std::ostringstream text;
    text << "device=" << board.devicePath << "\nlink=" << board.linkPath << "\nmode=" << board.mode
         << "\npid=" << board.pid << "\nstarted=" << board.started << "\nboard=" << board.index
         << '\n';
    return text.str();
}

std::optional<VirtualBoard> parseAnnouncement(std::string_view text) {
    std::map<std::string, std::string, std::less<>> fields;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        if (equals == std::string::npos ||
            !fields.emplace(line.substr(0, equals), line.substr(equals + 1)).second) {
            return std::nullopt;
        }
    }
    const auto field = [&](std::string_view key) {
        const auto found = fields.find(key);
        return found == fields.end() ? std::string() : found->second;
    };
    VirtualBoard board;
    board.devicePath = field("device");
    board.linkPath = field("link");
    board.mode = field("mode");
    const std::optional<long> pid = decimal<long>(field("pid"), 1, 0x7fffffff);
    const std::optional<int> index = decimal<int>(field("board"), 0, 9999);
    const std::optional<unsigned long long> started =
        decimal<unsigned long long>(field("started"), 0, ~0ULL);
    if (!started || !board.devicePath.starts_with("/dev/") ||
        !plainAbsolutePath(board.devicePath) ||
        (!board.linkPath.empty() && !plainAbsolutePath(board.linkPath)) ||
        (board.mode != "download" && board.mode != "update") || !pid || !index) {
        return std::nullopt;
    }
    board.pid = *pid;
    board.index = *index;
    board.started = *started;
    return board;
}

PortInfo portOf(const VirtualBoard& board) {
    PortInfo port;
    port.systemName = board.devicePath.substr(std::string_view("/dev/").size());
    port.devicePath = board.devicePath;
    port.stableName = board.linkPath;
    port.description = "zq417-sim virtual board (" + board.mode + " mode)";
    port.bus = PortInfo::Bus::Virtual;
    port.boardMode = board.mode;
    port.simulatorPid = board.pid;
    port.boardIndex = static_cast<unsigned>(board.index);
    return port;
}

std::string announcementName(long pid, int index, bool complete) {
    return std::to_string(pid) + "-" + std::to_string(index) + (complete ? ".board" : ".tmp");
}

std::optional<AnnouncementName> readAnnouncementName(std::string_view name) {
    AnnouncementName read;
    const auto dash = name.find('-');
    const auto dot = name.find('.');
    if (dash == std::string_view::npos || dot == std::string_view::npos || dot < dash) {
        return std::nullopt;
    }
    const std::string_view ending = name.substr(dot);
    read.complete = ending == ".board";
    const std::optional<long> pid = decimal<long>(name.substr(0, dash), 1, 0x7fffffff);
    const std::optional<int> index = decimal<int>(name.substr(dash + 1, dot - dash - 1), 0, 9999);
    if (!pid || !index || (!read.complete && ending != ".tmp")) {
        return std::nullopt;
    }
    read.pid = *pid;
    read.index = *index;
    return read;
}

}  // namespace zq
