// hostctl: reads and changes the (simulated) host through the library.
// Exit status: 0 success, 1 the operation failed, 2 usage error.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <vector>

#include "command.h"
#include "hostctl/exception.h"
#include "platform/audit.h"
#include "platform/hostroot.h"
#include "platform/log.h"

namespace HostCtlTool {
namespace {

struct Group {
    std::string name;
    int order;
    CommandGroup::Adder add;
};

std::vector<Group>& Groups() {
    static std::vector<Group>* groups = new std::vector<Group>;
    return *groups;
}

Options gOptions;

}  // namespace

const Options& GlobalOptions() { return gOptions; }

CommandGroup::CommandGroup(const char* name, int order, Adder add) {
    Groups().push_back({name, order, std::move(add)});
}

}  // namespace HostCtlTool

int main(int argc, char** argv) {
    using namespace HostCtlTool;
    CLI::App app{"hostctl - read and change the host"};
    app.require_subcommand(1);
    // Global options act from their own callbacks, which CLI11 runs before any
    // subcommand callback.
    Platform::Log::SetStderrLevel(Platform::Log::Level::Error);
    TarnCtl::Util::EmitAudit::Details::SetAuditContext("root", "", "");
    static std::string user = "root", clientIp, opId;
    app.add_option("--root", gOptions.root,
                   "Host root directory (default: $TARNCTL_ROOT, else the embedded default host)")
        ->each([](const std::string& dir) { Platform::SetHostRoot(dir); });
    app.add_option("--format", gOptions.format, "Output format: table or json")
        ->check(CLI::IsMember({"table", "json"}));
    app.add_flag("-v,--verbose", gOptions.verbose, "Log info lines to stderr")->each([](const std::string&) {
        Platform::Log::SetStderrLevel(Platform::Log::Level::Info);
    });
    // `each` runs before the variable is assigned, so each lambda sets its own field.
    auto audit = [](std::string* field) {
        return [field](const std::string& v) {
            *field = v;
            TarnCtl::Util::EmitAudit::Details::SetAuditContext(user, clientIp, opId);
        };
    };
    app.add_option("--audit-user", user, "User recorded in audit records")->each(audit(&user));
    app.add_option("--audit-ip", clientIp, "Client address recorded in audit records")->each(audit(&clientIp));
    app.add_option("--audit-opid", opId, "Operation id recorded in audit records")->each(audit(&opId));

    auto& groups = Groups();
    std::sort(groups.begin(), groups.end(), [](const auto& a, const auto& b) {
        return a.order != b.order ? a.order < b.order : a.name < b.name;
    });
    for (auto& g : groups)
        g.add(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    } catch (const CommandFailure& f) {
        std::cerr << "hostctl: " << f.message << "\n";
        return 1;
    } catch (const HostCtl::Lib::HostCtlException& e) {
        std::cerr << "hostctl: " << e.GetDetailedMessage() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "hostctl: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
