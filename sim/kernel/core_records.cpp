// The per-node record tables of the simulated kernel (see core_records.h).
// Linear probing with backward-shift deletion keeps the index free of
// tombstones; space left behind by removed or outgrown records is reclaimed
// by rebuilding a node's arenas once it is more than half of them.
#include "core_records.h"

#include <cstring>

namespace TarnSim {

namespace {

constexpr uint32_t kDead = UINT32_MAX;
constexpr size_t kMinIndex = 16;
constexpr size_t kCompactFloor = 64 * 1024;

uint32_t HashOf(std::string_view tail) {
    const size_t h = std::hash<std::string_view>{}(tail);
    return static_cast<uint32_t>(h ^ (h >> 32));
}

}  // namespace

size_t NodePrefixLength(std::string_view key) {
    const size_t z = key.find('\0');
    if (z == std::string_view::npos || key.size() < z + 10 || key[z + 9] != '\0')
        return 0;
    return z + 10;
}

struct RecordStore::Table {
    struct Slot {
        uint32_t keyOff, keyLen;  // keyLen kDead: removed
        uint32_t valOff, valLen, valCap;
        uint32_t hash;
    };
    std::string prefix;
    std::string keys;   // instance tails, back to back
    std::string bytes;  // record bytes, back to back
    std::vector<Slot> slots;
    std::vector<uint32_t> index;  // slot + 1; 0 empty; size a power of two
    size_t live = 0;
    size_t deadBytes = 0;

    std::string_view KeyOf(const Slot& s) const { return {keys.data() + s.keyOff, s.keyLen}; }
    std::string_view ValueOf(const Slot& s) const { return {bytes.data() + s.valOff, s.valLen}; }

    // The index position holding `tail`, or the empty position it would take.
    size_t Probe(std::string_view tail, uint32_t hash) const {
        const size_t mask = index.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const uint32_t at = index[i];
            if (at == 0)
                return i;
            const Slot& s = slots[at - 1];
            if (s.hash == hash && KeyOf(s) == tail)
                return i;
        }
    }

    const Slot* Lookup(std::string_view tail) const {
        if (index.empty())
            return nullptr;
        const uint32_t at = index[Probe(tail, HashOf(tail))];
        return at ? &slots[at - 1] : nullptr;
    }

    void Reindex(size_t size) {
        index.assign(size, 0);
        const size_t mask = size - 1;
        for (size_t n = 0; n < slots.size(); ++n) {
            if (slots[n].keyLen == kDead)
                continue;
            size_t i = slots[n].hash & mask;
            while (index[i])
                i = (i + 1) & mask;
            index[i] = static_cast<uint32_t>(n + 1);
        }
    }

    // Drops removed slots and dead bytes, keeping the order of the rest.
    void Compact() {
        std::string k, b;
        k.reserve(keys.size());
        b.reserve(bytes.size() - deadBytes);
        std::vector<Slot> kept;
        kept.reserve(live);
        for (const Slot& s : slots) {
            if (s.keyLen == kDead)
                continue;
            Slot t = s;
            t.keyOff = static_cast<uint32_t>(k.size());
            k.append(KeyOf(s));
            t.valOff = static_cast<uint32_t>(b.size());
            t.valCap = s.valLen;
            b.append(ValueOf(s));
            kept.push_back(t);
        }
        keys.swap(k);
        bytes.swap(b);
        slots.swap(kept);
        deadBytes = 0;
        Reindex(index.size());
    }

    void MaybeCompact() {
        if (deadBytes > kCompactFloor && deadBytes * 2 > keys.size() + bytes.size())
            Compact();
    }

