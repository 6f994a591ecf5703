// hostctl config ...: the legacy configuration tree as the network and firewall
// code sees it (read from and written back to the configuration store), and the
// import of an older host's legacy configuration file.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>
#include <sstream>

#include "command.h"
#include "configstore/configmappings.h"
#include "configstore/configstoreconvertor.h"
#include "configstore/configupgradeparser.h"
#include "output.h"

namespace {

using namespace TarnCtl::ConfigStoreUtil;

// Holds the converter lock for one command.
class LockGuard {
public:
    LockGuard(const std::shared_ptr<ConfigStoreConvertor>& c, const std::vector<std::string>& specs) : _c(c) {
        _c->Lock(specs);
    }
    ~LockGuard() { _c->Unlock(); }

private:
    std::shared_ptr<ConfigStoreConvertor> _c;
};

std::string Normalized(std::string path) {
    if (path.empty() || path[0] != '/') path = "/" + path;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// The store objects a path reads: the one that holds it, or every object below it.
std::vector<std::string> SpecsFor(const std::string& path) {
    std::string spec = ConfigStoreConvertor::SpecForPath(path);
    if (!spec.empty()) return {spec};
    const auto& t = Mappings::GetTables();
    std::vector<std::string> specs;
    for (const auto& [legacy, key] : t.csoIdKeyMap) {
        if (path == "/" || legacy.compare(0, path.size() + 1, path + "/") == 0) {
            specs.push_back("halden/" + t.csoIdGroupMap.at(legacy) + "/" + key);
        }
    }
    return specs;
}

void CollectValues(const std::shared_ptr<ConfigNode>& node, std::vector<std::pair<std::string, std::string>>& out) {
    switch (node->GetType()) {
        case ConfigNode::kValueType:
            out.emplace_back(node->GetKey(), std::static_pointer_cast<ConfigValue>(node)->GetStringValue());
            break;
        case ConfigNode::kBranchType:
            for (const auto& [name, child] : std::static_pointer_cast<ConfigBranch>(node)->GetChildren())
                CollectValues(child, out);
            break;
        default:
            for (const auto& e : std::static_pointer_cast<ConfigArray>(node)->GetInstances()) CollectValues(e, out);
            break;
    }
}

struct Args {
    std::string path, value, file;
    bool dryRun = false;
};

HostCtlTool::CommandGroup gConfig("config", 70, [](CLI::App& app) {
    auto* config = app.add_subcommand("config", "The legacy configuration tree kept in the configuration store");
    config->require_subcommand(1);

    static Args g;
    auto* get = config->add_subcommand("get", "Print a value, or every value below a branch");
    get->add_option("path", g.path, "Tree path, e.g. /net/vswitch/child[0000]/mtu")->required();
    get->callback([] {
        std::string path = Normalized(g.path);
        auto specs = SpecsFor(path);
        if (specs.empty()) throw HostCtlTool::CommandFailure{"No configuration object holds " + path};
        auto c = ConfigStoreConvertor::GetConvertor();
        LockGuard lock(c, specs);
        std::vector<std::pair<std::string, std::string>> values;
        if (auto v = c->FindValue(path)) {
            values.emplace_back(v->GetKey(), v->GetStringValue());
        } else {
            auto root = c->GetRoot();
            auto [parent, last] = root->Resolve(path + "/x", false);
            if (path == "/") {
                CollectValues(root, values);
            } else if (parent) {
                CollectValues(parent, values);
            }
        }
        if (values.empty()) throw HostCtlTool::CommandFailure{"No configuration value or branch at " + path};
        if (values.size() == 1 && values[0].first == path && !HostCtlTool::GlobalOptions().Json()) {
            std::cout << values[0].second << "\n";
            return;
        }
        std::sort(values.begin(), values.end());
        HostCtlTool::Table t({"Path", "Value"});
        for (auto& [p, v] : values) t.AddRow({p, v});
        t.Print();
    });

    static Args s;
    auto* set = config->add_subcommand("set", "Set a value and write it back to the configuration store");
    set->add_option("path", s.path, "Tree path")->required();
    set->add_option("value", s.value, "New value (text)")->required();
    set->callback([] {
        std::string path = Normalized(s.path);
        const auto& t = Mappings::GetTables();
        std::string spec = ConfigStoreConvertor::SpecForPath(path);
        if (spec.empty() || !t.mapping.count(Mappings::NormalizePath(path, nullptr))) {
            throw HostCtlTool::CommandFailure{"No configuration-store property for " + path};
        }
        auto c = ConfigStoreConvertor::GetConvertor();
        LockGuard lock(c, {spec});
        c->SetValue(path, s.value);
        c->Write();
        HostCtlTool::Message("Set " + path + " = \"" + s.value + "\"");
    });

    static Args im;
    auto* imp = config->add_subcommand(
        "import-legacy", "Import the network settings of a legacy configuration file into the store");
    imp->add_option("file", im.file, "Host path of the legacy file (\"-\" reads standard input)")->required();
    imp->add_flag("--dry-run", im.dryRun, "Print what would be stored, store nothing");
    imp->callback([] {
        const auto& t = Mappings::GetTables();
        std::vector<std::string> specs;
        for (const auto& name : t.allowedUpgradeNetworkNameSet) {
            std::string spec = ConfigStoreConvertor::SpecForPath("/net/" + name);
            if (!spec.empty()) specs.push_back(spec);
        }
        std::unique_ptr<ConfigUpgradeParser> parser;
        try {
            if (im.file == "-") {
                auto in = std::make_unique<std::stringstream>();
                *in << std::cin.rdbuf();
                parser = std::make_unique<ConfigUpgradeParser>(std::move(in));
            } else {
                parser = std::make_unique<ConfigUpgradeParser>(im.file.c_str());
            }
        } catch (const ConfigUpgradeParser::Exception& e) {
            if (im.file == "-") throw HostCtlTool::CommandFailure{e.what()};
            throw HostCtlTool::CommandFailure{std::string(e.what()) + " (" +
                                              HostCtlTool::HostPathMessage("host path", im.file) + ")"};
        }
        auto c = ConfigStoreConvertor::GetConvertor();
        LockGuard lock(c, specs);
        try {
            c->GetBranchFromSticky(t.allowedUpgradeNetworkNameSet, *parser);
        } catch (const ConfigUpgradeParser::Exception& e) {
            throw HostCtlTool::CommandFailure{e.what()};
        }
        c->GetRoot()->Dirty();
        auto objects = c->PreviewWrite();
        HostCtlTool::Table table({"Object", "Data"});
        for (auto& [id, json] : objects) table.AddRow({id, json});
        table.Print();
        if (im.dryRun) {
            HostCtlTool::Message("Dry run: " + std::to_string(objects.size()) + " objects would be stored");
            return;
        }
        c->Write();
        HostCtlTool::Message("Imported " + std::to_string(objects.size()) + " objects");
    });
});

}  // namespace
