// The simulated kernel's extension API: how a domain's simulation code models
// its system-information nodes. The kernel holds fixed-layout records keyed by
// (module, node, instance path) plus per-area model state; both persist under
// the host root and are shared by every process using that root.
//
// A domain registers, from its own sim/kernel/<domain>*.cpp, with statics:
//
//   static TarnSim::NodeRegistration r1(KSI_NODE_storage_scsifw_devices_info, {
//       .get = [](TarnSim::Call& c, void* buf, unsigned len) { ... },
//       .set = [](TarnSim::Call& c) { ... c.state.Write(...); return TARN_OK; },
//   });
//   static TarnSim::AreaRegistration a1({ .name = "storage", .order = 20,
//       .init = [](TarnSim::KernelState& s, const rapidjson::Value* section) { ... } });
//
// Without a handler (or with a null callback) a node behaves as plain storage:
// Get copies the record at the exact instance path (TARN_NOT_FOUND when absent),
// SetStruct stores the buffer as the record, List returns the instance keys one
// level below the path under which this node has records, and Set (inputs) is
// TARN_NOT_SUPPORTED.
//
// Callbacks run one at a time (the kernel serialises calls within a process and
// holds the cross-process lock while a call may change state). A call whose
// callback returns a failure status leaves the state as it was before the call:
// handlers may write freely and just return the error.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <rapidjson/fwd.h>

#include "hostctl/status.h"
#include "platform/sysinfo.h"
#include "sim/faults.h"

namespace TarnSim {

// Instance keys as text (an integer key is its decimal text).
using InstancePath = std::vector<std::string>;

// The running kernel's state. Only reached inside a callback (Call::state,
// area init) or through WithState.
class KernelState {
public:
    // ---- Records. `module` is "" for the core kernel.
    // A copy of the record bytes, or null when there is none. The copy stays
    // valid for the next kFindResults - 1 calls of Find on the same thread;
    // keep your own copy beyond that.
    static constexpr unsigned kFindResults = 8;
    const std::string* Find(std::string_view module, uint32_t node,
                            const InstancePath& instance) const;
    bool Has(std::string_view module, uint32_t node, const InstancePath& instance) const;
    void Write(std::string_view module, uint32_t node, const InstancePath& instance,
               const void* data, size_t length);
    // Removes one record; false when absent.
    bool Remove(std::string_view module, uint32_t node, const InstancePath& instance);
    // Removes every record (of any node of `module`) whose instance path starts
    // with `prefix`, e.g. everything of one device; returns how many.
    size_t RemoveBelow(std::string_view module, const InstancePath& prefix);
    // Keys one level below `parent` under which `node` has a record (at that
    // level or deeper), in natural order (numeric keys by value).
    std::vector<std::string> Instances(std::string_view module, uint32_t node,
                                       const InstancePath& parent = {}) const;
    // Every instance path holding a record of `node` (any depth), for tools.
    std::vector<InstancePath> AllInstances(std::string_view module, uint32_t node) const;
    // Every (module, node) that holds at least one record.
    std::vector<std::pair<std::string, uint32_t>> Nodes() const;

    // Typed record helpers for the plain structs of ksi/<area>.h.
    template <typename T>
    bool Read(std::string_view module, uint32_t node, const InstancePath& instance, T* out) const {
        static_assert(std::is_trivially_copyable_v<T>);
        return ReadBytes(module, node, instance, out, sizeof(T));
    }
    // Copies up to `length` bytes of the record into `out` and zeroes the
    // rest of `out`; false (and `out` untouched) when absent.
    bool ReadBytes(std::string_view module, uint32_t node, const InstancePath& instance, void* out,
                   size_t length) const;
    template <typename T>
    void Put(std::string_view module, uint32_t node, const InstancePath& instance, const T& rec) {
        static_assert(std::is_trivially_copyable_v<T>);
        Write(module, node, instance, &rec, sizeof(T));
    }
    // Core-kernel shorthands.
    template <typename T>
    bool Read(uint32_t node, const InstancePath& instance, T* out) const {
        return Read("", node, instance, out);
    }
    template <typename T>
    void Put(uint32_t node, const InstancePath& instance, const T& rec) {
        Put("", node, instance, rec);
    }