    bool Set(std::string_view tail, std::string_view value) {
        if ((live + 1) * 2 > index.size())
            Reindex(index.empty() ? kMinIndex : index.size() * 2);
        const uint32_t hash = HashOf(tail);
        const size_t pos = Probe(tail, hash);
        if (index[pos]) {
            Slot& s = slots[index[pos] - 1];
            if (value.size() <= s.valCap) {
                if (!value.empty())
                    std::memcpy(bytes.data() + s.valOff, value.data(), value.size());
                s.valLen = static_cast<uint32_t>(value.size());
                return false;
            }
            deadBytes += s.valCap;
            s.valOff = static_cast<uint32_t>(bytes.size());
            s.valLen = s.valCap = static_cast<uint32_t>(value.size());
            bytes.append(value);
            MaybeCompact();
            return false;
        }
        Slot s{static_cast<uint32_t>(keys.size()), static_cast<uint32_t>(tail.size()),
               static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(value.size()),
               static_cast<uint32_t>(value.size()), hash};
        keys.append(tail);
        bytes.append(value);
        slots.push_back(s);
        index[pos] = static_cast<uint32_t>(slots.size());
        ++live;
        return true;
    }

    bool Erase(std::string_view tail) {
        if (index.empty())
            return false;
        size_t i = Probe(tail, HashOf(tail));
        if (!index[i])
            return false;
        Slot& s = slots[index[i] - 1];
        deadBytes += s.keyLen + s.valCap;
        s.keyLen = kDead;
        --live;
        // Backward shift: pull later entries of the same run into the hole.
        const size_t mask = index.size() - 1;
        for (size_t j = (i + 1) & mask; index[j]; j = (j + 1) & mask) {
            const size_t home = slots[index[j] - 1].hash & mask;
            const bool between = i <= j ? (i < home && home <= j) : (i < home || home <= j);
            if (between)
                continue;
            index[i] = index[j];
            i = j;
        }
        index[i] = 0;
        if (live == 0) {
            keys.clear();
            bytes.clear();
            slots.clear();
            deadBytes = 0;
        } else {
            MaybeCompact();
        }
        return true;
    }
};

RecordStore::RecordStore() = default;
RecordStore::~RecordStore() = default;
RecordStore::RecordStore(RecordStore&&) noexcept = default;
RecordStore& RecordStore::operator=(RecordStore&&) noexcept = default;

RecordStore::Table* RecordStore::TableOf(std::string_view prefix) const {
    auto it = _byPrefix.find(prefix);
    return it == _byPrefix.end() ? nullptr : it->second;
}

bool RecordStore::Find(std::string_view prefix, std::string_view tail, std::string_view* value) const {
    const Table* t = TableOf(prefix);
    const Table::Slot* s = t ? t->Lookup(tail) : nullptr;
    if (!s)
        return false;
    *value = t->ValueOf(*s);
    return true;
}

bool RecordStore::Find(std::string_view key, std::string_view* value) const {
    const size_t p = NodePrefixLength(key);
    return p && Find(key.substr(0, p), key.substr(p), value);
}

bool RecordStore::Set(std::string_view key, std::string_view value) {
    const size_t p = NodePrefixLength(key);
    if (!p)
        return false;
    Table* t = TableOf(key.substr(0, p));
    if (!t) {
        _tables.push_back(std::make_unique<Table>());
        t = _tables.back().get();
        t->prefix = std::string(key.substr(0, p));
        _byPrefix.emplace(t->prefix, t);
    }
    const bool inserted = t->Set(key.substr(p), value);
    _size += inserted;
    return inserted;
}

bool RecordStore::Erase(std::string_view key) {
    const size_t p = NodePrefixLength(key);
    Table* t = p ? TableOf(key.substr(0, p)) : nullptr;
    if (!t || !t->Erase(key.substr(p)))
        return false;
    --_size;
    return true;
}

void RecordStore::Clear() {
    _tables.clear();
    _byPrefix.clear();
    _size = 0;
}

void RecordStore::ForEach(const std::function<void(std::string_view, std::string_view)>& fn) const {
    std::string key;
    for (const auto& t : _tables)
        for (const auto& s : t->slots) {
            if (s.keyLen == kDead)
                continue;
            key.assign(t->prefix);
            key.append(t->KeyOf(s));
            fn(key, t->ValueOf(s));
        }
}

std::vector<std::string> RecordStore::NodePrefixes() const {
    std::vector<std::string> out;
    for (const auto& t : _tables)
        if (t->live)
            out.push_back(t->prefix);
    return out;
}

}  // namespace TarnSim
