// The per-node record tables of the simulated kernel (see core_records.h).
// Linear probing with backward-shift deletion keeps the index free of
// tombstones; space left behind by removed or outgrown records is reclaimed
// by rebuilding a node's arenas once it is more than half of them, and
// records written out of instance order are put back in order by the same
// rebuild once they are an eighth of the node's records.
#include "core_records.h"

#include <algorithm>
#include <cstring>

namespace TarnSim {

namespace {

constexpr uint32_t kDead = UINT32_MAX;
constexpr size_t kMinIndex = 16;
constexpr size_t kCompactFloor = 64 * 1024;
// A node is laid out in order again once more than 1/kDisorderShare of its
// records were written out of order: each rebuild is paid for by that many
// writes, and at most that share of a listing's reads leaves the arena order.
constexpr size_t kDisorderShare = 8;

uint32_t HashOf(std::string_view tail) {
    const size_t h = std::hash<std::string_view>{}(tail);
    return static_cast<uint32_t>(h ^ (h >> 32));
}

}  // namespace

bool NaturalLess(std::string_view a, std::string_view b) {
    auto allDigits = [](std::string_view s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    const bool da = allDigits(a), db = allDigits(b);
    if (da && db) {
        const size_t za = a.find_first_not_of('0'), zb = b.find_first_not_of('0');
        const std::string_view va = za == std::string_view::npos ? "" : a.substr(za);
        const std::string_view vb = zb == std::string_view::npos ? "" : b.substr(zb);
        if (va.size() != vb.size())
            return va.size() < vb.size();
        if (va != vb)
            return va < vb;
        return a < b;
    }
    if (da != db)
        return da;  // numbers before names
    return a < b;
}

bool TailLess(std::string_view a, std::string_view b) {
    while (!a.empty() && !b.empty()) {
        const size_t ea = a.find('\0'), eb = b.find('\0');
        const std::string_view ka = a.substr(0, ea), kb = b.substr(0, eb);
        if (ka != kb)
            return NaturalLess(ka, kb);
        a = ea == std::string_view::npos ? std::string_view() : a.substr(ea + 1);
        b = eb == std::string_view::npos ? std::string_view() : b.substr(eb + 1);
    }
    return a.empty() && !b.empty();
}

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
    // Records added since the last rebuild that did not go after every
    // record before them: each one leaves the arena out of listing order.
    // (Counting only descents from the record added just before would miss
    // interleaved runs, e.g. paths added device by device but listed adapter
    // by adapter, which are out of order almost everywhere.)
    size_t disordered = 0;
    uint32_t lastKeyOff = 0, lastKeyLen = 0;  // the greatest tail in the arena order
    mutable size_t cursor = 0;  // the slot the last lookup found
    bool queued = false;        // on the store's list for Tidy

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
        const uint32_t hash = HashOf(tail);
        // Reads that follow a listing ask for the records in arena order.
        for (size_t next : {cursor + 1, cursor}) {
            if (next < slots.size()) {
                const Slot& s = slots[next];
                if (s.keyLen != kDead && s.hash == hash && KeyOf(s) == tail) {
                    cursor = next;
                    return &s;
                }
            }
        }
        const uint32_t at = index[Probe(tail, hash)];
        if (!at)
            return nullptr;
        cursor = at - 1;
        return &slots[at - 1];
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

    // Drops removed slots and dead bytes; the rest in instance order when
    // some were added out of it, else in the order they have.
    void Compact() {
        std::vector<uint32_t> order;
        order.reserve(live);
        size_t keyBytes = 0, valueBytes = 0;
        for (size_t n = 0; n < slots.size(); ++n)
            if (slots[n].keyLen != kDead) {
                order.push_back(static_cast<uint32_t>(n));
                keyBytes += slots[n].keyLen;
                valueBytes += slots[n].valLen;
            }
        if (disordered)
            std::sort(order.begin(), order.end(),
                      [&](uint32_t a, uint32_t b) { return TailLess(KeyOf(slots[a]), KeyOf(slots[b])); });
        std::string k, b;
        k.reserve(keyBytes);
        b.reserve(valueBytes);
        std::vector<Slot> kept;
        kept.reserve(live);
        for (uint32_t n : order) {
            const Slot& s = slots[n];
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
        disordered = 0;
        cursor = 0;
        if (!slots.empty()) {
            lastKeyOff = slots.back().keyOff;
            lastKeyLen = slots.back().keyLen;
        }
        Reindex(index.size());
    }

    bool Untidy() const { return disordered * kDisorderShare > live; }

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
        if (live && TailLess(tail, std::string_view(keys.data() + lastKeyOff, lastKeyLen))) {
            ++disordered;
        } else {
            lastKeyOff = s.keyOff;
            lastKeyLen = s.keyLen;
        }
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
            disordered = 0;
            cursor = 0;
        } else {
            MaybeCompact();
        }
        return true;
    }
};

RecordStore::RecordStore() = default;
RecordStore::~RecordStore() = default;

// The tables move with their owner; the one moved from keeps no pointer to them.
RecordStore::RecordStore(RecordStore&& other) noexcept
    : _tables(std::move(other._tables)),
      _recent(other._recent),
      _byPrefix(std::move(other._byPrefix)),
      _untidy(std::move(other._untidy)),
      _size(other._size) {
    other.Clear();
}

RecordStore& RecordStore::operator=(RecordStore&& other) noexcept {
    if (this != &other) {
        _tables = std::move(other._tables);
        _recent = other._recent;
        _byPrefix = std::move(other._byPrefix);
        _untidy = std::move(other._untidy);
        _size = other._size;
        other.Clear();
    }
    return *this;
}

namespace {
// A slot of the recent-tables cache from the node id digits at the end of a prefix.
size_t RecentSlot(std::string_view prefix, size_t slots) {
    uint64_t digits = 0;
    if (prefix.size() >= 9)
        std::memcpy(&digits, prefix.data() + prefix.size() - 9, 8);
    return static_cast<size_t>((digits * 0x9E3779B97F4A7C15ull) >> 58) % slots;
}
}  // namespace

RecordStore::Table* RecordStore::TableOf(std::string_view prefix) const {
    Table*& recent = _recent[RecentSlot(prefix, kRecent)];
    if (recent && recent->prefix == prefix)
        return recent;
    auto it = _byPrefix.find(prefix);
    if (it == _byPrefix.end())
        return nullptr;
    recent = it->second;
    return recent;
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
    if (t->disordered && !t->queued) {
        t->queued = true;
        _untidy.push_back(t);
    }
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
    _recent.fill(nullptr);
    _tables.clear();
    _byPrefix.clear();
    _untidy.clear();
    _size = 0;
}

void RecordStore::Tidy() {
    std::vector<Table*> still;
    for (Table* t : _untidy) {
        if (t->Untidy())
            t->Compact();
        t->queued = t->disordered > 0;
        if (t->queued)
            still.push_back(t);
    }
    _untidy.swap(still);
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
