// The "net" command group, shared by the network command files: each file adds
// its subcommands to it, whichever file comes first creates it.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "command.h"

namespace HostCtlTool {

inline CLI::App* NetGroup(CLI::App& app) {
    for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
        if (sub->get_name() == "net") return sub;
    auto* net = app.add_subcommand("net", "Network addresses, switches and interfaces");
    net->require_subcommand(1);
    return net;
}

// "on"/"true"/"yes" and "off"/"false"/"no"; anything else fails naming the option.
inline bool OnOffValue(const std::string& option, const std::string& value) {
    if (value == "on" || value == "true" || value == "yes") return true;
    if (value == "off" || value == "false" || value == "no") return false;
    throw CommandFailure{"Invalid value for " + option + ": " + value + " (on or off)"};
}

}  // namespace HostCtlTool
