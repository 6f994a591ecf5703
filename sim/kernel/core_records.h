// The simulated kernel's records, kept node by node: each node's instance keys
// and record bytes lie back to back in two arenas, in the order they were
// first written, with a flat open-addressing index over them. A listing that
// reads one node for every device then walks memory in order, and a lookup
// costs one probe of a small index instead of a walk through a table of every
// record of the host; this is what keeps per-device reads flat from a few
// hundred devices to tens of thousands. Not thread-safe: the kernel
// serialises every call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace TarnSim {

class RecordStore {
public:
    RecordStore();
    ~RecordStore();
    RecordStore(RecordStore&&) noexcept;
    RecordStore& operator=(RecordStore&&) noexcept;
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // `key` is a full record key (EncodeKey). The view stays valid until the
    // store next changes.
    bool Find(std::string_view key, std::string_view* value) const;
    // The same by node prefix (AppendNodePrefix) and the rest of the key.
    bool Find(std::string_view prefix, std::string_view tail, std::string_view* value) const;
    // Inserts or replaces; true when the key is new.
    bool Set(std::string_view key, std::string_view value);
    // False when absent.
    bool Erase(std::string_view key);
    void Clear();
    size_t Size() const { return _size; }
    // Every record, node by node (nodes in the order first written), each
    // node's records in the order first written.
    void ForEach(const std::function<void(std::string_view key, std::string_view value)>& fn) const;
    // The node prefix of every node holding a record.
    std::vector<std::string> NodePrefixes() const;

private:
    struct Table;
    struct PrefixHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    Table* TableOf(std::string_view prefix) const;

    std::vector<std::unique_ptr<Table>> _tables;
    std::unordered_map<std::string, Table*, PrefixHash, std::equal_to<>> _byPrefix;
    size_t _size = 0;
};

// The length of the node prefix of a full record key (module '\0' 8 hex '\0'),
// or 0 when the key has none.
size_t NodePrefixLength(std::string_view key);

}  // namespace TarnSim
