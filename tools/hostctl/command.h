// How a command group joins hostctl: a file defines a static CommandGroup
// whose function adds its subcommands to the app. Groups are added in order
// of `order`, then name.
#pragma once

#include <functional>
#include <string>

namespace CLI {
class App;
}

namespace HostCtlTool {

struct Options {
    std::string root;           // --root
    std::string format = "table";  // --format table|json
    bool verbose = false;       // --verbose
    bool Json() const { return format == "json"; }
};

// The global options, filled before any command callback runs.
const Options& GlobalOptions();

class CommandGroup {
public:
    using Adder = std::function<void(CLI::App& app)>;
    CommandGroup(const char* name, int order, Adder add);
};

// The subcommand `name` of `parent`, made (requiring a subcommand of its own)
// when no other group has made it yet: groups share nouns such as "system".
CLI::App* SharedSubcommand(CLI::App& parent, const std::string& name, const std::string& description);

// A failure that a command reports itself: message on stderr, exit status 1.
struct CommandFailure {
    std::string message;
};

}  // namespace HostCtlTool
