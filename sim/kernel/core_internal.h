// Private to the simulated kernel's core: the state's storage, its on-disk
// form and the hooks the profile code uses to reset the running kernel.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/kernel.h"

namespace TarnSim {

struct KernelState::Data {
    // Records keyed by EncodeKey; ordered, so one node's instances below a
    // parent are one contiguous range.
    std::map<std::string, std::string, std::less<>> records;
    std::map<std::string, std::map<std::string, std::string>> areas;
    std::vector<Fault> faults;
    std::vector<ProgramFault> programFaults;
    std::vector<StoreFault> storeFaults;
    uint64_t generation = 0;

    // Change tracking for one call: what to persist, and how to undo it.
    bool dirty = false;
    bool fullRewrite = false;    // cleared wholesale: persist a snapshot, not a delta
    bool faultsChanged = false;
    bool journaling = false;
    struct Undo {
        bool area;
        std::string a, b;                // record key, or area name + key
        std::optional<std::string> old;  // previous value, none when absent
    };
    std::vector<Undo> undo;

    void Rollback();
    void Clear(bool keepFaults);
    std::string Serialize() const;
    bool Deserialize(const std::string& bytes);
    // The changes of the current call (from the undo journal) as a log entry
    // payload, and applying such a payload.
    std::string EncodeChanges() const;
    bool ApplyChanges(const std::string& payload);
};

// module '\0' 8-hex-node '\0' key '\0' key '\0' ...
void AppendNodePrefix(std::string& out, std::string_view module, uint32_t node);
std::string EncodeKey(std::string_view module, uint32_t node, const InstancePath& instance);
// Splits a key back; false when malformed.
bool DecodeKey(std::string_view key, std::string* module, uint32_t* node, InstancePath* instance);
// Numeric keys by value, then text.
bool NaturalLess(const std::string& a, const std::string& b);

// Runs `fn` under the cross-process lock on freshly synchronised state and
// persists the result (used by the profile code and WithState).
void RunExclusive(const std::function<void(KernelState&)>& fn);

// Runs `fn` on the current state when the root has a kernel; false (and `fn`
// not run) when it has none yet. Never boots a kernel.
bool WithExistingState(const std::function<void(KernelState&)>& fn);

// Fills `data` from the profile text (areas' init in order). Throws
// HostCtl::Lib::HostCtlException "Invalid profile: ..." on bad JSON.
void InitFromProfile(KernelState& state, const std::string& profileJson, bool keepFaults);

}  // namespace TarnSim
