// hostctl sim ...: the simulated host itself: make a host from a profile,
// look at the kernel's nodes, reboot, generate profiles (faults and processes
// are in sim_faults.cpp and sim_ps.cpp).
#include <CLI/CLI.hpp>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>

#include "command.h"
#include "hostctl/status.h"
#include "output.h"
#include "platform/boot.h"
#include "sim/kernel.h"
#include "sim/profile.h"

namespace {

std::string ReadProfileFile(const std::string& path) {
    // The profile is the operator's own file, not a file of the host.
    std::ifstream in(path);
    if (!in)
        throw HostCtlTool::CommandFailure{"Unable to read the profile " + path};
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string Join(const TarnSim::InstancePath& p) {
    std::string s;
    for (const auto& k : p)
        s += (s.empty() ? "" : "/") + k;
    return s;
}

std::string Hex(const std::string& bytes, size_t max) {
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < bytes.size() && i < max; ++i) {
        s.push_back(d[(unsigned char)bytes[i] >> 4]);
        s.push_back(d[(unsigned char)bytes[i] & 15]);
    }
    if (bytes.size() > max)
        s += "...";
    return s;
}

void PrintOutcomes(const std::vector<Platform::Boot::Outcome>& outcomes) {
    HostCtlTool::Table t({"Step", "Result", "Error"});
    for (const auto& o : outcomes)
        t.AddRow({o.name, o.ok ? "ok" : "failed", o.error});
    t.Print();
}

HostCtlTool::CommandGroup gSim("sim", 90, [](CLI::App& app) {
    auto* sim = app.add_subcommand("sim", "The simulated host");
    sim->require_subcommand(1);

    static std::string profile;
    auto* init = sim->add_subcommand("init", "Make a new host (kernel and store) from a profile and boot it");
    init->add_option("--profile", profile, "Hardware profile (JSON); default: the built-in one");
    init->callback([] {
        std::string text = profile.empty() ? TarnSim::Profile::DefaultProfile() : ReadProfileFile(profile);
        TarnSim::Profile::InitHost(text);
        HostCtlTool::Message("Host initialised from " +
                             (profile.empty() ? std::string("the built-in profile") : profile));
        // A new host's first boot: with nothing configured it brings up its own network.
        PrintOutcomes(TarnSim::Profile::Reboot());
    });

    static std::string showNode;
    auto* show = sim->add_subcommand("show", "The kernel's nodes, or one node's instances");
    show->add_option("--node", showNode, "Node (constant suffix, path or id)");
    show->callback([] {
        auto NodeArg = [](const std::string& text) {
            uint32_t node;
            if (!TarnSim::ResolveNode(text, &node))
                throw HostCtlTool::CommandFailure{"Unknown kernel node " + text};
            return node;
        };
        if (showNode.empty()) {
            HostCtlTool::Table t({"Node", "Module", "Path", "Instances"});
            t.SetKind("Instances", HostCtlTool::Table::Kind::Number);
            std::vector<std::vector<std::string>> rows;
            TarnSim::WithState([&](TarnSim::KernelState& s) {
                for (const auto& [module, node] : s.Nodes()) {
                    const KsiNodeEntry* e = module.empty() ? KsiNodeById(node) : nullptr;
                    rows.push_back({TarnSim::NodeName(node), module, e ? e->path : "",
                                    std::to_string(s.AllInstances(module, node).size())});
                }
            });
            std::sort(rows.begin(), rows.end());
            for (auto& r : rows)
                t.AddRow(std::move(r));
            t.Print();
            return;
        }
        uint32_t node = NodeArg(showNode);
        HostCtlTool::Table t({"Instance", "Bytes", "Data"});
        t.SetKind("Bytes", HostCtlTool::Table::Kind::Number);
        TarnSim::WithState([&](TarnSim::KernelState& s) {
            for (const auto& p : s.AllInstances("", node)) {
                const std::string* r = s.Find("", node, p);
                t.AddRow({Join(p), std::to_string(r ? r->size() : 0), r ? Hex(*r, 32) : ""});
            }
        });
        t.Print();
    });

    sim->add_subcommand("reboot", "Reset the kernel to the host's profile and run the boot sequence")
        ->callback([] {
            PrintOutcomes(TarnSim::Profile::Reboot());
        });
    sim->add_subcommand("upgrade", "Run the upgrade steps")->callback([] {
        PrintOutcomes(Platform::Boot::RunUpgrade());
    });
    static std::string applyGroup;
    auto* apply = sim->add_subcommand("apply", "Run the apply steps of a store group (or all)");
    apply->add_option("group", applyGroup, "Store group");
    apply->callback([] { PrintOutcomes(Platform::Boot::RunApply(applyGroup)); });

    static TarnSim::GenerateOptions gen;
    static std::map<std::string, long> genValues;
    auto* generate = sim->add_subcommand("generate", "Write a synthetic profile to stdout");
    for (const TarnSim::Area* area : TarnSim::Areas())
        for (const auto& o : area->options) {
            if (generate->get_option_no_throw("--" + o.name))
                continue;  // two areas may share a knob
            generate->add_option("--" + o.name, genValues[o.name], area->name + ": " + o.help)
                ->default_val(o.fallback);
        }
    generate->callback([] {
        gen.values = genValues;
        std::cout << TarnSim::Profile::Generate(gen);
    });
});

}  // namespace
