// The simulated kernel's records, kept node by node: each node's instance keys
// and record bytes lie back to back in two arenas, with a flat open-addressing
// index over them. The arenas are kept in instance order (the order a listing
// returns), so reading one node for every listed device walks memory forward,
// and a lookup that asks for the record after the last one found takes it
// without touching the index; any other lookup costs one probe of the index.
// This is what keeps per-device reads flat from a few hundred devices to tens
// of thousands. Records written out of order are put back in order by Tidy,
// once they are enough of a node's records that the reorder is paid for by the
// writes that caused it. Not thread-safe: the kernel serialises every call.
#pragma once

#include <array>
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
    // node's records in instance order as of the last Tidy, later writes after.
    void ForEach(const std::function<void(std::string_view key, std::string_view value)>& fn) const;
    // The node prefix of every node holding a record.
    std::vector<std::string> NodePrefixes() const;
    // Lays the records of every node written out of order since its last
    // tidying back out in instance order, where enough of them were. Views
    // from Find are invalid afterwards, as after any change.
    void Tidy();

private:
    struct Table;
    struct PrefixHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    Table* TableOf(std::string_view prefix) const;

    std::vector<std::unique_ptr<Table>> _tables;
    // The tables of recently read nodes by a hash of the node id: a read
    // then costs one short compare instead of hashing the prefix.
    static constexpr size_t kRecent = 32;
    mutable std::array<Table*, kRecent> _recent{};
    std::unordered_map<std::string, Table*, PrefixHash, std::equal_to<>> _byPrefix;
    std::vector<Table*> _untidy;  // tables with records written out of order
    size_t _size = 0;
};

// Instance order of two instance tails (key '\0' key '\0' ...): key by key,
// numeric keys by value and before names, a path before the paths below it.
bool TailLess(std::string_view a, std::string_view b);
// Numeric keys by value, then text (the order List returns).
bool NaturalLess(std::string_view a, std::string_view b);

// The length of the node prefix of a full record key (module '\0' 8 hex '\0'),
// or 0 when the key has none.
size_t NodePrefixLength(std::string_view key);

}  // namespace TarnSim
