// Fault injection into the simulated host, so tests (and `hostctl sim fault`)
// can reach every failure path of the library:
//  - kernel calls: a node's Get, Set (Set and SetStruct) or List, any of them
//    by default, optionally only at one instance path;
//  - host programs: a run exits with a status instead of running, or a daemon
//    starts but never writes its PID file;
//  - the configuration store: a write (Write or Delete) or a commit fails.
//
// Every fault lets the first `skip` matching calls pass, fails the next
// `count`, and is then gone; a matching call counts against every pending
// fault it matches, and at most one fault fires per call (the oldest).
// Faults persist with the simulated kernel, so every process using the host
// root sees them; a reboot keeps them, `sim init` clears them.
//
//   TarnSim::Fault f;                       // the 3rd and 4th MTU write fail
//   f.node = KSI_NODE_net_...; f.op = TarnSim::KernelOp::Set;
//   f.skip = 2; f.count = 2; f.status = TARN_BUSY;
//   TarnSim::InjectFault(f);
//   TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Commit});
//   TarnSim::InjectProgramFault({"/bin/dhclient-uw", TarnSim::ProgramFault::Kind::NoPidFile});
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hostctl/status.h"

namespace TarnSim {

enum class KernelOp : uint8_t { Any, Get, Set, List };

struct Fault {
    std::string module;    // "" for the core kernel
    uint32_t node = 0;
    std::string instance;  // "a/b": only calls at this instance path; "" any
    TARN_ReturnStatus status = TARN_FAILURE;
    unsigned int count = 1;
    KernelOp op = KernelOp::Any;
    unsigned int skip = 0;
};

struct ProgramFault {
    enum class Kind : uint8_t {
        ExitStatus,  // the run returns `exitStatus` and the program does not run
        NoPidFile,   // a daemon start makes its process but writes no PID file
    };
    std::string program;  // the path as run: "/bin/dhclient-uw", "/etc/init.d/ntpd"
    Kind kind = Kind::ExitStatus;
    int exitStatus = 1;   // 1..255
    unsigned int skip = 0;
    unsigned int count = 1;
};

struct StoreFault {
    enum class Op : uint8_t { Write, Commit };
    Op op = Op::Write;
    unsigned int skip = 0;
    unsigned int count = 1;
};

// Each refuses (HostCtl::Lib::HostCtlException, nothing changes) a count of
// 0, a kernel status of 0, an exit status outside 1..255, a program that is
// not an absolute path.
void InjectFault(const Fault& fault);
void InjectProgramFault(const ProgramFault& fault);
void InjectStoreFault(const StoreFault& fault);

struct PendingFaults {
    std::vector<Fault> kernel;
    std::vector<ProgramFault> programs;
    std::vector<StoreFault> store;
    bool empty() const { return kernel.empty() && programs.empty() && store.empty(); }
};
PendingFaults AllFaults();
// The pending kernel faults.
std::vector<Fault> Faults();
// Removes every pending fault of every kind.
void ClearFaults();

// Consumes a program fault of `kind` for a run of `program`; true (and the
// exit status) when one fires. Used by the simulated programs' dispatch.
bool TakeProgramFault(const std::string& program, ProgramFault::Kind kind, int* exitStatus);

// Names used by the tool: "any", "get", "set", "list"; "exit", "no-pid-file";
// "write", "commit". Parse* return false for other text.
const char* KernelOpName(KernelOp op);
bool ParseKernelOp(const std::string& text, KernelOp* op);
const char* ProgramFaultKindName(ProgramFault::Kind kind);
const char* StoreFaultOpName(StoreFault::Op op);
bool ParseStoreFaultOp(const std::string& text, StoreFault::Op* op);

}  // namespace TarnSim
