// Private to the simulated kernel's core: the state's storage, its on-disk
// form and the hooks the profile code uses to reset the running kernel.
#pragma once

#include <cstring>
#include <map>
#include <set>
#include <unordered_map>
#include <optional>
#include <string>
#include <vector>

#include "core_records.h"
#include "sim/kernel.h"

namespace TarnSim {

struct NaturalOrder {
    bool operator()(const std::string& a, const std::string& b) const { return NaturalLess(a, b); }
};

// The keys one level below one parent under which a node has records, each
// with the number of records at or below it, in List order. A listing reads
// them from one block (rebuilt by the first listing after a key came or
// went) rather than walking a tree of scattered nodes.
class Level {
public:
    // Counts a record below `key`; true when the key is new.
    bool Add(const std::string& key) {
        auto [it, added] = _keys.try_emplace(key, 0);
        ++it->second;
        _stale |= added;
        return added;
    }
    // Uncounts one; true when the key is gone.
    bool Drop(const std::string& key) {
        auto it = _keys.find(key);
        if (it == _keys.end() || --it->second > 0)
            return false;
        _keys.erase(it);
        _stale = true;
        return true;
    }
    bool Empty() const { return _keys.empty(); }
    bool Contains(const std::string& key) const { return _keys.count(key) > 0; }
    // The keys in List order; valid until the level next changes.
    const std::vector<std::string_view>& Keys() const;

private:
    std::map<std::string, uint32_t, NaturalOrder> _keys;
    mutable std::string _flat;
    mutable std::vector<std::string_view> _listing;
    mutable bool _stale = true;
};

struct KernelState::Data {
    // Records keyed by EncodeKey, node by node (core_records.h), so a lookup
    // costs the same on a host of any size; the two indexes below answer the
    // ordered questions. Change records only through Put and Erase, which
    // keep the indexes in step.
    RecordStore records;
    // EncodeKey(module, node, parent) -> the keys one level below `parent`
    // under which the node has records.
    struct KeyHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, Level, KeyHash, std::equal_to<>> children;
    // module '\0' key '\0' key '\0' ... -> the nodes with a record at exactly that
    // path. Ordered, so everything below one instance (of any node) is one range.
    std::map<std::string, std::set<uint32_t>> paths;

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

    // The level below `parent` on `node`, or null when it has no records.
    const Level* LevelOf(std::string_view module, uint32_t node, const InstancePath& parent) const;

    void Put(const std::string& key, std::string_view value);
    bool Erase(const std::string& key);
    void ClearRecords();

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
// The same written at `out` (NodePrefixSize bytes); returns the end.
char* WriteNodePrefix(char* out, std::string_view module, uint32_t node);
inline size_t NodePrefixSize(std::string_view module) { return module.size() + 10; }

// One record key for a read, built on the stack when it fits (nearly
// always): a read then allocates nothing. `Keys` is an InstancePath or the
// KSI_Param keys of a call.
class ReadKey {
public:
    template <typename Keys>
    ReadKey(std::string_view module, uint32_t node, const Keys& instance) {
        size_t need = NodePrefixSize(module);
        for (const auto& k : instance)
            need += Size(k) + 1;
        if (need > sizeof _stack) {
            _heap.resize(need);
            _key = _heap.data();
        }
        char* p = WriteNodePrefix(_key, module, node);
        _prefix = static_cast<size_t>(p - _key);
        for (const auto& k : instance) {
            p = Write(p, k);
            *p++ = '\0';
        }
        _size = static_cast<size_t>(p - _key);
    }
    ReadKey(const ReadKey&) = delete;
    ReadKey& operator=(const ReadKey&) = delete;
    std::string_view Prefix() const { return {_key, _prefix}; }
    std::string_view Tail() const { return {_key + _prefix, _size - _prefix}; }
    std::string_view Key() const { return {_key, _size}; }

private:
    static size_t Size(const std::string& k) { return k.size(); }
    static size_t Size(const KSI_Param& k) { return k.kind == KSI_Param::Integer ? 20 : k.text.size(); }
    static char* Write(char* p, const std::string& k) { return Copy(p, k); }
    static char* Write(char* p, const KSI_Param& k);
    static char* Copy(char* p, std::string_view s) {
        if (!s.empty())
            std::memcpy(p, s.data(), s.size());
        return p + s.size();
    }

    char _stack[512];
    std::string _heap;
    char* _key = _stack;
    size_t _prefix = 0, _size = 0;
};
std::string EncodeKey(std::string_view module, uint32_t node, const InstancePath& instance);
// Splits a key back; false when malformed.
bool DecodeKey(std::string_view key, std::string* module, uint32_t* node, InstancePath* instance);
// module '\0' key '\0' key '\0' ...: the `paths` index key of an instance path.
std::string EncodePath(std::string_view module, const InstancePath& instance);
bool DecodePath(std::string_view key, std::string* module, InstancePath* instance);

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
