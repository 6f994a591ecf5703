// Configuration-store objects: ids, typed fields, sub-objects, their JSON form
// and filters, plus the registry of schema defaults. No storage here; see
// configstore.cpp for the SQLite store.
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstring>
#include <limits>
#include <mutex>
#include <random>

#include "platform/configstore.h"
#include "platform/configstore_json.h"
#include "platform/misc.h"

namespace HaldenConfigStore {

const std::string sGlobalNamespace = "global";

// ---- Ids ------------------------------------------------------------------------

ConfigStoreObjectId::ConfigStoreObjectId(std::string key, std::string group, std::string component)
    : _key(std::move(key)), _group(std::move(group)), _component(std::move(component)) {}

ConfigStoreObjectId::ConfigStoreObjectId(std::string key, std::string group, std::string component,
                                         std::string instanceId)
    : _key(std::move(key)),
      _group(std::move(group)),
      _component(std::move(component)),
      _instanceId(std::move(instanceId)) {}

std::string ConfigStoreObjectId::ToString() const {
    std::string s = _component + "/" + _group + "/" + _key;
    if (!_instanceId.empty())
        s += "/" + _instanceId;
    return s;
}

bool ConfigStoreObjectId::operator==(const ConfigStoreObjectId& o) const {
    return _key == o._key && _group == o._group && _component == o._component &&
           _instanceId == o._instanceId;
}

std::string ConfigStoreObjectId::GenerateInstanceId() {
    // Random (version 4) UUID: unique across processes and reboots without coordination.
    static std::mutex mu;
    static std::random_device rd;
    static std::mt19937_64 gen(((uint64_t)rd() << 32) ^ rd());
    uint8_t b[16];
    {
        std::lock_guard<std::mutex> g(mu);
        uint64_t a = gen() ^ rd(), c = gen();
        std::memcpy(b, &a, 8);
        std::memcpy(b + 8, &c, 8);
    }
    b[6] = (b[6] & 0x0f) | 0x40;
    b[8] = (b[8] & 0x3f) | 0x80;
    return HostCtl::Misc::StrPrintf(
        "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1], b[2],
        b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
}

// ---- Fields ---------------------------------------------------------------------

namespace {

bool ValueEq(const StoreValue& a, const StoreValue& b);

bool ObjEq(const std::shared_ptr<ConfigStoreObject>& a, const std::shared_ptr<ConfigStoreObject>& b) {
    if (!a || !b)
        return !a && !b;
    const auto& fa = a->Fields();
    const auto& fb = b->Fields();
    if (fa.size() != fb.size())
        return false;
    for (auto ia = fa.begin(), ib = fb.begin(); ia != fa.end(); ++ia, ++ib)
        if (ia->first != ib->first || !ValueEq(ia->second, ib->second))
            return false;
    return true;
}

bool ValueEq(const StoreValue& a, const StoreValue& b) {
    if (a.v.index() != b.v.index())
        return false;
    if (auto* o = std::get_if<std::shared_ptr<ConfigStoreObject>>(&a.v))
        return ObjEq(*o, std::get<std::shared_ptr<ConfigStoreObject>>(b.v));
    if (auto* l = std::get_if<StoreValue::ObjectList>(&a.v)) {
        const auto& r = std::get<StoreValue::ObjectList>(b.v);
        if (l->size() != r.size())
            return false;
        for (size_t i = 0; i < l->size(); ++i)
            if (!ObjEq((*l)[i], r[i]))
                return false;
        return true;
    }
    return a.v == b.v;
}

const int64_t* Int(const std::map<std::string, StoreValue>& f, const std::string& name) {
    auto it = f.find(name);
    return it == f.end() ? nullptr : std::get_if<int64_t>(&it->second.v);
}

}  // namespace

StoreObject::~StoreObject() = default;

bool StoreObject::GetValue(const std::string& name, std::string* out) const {
    auto it = _fields.find(name);
    if (it == _fields.end())
        return false;
    auto* s = std::get_if<std::string>(&it->second.v);
    if (!s)
        return false;
    if (out)
        *out = *s;
    return true;
}

bool StoreObject::GetValue(const std::string& name, bool* out) const {
    auto it = _fields.find(name);
    if (it == _fields.end())
        return false;
    auto* b = std::get_if<bool>(&it->second.v);
    if (!b)
        return false;
    if (out)
        *out = *b;
    return true;
}

bool StoreObject::GetValue(const std::string& name, long* out) const {
    const int64_t* v = Int(_fields, name);
    if (!v)
        return false;
    if (out)
        *out = static_cast<long>(*v);
    return true;
}

bool StoreObject::GetValue(const std::string& name, int* out) const {
    const int64_t* v = Int(_fields, name);
    if (!v || *v < std::numeric_limits<int>::min() || *v > std::numeric_limits<int>::max())
        return false;
    if (out)
        *out = static_cast<int>(*v);
    return true;
}

bool StoreObject::GetValue(const std::string& name, unsigned int* out) const {
    const int64_t* v = Int(_fields, name);
    if (!v || *v < 0 || *v > std::numeric_limits<unsigned int>::max())
        return false;
    if (out)
        *out = static_cast<unsigned int>(*v);
    return true;
}

bool StoreObject::GetValue(const std::string& name, std::vector<std::string>* out) const {
    auto it = _fields.find(name);
    if (it == _fields.end())
        return false;
    auto* l = std::get_if<std::vector<std::string>>(&it->second.v);
    if (!l)
        return false;
    if (out)
        *out = *l;
    return true;
}

void StoreObject::SetValue(const std::string& name, const std::string& value) {
    _fields[name].v = value;
}
void StoreObject::SetValue(const std::string& name, const char* value) {
    _fields[name].v = std::string(value ? value : "");
}
void StoreObject::SetValue(const std::string& name, bool value) {
    _fields[name].v = value;
}
void StoreObject::SetValue(const std::string& name, long value) {
    _fields[name].v = static_cast<int64_t>(value);
}
void StoreObject::SetValue(const std::string& name, int value) {
    _fields[name].v = static_cast<int64_t>(value);
}
void StoreObject::SetValue(const std::string& name, unsigned int value) {
    _fields[name].v = static_cast<int64_t>(value);
}
void StoreObject::SetValue(const std::string& name, unsigned short value) {
    _fields[name].v = static_cast<int64_t>(value);
}
void StoreObject::SetValue(const std::string& name, const std::vector<std::string>& value) {
    _fields[name].v = value;
}

bool StoreObject::HasValue(const std::string& name) const {
    return _fields.count(name) > 0;
}

bool StoreObject::Remove(const std::string& name) {
    return _fields.erase(name) > 0;
}

std::vector<std::string> StoreObject::GetFieldNames() const {
    std::vector<std::string> out;
    for (const auto& [k, v] : _fields)
        out.push_back(k);
    return out;
}

// ---- ConfigStoreObject ------------------------------------------------------------------

ConfigStoreObject::ConfigStoreObject(const ConfigStoreObjectId& id) : _id(id) {}

std::shared_ptr<ConfigStoreObject> ConfigStoreObject::GetSubObject(const SubObjectId& id) const {
    auto it = _fields.find(id.name);
    if (it == _fields.end())
        return nullptr;
    if (auto* o = std::get_if<std::shared_ptr<ConfigStoreObject>>(&it->second.v))
        return !id.index || *id.index == 0 ? *o : nullptr;
    if (auto* l = std::get_if<StoreValue::ObjectList>(&it->second.v)) {
        size_t i = id.index.value_or(0);
        return i < l->size() ? (*l)[i] : nullptr;
    }
    return nullptr;
}

std::shared_ptr<ConfigStoreObject> ConfigStoreObject::CreateSubObject(const SubObjectId& id) {
    if (id.name.empty())
        throw InvalidArgumentException("Invalid sub-object: empty name");
    auto obj = std::make_shared<ConfigStoreObject>(_id);
    auto it = _fields.find(id.name);
    if (it != _fields.end()) {
        // An empty list read back from JSON has no element to tell its kind: it
        // takes objects as well as strings.
        auto* strings = std::get_if<std::vector<std::string>>(&it->second.v);
        if (strings && strings->empty())
            it->second.v = StoreValue::ObjectList{};
        else if (strings || (!std::holds_alternative<StoreValue::ObjectList>(it->second.v) &&
                             !std::holds_alternative<std::shared_ptr<ConfigStoreObject>>(it->second.v)))
            throw InvalidArgumentException("Invalid sub-object " + id.name + ": the field holds a value");
    }
    if (!id.index) {
        if (it != _fields.end())
            if (auto* l = std::get_if<StoreValue::ObjectList>(&it->second.v)) {
                l->push_back(obj);
                return obj;
            }
        _fields[id.name].v = obj;
        return obj;
    }
    if (it == _fields.end()) {
        if (*id.index != 0)
            throw InvalidArgumentException(HostCtl::Misc::StrPrintf(
                "Invalid sub-object index %zu of %s: the list is empty", *id.index, id.name.c_str()));
        _fields[id.name].v = StoreValue::ObjectList{obj};
        return obj;
    }
    auto* l = std::get_if<StoreValue::ObjectList>(&it->second.v);
    if (!l)
        throw InvalidArgumentException("Invalid sub-object " + id.name + ": the field is not a list");
    if (*id.index < l->size())
        (*l)[*id.index] = obj;
    else if (*id.index == l->size())
        l->push_back(obj);
    else
        throw InvalidArgumentException(HostCtl::Misc::StrPrintf(
            "Invalid sub-object index %zu of %s: the list has %zu elements", *id.index,
            id.name.c_str(), l->size()));
    return obj;
}

bool ConfigStoreObject::DeleteSubObject(const SubObjectId& id) {
    auto it = _fields.find(id.name);
    if (it == _fields.end())
        return false;
    if (!id.index) {
        bool sub = std::holds_alternative<std::shared_ptr<ConfigStoreObject>>(it->second.v) ||
                   std::holds_alternative<StoreValue::ObjectList>(it->second.v);
        if (sub)
            _fields.erase(it);
        return sub;
    }
    auto* l = std::get_if<StoreValue::ObjectList>(&it->second.v);
    if (!l || *id.index >= l->size())
        return false;
    l->erase(l->begin() + static_cast<long>(*id.index));
    return true;
}

std::vector<std::shared_ptr<ConfigStoreObject>> ConfigStoreObject::GetSubObjectInstances(
    const SubObjectId& filter, const StoreObject* match) const {
    std::vector<std::shared_ptr<ConfigStoreObject>> all;
    auto it = _fields.find(filter.name);
    if (it != _fields.end()) {
        if (auto* o = std::get_if<std::shared_ptr<ConfigStoreObject>>(&it->second.v))
            all.push_back(*o);
        else if (auto* l = std::get_if<StoreValue::ObjectList>(&it->second.v))
            all = *l;
    }
    if (!match)
        return all;
    std::vector<std::shared_ptr<ConfigStoreObject>> out;
    for (auto& o : all) {
        bool ok = true;
        for (const auto& [name, value] : match->Fields()) {
            auto f = o->Fields().find(name);
            if (f == o->Fields().end() || !ValueEq(f->second, value)) {
                ok = false;
                break;
            }
        }
        if (ok)
            out.push_back(o);
    }
    return out;
}

namespace {

using Alloc = rapidjson::Document::AllocatorType;

void ToJson(const StoreObject& obj, rapidjson::Value& out, Alloc& a, bool stored) {
    out.SetObject();
    for (const auto& [name, value] : obj.Fields()) {
        rapidjson::Value v;
        std::visit(
            [&](const auto& x) {
                using T = std::decay_t<decltype(x)>;
                if constexpr (std::is_same_v<T, std::monostate>) {
                    v.SetNull();
                } else if constexpr (std::is_same_v<T, bool>) {
                    v.SetBool(x);
                } else if constexpr (std::is_same_v<T, int64_t>) {
                    v.SetInt64(x);
                } else if constexpr (std::is_same_v<T, std::string>) {
                    v.SetString(x.c_str(), static_cast<rapidjson::SizeType>(x.size()), a);
                } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
                    v.SetArray();
                    for (const auto& s : x)
                        v.PushBack(rapidjson::Value(s.c_str(), static_cast<rapidjson::SizeType>(s.size()), a), a);
                } else if constexpr (std::is_same_v<T, std::shared_ptr<ConfigStoreObject>>) {
                    if (x)
                        ToJson(*x, v, a, stored);
                    else
                        v.SetNull();
                } else {
                    v.SetArray();
                    for (const auto& o : x) {
                        rapidjson::Value e;
                        if (o)
                            ToJson(*o, e, a, stored);
                        v.PushBack(e, a);
                    }
                    // The stored form marks an empty list of objects so that it
                    // reads back as one ([null] is no valid list otherwise).
                    if (stored && x.empty())
                        v.PushBack(rapidjson::Value(), a);
                }
            },
            value.v);
        out.AddMember(rapidjson::Value(name.c_str(), static_cast<rapidjson::SizeType>(name.size()), a), v, a);
    }
}

void FromJson(const ConfigStoreObjectId& id, const rapidjson::Value& in, StoreObject& out,
              const std::string& where, bool stored) {
    for (auto it = in.MemberBegin(); it != in.MemberEnd(); ++it) {
        std::string name(it->name.GetString(), it->name.GetStringLength());
        const auto& v = it->value;
        StoreValue sv;
        if (v.IsNull()) {
            continue;
        } else if (v.IsBool()) {
            sv.v = v.GetBool();
        } else if (v.IsInt64()) {
            sv.v = v.GetInt64();
        } else if (v.IsUint64()) {
            throw InvalidArgumentException("Invalid object data: field " + where + name +
                                           " is out of the integer range");
        } else if (v.IsNumber()) {
            throw InvalidArgumentException("Invalid object data: field " + where + name +
                                           " is not an integer");
        } else if (v.IsString()) {
            sv.v = std::string(v.GetString(), v.GetStringLength());
        } else if (v.IsObject()) {
            auto sub = std::make_shared<ConfigStoreObject>(id);
            FromJson(id, v, *sub, where + name + ".", stored);
            sv.v = sub;
        } else if (v.IsArray() && stored && v.Size() == 1 && v[0].IsNull()) {
            sv.v = StoreValue::ObjectList{};
        } else if (v.IsArray()) {
            bool objects = !v.Empty() && v[0].IsObject();
            if (objects) {
                StoreValue::ObjectList list;
                for (const auto& e : v.GetArray()) {
                    if (!e.IsObject())
                        throw InvalidArgumentException("Invalid object data: list " + where + name +
                                                       " mixes objects and values");
                    auto sub = std::make_shared<ConfigStoreObject>(id);
                    FromJson(id, e, *sub, where + name + "[].", stored);
                    list.push_back(sub);
                }
                sv.v = std::move(list);
            } else {
                std::vector<std::string> list;
                for (const auto& e : v.GetArray()) {
                    if (!e.IsString())
                        throw InvalidArgumentException("Invalid object data: list " + where + name +
                                                       " must hold strings or objects");
                    list.emplace_back(e.GetString(), e.GetStringLength());
                }
                sv.v = std::move(list);
            }
        }
        out.MutableFields()[name] = std::move(sv);
    }
}

}  // namespace

namespace {
std::string Serialize(const ConfigStoreObject& o, bool stored) {
    rapidjson::Document doc;
    ToJson(o, doc, doc.GetAllocator(), stored);
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    doc.Accept(w);
    return std::string(sb.GetString(), sb.GetSize());
}

std::shared_ptr<ConfigStoreObject> Parse(const ConfigStoreObjectId& id, const std::string& json, bool stored) {
    rapidjson::Document doc;
    doc.Parse(json.c_str(), json.size());
    if (doc.HasParseError() || !doc.IsObject())
        throw InvalidArgumentException("Invalid object data for " + id.ToString() +
                                       ": not a JSON object");
    auto obj = std::make_shared<ConfigStoreObject>(id);
    FromJson(id, doc, *obj, "", stored);
    return obj;
}
}  // namespace

void ObjectToJson(const StoreObject& object, rapidjson::Value& out, rapidjson::Document::AllocatorType& alloc) {
    ToJson(object, out, alloc, false);
}

std::shared_ptr<ConfigStoreObject> ObjectFromJson(const ConfigStoreObjectId& id, const rapidjson::Value& json) {
    if (!json.IsObject())
        throw InvalidArgumentException("Invalid object data for " + id.ToString() + ": not a JSON object");
    auto obj = std::make_shared<ConfigStoreObject>(id);
    FromJson(id, json, *obj, "", false);
    return obj;
}

std::string ConfigStoreObject::GetData() const {
    return Serialize(*this, false);
}

std::shared_ptr<ConfigStoreObject> ConfigStoreObject::FromData(const ConfigStoreObjectId& id,
                                                               const std::string& json) {
    return Parse(id, json, false);
}

std::string ConfigStoreObject::GetStoredData() const {
    return Serialize(*this, true);
}

std::shared_ptr<ConfigStoreObject> ConfigStoreObject::FromStoredData(const ConfigStoreObjectId& id,
                                                                     const std::string& json) {
    return Parse(id, json, true);
}

std::shared_ptr<ConfigStoreObject> ConfigStoreObject::Clone() const {
    return FromStoredData(_id, GetStoredData());
}

bool ConfigStoreObject::operator==(const ConfigStoreObject& o) const {
    if (!(_id == o._id) || _fields.size() != o._fields.size())
        return false;
    for (auto a = _fields.begin(), b = o._fields.begin(); a != _fields.end(); ++a, ++b)
        if (a->first != b->first || !ValueEq(a->second, b->second))
            return false;
    return true;
}

// ---- Filters -------------------------------------------------------------------------

FilterSpecObject::FilterSpecObject(const ConfigStoreObjectId& id) : _id(id) {}

bool FilterSpecObject::Matches(const ConfigStoreObject& object) const {
    const auto& oid = object.GetConfigStoreObjectId();
    if (oid.GetComponent() != _id.GetComponent() || oid.GetGroup() != _id.GetGroup())
        return false;
    if (!_id.GetKey().empty() && oid.GetKey() != _id.GetKey())
        return false;
    if (_id.HasInstanceId() && oid.GetInstanceId() != _id.GetInstanceId())
        return false;
    for (const auto& [name, value] : _fields) {
        auto f = object.Fields().find(name);
        if (f == object.Fields().end() || !ValueEq(f->second, value))
            return false;
    }
    return true;
}

// ---- Schema defaults -------------------------------------------------------------------

namespace Schema {

namespace {
struct Defaults {
    std::mutex mu;
    std::map<std::pair<std::string, std::string>, std::shared_ptr<ConfigStoreObject>> objects;
};
Defaults& D() {
    static Defaults* d = new Defaults;  // filled from other files' static initialisers
    return *d;
}
bool SameFields(const ConfigStoreObject& a, const ConfigStoreObject& b) {
    if (a.Fields().size() != b.Fields().size())
        return false;
    for (auto x = a.Fields().begin(), y = b.Fields().begin(); x != a.Fields().end(); ++x, ++y)
        if (x->first != y->first || !ValueEq(x->second, y->second))
            return false;
    return true;
}
}  // namespace

void RegisterDefault(const std::shared_ptr<ConfigStoreObject>& object) {
    if (!object)
        throw InvalidArgumentException("Invalid schema default: no object");
    const auto& id = object->GetConfigStoreObjectId();
    if (id.GetGroup().empty() || id.GetKey().empty())
        throw InvalidArgumentException("Invalid schema default: empty group or key");
    std::lock_guard<std::mutex> g(D().mu);
    D().objects[{id.GetGroup(), id.GetKey()}] = object->Clone();
}

std::shared_ptr<ConfigStoreObject> GetDefaultObject(const ConfigStoreObjectId& id) {
    std::shared_ptr<ConfigStoreObject> def;
    {
        std::lock_guard<std::mutex> g(D().mu);
        auto it = D().objects.find({id.GetGroup(), id.GetKey()});
        if (it == D().objects.end())
            return nullptr;
        def = it->second;
    }
    auto copy = ConfigStoreObject::FromStoredData(id, def->GetStoredData());
    return copy;
}

std::vector<std::shared_ptr<ConfigStoreObject>> FilterDefaultConfigInstances(
    const std::vector<std::shared_ptr<ConfigStoreObject>>& objects) {
    std::vector<std::shared_ptr<ConfigStoreObject>> out;
    for (const auto& o : objects) {
        if (!o)
            continue;
        auto def = GetDefaultObject(o->GetConfigStoreObjectId());
        if (!def || !SameFields(*def, *o))
            out.push_back(o);
    }
    return out;
}

}  // namespace Schema
}  // namespace HaldenConfigStore
