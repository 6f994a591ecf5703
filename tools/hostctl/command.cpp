// Helpers command groups share while they build the command tree.
#include "command.h"

#include <CLI/CLI.hpp>

namespace HostCtlTool {

CLI::App* SharedSubcommand(CLI::App& parent, const std::string& name, const std::string& description) {
    try {
        return parent.get_subcommand(name);
    } catch (const CLI::OptionNotFound&) {
        auto* sub = parent.add_subcommand(name, description);
        sub->require_subcommand(1);
        return sub;
    }
}

}  // namespace HostCtlTool
