#pragma once

#include <optional>
#include <string>

namespace CLI {
class App;
}

namespace zq {

// The first word of a command line the parser refused that names no subcommand or option where
// it stands, as a line saying so, with the valid name closest to it when one is close enough to
// be what was meant. Nothing when every such word is known: the parser's own message then says
// what is wrong.
std::optional<std::string> unknownWordLine(const CLI::App& app, int argc, const char* const* argv);

}  // namespace zq
