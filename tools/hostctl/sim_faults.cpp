// hostctl sim fault kernel|program|store, hostctl sim faults: inject failures
// into the simulated host so a script can walk the library's error paths.
#include <CLI/CLI.hpp>

#include "command.h"
#include "hostctl/status.h"
#include "output.h"
#include "sim/faults.h"
#include "sim/kernel.h"

namespace {

uint32_t NodeArg(const std::string& text) {
    uint32_t node;
    if (!TarnSim::ResolveNode(text, &node))
        throw HostCtlTool::CommandFailure{"Unknown kernel node " + text};
    return node;
}

TARN_ReturnStatus StatusArg(const std::string& text) {
    char* end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (text.empty() || *end || v == 0 || v > 0xffffffffUL)
        throw HostCtlTool::CommandFailure{"Invalid status " + text +
                                          ": give a failure code such as 0xbad0004"};
    return static_cast<TARN_ReturnStatus>(v);
}

std::string Calls(unsigned skip, unsigned count) {
    std::string s = skip ? "after " + std::to_string(skip) + " call(s), the next " : "the next ";
    return s + std::to_string(count) + " call(s)";
}

void AddWindow(CLI::App* cmd, unsigned* skip, unsigned* count) {
    cmd->add_option("--skip", *skip, "Calls that pass before the fault fires")->capture_default_str();
    cmd->add_option("--count", *count, "Calls that fail")->capture_default_str();
}

HostCtlTool::CommandGroup gSimFaults("sim-faults", 91, [](CLI::App& app) {
    CLI::App* sim = app.get_subcommand("sim");
    auto* fault = sim->add_subcommand("fault", "Make the simulated host fail: kernel calls, programs, the store");
    fault->require_subcommand(1);

    static TarnSim::Fault k;
    static std::string node, status, op = "any";
    auto* kernel = fault->add_subcommand("kernel", "Fail calls of a kernel node with a status");
    kernel->add_option("node", node, "Node (constant suffix like storage_scsifw_devices, path or id)")
        ->required();
    kernel->add_option("status", status, "Status to return, e.g. 0xbad0004")->required();
    kernel->add_option("--op", op, "Which calls: any, get, set (Set and SetStruct) or list")
        ->check(CLI::IsMember({"any", "get", "set", "list"}))
        ->capture_default_str();
    kernel->add_option("--instance", k.instance, "Only calls at this instance path (a/b)");
    kernel->add_option("--module", k.module, "Kernel module owning the node");
    AddWindow(kernel, &k.skip, &k.count);
    kernel->callback([] {
        k.node = NodeArg(node);
        k.status = StatusArg(status);
        TarnSim::ParseKernelOp(op, &k.op);
        TarnSim::InjectFault(k);
        HostCtlTool::Message(std::string("Kernel: ") + Calls(k.skip, k.count) + " (" + op + ") of " +
                             TarnSim::NodeName(k.node) + " fail with " + HostCtl::Lib::StatusHex(k.status));
    });

    static TarnSim::ProgramFault p;
    static int exitStatus = 0;
    static bool noPidFile = false;
    auto* program = fault->add_subcommand("program", "Fail runs of a host program");
    program->add_option("program", p.program, "Program path as run, e.g. /bin/dhclient-uw")->required();
    auto* exitOpt = program->add_option("--exit", exitStatus, "Exit with this status (1-255) instead of running");
    auto* pidOpt = program->add_flag("--no-pid-file", noPidFile, "Daemon starts its process but writes no PID file");
    exitOpt->excludes(pidOpt);
    AddWindow(program, &p.skip, &p.count);
    program->callback([exitOpt] {
        if (noPidFile) {
            p.kind = TarnSim::ProgramFault::Kind::NoPidFile;
        } else {
            p.kind = TarnSim::ProgramFault::Kind::ExitStatus;
            p.exitStatus = exitOpt->count() ? exitStatus : 1;
        }
        TarnSim::InjectProgramFault(p);
        HostCtlTool::Message("Program: " + Calls(p.skip, p.count) + " of " + p.program +
                             (noPidFile ? " write no PID file" : " exit " + std::to_string(p.exitStatus)));
    });

    static TarnSim::StoreFault st;
    static std::string storeOp;
    auto* store = fault->add_subcommand("store", "Fail configuration store writes or commits");
    store->add_option("operation", storeOp, "write (Write and Delete) or commit")
        ->required()
        ->check(CLI::IsMember({"write", "commit"}));
    AddWindow(store, &st.skip, &st.count);
    store->callback([] {
        TarnSim::ParseStoreFaultOp(storeOp, &st.op);
        TarnSim::InjectStoreFault(st);
        HostCtlTool::Message("Store: " + Calls(st.skip, st.count) + " (" + storeOp + ") fail");
    });

    static bool clear = false;
    auto* faults = sim->add_subcommand("faults", "List (or clear) the pending faults");
    faults->add_flag("--clear", clear, "Remove every pending fault");
    faults->callback([] {
        if (clear) {
            TarnSim::ClearFaults();
            HostCtlTool::Message("Faults cleared");
            return;
        }
        HostCtlTool::Table t({"Kind", "Target", "Operation", "Instance", "Fails With", "Skip", "Count"});
        t.SetKind("Skip", HostCtlTool::Table::Kind::Number);
        t.SetKind("Count", HostCtlTool::Table::Kind::Number);
        TarnSim::PendingFaults all = TarnSim::AllFaults();
        for (const auto& x : all.kernel)
            t.AddRow({"kernel", (x.module.empty() ? "" : x.module + ":") + TarnSim::NodeName(x.node),
                      TarnSim::KernelOpName(x.op), x.instance, HostCtl::Lib::StatusHex(x.status),
                      std::to_string(x.skip), std::to_string(x.count)});
        for (const auto& x : all.programs)
            t.AddRow({"program", x.program, TarnSim::ProgramFaultKindName(x.kind), "",
                      x.kind == TarnSim::ProgramFault::Kind::ExitStatus ? std::to_string(x.exitStatus) : "",
                      std::to_string(x.skip), std::to_string(x.count)});
        for (const auto& x : all.store)
            t.AddRow({"store", "configuration store", TarnSim::StoreFaultOpName(x.op), "", "", std::to_string(x.skip),
                      std::to_string(x.count)});
        t.Print();
    });
});

}  // namespace
