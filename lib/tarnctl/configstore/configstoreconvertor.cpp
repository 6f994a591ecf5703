// The converter's lock, its reading of store objects into the tree and the
// write-back of changed values: each dirty value is mapped to its store object
// and property, the touched objects are collected and written in one transaction.
#include "configstore/configstoreconvertor.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "configstore/configmappings.h"
#include "configstore/configparser.h"
#include "configstore/configupgradeparser.h"
#include "platform/configstore.h"
#include "platform/log.h"
#include "platform/misc.h"

namespace TarnCtl::ConfigStoreUtil {

using HaldenConfigStore::ConfigStore;
using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using Mappings::MappingRow;
using Mappings::PropType;

namespace {

const char* kComponent = "ConfigStoreConvertor";

std::string Serialize(const rapidjson::Value& v) {
    rapidjson::StringBuffer buf;
    rapidjson::Writer<rapidjson::StringBuffer> w(buf);
    v.Accept(w);
    return std::string(buf.GetString(), buf.GetSize());
}

std::string TextOf(const rapidjson::Value& v) {
    if (v.IsString()) return std::string(v.GetString(), v.GetStringLength());
    if (v.IsBool()) return v.GetBool() ? "true" : "false";
    if (v.IsInt64()) return std::to_string(v.GetInt64());
    if (v.IsUint64()) return std::to_string(v.GetUint64());
    return std::string();
}

// "/net/vswitch/child[0003]/name" -> "/net/vswitch" (the first `n` components).
std::string Prefix(const std::string& key, size_t n) {
    size_t pos = 0;
    for (size_t i = 0; i < n; ++i) {
        pos = key.find('/', pos + 1);
        if (pos == std::string::npos) return key;
    }
    return key.substr(0, pos);
}

std::string LastComponent(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

struct ConfigStoreConvertor::WriteState {
    struct Collected {
        ConfigStoreObjectId id;
        rapidjson::Document doc;
    };
    std::vector<std::unique_ptr<Collected>> objects;
    std::map<std::string, Collected*> byId;
    // Tree element key ("/net/vswitch/child[0003]") -> store instance id.
    std::map<std::string, std::string> _num2soIdMap;
    bool active = false;
};

std::shared_ptr<ConfigStoreConvertor> ConfigStoreConvertor::GetConvertor() {
    static std::mutex creation;
    // Never destroyed: users may still hold it while static objects go away.
    static auto* instance = new std::shared_ptr<ConfigStoreConvertor>();
    std::lock_guard<std::mutex> guard(creation);
    if (!*instance) *instance = std::make_shared<ConfigStoreConvertor>();
    return *instance;
}

ConfigStoreConvertor::ConfigStoreConvertor() : _write(std::make_unique<WriteState>()) {
    Mappings::GetTables();  // builds `mapping` and its reverse once per process
}

ConfigStoreConvertor::~ConfigStoreConvertor() {
    if (_root) _root->Destroy();
}

std::shared_ptr<ConfigStore> ConfigStoreConvertor::Store() const {
    return ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
}

void ConfigStoreConvertor::NewTree() {
    if (_root) _root->Destroy();
    _root = ConfigBranch::NewRoot(shared_from_this());
    _registered.clear();
}

std::shared_ptr<ConfigBranch> ConfigStoreConvertor::GetRoot() {
    if (!_root) NewTree();
    return _root;
}

void ConfigStoreConvertor::ComputeAllowObj(const std::vector<std::string>& specs,
                                           std::vector<std::string>* toRead) {
    if (_nesting == 0) {
        _allowedSpecs.clear();
        _specsToRead.clear();
    }
    std::vector<std::string> sorted = specs;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    auto allowed = [this](const std::string& s) {
        return std::find(_allowedSpecs.begin(), _allowedSpecs.end(), s) != _allowedSpecs.end();
    };
    // Whole objects first, so that their instances in the same call are dropped.
    for (int pass = 0; pass < 2; ++pass) {
        for (const std::string& spec : sorted) {
            size_t slashes = std::count(spec.begin(), spec.end(), '/');
            if ((pass == 0) != (slashes == 2)) continue;
            if (allowed(spec)) continue;
            if (slashes == 3 && allowed(spec.substr(0, spec.rfind('/')))) continue;
            _allowedSpecs.push_back(spec);
            _specsToRead.push_back(spec);
            toRead->push_back(spec);
        }
    }
    std::sort(toRead->begin(), toRead->end());
}

void ConfigStoreConvertor::Lock(const std::vector<std::string>& specs) {
    _mutex.lock();
    bool outer = _nesting == 0;
    try {
        std::vector<std::string> toRead;
        ComputeAllowObj(specs, &toRead);
        if (outer) NewTree();
        ConfigParser parser(shared_from_this(), GetRoot(), Store());
        parser.Parse(toRead);
    } catch (const std::exception& e) {
        if (outer) {
            // A half-read tree must not be written back by anyone.
            NewTree();
            _allowedSpecs.clear();
            _specsToRead.clear();
        }
        _mutex.unlock();
        throw ConfigFileException(std::string(outer ? "ConfigStoreConvertor: read failed: "
                                                    : "ConfigStoreConvertor: nested read failed: ") +
                                  e.what());
    }
    ++_nesting;
}

void ConfigStoreConvertor::Unlock() {
    if (_nesting == 0) return;
    --_nesting;
    _mutex.unlock();
}

std::shared_ptr<ConfigBranch> ConfigStoreConvertor::GetBranch(const std::string& path) {
    std::string p = path;
    while (!p.empty() && p.back() == '/') p.pop_back();
    if (p.empty()) return GetRoot();
    return GetRoot()->GetBranch(p);
}

std::shared_ptr<ConfigValue> ConfigStoreConvertor::GetValue(const std::string& path) {
    return GetRoot()->GetValue(path);
}

std::shared_ptr<ConfigValue> ConfigStoreConvertor::FindValue(const std::string& path) {
    auto [branch, last] = GetRoot()->Resolve(path, false);
    if (!branch || !branch->HasValue(last)) return nullptr;
    return branch->GetValue(last);
}

void ConfigStoreConvertor::RegisterValue(const std::string& path, const std::shared_ptr<ConfigValue>& value) {
    _registered[path] = value;
}

void ConfigStoreConvertor::UnregisterValue(const std::string& path) { _registered.erase(path); }

void ConfigStoreConvertor::GetBranchFromSticky(const std::string& name, const std::string& filePath) {
    GetBranchFromSticky(std::set<std::string>{name}, filePath);
}

void ConfigStoreConvertor::GetBranchFromSticky(const std::set<std::string>& names, const std::string& filePath) {
    ConfigUpgradeParser in(filePath.c_str());
    GetBranchFromSticky(names, in);
}

void ConfigStoreConvertor::GetBranchFromSticky(const std::set<std::string>& names, ConfigUpgradeParser& in) {
    std::lock_guard<std::recursive_mutex> guard(_mutex);
    NewTree();
    ConfigParser parser(shared_from_this(), _root, Store());
    parser.ParseFromSticky(names, in);
}

std::string ConfigStoreConvertor::SpecForPath(const std::string& path) {
    const auto& t = Mappings::GetTables();
    std::string p = path.empty() || path[0] != '/' ? "/" + path : path;
    for (const auto& [legacy, key] : t.csoIdKeyMap) {
        if (p.compare(0, legacy.size(), legacy) == 0 && (p.size() == legacy.size() || p[legacy.size()] == '/')) {
            return "halden/" + t.csoIdGroupMap.at(legacy) + "/" + key;
        }
    }
    return std::string();
}

// ------------------------------------------------------------------ write-back

void ConfigStoreConvertor::BeginPrint() {
    // restoreCSMap: every print starts from what the store holds now.
    _write->objects.clear();
    _write->byId.clear();
    _write->_num2soIdMap.clear();
    _write->active = true;
}

void ConfigStoreConvertor::PrintValue(ConfigValue& value, int objectType) {
    const auto& t = Mappings::GetTables();
    const std::string key = value.GetKey();
    std::vector<long> indices;
    std::string pattern = Mappings::NormalizePath(key, &indices);
    auto rowIt = t.mapping.find(pattern);
    if (rowIt == t.mapping.end()) {
        TarnCtl_LogWarnInt("%s: Key %s can not map to valid Config Store object property\n", kComponent, key.c_str());
        return;
    }
    const MappingRow& row = *rowIt->second;

    std::string top = Prefix(key, 2);
    auto keyIt = t.csoIdKeyMap.find(top);
    auto groupIt = t.csoIdGroupMap.find(top);
    if (keyIt == t.csoIdKeyMap.end() || groupIt == t.csoIdGroupMap.end()) {
        throw ConfigFileException("InstanceId not found: " + key + " or not in csoIdKeyMap/csoIdGroupMap");
    }
    const std::string objectSpec = "halden/" + groupIt->second + "/" + keyIt->second;
    ConfigStoreObjectId id(keyIt->second, groupIt->second, "halden");

    // The store path below the object: "[####]/port_groups[####]/vlan_id" -> "port_groups[####]/vlan_id".
    std::string rest = row.store.substr(std::min(row.store.size(), objectSpec.size()));
    size_t firstIndex = 0;
    if (objectType == ConfigNode::kMultiInstanceObject) {
        if (rest.compare(0, 7, "[####]/") != 0 || indices.empty()) {
            throw ConfigFileException("InstanceId not found: " + key);
        }
        rest = rest.substr(7);
        firstIndex = 1;
        std::string elementKey = Prefix(key, 3);
        auto cached = _write->_num2soIdMap.find(elementKey);
        std::string instance;
        if (cached != _write->_num2soIdMap.end()) {
            instance = cached->second;
        } else {
            auto idIt = t.instanceIdMapping.find(objectSpec);
            auto nameRow = idIt == t.instanceIdMapping.end()
                               ? t.reverseMapping.end()
                               : t.reverseMapping.find(objectSpec + "[####]/" + idIt->second);
            auto [element, last] = GetRoot()->Resolve(elementKey + "/x", false);
            if (nameRow == t.reverseMapping.end() || !element ||
                !element->GetValue(LastComponent(nameRow->second->legacy), &instance) || instance.empty()) {
                throw ConfigFileException("InstanceId not found: " + key);
            }
            _write->_num2soIdMap[elementKey] = instance;
        }
        id.SetInstanceId(instance);
    } else {
        if (!rest.empty() && rest[0] == '/') rest = rest.substr(1);
    }

    // The collected object, read from the store on first touch.
    const std::string idText = id.ToString();
    WriteState::Collected* obj;
    auto found = _write->byId.find(idText);
    if (found != _write->byId.end()) {
        obj = found->second;
    } else {
        auto c = std::make_unique<WriteState::Collected>(WriteState::Collected{id, {}});
        c->doc.SetObject();
        if (auto stored = Store()->Get(id)) {
            rapidjson::Document d;
            std::string data = stored->GetData();
            d.Parse(data.c_str(), data.size());
            if (!d.HasParseError() && d.IsObject()) c->doc.CopyFrom(d, c->doc.GetAllocator());
        } else if (id.HasInstanceId()) {
            // A new instance carries the property it is named by.
            auto idIt = t.instanceIdMapping.find(objectSpec);
            if (idIt != t.instanceIdMapping.end()) {
                auto& a = c->doc.GetAllocator();
                c->doc.AddMember(rapidjson::Value(idIt->second.c_str(), a),
                                 rapidjson::Value(id.GetInstanceId().c_str(), a), a);
            }
        }
        obj = c.get();
        _write->byId[idText] = obj;
        _write->objects.push_back(std::move(c));
    }
    auto& alloc = obj->doc.GetAllocator();

    // Walk the components below the object, making what is missing.
    std::vector<std::string> parts;
    HostCtl::Misc::StringTokenize(rest, parts, "/");
    if (parts.empty()) return;
    rapidjson::Value* cur = &obj->doc;
    size_t slot = firstIndex;  // next index of `indices`
    std::string storePrefix = objectSpec + (objectType == ConfigNode::kMultiInstanceObject ? "[####]" : "");
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        std::string part = parts[i];
        bool indexed = part.size() > 6 && part.compare(part.size() - 6, 6, "[####]") == 0;
        std::string member = indexed ? part.substr(0, part.size() - 6) : part;
        storePrefix += "/" + part;
        if (!cur->IsObject()) cur->SetObject();
        auto m = cur->FindMember(member.c_str());
        if (m == cur->MemberEnd()) {
            rapidjson::Value name(member.c_str(), alloc);
            rapidjson::Value v(indexed ? rapidjson::kArrayType : rapidjson::kObjectType);
            cur->AddMember(name, v, alloc);
            m = cur->FindMember(member.c_str());
        }
        rapidjson::Value* next = &m->value;
        if (!indexed) {
            if (!next->IsObject()) next->SetObject();
            cur = next;
            continue;
        }
        if (!next->IsArray()) next->SetArray();
        long position = slot < indices.size() ? indices[slot] : 0;
        ++slot;
        // Find the element by its naming property, as the tree element names it.
        rapidjson::Value* element = nullptr;
        auto idIt = t.instanceIdMapping.find(member);
        std::string nameText;
        bool nameDirty = false;
        std::string nameProp;
        if (idIt != t.instanceIdMapping.end()) {
            nameProp = idIt->second;
            auto nameRow = t.reverseMapping.find(storePrefix + "/" + nameProp);
            if (nameRow != t.reverseMapping.end()) {
                std::string legacy = Mappings::InsertIndices(nameRow->second->legacy, indices);
                if (auto v = FindValue(legacy)) {
                    nameText = v->GetStringValue();
                    nameDirty = v->IsDirty();
                }
            }
        }
        if (!nameText.empty()) {
            for (auto& e : next->GetArray()) {
                auto p = e.IsObject() ? e.FindMember(nameProp.c_str()) : e.MemberEnd();
                if (e.IsObject() && p != e.MemberEnd() && TextOf(p->value) == nameText) {
                    element = &e;
                    break;
                }
            }
            // A renamed element keeps its place.
            if (!element && nameDirty && position >= 0 && static_cast<size_t>(position) < next->Size()) {
                element = &(*next)[static_cast<rapidjson::SizeType>(position)];
            }
            if (!element) {
                rapidjson::Value e(rapidjson::kObjectType);
                rapidjson::Value name(nameProp.c_str(), alloc);
                rapidjson::Value text(nameText.c_str(), alloc);
                e.AddMember(name, text, alloc);
                next->PushBack(e, alloc);
                element = &(*next)[next->Size() - 1];
            }
        } else {
            while (position >= 0 && next->Size() <= static_cast<size_t>(position)) {
                next->PushBack(rapidjson::Value(rapidjson::kObjectType), alloc);
            }
            element = &(*next)[static_cast<rapidjson::SizeType>(std::max(0L, position))];
        }
        if (!element->IsObject()) element->SetObject();
        cur = element;
    }
    if (!cur->IsObject()) cur->SetObject();

    std::string leaf = parts.back();
    if (row.type == PropType::ListElement) {
        // A list of strings is rebuilt from all elements of its tree array.
        std::string member = leaf.size() > 3 ? leaf.substr(0, leaf.size() - 3) : leaf;
        auto element = std::dynamic_pointer_cast<ConfigBranch>(value.GetParent());
        auto array = element ? std::dynamic_pointer_cast<ConfigArray>(element->GetParent()) : nullptr;
        rapidjson::Value list(rapidjson::kArrayType);
        if (array) {
            for (const auto& e : array->GetInstances()) {
                std::string text;
                if (e->GetValue(value.GetName(), &text)) {
                    list.PushBack(rapidjson::Value(text.c_str(), alloc), alloc);
                }
            }
        }
        auto m = cur->FindMember(member.c_str());
        if (m != cur->MemberEnd()) {
            m->value = list;
        } else {
            cur->AddMember(rapidjson::Value(member.c_str(), alloc), list, alloc);
        }
        return;
    }

    std::string text = Mappings::MapEnum(row, value.GetStringValue(), true);
    rapidjson::Value v;
    PropType type = row.type;
    auto existing = cur->FindMember(leaf.c_str());
    if (type == PropType::Auto) {
        if (existing == cur->MemberEnd()) {
            TarnCtl_LogWarnInt("%s: Property type not found for: %s\n", kComponent, key.c_str());
            return;
        }
        type = existing->value.IsBool()     ? PropType::Bool
               : existing->value.IsNumber() ? PropType::Int
                                            : PropType::String;
    }
    switch (type) {
        case PropType::Bool:
            if (text == "true" || text == "yes" || text == "1") {
                v.SetBool(true);
            } else if (text == "false" || text == "no" || text == "0") {
                v.SetBool(false);
            } else {
                throw ConfigFileException("Config Convertor: boolean value expected in " + key);
            }
            break;
        case PropType::Int: {
            errno = 0;
            char* end = nullptr;
            long long n = std::strtoll(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || errno == ERANGE) {
                throw ConfigFileException("Config Convertor: int64 value expected in " + key);
            }
            v.SetInt64(n);
            break;
        }
        default:
            v.SetString(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), alloc);
            break;
    }
    if (existing != cur->MemberEnd()) {
        existing->value = v;
    } else {
        cur->AddMember(rapidjson::Value(leaf.c_str(), alloc), v, alloc);
    }
}

void ConfigStoreConvertor::EndPrint() {
    _write->active = false;
}

namespace {
// Every dirty value below a node, so that a print that does not reach the store
// can mark them again.
std::vector<std::shared_ptr<ConfigValue>> DirtyValues(const std::shared_ptr<ConfigNode>& top) {
    std::vector<std::shared_ptr<ConfigValue>> dirty;
    std::vector<std::shared_ptr<ConfigNode>> stack{top};
    while (!stack.empty()) {
        auto node = stack.back();
        stack.pop_back();
        if (node->GetType() == ConfigNode::kValueType) {
            auto v = std::static_pointer_cast<ConfigValue>(node);
            if (v->IsDirty()) dirty.push_back(v);
        } else if (node->GetType() == ConfigNode::kBranchType) {
            for (const auto& [n, c] : std::static_pointer_cast<ConfigBranch>(node)->GetChildren()) stack.push_back(c);
        } else {
            for (const auto& e : std::static_pointer_cast<ConfigArray>(node)->GetInstances()) stack.push_back(e);
        }
    }
    return dirty;
}
}  // namespace

std::vector<std::pair<std::string, std::string>> ConfigStoreConvertor::PreviewWrite() {
    std::lock_guard<std::recursive_mutex> guard(_mutex);
    auto dirty = DirtyValues(GetRoot());
    std::vector<std::pair<std::string, std::string>> out;
    try {
        _root->Print();
    } catch (...) {
        for (auto& v : dirty) v->SetDirty(true);
        throw;
    }
    for (auto& v : dirty) v->SetDirty(true);
    for (const auto& c : _write->objects) out.emplace_back(c->id.ToString(), Serialize(c->doc));
    _write->objects.clear();
    _write->byId.clear();
    return out;
}

void ConfigStoreConvertor::Write() {
    std::lock_guard<std::recursive_mutex> guard(_mutex);
    auto store = Store();
    auto dirty = DirtyValues(GetRoot());
    try {
        HaldenConfigStore::ConfigStoreTransaction tx(store);
        _root->Print();
        for (const auto& c : _write->objects) {
            std::string json = Serialize(c->doc);
            TarnCtl_LogVerboseInt("%s: Config Convertor Update API applies: %s\n", "ConfigBranch", json.c_str());
            store->Write(ConfigStoreObject::FromData(c->id, json));
        }
        tx.Commit();
    } catch (...) {
        // Nothing reached the store: every change is still pending.
        for (auto& v : dirty) v->SetDirty(true);
        _write->objects.clear();
        _write->byId.clear();
        throw;
    }
    _write->objects.clear();
    _write->byId.clear();
}

void ConfigStoreConvertor::DeleteFromStore(ConfigBranch& branch) {
    std::lock_guard<std::recursive_mutex> guard(_mutex);
    const auto& t = Mappings::GetTables();
    const std::string key = branch.GetKey();
    std::string top = Prefix(key, 2);
    auto keyIt = t.csoIdKeyMap.find(top);
    auto groupIt = t.csoIdGroupMap.find(top);
    if (keyIt == t.csoIdKeyMap.end() || groupIt == t.csoIdGroupMap.end()) {
        throw ConfigFileException("InstanceId not found: " + key + " or not in csoIdKeyMap/csoIdGroupMap");
    }
    const std::string objectSpec = "halden/" + groupIt->second + "/" + keyIt->second;
    ConfigStoreObjectId id(keyIt->second, groupIt->second, "halden");
    auto store = Store();
    if (t.allowedNetworkSingletonConfigStoreObject.count(objectSpec)) {
        TarnCtl_LogVerboseInt("%s: Config Convertor Delete API applies key: %s\n", "ConfigBranch", objectSpec.c_str());
        store->Delete(id);
        return;
    }
    if (key == top) {
        // The whole branch of a multi-instance object: every instance.
        TarnCtl_LogVerboseInt("%s: Config Convertor Delete API applies key: %s\n", "ConfigBranch", objectSpec.c_str());
        store->Delete(id);
        return;
    }
    std::string elementKey = Prefix(key, 3);
    auto idIt = t.instanceIdMapping.find(objectSpec);
    auto nameRow = idIt == t.instanceIdMapping.end() ? t.reverseMapping.end()
                                                      : t.reverseMapping.find(objectSpec + "[####]/" + idIt->second);
    auto [element, last] = GetRoot()->Resolve(elementKey + "/x", false);
    std::string instance;
    if (nameRow == t.reverseMapping.end() || !element ||
        !element->GetValue(LastComponent(nameRow->second->legacy), &instance) || instance.empty()) {
        throw ConfigFileException("InstanceId not found: " + key);
    }
    id.SetInstanceId(instance);
    if (key == elementKey) {
        TarnCtl_LogVerboseInt("%s: Config Convertor Delete API applies key: %s, instanceId: %s\n", "ConfigBranch",
                              objectSpec.c_str(), instance.c_str());
        store->Delete(id);
        return;
    }
    // A nested element (a port group of a switch): drop it from its list.
    if (branch.GetArrayIndex() < 0) return;
    auto stored = store->Get(id);
    if (!stored) return;
    std::vector<long> indices;
    std::string pattern = Mappings::NormalizePath(key + "/x", &indices);
    pattern.resize(pattern.size() - 2);  // without "/x"
    // Find the store list that this legacy element pattern stands for.
    std::string listMember, nameProp, nameText;
    for (const auto& row : t.rows) {
        if (row.legacy.compare(0, pattern.size() + 1, pattern + "/") != 0) continue;
        if (row.store.compare(0, objectSpec.size() + 7, objectSpec + "[####]/") != 0) continue;
        std::string sub = row.store.substr(objectSpec.size() + 7);
        size_t slash = sub.find("[####]/");
        if (slash == std::string::npos || sub.find('/') < slash) continue;
        listMember = sub.substr(0, slash);
        auto memberId = t.instanceIdMapping.find(listMember);
        if (memberId != t.instanceIdMapping.end() && sub.substr(slash + 7) == memberId->second) {
            nameProp = memberId->second;
            branch.GetValue(LastComponent(row.legacy), &nameText);
            break;
        }
    }
    if (listMember.empty()) return;
    rapidjson::Document doc;
    std::string data = stored->GetData();
    doc.Parse(data.c_str(), data.size());
    if (doc.HasParseError() || !doc.IsObject()) return;
    auto m = doc.FindMember(listMember.c_str());
    if (m == doc.MemberEnd() || !m->value.IsArray()) return;
    auto& list = m->value;
    for (auto it = list.Begin(); it != list.End(); ++it) {
        bool match = nameProp.empty() ? (it - list.Begin()) == branch.GetArrayIndex()
                                      : it->IsObject() && it->HasMember(nameProp.c_str()) &&
                                            TextOf((*it)[nameProp.c_str()]) == nameText;
        if (match) {
            list.Erase(it);
            TarnCtl_LogVerboseInt("%s: Config Convertor Delete API applies key: %s, instanceId: %s\n", "ConfigBranch",
                                  (objectSpec + "/" + listMember).c_str(), instance.c_str());
            store->Write(ConfigStoreObject::FromData(id, Serialize(doc)));
            return;
        }
    }
}

}  // namespace TarnCtl::ConfigStoreUtil
