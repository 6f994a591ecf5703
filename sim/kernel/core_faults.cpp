// Fault injection: the public API over the kernel state's fault lists, and
// the hooks through which program and store faults reach the command runner
// and the configuration store. Kernel faults fire inside the kernel's calls
// (core.cpp).
#include <algorithm>

#include "core_internal.h"
#include "hostctl/exception.h"
#include "platform/exec.h"
#include "platform/faultpoint.h"

namespace TarnSim {

namespace {

[[noreturn]] void Refuse(const std::string& why) {
    throw HostCtl::Lib::HostCtlException("Invalid fault: " + why);
}

void CheckCount(unsigned int count) {
    if (count == 0)
        Refuse("the count must be at least 1");
}

void Changed(KernelState& s) {
    s.data().faultsChanged = true;
}

// Counts one call against every fault of `list` that `match` accepts and
// fires the oldest one whose skip is used up. Returns it (a copy), or none.
template <typename T, typename Match>
std::optional<T> Take(std::vector<T>& list, Match&& match, bool* changed) {
    std::optional<T> fired;
    for (auto it = list.begin(); it != list.end();) {
        if (!match(*it)) {
            ++it;
            continue;
        }
        *changed = true;
        if (it->skip > 0) {
            --it->skip;
            ++it;
        } else if (!fired) {
            fired = *it;
            if (--it->count == 0) {
                it = list.erase(it);
                continue;
            }
            ++it;
        } else {
            ++it;
        }
    }
    return fired;
}

// Looks before locking: most calls find no fault of their kind and must stay
// cheap (the store's writes, every program run).
template <typename Pending, typename Fire>
bool Consume(Pending&& pending, Fire&& consume) {
    bool any = false;
    if (!WithExistingState([&](KernelState& s) { any = pending(s.data()); }) || !any)
        return false;
    bool fired = false;
    RunExclusive([&](KernelState& s) {
        bool changed = false;
        fired = consume(s.data(), &changed);
        if (changed)
            Changed(s);
    });
    return fired;
}

bool TakeStoreFault(StoreFault::Op op) {
    auto matches = [op](const StoreFault& f) { return f.op == op; };
    return Consume(
        [&](const KernelState::Data& d) {
            return std::any_of(d.storeFaults.begin(), d.storeFaults.end(), matches);
        },
        [&](KernelState::Data& d, bool* changed) {
            return Take(d.storeFaults, matches, changed).has_value();
        });
}

const bool gHooks = [] {
    Platform::FaultPoint::Register([](Platform::FaultPoint::Point point) {
        return TakeStoreFault(point == Platform::FaultPoint::Point::StoreCommit
                                  ? StoreFault::Op::Commit
                                  : StoreFault::Op::Write);
    });
    Platform::Exec::RegisterInterceptor(
        [](const Platform::Exec::Invocation& inv) -> std::optional<Platform::Exec::Result> {
            int status = 0;
            if (!TakeProgramFault(inv.argv[0], ProgramFault::Kind::ExitStatus, &status))
                return std::nullopt;
            return Platform::Exec::Result{status, "",
                                          inv.argv[0] + ": failed (injected exit status " +
                                              std::to_string(status) + ")\n"};
        });
    return true;
}();

}  // namespace

void InjectFault(const Fault& fault) {
    CheckCount(fault.count);
    if (fault.status == TARN_OK)
        Refuse("the status must be a failure");
    RunExclusive([&](KernelState& s) {
        s.data().faults.push_back(fault);
        Changed(s);
    });
}

void InjectProgramFault(const ProgramFault& fault) {
    CheckCount(fault.count);
    if (fault.program.empty() || fault.program[0] != '/')
        Refuse("the program must be an absolute path, not '" + fault.program + "'");
    if (fault.kind == ProgramFault::Kind::ExitStatus && (fault.exitStatus < 1 || fault.exitStatus > 255))
        Refuse("the exit status must be 1 to 255, not " + std::to_string(fault.exitStatus));
    RunExclusive([&](KernelState& s) {
        s.data().programFaults.push_back(fault);
        Changed(s);
    });
}

void InjectStoreFault(const StoreFault& fault) {
    CheckCount(fault.count);
    RunExclusive([&](KernelState& s) {
        s.data().storeFaults.push_back(fault);
        Changed(s);
    });
}

PendingFaults AllFaults() {
    PendingFaults out;
    WithState([&](KernelState& s) {
        out.kernel = s.data().faults;
        out.programs = s.data().programFaults;
        out.store = s.data().storeFaults;
    });
    return out;
}

std::vector<Fault> Faults() {
    return AllFaults().kernel;
}

void ClearFaults() {
    RunExclusive([](KernelState& s) {
        auto& d = s.data();
        if (d.faults.empty() && d.programFaults.empty() && d.storeFaults.empty())
            return;
        d.faults.clear();
        d.programFaults.clear();
        d.storeFaults.clear();
        Changed(s);
    });
}

bool TakeProgramFault(const std::string& program, ProgramFault::Kind kind, int* exitStatus) {
    auto matches = [&](const ProgramFault& f) { return f.kind == kind && f.program == program; };
    std::optional<ProgramFault> fired;
    Consume(
        [&](const KernelState::Data& d) {
            return std::any_of(d.programFaults.begin(), d.programFaults.end(), matches);
        },
        [&](KernelState::Data& d, bool* changed) {
            fired = Take(d.programFaults, matches, changed);
            return fired.has_value();
        });
    if (fired && exitStatus)
        *exitStatus = fired->exitStatus;
    return fired.has_value();
}

const char* KernelOpName(KernelOp op) {
    switch (op) {
    case KernelOp::Get: return "get";
    case KernelOp::Set: return "set";
    case KernelOp::List: return "list";
    case KernelOp::Any: break;
    }
    return "any";
}

bool ParseKernelOp(const std::string& text, KernelOp* op) {
    for (KernelOp o : {KernelOp::Any, KernelOp::Get, KernelOp::Set, KernelOp::List})
        if (text == KernelOpName(o)) {
            *op = o;
            return true;
        }
    return false;
}

const char* ProgramFaultKindName(ProgramFault::Kind kind) {
    return kind == ProgramFault::Kind::NoPidFile ? "no-pid-file" : "exit";
}

const char* StoreFaultOpName(StoreFault::Op op) {
    return op == StoreFault::Op::Commit ? "commit" : "write";
}

bool ParseStoreFaultOp(const std::string& text, StoreFault::Op* op) {
    if (text != "write" && text != "commit")
        return false;
    *op = text == "commit" ? StoreFault::Op::Commit : StoreFault::Op::Write;
    return true;
}

}  // namespace TarnSim