    // ---- Per-area model state: free-form key/value text (JSON is fine) that
    // persists with the kernel and is cleared when the kernel is reset. Areas
    // named "disk.<x>" hold media contents: a reboot keeps them, an init clears them.
    std::string GetAreaValue(const std::string& area, const std::string& key,
                             const std::string& fallback = "") const;
    bool HasAreaValue(const std::string& area, const std::string& key) const;
    void SetAreaValue(const std::string& area, const std::string& key, std::string value);
    bool RemoveAreaValue(const std::string& area, const std::string& key);
    std::vector<std::string> AreaKeys(const std::string& area) const;

    // Implementation details (the core kernel's storage).
    struct Data;
    explicit KernelState(Data* data) : _d(data) {}
    Data& data() { return *_d; }
    const Data& data() const { return *_d; }

private:
    Data* _d;
};

// One kernel call as a handler sees it.
struct Call {
    std::string_view module;               // "" for the core kernel
    uint32_t node;
    InstancePath instance;                 // the caller's instance path as text
    const std::vector<KSI_Param>& inputs;  // Set inputs (empty for other calls)
    KernelState& state;

    size_t InputCount() const { return inputs.size(); }
    // Input `i` as text / integer; false when absent or not convertible.
    bool InputText(size_t i, std::string* out) const;
    bool InputInt(size_t i, int64_t* out) const;
};

using GetFn = std::function<TARN_ReturnStatus(Call&, void* buffer, unsigned int length)>;
using SetFn = std::function<TARN_ReturnStatus(Call&)>;
using SetStructFn = std::function<TARN_ReturnStatus(Call&, const void* buffer, unsigned int length)>;
using ListFn = std::function<TARN_ReturnStatus(Call&, std::vector<std::string>* out)>;

struct NodeHandler {
    GetFn get;              // null: plain record read
    SetFn set;              // null: TARN_NOT_SUPPORTED
    SetStructFn setStruct;  // null: store the buffer as the record
    ListFn list;            // null: instances of the node below the path
    // Set when `get` changes state (read-and-clear counters, generators); the
    // kernel then runs it under the cross-process lock and persists changes.
    bool getChangesState = false;
};

// Registers the handler of (module, node); a later registration of the same
// node replaces the earlier one. Use "" for core-kernel nodes.
void RegisterNode(std::string module, uint32_t node, NodeHandler handler);

struct NodeRegistration {
    NodeRegistration(uint32_t node, NodeHandler handler) { RegisterNode("", node, std::move(handler)); }
    NodeRegistration(std::string module, uint32_t node, NodeHandler handler) {
        RegisterNode(std::move(module), node, std::move(handler));
    }
};

// Options of `hostctl sim generate`: integer knobs by name ("devices" -> 8).
struct GenerateOptions {
    std::map<std::string, long> values;
    long Get(const std::string& name, long fallback) const {
        auto it = values.find(name);
        return it == values.end() ? fallback : it->second;
    }
};

struct GenerateOption {
    std::string name;  // flag name without dashes: "paths-per-device"
    std::string help;
    long fallback;     // used when the flag is not given
};

// A simulated area: one top-level key of the hardware profile.
struct Area {
    std::string name;  // profile key, e.g. "storage"
    int order = 50;    // init order (lower first); "host" is 0
    // Fills the kernel from the area's profile section at `sim init` and at
    // every reboot. `section` is null when the profile has no such key.
    std::function<void(KernelState& state, const rapidjson::Value* section)> init;
    // Writes a synthetic section for `hostctl sim generate` (optional).
    std::function<void(rapidjson::Value& out, rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>& alloc,
                       const GenerateOptions& options)>
        generate;
    std::vector<GenerateOption> options;  // the generator's knobs
};

void RegisterArea(Area area);
struct AreaRegistration {
    explicit AreaRegistration(Area area) { RegisterArea(std::move(area)); }
};
// Registered areas in init order.
std::vector<const Area*> Areas();

// Raises a kernel event message for the current call; the caller's Sysinfo
// collects it into the exception it throws.
void RaiseEvent(const std::string& text);

// Runs `fn` on the running kernel's state, outside any call (tools, simulated
// host programs, tests). With `changes` true it runs under the cross-process
// lock and the state is persisted afterwards (unless `fn` throws).
void WithState(const std::function<void(KernelState&)>& fn, bool changes = false);


// The kernel's node name for tools: the KSI table name ("storage_scsifw_devices")
// or "0x..." for module-private ids.
std::string NodeName(uint32_t node);
// Resolves a constant suffix name, a path ("/storage/scsifw/devices") or a
// numeric id; false when unknown.
bool ResolveNode(const std::string& text, uint32_t* node);

// The simulation as a Platform::Kernel::Backend (the process default).
Platform::Kernel::Backend& SimBackend();

}  // namespace TarnSim
