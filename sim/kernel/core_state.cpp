// The simulated kernel's state: records, per-area model values and injected
// faults, with the undo journal that lets a failed call leave no trace and the
// compact binary form the state is persisted in.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <set>

#include "core_internal.h"

namespace TarnSim {

namespace {
constexpr char kHex[] = "0123456789abcdef";
constexpr char kMagic[] = "TARNSIMK2";

void PutU32(std::string& out, uint32_t v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}
void PutU64(std::string& out, uint64_t v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}
void PutStr(std::string& out, std::string_view s) {
    PutU32(out, static_cast<uint32_t>(s.size()));
    out.append(s);
}

struct Reader {
    const std::string& b;
    size_t pos = 0;
    bool ok = true;
    template <typename T>
    T Num() {
        T v{};
        if (pos + sizeof v > b.size()) {
            ok = false;
            return v;
        }
        std::memcpy(&v, b.data() + pos, sizeof v);
        pos += sizeof v;
        return v;
    }
    std::string Str() {
        uint32_t n = Num<uint32_t>();
        if (!ok || pos + n > b.size()) {
            ok = false;
            return {};
        }
        std::string s = b.substr(pos, n);
        pos += n;
        return s;
    }
};

}  // namespace

char* WriteNodePrefix(char* out, std::string_view module, uint32_t node) {
    if (!module.empty())
        std::memcpy(out, module.data(), module.size());
    out += module.size();
    *out++ = '\0';
    for (int shift = 28; shift >= 0; shift -= 4)
        *out++ = kHex[(node >> shift) & 0xf];
    *out++ = '\0';
    return out;
}

char* ReadKey::Write(char* p, const KSI_Param& k) {
    if (k.kind != KSI_Param::Integer)
        return Copy(p, k.text);
    // Decimal, as AsText writes it: at most 20 characters with the sign.
    return std::to_chars(p, p + 20, k.number).ptr;
}

void AppendNodePrefix(std::string& out, std::string_view module, uint32_t node) {
    // Every record read builds one: fill it in place rather than char by char.
    const size_t at = out.size();
    out.resize(at + NodePrefixSize(module));
    WriteNodePrefix(out.data() + at, module, node);
}

std::string EncodeKey(std::string_view module, uint32_t node, const InstancePath& instance) {
    std::string k;
    k.reserve(module.size() + 10 + instance.size() * 12);
    AppendNodePrefix(k, module, node);
    for (const auto& i : instance) {
        k.append(i);
        k.push_back('\0');
    }
    return k;
}

bool DecodeKey(std::string_view key, std::string* module, uint32_t* node, InstancePath* instance) {
    size_t z = key.find('\0');
    if (z == std::string_view::npos || key.size() < z + 10 || key[z + 9] != '\0')
        return false;
    *module = std::string(key.substr(0, z));
    uint32_t n = 0;
    for (size_t i = z + 1; i < z + 9; ++i) {
        const char* p = std::strchr(kHex, key[i]);
        if (!p || !*p)
            return false;
        n = (n << 4) | static_cast<uint32_t>(p - kHex);
    }
    *node = n;
    instance->clear();
    size_t pos = z + 10;
    while (pos < key.size()) {
        size_t e = key.find('\0', pos);
        if (e == std::string_view::npos)
            return false;
        instance->emplace_back(key.substr(pos, e - pos));
        pos = e + 1;
    }
    return true;
}

std::string EncodePath(std::string_view module, const InstancePath& instance) {
    std::string k(module);
    k.push_back('\0');
    for (const auto& i : instance) {
        k.append(i);
        k.push_back('\0');
    }
    return k;
}

bool DecodePath(std::string_view key, std::string* module, InstancePath* instance) {
    size_t z = key.find('\0');
    if (z == std::string_view::npos)
        return false;
    *module = std::string(key.substr(0, z));
    instance->clear();
    for (size_t pos = z + 1; pos < key.size();) {
        size_t e = key.find('\0', pos);
        if (e == std::string_view::npos)
            return false;
        instance->emplace_back(key.substr(pos, e - pos));
        pos = e + 1;
    }
    return true;
}

const std::vector<std::string_view>& Level::Keys() const {
    if (_stale) {
        size_t bytes = 0;
        for (const auto& [key, count] : _keys)
            bytes += key.size();
        _flat.clear();
        _flat.reserve(bytes);
        for (const auto& [key, count] : _keys)
            _flat.append(key);
        _listing.clear();
        _listing.reserve(_keys.size());
        size_t at = 0;
        for (const auto& [key, count] : _keys) {
            _listing.emplace_back(_flat.data() + at, key.size());
            at += key.size();
        }
        _stale = false;
    }
    return _listing;
}

// ---- Data -------------------------------------------------------------------------

void KernelState::Data::Put(const std::string& key, std::string_view value) {
    if (!records.Set(key, value))
        return;
    std::string module;
    uint32_t node;
    InstancePath path;
    if (!DecodeKey(key, &module, &node, &path))
        return;
    std::string parent;
    AppendNodePrefix(parent, module, node);
    for (const auto& k : path) {
        children[parent].Add(k);
        parent.append(k);
        parent.push_back('\0');
    }
    paths[EncodePath(module, path)].insert(node);
}

bool KernelState::Data::Erase(const std::string& key) {
    if (!records.Erase(key))
        return false;
    std::string module;
    uint32_t node;
    InstancePath path;
    if (!DecodeKey(key, &module, &node, &path))
        return true;
    std::string parent;
    AppendNodePrefix(parent, module, node);
    for (const auto& k : path) {
        auto c = children.find(parent);
        if (c != children.end() && c->second.Drop(k) && c->second.Empty())
            children.erase(c);
        parent.append(k);
        parent.push_back('\0');
    }
    auto p = paths.find(EncodePath(module, path));
    if (p != paths.end()) {
        p->second.erase(node);
        if (p->second.empty())
            paths.erase(p);
    }
    return true;
}

void KernelState::Data::ClearRecords() {
    records.Clear();
    children.clear();
    paths.clear();
}

void KernelState::Data::Rollback() {
    for (auto it = undo.rbegin(); it != undo.rend(); ++it) {
        if (it->area) {
            auto& m = areas[it->a];
            if (it->old)
                m[it->b] = *it->old;
            else
                m.erase(it->b);
            if (m.empty())
                areas.erase(it->a);
        } else if (it->old) {
            Put(it->a, *it->old);
        } else {
            Erase(it->a);
        }
    }
    undo.clear();
    dirty = false;
}

void KernelState::Data::Clear(bool keepFaults) {
    ClearRecords();
    // Media contents (areas named "disk.*") survive a reboot, as faults do.
    for (auto it = areas.begin(); it != areas.end();)
        it = keepFaults && it->first.rfind("disk.", 0) == 0 ? std::next(it) : areas.erase(it);
    if (!keepFaults) {
        faults.clear();
        programFaults.clear();
        storeFaults.clear();
    }
    undo.clear();
    // A wholesale change is undone by reading the files again, not by the
    // journal: journaling every record written after it would only copy
    // each key once more and leave the freed copies all over the heap.
    journaling = false;
    dirty = true;
    fullRewrite = true;
    faultsChanged = true;
}

namespace {
enum Op : uint8_t { PutRecord = 1, DelRecord, PutArea, DelArea, SetFaults };

// Every kind of fault, in one block.
void PutFaults(std::string& out, const KernelState::Data& d) {
    PutU32(out, static_cast<uint32_t>(d.faults.size()));
    for (const auto& f : d.faults) {
        PutStr(out, f.module);
        PutU32(out, f.node);
        PutStr(out, f.instance);
        PutU32(out, f.status);
        PutU32(out, f.count);
        PutU32(out, static_cast<uint32_t>(f.op));
        PutU32(out, f.skip);
    }
    PutU32(out, static_cast<uint32_t>(d.programFaults.size()));
    for (const auto& f : d.programFaults) {
        PutStr(out, f.program);
        PutU32(out, static_cast<uint32_t>(f.kind));
        PutU32(out, static_cast<uint32_t>(f.exitStatus));
        PutU32(out, f.skip);
        PutU32(out, f.count);
    }
    PutU32(out, static_cast<uint32_t>(d.storeFaults.size()));
    for (const auto& f : d.storeFaults) {
        PutU32(out, static_cast<uint32_t>(f.op));
        PutU32(out, f.skip);
        PutU32(out, f.count);
    }
}

void ReadFaults(Reader& r, KernelState::Data& d) {
    d.faults.clear();
    d.programFaults.clear();
    d.storeFaults.clear();
    uint32_t n = r.Num<uint32_t>();
    for (uint32_t i = 0; r.ok && i < n; ++i) {
        Fault f;
        f.module = r.Str();
        f.node = r.Num<uint32_t>();
        f.instance = r.Str();
        f.status = r.Num<uint32_t>();
        f.count = r.Num<uint32_t>();
        f.op = static_cast<KernelOp>(r.Num<uint32_t>());
        f.skip = r.Num<uint32_t>();
        d.faults.push_back(std::move(f));
    }
    n = r.Num<uint32_t>();
    for (uint32_t i = 0; r.ok && i < n; ++i) {
        ProgramFault f;
        f.program = r.Str();
        f.kind = static_cast<ProgramFault::Kind>(r.Num<uint32_t>());
        f.exitStatus = static_cast<int>(r.Num<uint32_t>());
        f.skip = r.Num<uint32_t>();
        f.count = r.Num<uint32_t>();
        d.programFaults.push_back(std::move(f));
    }
    n = r.Num<uint32_t>();
    for (uint32_t i = 0; r.ok && i < n; ++i) {
        StoreFault f;
        f.op = static_cast<StoreFault::Op>(r.Num<uint32_t>());
        f.skip = r.Num<uint32_t>();
        f.count = r.Num<uint32_t>();
        d.storeFaults.push_back(f);
    }
}
}  // namespace

std::string KernelState::Data::EncodeChanges() const {
    std::string out;
    std::set<std::string> records_;
    std::set<std::pair<std::string, std::string>> areas_;
    for (const auto& u : undo) {
        if (u.area)
            areas_.insert({u.a, u.b});
        else
            records_.insert(u.a);
    }
    for (const auto& k : records_) {
        std::string_view value;
        if (records.Find(k, &value)) {
            out.push_back(PutRecord);
            PutStr(out, k);
            PutStr(out, value);
        } else {
            out.push_back(DelRecord);
            PutStr(out, k);
        }
    }
    for (const auto& [area, key] : areas_) {
        auto a = areas.find(area);
        const std::string* v = nullptr;
        if (a != areas.end())
            if (auto it = a->second.find(key); it != a->second.end())
                v = &it->second;
        out.push_back(v ? PutArea : DelArea);
        PutStr(out, area);
        PutStr(out, key);
        if (v)
            PutStr(out, *v);
    }
    if (faultsChanged) {
        out.push_back(SetFaults);
        PutFaults(out, *this);
    }
    return out;
}

bool KernelState::Data::ApplyChanges(const std::string& payload) {
    Reader r{payload, 0};
    while (r.ok && r.pos < payload.size()) {
        uint8_t op = r.Num<uint8_t>();
        switch (op) {
        case PutRecord: {
            std::string k = r.Str();
            Put(k, r.Str());
            break;
        }
        case DelRecord:
            Erase(r.Str());
            break;
        case PutArea: {
            std::string a = r.Str();
            std::string k = r.Str();
            areas[a][k] = r.Str();
            break;
        }
        case DelArea: {
            std::string a = r.Str();
            std::string k = r.Str();
            if (auto it = areas.find(a); it != areas.end()) {
                it->second.erase(k);
                if (it->second.empty())
                    areas.erase(it);
            }
            break;
        }
        case SetFaults:
            ReadFaults(r, *this);
            break;
        default:
            return false;
        }
    }
    return r.ok;
}

std::string KernelState::Data::Serialize() const {
    std::string out;
    size_t estimate = 64;
    records.ForEach([&](std::string_view k, std::string_view v) { estimate += k.size() + v.size() + 8; });
    out.reserve(estimate);
    out.append(kMagic, sizeof kMagic - 1);
    PutU64(out, generation);
    PutU32(out, static_cast<uint32_t>(records.Size()));
    // Node by node, in the order written: a process that loads this lays
    // each node's records out together again.
    records.ForEach([&](std::string_view k, std::string_view v) {
        PutStr(out, k);
        PutStr(out, v);
    });
    PutU32(out, static_cast<uint32_t>(areas.size()));
    for (const auto& [name, values] : areas) {
        PutStr(out, name);
        PutU32(out, static_cast<uint32_t>(values.size()));
        for (const auto& [k, v] : values) {
            PutStr(out, k);
            PutStr(out, v);
        }
    }
    PutFaults(out, *this);
    return out;
}

bool KernelState::Data::Deserialize(const std::string& bytes) {
    if (bytes.compare(0, sizeof kMagic - 1, kMagic) != 0)
        return false;
    Reader r{bytes, sizeof kMagic - 1};
    Data d;
    d.generation = r.Num<uint64_t>();
    uint32_t n = r.Num<uint32_t>();
    for (uint32_t i = 0; r.ok && i < n; ++i) {
        std::string k = r.Str();
        d.Put(k, r.Str());
    }
    n = r.Num<uint32_t>();
    for (uint32_t i = 0; r.ok && i < n; ++i) {
        auto& m = d.areas[r.Str()];
        uint32_t c = r.Num<uint32_t>();
        for (uint32_t j = 0; r.ok && j < c; ++j) {
            std::string k = r.Str();
            m[k] = r.Str();
        }
    }
    ReadFaults(r, d);
    if (!r.ok)
        return false;
    records = std::move(d.records);
    children = std::move(d.children);
    paths = std::move(d.paths);
    areas = std::move(d.areas);
    faults = std::move(d.faults);
    programFaults = std::move(d.programFaults);
    storeFaults = std::move(d.storeFaults);
    generation = d.generation;
    undo.clear();
    dirty = false;
    fullRewrite = false;
    faultsChanged = false;
    return true;
}

// ---- KernelState ---------------------------------------------------------------------

const std::string* KernelState::Find(std::string_view module, uint32_t node,
                                     const InstancePath& instance) const {
    // The bytes live in the node's arena; hand out a copy from a small ring,
    // so a caller may hold a few results at once.
    thread_local std::string ring[kFindResults];
    thread_local unsigned next = 0;
    std::string_view value;
    const ReadKey key(module, node, instance);
    if (!_d->records.Find(key.Prefix(), key.Tail(), &value))
        return nullptr;
    std::string& out = ring[next++ % kFindResults];
    out.assign(value);
    return &out;
}

bool KernelState::Has(std::string_view module, uint32_t node, const InstancePath& instance) const {
    std::string_view value;
    const ReadKey key(module, node, instance);
    return _d->records.Find(key.Prefix(), key.Tail(), &value);
}

bool KernelState::ReadBytes(std::string_view module, uint32_t node, const InstancePath& instance, void* out,
                            size_t length) const {
    std::string_view value;
    const ReadKey key(module, node, instance);
    if (!_d->records.Find(key.Prefix(), key.Tail(), &value))
        return false;
    const size_t n = std::min(length, value.size());
    if (n)
        std::memcpy(out, value.data(), n);
    if (n < length)
        std::memset(static_cast<char*>(out) + n, 0, length - n);
    return true;
}

void KernelState::Write(std::string_view module, uint32_t node, const InstancePath& instance,
                        const void* data, size_t length) {
    std::string key = EncodeKey(module, node, instance);
    const std::string_view value(static_cast<const char*>(data), length);
    std::string_view old;
    const bool had = _d->records.Find(key, &old);
    if (had && old == value)
        return;
    if (_d->journaling)
        _d->undo.push_back({false, key, {}, had ? std::optional(std::string(old)) : std::nullopt});
    _d->Put(key, value);
    _d->dirty = true;
}

bool KernelState::Remove(std::string_view module, uint32_t node, const InstancePath& instance) {
    std::string key = EncodeKey(module, node, instance);
    std::string_view old;
    if (!_d->records.Find(key, &old))
        return false;
    if (_d->journaling)
        _d->undo.push_back({false, key, {}, std::string(old)});
    _d->Erase(key);
    _d->dirty = true;
    return true;
}

size_t KernelState::RemoveBelow(std::string_view module, const InstancePath& prefix) {
    // Every path below `prefix` is one range of the path index, whatever the node.
    const std::string start = EncodePath(module, prefix);
    std::vector<std::string> keys;
    for (auto it = _d->paths.lower_bound(start);
         it != _d->paths.end() && it->first.compare(0, start.size(), start) == 0; ++it) {
        InstancePath path;
        std::string m;
        if (!DecodePath(it->first, &m, &path))
            continue;
        for (uint32_t node : it->second)
            keys.push_back(EncodeKey(module, node, path));
    }
    for (const auto& key : keys) {
        std::string_view old;
        if (!_d->records.Find(key, &old))
            continue;
        if (_d->journaling)
            _d->undo.push_back({false, key, {}, std::string(old)});
        _d->Erase(key);
        _d->dirty = true;
    }
    return keys.size();
}

const Level* KernelState::Data::LevelOf(std::string_view module, uint32_t node, const InstancePath& parent) const {
    auto it = children.find(ReadKey(module, node, parent).Key());
    return it == children.end() ? nullptr : &it->second;
}

std::vector<std::string> KernelState::Instances(std::string_view module, uint32_t node,
                                                const InstancePath& parent) const {
    std::vector<std::string> out;
    if (const Level* level = _d->LevelOf(module, node, parent)) {
        const auto& keys = level->Keys();
        out.reserve(keys.size());
        for (std::string_view key : keys)
            out.emplace_back(key);
    }
    return out;
}

std::vector<InstancePath> KernelState::AllInstances(std::string_view module, uint32_t node) const {
    // For tools: a walk of the module's paths, in path order.
    std::string start(module);
    start.push_back('\0');
    std::vector<InstancePath> out;
    std::string m;
    InstancePath path;
    for (auto it = _d->paths.lower_bound(start);
         it != _d->paths.end() && it->first.compare(0, start.size(), start) == 0; ++it)
        if (it->second.count(node) && DecodePath(it->first, &m, &path))
            out.push_back(path);
    return out;
}

std::vector<std::pair<std::string, uint32_t>> KernelState::Nodes() const {
    std::set<std::pair<std::string, uint32_t>> seen;
    std::string m;
    uint32_t n;
    InstancePath path;
    for (const auto& prefix : _d->records.NodePrefixes())
        if (DecodeKey(prefix, &m, &n, &path))
            seen.emplace(m, n);
    return {seen.begin(), seen.end()};
}

std::string KernelState::GetAreaValue(const std::string& area, const std::string& key,
                                      const std::string& fallback) const {
    auto a = _d->areas.find(area);
    if (a == _d->areas.end())
        return fallback;
    auto v = a->second.find(key);
    return v == a->second.end() ? fallback : v->second;
}

bool KernelState::HasAreaValue(const std::string& area, const std::string& key) const {
    auto a = _d->areas.find(area);
    return a != _d->areas.end() && a->second.count(key);
}

void KernelState::SetAreaValue(const std::string& area, const std::string& key, std::string value) {
    auto& m = _d->areas[area];
    auto it = m.find(key);
    if (it != m.end() && it->second == value)
        return;
    if (_d->journaling)
        _d->undo.push_back(
            {true, area, key, it == m.end() ? std::nullopt : std::optional(it->second)});
    m[key] = std::move(value);
    _d->dirty = true;
}

bool KernelState::RemoveAreaValue(const std::string& area, const std::string& key) {
    auto a = _d->areas.find(area);
    if (a == _d->areas.end())
        return false;
    auto it = a->second.find(key);
    if (it == a->second.end())
        return false;
    if (_d->journaling)
        _d->undo.push_back({true, area, key, it->second});
    a->second.erase(it);
    if (a->second.empty())
        _d->areas.erase(a);
    _d->dirty = true;
    return true;
}

std::vector<std::string> KernelState::AreaKeys(const std::string& area) const {
    std::vector<std::string> out;
    auto a = _d->areas.find(area);
    if (a != _d->areas.end())
        for (const auto& [k, v] : a->second)
            out.push_back(k);
    return out;
}

// ---- Call -------------------------------------------------------------------------

bool Call::InputText(size_t i, std::string* out) const {
    if (i >= inputs.size())
        return false;
    *out = inputs[i].AsText();
    return true;
}

bool Call::InputInt(size_t i, int64_t* out) const {
    if (i >= inputs.size())
        return false;
    const KSI_Param& p = inputs[i];
    if (p.kind == KSI_Param::Integer) {
        *out = p.number;
        return true;
    }
    if (p.text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(p.text.c_str(), &end, 0);
    if (errno || *end)
        return false;
    *out = v;
    return true;
}

}  // namespace TarnSim
