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
#include "platform/configstore_json.h"
#include "platform/log_level.h"
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

// The tree text a read of the stored value `v` of `row` gives.
std::string ReadBackText(const MappingRow& row, const rapidjson::Value& v) {
    std::string text = v.IsBool() ? (v.GetBool() ? "true" : "false") : TextOf(v);
    return Mappings::MapEnum(row, text, false);
}

std::string LastComponent(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

struct ConfigStoreConvertor::Collected {
    ConfigStoreObjectId id;
    rapidjson::Document doc;
    std::string elementKey;  // the tree element (or singleton branch) it stands for
};

struct ConfigStoreConvertor::WriteState {
    std::vector<std::unique_ptr<Collected>> objects;
    std::map<std::string, Collected*> byId;
    // Objects to delete, in order, and their id texts.
    std::vector<ConfigStoreObjectId> deletes;
    std::set<std::string> deleted;
    // Tree element key ("/net/vswitch/child[0003]") -> store instance id.
    std::map<std::string, std::string> _num2soIdMap;
    // The values of one element come one after another: their object.
    Collected* last = nullptr;
    bool active = false;
    // Whether reading the written objects back would give exactly the tree:
    // only existing properties of existing objects change, each to the text a
    // read gives back. Anything else (a new member, element or object, a
    // rebuilt list, a rename, text the store normalises) clears it.
    bool exact = true;
    // A value naming an element or instance was written.
    bool named = false;
    // Tree path of an element's naming value -> what the element is called.
    struct ElementName {
        std::string storeName, nameText, elementKey;
    };
    std::unordered_map<std::string, ElementName> elementNames;
    // PrintValue's last element (tree key) and its object.
    std::string lastElementKey;
    Collected* lastElement = nullptr;

    // Every print starts from what the store holds now.
    void StartPrint(bool printing) {
        objects.clear();
        byId.clear();
        last = nullptr;
        _num2soIdMap.clear();
        active = printing;
        exact = true;
        named = false;
        elementNames.clear();
        lastElement = nullptr;
        lastElementKey.clear();
    }
};

// What PrintValue needs of a mapping row, worked out on its first use: the
// store object and the components of the store path below it.
struct ConfigStoreConvertor::RowPlan {
    struct Part {
        std::string member;                          // "port_groups"
        bool indexed = false;                        // a list of objects ("[####]")
        std::string nameProp;                        // naming property of its elements, or ""
        const MappingRow* nameRow = nullptr;         // the row of that property, or none
    };
    bool mapped = false;        // the row's top branch names a store object
    bool instanceRest = false;  // the store path starts with the instance ("[####]/")
    std::string objectSpec, key, group;
    std::vector<Part> parts;  // below the object, without the leaf
    bool hasLeaf = false;
    std::string leaf;
    std::string elementNameLeaf;  // tree value naming an instance, or ""
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
    if (_root) _root->ReleaseSubtree();
}

std::shared_ptr<ConfigStore> ConfigStoreConvertor::Store() const {
    return ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
}

void ConfigStoreConvertor::NewTree() {
    _match.valid = false;
    // The old tree is dropped, not removed: nothing of it reaches the store.
    if (_root) _root->ReleaseSubtree();
    _root = ConfigBranch::NewRoot(shared_from_this());
    _registered.clear();
    _known.clear();
    _touched.clear();
    _removedIds.clear();
    _idMap.clear();
    _readData.clear();
    _storedDocs.clear();
    _readStamp = {};
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
        auto store = Store();
        HaldenConfigStore::StoreStamp stamp = store->GetChangeStamp();
        if (outer && KeepTree(toRead, stamp, *store)) {
            ++_nesting;
            return;
        }
        if (outer) NewTree();
        // Reads kept from an earlier lock are only good while nothing changed.
        if (!stamp.Same(_readStamp)) {
            _readData.clear();
            _storedDocs.clear();
        }
        _readStamp = stamp;
        // While booting the tree holds the desired configuration merged in:
        // not what the store holds, so never kept.
        const bool booting = store->IsBoot();
        ConfigParser parser(shared_from_this(), GetRoot(), store);
        parser.Parse(toRead);
        // (Objects a nested lock adds change the tree's structure: the next
        // outermost lock reads again.)
        if (outer && !booting && !store->IsBoot()) {
            _match.specs = toRead;
            NoteMatch(stamp);
        }
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

void ConfigStoreConvertor::NoteMatch(const HaldenConfigStore::StoreStamp& stamp) {
    _match.valid = stamp.Known();
    _match.stamp = stamp;
    _match.structure = TreeChanges::structure.load(std::memory_order_relaxed);
    _match.values = TreeChanges::values.load(std::memory_order_relaxed);
}

bool ConfigStoreConvertor::KeepTree(const std::vector<std::string>& toRead, const HaldenConfigStore::StoreStamp& stamp,
                                    HaldenConfigStore::ConfigStore& store) {
    if (!_match.valid || !_root || !stamp.Same(_match.stamp) || toRead != _match.specs) return false;
    if (TreeChanges::structure.load(std::memory_order_relaxed) != _match.structure ||
        TreeChanges::values.load(std::memory_order_relaxed) != _match.values) {
        return false;
    }
    if (store.IsBoot()) return false;
    // What a fresh tree starts without; everything else is as a read would make it.
    _registered.clear();
    _idMap.clear();
    _readStamp = stamp;
    return true;
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

namespace {

// True when `key` is `prefix` or lies below it (as a child or an array element).
bool Under(const std::string& key, const std::string& prefix) {
    return key.compare(0, prefix.size(), prefix) == 0 &&
           (key.size() == prefix.size() || key[prefix.size()] == '/' || key[prefix.size()] == '[');
}

// Where a tree key lies among the store objects.
struct ObjectPlace {
    std::string spec;        // "halden/network_vss/switches"
    std::string top;         // "/net/vswitch"
    std::string elementKey;  // "/net/vswitch/child[0003]"; the top for a singleton; "" for a whole branch
    bool singleton = false;
    bool valid = true;  // false: inside the object's branch but in no element
};

bool PlaceOf(const std::string& key, ObjectPlace* out) {
    const auto& t = Mappings::GetTables();
    std::string top = Prefix(key, 2);
    auto keyIt = t.csoIdKeyMap.find(top);
    auto groupIt = t.csoIdGroupMap.find(top);
    if (keyIt == t.csoIdKeyMap.end() || groupIt == t.csoIdGroupMap.end()) return false;
    out->spec = "halden/" + groupIt->second + "/" + keyIt->second;
    out->top = top;
    out->singleton = t.allowedNetworkSingletonConfigStoreObject.count(out->spec) > 0;
    if (out->singleton) {
        out->elementKey = top;
    } else if (key == top || key == top + "/child") {
        out->elementKey.clear();
    } else {
        out->elementKey = Prefix(key, 3);
        const std::string head = top + "/child[";
        out->valid = out->elementKey.compare(0, head.size(), head) == 0 && out->elementKey.back() == ']';
    }
    return true;
}

ConfigStoreObjectId IdOfSpec(const std::string& spec) {
    std::vector<std::string> parts;
    HostCtl::Misc::StringTokenize(spec, parts, "/");
    return ConfigStoreObjectId(parts[2], parts[1], parts[0]);
}

// The legacy pattern of a tree key ("/net/vswitch/child[0003]/portgroup/child[0001]"
// -> "net/vswitch/child[####]/portgroup/child[####]").
std::string PatternOf(const std::string& key) {
    std::string p = Mappings::NormalizePath(key + "/x", nullptr);
    p.resize(p.size() - 2);
    return p;
}

// The n-th "[####]" slot of a pattern, or npos.
size_t NthSlot(const std::string& pattern, size_t n) {
    size_t pos = pattern.find("[####]");
    while (pos != std::string::npos && n-- > 0) pos = pattern.find("[####]", pos + 6);
    return pos;
}

std::shared_ptr<ConfigArray> ArrayAt(ConfigBranch& element, const std::string& relPath) {
    auto [branch, last] = element.Resolve(relPath, false);
    if (!branch || !branch->HasArray(last)) return nullptr;
    return branch->GetArray(last);
}

// Removes from a stored object (`cur`, the part reached by segs[0..i)) what the
// tree no longer holds along one mapping row: values, list elements, string-list
// entries. `excluded` (when set) counts as removed even though it is still in the
// tree. Returns whether anything changed.
bool RemoveAbsentInt(rapidjson::Value& cur, rapidjson::Document::AllocatorType& alloc, const MappingRow& row,
                     const std::vector<std::string>& segs, size_t i, std::vector<long>& idx, ConfigBranch& element,
                     const std::string& elementKey, const std::string* excluded) {
    const auto& t = Mappings::GetTables();
    if (!cur.IsObject()) return false;
    const std::string& seg = segs[i];
    auto gone = [&](const std::string& treeKey) { return excluded && Under(treeKey, *excluded); };
    if (i + 1 == segs.size() && seg.size() > 3 && seg.compare(seg.size() - 3, 3, "[#]") == 0) {
        // A list of strings: rebuilt from its tree array.
        std::string member = seg.substr(0, seg.size() - 3);
        auto m = cur.FindMember(member.c_str());
        if (m == cur.MemberEnd() || !m->value.IsArray()) return false;
        size_t slot = row.legacyRel.rfind("[####]");
        if (slot == std::string::npos) return false;
        std::string arrayRel = Mappings::InsertIndices(row.legacyRel.substr(0, slot), idx);
        std::string leaf = row.legacyRel.substr(slot + 7);
        rapidjson::Value list(rapidjson::kArrayType);
        auto array = ArrayAt(element, arrayRel);
        if (!excluded) {
            if (array) {
                for (const auto& e : array->GetInstances()) {
                    std::string text;
                    if (e->GetValue(leaf, &text)) list.PushBack(rapidjson::Value(text.c_str(), alloc), alloc);
                }
            }
        } else {
            // Deleting one branch: only the entries of the tree elements below it go.
            std::vector<std::string> drop;
            if (array) {
                for (const auto& e : array->GetInstances()) {
                    std::string text;
                    if (gone(e->GetKey() + "/" + leaf) && e->GetValue(leaf, &text)) drop.push_back(text);
                }
            }
            for (const auto& v : m->value.GetArray()) {
                auto d = std::find(drop.begin(), drop.end(), TextOf(v));
                if (d != drop.end()) {
                    drop.erase(d);
                    continue;
                }
                list.PushBack(rapidjson::Value(v, alloc), alloc);
            }
        }
        if (list == m->value) return false;
        m->value = list;
        return true;
    }
    if (i + 1 == segs.size()) {
        auto m = cur.FindMember(seg.c_str());
        if (m == cur.MemberEnd()) return false;
        std::string legacy = Mappings::InsertIndices(row.legacyRel, idx);
        bool keep = excluded ? !gone(elementKey + "/" + legacy) : element.HasValue(legacy);
        if (keep) return false;
        cur.RemoveMember(m);
        return true;
    }
    bool indexed = seg.size() > 6 && seg.compare(seg.size() - 6, 6, "[####]") == 0;
    std::string member = indexed ? seg.substr(0, seg.size() - 6) : seg;
    auto m = cur.FindMember(member.c_str());
    if (m == cur.MemberEnd()) return false;
    if (!indexed) return RemoveAbsentInt(m->value, alloc, row, segs, i + 1, idx, element, elementKey, excluded);
    if (!m->value.IsArray()) return false;
    // A list of objects: each stored element must still have its tree element,
    // found by the name the store knows it by.
    size_t slot = NthSlot(row.legacyRel, idx.size());
    if (slot == std::string::npos) return false;
    std::string arrayRel = Mappings::InsertIndices(row.legacyRel.substr(0, slot), idx);
    std::string arrayPattern = row.legacy.substr(0, row.legacy.size() - row.legacyRel.size()) +
                               row.legacyRel.substr(0, slot);
    auto listIt = t.elementLists.find(arrayPattern);
    auto array = ArrayAt(element, arrayRel);
    bool changed = false;
    auto& list = m->value;
    for (rapidjson::SizeType j = 0; j < list.Size();) {
        rapidjson::Value& stored = list[j];
        std::string name;
        if (listIt != t.elementLists.end() && stored.IsObject()) {
            auto p = stored.FindMember(listIt->second.prop.c_str());
            if (p != stored.MemberEnd()) name = TextOf(p->value);
        }
        std::shared_ptr<ConfigBranch> match;
        if (array) {
            for (const auto& e : array->GetInstances()) {
                std::string text;
                bool same = name.empty() ? e->GetArrayIndex() == static_cast<int64_t>(j)
                            : !e->GetStoreName().empty()
                                ? e->GetStoreName() == name
                                : listIt != t.elementLists.end() && e->GetValue(listIt->second.leaf, &text) &&
                                      text == name;
                if (same) {
                    match = e;
                    break;
                }
            }
        }
        bool drop = excluded ? match && gone(match->GetKey()) : !match;
        if (drop) {
            list.Erase(list.Begin() + j);
            changed = true;
            continue;
        }
        if (!match) {
            ++j;
            continue;
        }
        idx.push_back(match->GetArrayIndex());
        changed |= RemoveAbsentInt(stored, alloc, row, segs, i + 1, idx, element, elementKey, excluded);
        idx.pop_back();
        ++j;
    }
    return changed;
}

bool RemoveAbsent(rapidjson::Document& doc, const std::string& spec, ConfigBranch& element,
                  const std::string& elementKey, const std::string* excluded) {
    const auto& t = Mappings::GetTables();
    auto rows = t.rowsBySpec.find(spec);
    if (rows == t.rowsBySpec.end()) return false;
    bool changed = false;
    for (const MappingRow* row : rows->second) {
        std::vector<std::string> segs;
        HostCtl::Misc::StringTokenize(row->storeRel, segs, "/");
        if (segs.empty()) continue;
        std::vector<long> idx;
        changed |= RemoveAbsentInt(doc, doc.GetAllocator(), *row, segs, 0, idx, element, elementKey, excluded);
    }
    return changed;
}

}  // namespace

void ConfigStoreConvertor::NoteRead(const std::string& elementKey, const ConfigStoreObjectId& id) {
    _known.insert_or_assign(elementKey, id);
}

void ConfigStoreConvertor::NoteStoredObject(const std::shared_ptr<const ConfigStoreObject>& object) {
    if (_readStamp.Known()) _readData.insert_or_assign(object->GetConfigStoreObjectId().ToString(), object);
}

bool ConfigStoreConvertor::ReadStored(const ConfigStoreObjectId& id, rapidjson::Document& out) {
    std::shared_ptr<const ConfigStoreObject> stored;
    if (_readDataCurrent) {
        const std::string text = id.ToString();
        auto doc = _storedDocs.find(text);
        if (doc != _storedDocs.end()) {
            out = std::move(doc->second);
            _storedDocs.erase(doc);
            return true;
        }
        auto it = _readData.find(text);
        if (it != _readData.end()) stored = it->second;
    }
    if (!stored) stored = Store()->Get(id);
    if (!stored) return false;
    HaldenConfigStore::ObjectToJson(*stored, out, out.GetAllocator());
    return true;
}

void ConfigStoreConvertor::NoteRemoval(const ConfigNode& node) {
    const std::string key = node.GetKey();
    if (key.empty() || key == "/") return;
    ObjectPlace place;
    bool inObject = PlaceOf(key, &place);
    if (inObject && !place.valid) {
        throw ConfigFileException("Config Convertor: removal of " + key + " can not map to a Config Store object");
    }
    if (inObject && !place.elementKey.empty() && key != place.elementKey) {
        _touched.insert(place.elementKey);
    } else {
        // An instance, a whole object branch or a branch above objects ("/net"):
        // every stored object below goes, even if an element is made again here.
        for (auto it = _known.begin(); it != _known.end();) {
            if (!Under(it->first, key)) {
                ++it;
                continue;
            }
            _removedIds.push_back(it->second);
            _touched.erase(it->first);
            it = _known.erase(it);
        }
    }
    for (auto it = _idMap.lower_bound(key); it != _idMap.end() && it->first.compare(0, key.size(), key) == 0;) {
        it = Under(it->first, key) ? _idMap.erase(it) : std::next(it);
    }
}

void ConfigStoreConvertor::RegisterConfigStoreId(const std::string& elementKey, const std::string& subObjectId) {
    std::lock_guard<std::recursive_mutex> guard(_mutex);
    const auto& t = Mappings::GetTables();
    size_t slash = subObjectId.rfind('/');
    std::string member = slash == std::string::npos ? std::string() : subObjectId.substr(0, slash);
    std::string index = slash == std::string::npos ? std::string() : subObjectId.substr(slash + 1);
    bool digits = !index.empty() && index.size() <= 9 &&
                  index.find_first_not_of("0123456789") == std::string::npos;
    if (member.empty() || !digits) {
        throw ConfigFileException("Config Convertor: invalid sub-object id: " + subObjectId);
    }
    auto [element, last] = GetRoot()->Resolve(elementKey + "/x", false);
    if (!element || element->GetKey() != elementKey || element->GetArrayIndex() < 0) {
        throw ConfigFileException("Config Convertor: no tree element at " + elementKey);
    }
    std::string pattern = PatternOf(elementKey);
    auto list = t.elementLists.end();
    if (pattern.size() > 6 && pattern.compare(pattern.size() - 6, 6, "[####]") == 0) {
        list = t.elementLists.find(pattern.substr(0, pattern.size() - 6));
    }
    if (list == t.elementLists.end() || list->second.member.empty()) {
        throw ConfigFileException("Config Convertor: " + elementKey + " is not an element of a store list");
    }
    if (list->second.member != member) {
        throw ConfigFileException("Config Convertor: sub-object id " + subObjectId + " does not name the store list of " +
                                  elementKey);
    }
    if (std::stol(index) != element->GetArrayIndex()) {
        throw ConfigFileException("Config Convertor: sub-object id " + subObjectId + " does not match the index of " +
                                  elementKey);
    }
    _idMap[elementKey] = subObjectId;
}

std::string ConfigStoreConvertor::GetConfigStoreId(const std::string& elementKey) const {
    auto it = _idMap.find(elementKey);
    return it == _idMap.end() ? std::string() : it->second;
}

void ConfigStoreConvertor::BeginPrint() {
    // restoreCSMap
    _write->StartPrint(true);
}

void ConfigStoreConvertor::EndPrint() { _write->active = false; }

void ConfigStoreConvertor::ClearPlan() {
    _readDataCurrent = false;
    _write->StartPrint(false);
    _write->deletes.clear();
    _write->deleted.clear();
}

ConfigStoreConvertor::Collected& ConfigStoreConvertor::Collect(const ConfigStoreObjectId& id,
                                                                const std::string& objectSpec,
                                                                const std::string& elementKey) {
    const auto& t = Mappings::GetTables();
    if (_write->last && _write->last->id == id) return *_write->last;
    const std::string idText = id.ToString();
    auto found = _write->byId.find(idText);
    if (found != _write->byId.end()) {
        _write->last = found->second;
        return *found->second;
    }
    auto c = std::make_unique<Collected>(Collected{id, {}, elementKey});
    c->doc.SetObject();
    // An instance deleted in this write starts again from nothing.
    bool stored = !_write->deleted.count(idText) && ReadStored(id, c->doc);
    if (!stored) _write->exact = false;
    auto known = _known.find(elementKey);
    if (known != _known.end() && !(known->second == id)) {
        _write->exact = false;
        // Renamed: the stored content moves to the new instance.
        const std::string oldText = known->second.ToString();
        if (!stored && !_write->deleted.count(oldText)) stored = ReadStored(known->second, c->doc);
        if (!_write->deleted.count(oldText)) {
            _write->deletes.push_back(known->second);
            _write->deleted.insert(oldText);
        }
    }
    if (id.HasInstanceId()) {
        // The instance carries the property it is named by.
        auto idIt = t.instanceIdMapping.find(objectSpec);
        if (idIt != t.instanceIdMapping.end()) {
            auto& a = c->doc.GetAllocator();
            auto m = c->doc.FindMember(idIt->second.c_str());
            if (m != c->doc.MemberEnd()) {
                if (!m->value.IsString() || id.GetInstanceId() != m->value.GetString()) _write->exact = false;
                m->value.SetString(id.GetInstanceId().c_str(), a);
            } else {
                c->doc.AddMember(rapidjson::Value(idIt->second.c_str(), a),
                                 rapidjson::Value(id.GetInstanceId().c_str(), a), a);
            }
        }
    }
    Collected& out = *c;
    _write->last = c.get();
    _write->byId[idText] = c.get();
    _write->objects.push_back(std::move(c));
    return out;
}

const ConfigStoreConvertor::RowPlan& ConfigStoreConvertor::PlanFor(const MappingRow& row, int objectType,
                                                                   const std::string& key) {
    auto& slot = _rowPlans[{&row, objectType}];
    if (slot) return *slot;
    // Every key of a row has the same top branch ("/net/vswitch").
    const std::string top = Prefix(key, 2);
    const auto& t = Mappings::GetTables();
    auto plan = std::make_unique<RowPlan>();
    auto keyIt = t.csoIdKeyMap.find(top);
    auto groupIt = t.csoIdGroupMap.find(top);
    // A top with an index is no object branch; such a key is refused every time.
    plan->mapped = top.find('[') == std::string::npos && keyIt != t.csoIdKeyMap.end() &&
                   groupIt != t.csoIdGroupMap.end();
    if (plan->mapped) {
        plan->key = keyIt->second;
        plan->group = groupIt->second;
        plan->objectSpec = "halden/" + plan->group + "/" + plan->key;
        const bool multi = objectType == ConfigNode::kMultiInstanceObject;
        // The store path below the object: "[####]/port_groups[####]/vlan_id" -> "port_groups[####]/vlan_id".
        std::string rest = row.store.substr(std::min(row.store.size(), plan->objectSpec.size()));
        if (multi) {
            plan->instanceRest = rest.compare(0, 7, "[####]/") == 0;
            rest = plan->instanceRest ? rest.substr(7) : std::string();
            auto idIt = t.instanceIdMapping.find(plan->objectSpec);
            auto nameRow = idIt == t.instanceIdMapping.end()
                               ? t.reverseMapping.end()
                               : t.reverseMapping.find(plan->objectSpec + "[####]/" + idIt->second);
            if (nameRow != t.reverseMapping.end()) plan->elementNameLeaf = LastComponent(nameRow->second->legacy);
        } else if (!rest.empty() && rest[0] == '/') {
            rest = rest.substr(1);
        }
        std::vector<std::string> parts;
        HostCtl::Misc::StringTokenize(rest, parts, "/");
        plan->hasLeaf = !parts.empty();
        if (plan->hasLeaf) {
            plan->leaf = parts.back();
            parts.pop_back();
        }
        std::string storePrefix = plan->objectSpec + (multi ? "[####]" : "");
        for (const std::string& part : parts) {
            RowPlan::Part p;
            p.indexed = part.size() > 6 && part.compare(part.size() - 6, 6, "[####]") == 0;
            p.member = p.indexed ? part.substr(0, part.size() - 6) : part;
            storePrefix += "/" + part;
            if (p.indexed) {
                auto idIt = t.instanceIdMapping.find(p.member);
                if (idIt != t.instanceIdMapping.end()) {
                    p.nameProp = idIt->second;
                    auto nameRow = t.reverseMapping.find(storePrefix + "/" + p.nameProp);
                    if (nameRow != t.reverseMapping.end()) p.nameRow = nameRow->second;
                }
            }
            plan->parts.push_back(std::move(p));
        }
    }
    slot = std::move(plan);
    return *slot;
}

void ConfigStoreConvertor::PrintValue(ConfigValue& value, int objectType) {
    const auto& t = Mappings::GetTables();
    const std::string key = value.GetKey();
    const ConfigValue::MappedPath* mapped = value.GetMappedPath();
    if (!mapped) {
        auto made = std::make_unique<ConfigValue::MappedPath>();
        auto rowIt = t.mapping.find(Mappings::NormalizePath(key, &made->indices));
        if (rowIt != t.mapping.end()) made->row = rowIt->second;
        mapped = &value.SetMappedPath(std::move(made));
    }
    if (!mapped->row) {
        _write->exact = false;
        TarnCtl_LogWarnInt("%s: Key %s can not map to valid Config Store object property\n", kComponent, key.c_str());
        return;
    }
    const std::vector<long>& indices = mapped->indices;
    const MappingRow& row = *mapped->row;
    if (row.namesElement) _write->named = true;

    const RowPlan& plan = PlanFor(row, objectType, key);
    if (!plan.mapped) {
        throw ConfigFileException("InstanceId not found: " + key + " or not in csoIdKeyMap/csoIdGroupMap");
    }
    const bool multi = objectType == ConfigNode::kMultiInstanceObject;
    if (multi && (!plan.instanceRest || indices.empty())) {
        throw ConfigFileException("InstanceId not found: " + key);
    }
    const size_t firstIndex = multi ? 1 : 0;

    // The values of one element come one after another: below the element of
    // the last value lies the same object.
    Collected* obj = _write->lastElement;
    const std::string& lastKey = _write->lastElementKey;
    if (!obj || key.size() <= lastKey.size() || key[lastKey.size()] != '/' || key.compare(0, lastKey.size(), lastKey) != 0) {
        ConfigStoreObjectId id(plan.key, plan.group, "halden");
        std::string elementKey = Prefix(key, multi ? 3 : 2);
        if (multi) {
            auto cached = _write->_num2soIdMap.find(elementKey);
            std::string instance;
            if (cached != _write->_num2soIdMap.end()) {
                instance = cached->second;
            } else {
                auto [element, last] = GetRoot()->Resolve(elementKey + "/x", false);
                if (plan.elementNameLeaf.empty() || !element || !element->GetValue(plan.elementNameLeaf, &instance) ||
                    instance.empty()) {
                    throw ConfigFileException("InstanceId not found: " + key);
                }
                _write->_num2soIdMap[elementKey] = instance;
            }
            id.SetInstanceId(instance);
        }
        obj = &Collect(id, plan.objectSpec, elementKey);
        _write->lastElement = obj;
        _write->lastElementKey = std::move(elementKey);
    }
    auto& alloc = obj->doc.GetAllocator();

    // Walk the components below the object, making what is missing.
    if (!plan.hasLeaf) return;
    rapidjson::Value* cur = &obj->doc;
    size_t slot = firstIndex;  // next index of `indices`
    for (const RowPlan::Part& part : plan.parts) {
        const std::string& member = part.member;
        const bool indexed = part.indexed;
        if (!cur->IsObject()) cur->SetObject();
        auto m = cur->FindMember(member.c_str());
        if (m == cur->MemberEnd()) {
            _write->exact = false;
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
        // Find the stored element: by the name the store knows the tree element
        // by (it may have been renamed since), else by its name now.
        rapidjson::Value* element = nullptr;
        const std::string& nameProp = part.nameProp;
        std::string nameText, storeName;
        std::string treeElementKey;
        if (part.nameRow) {
            std::string legacy = Mappings::InsertIndices(part.nameRow->legacy, indices);
            // The values of one element ask for its name one after another.
            auto& names = _write->elementNames;
            auto known = names.find(legacy);
            if (known == names.end()) {
                WriteState::ElementName found;
                auto [treeElement, leaf] = GetRoot()->Resolve(legacy, false);
                if (treeElement) {
                    found.storeName = treeElement->GetStoreName();
                    treeElement->GetValue(leaf, &found.nameText);
                    found.elementKey = treeElement->GetKey();
                }
                known = names.emplace(std::move(legacy), std::move(found)).first;
            }
            storeName = known->second.storeName;
            nameText = known->second.nameText;
            treeElementKey = known->second.elementKey;
        }
        auto byName = [&](const std::string& text) -> rapidjson::Value* {
            for (auto& e : next->GetArray()) {
                auto p = e.IsObject() ? e.FindMember(nameProp.c_str()) : e.MemberEnd();
                if (e.IsObject() && p != e.MemberEnd() && TextOf(p->value) == text) return &e;
            }
            return nullptr;
        };
        if (!storeName.empty()) element = byName(storeName);
        if (!element && !nameText.empty()) element = byName(nameText);
        if (!element && !nameText.empty()) {
            _write->exact = false;
            rapidjson::Value e(rapidjson::kObjectType);
            rapidjson::Value name(nameProp.c_str(), alloc);
            rapidjson::Value text(nameText.c_str(), alloc);
            e.AddMember(name, text, alloc);
            next->PushBack(e, alloc);
            element = &(*next)[next->Size() - 1];
        } else if (!element) {
            // An element without a name: the place the id map gives it, else its index.
            auto registered = _idMap.find(treeElementKey);
            if (registered != _idMap.end()) position = std::stol(registered->second.substr(registered->second.rfind('/') + 1));
            while (position >= 0 && next->Size() <= static_cast<size_t>(position)) {
                _write->exact = false;
                next->PushBack(rapidjson::Value(rapidjson::kObjectType), alloc);
            }
            element = &(*next)[static_cast<rapidjson::SizeType>(std::max(0L, position))];
        }
        if (!element->IsObject()) element->SetObject();
        cur = element;
    }
    if (!cur->IsObject()) cur->SetObject();

    const std::string& leaf = plan.leaf;
    if (row.type == PropType::ListElement) {
        // A list of strings is rebuilt from all elements of its tree array.
        _write->exact = false;
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
    if (existing == cur->MemberEnd() || existing->value.IsObject() || existing->value.IsArray()) {
        _write->exact = false;
    }
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
    if (_write->exact && ReadBackText(row, v) != value.GetStringValue()) _write->exact = false;
    if (existing != cur->MemberEnd()) {
        existing->value = v;
    } else {
        cur->AddMember(rapidjson::Value(leaf.c_str(), alloc), v, alloc);
    }
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

// Element branches of the store lists below a node learn the names the store
// now knows them by.
void RefreshStoreNames(ConfigBranch& branch) {
    const auto& t = Mappings::GetTables();
    for (const auto& array : branch.GetArrays()) {
        auto list = t.elementLists.find(PatternOf(array->GetKey()));
        for (const auto& e : array->GetInstances()) {
            std::string name;
            if (list != t.elementLists.end() && !list->second.member.empty() && e->GetValue(list->second.leaf, &name)) {
                e->SetStoreName(name);
            }
            RefreshStoreNames(*e);
        }
    }
    for (const auto& b : branch.GetBranches()) RefreshStoreNames(*b);
}
}  // namespace

void ConfigStoreConvertor::Plan() {
    ClearPlan();
    _readDataCurrent = (!_readData.empty() || !_storedDocs.empty()) && Store()->GetChangeStamp().Same(_readStamp);
    auto elementAt = [this](const std::string& elementKey) {
        auto [element, last] = GetRoot()->Resolve(elementKey + "/x", false);
        return element && element->GetKey() == elementKey ? element : nullptr;
    };
    // Removed instances are deleted first, so that an instance made again under
    // the same name starts from nothing.
    for (const auto& id : _removedIds) {
        if (_write->deleted.insert(id.ToString()).second) _write->deletes.push_back(id);
    }
    _root->Print();
    // Removals inside the objects still there.
    const auto& t = Mappings::GetTables();
    for (const std::string& e : _touched) {
        auto known = _known.find(e);
        auto element = elementAt(e);
        if (known == _known.end() || !element) continue;
        ObjectPlace place;
        PlaceOf(e, &place);
        ConfigStoreObjectId id = IdOfSpec(place.spec);
        if (!place.singleton) {
            auto list = t.elementLists.find(PatternOf(place.top + "/child"));
            std::string instance;
            if (list == t.elementLists.end() || !element->GetValue(list->second.leaf, &instance) || instance.empty()) {
                throw ConfigFileException("InstanceId not found: " + e);
            }
            id.SetInstanceId(instance);
        }
        Collected& c = Collect(id, place.spec, e);
        RemoveAbsent(c.doc, place.spec, *element, e, nullptr);
    }
}

void ConfigStoreConvertor::AfterWrite(bool exact) {
    for (const auto& id : _write->deletes) {
        for (auto it = _known.begin(); it != _known.end();) it = it->second == id ? _known.erase(it) : std::next(it);
    }
    // An exact write that changed no element's name leaves every element's
    // store name as it was.
    const bool refresh = !exact || _write->named;
    for (const auto& c : _write->objects) {
        _known.insert_or_assign(c->elementKey, c->id);
        if (!refresh) continue;
        auto [element, last] = GetRoot()->Resolve(c->elementKey + "/x", false);
        if (element) RefreshStoreNames(*element);
    }
    _touched.clear();
    _removedIds.clear();
}

std::vector<std::pair<std::string, std::string>> ConfigStoreConvertor::PreviewWrite() {
    std::lock_guard<std::recursive_mutex> guard(_mutex);
    auto dirty = DirtyValues(GetRoot());
    std::vector<std::pair<std::string, std::string>> out;
    try {
        Plan();
    } catch (...) {
        for (auto& v : dirty) v->SetDirty(true);
        ClearPlan();
        throw;
    }
    for (auto& v : dirty) v->SetDirty(true);
    for (const auto& id : _write->deletes) out.emplace_back(id.ToString(), "<deleted>");
    for (const auto& c : _write->objects) out.emplace_back(c->id.ToString(), Serialize(c->doc));
    ClearPlan();
    return out;
}

void ConfigStoreConvertor::Write() {
    std::lock_guard<std::recursive_mutex> guard(_mutex);
    auto store = Store();
    const bool boot = store->IsBoot();
    // The tree stays known to equal the store only if it did before, no node
    // came or went since, and this write is the whole of its own transaction
    // (an outer one may still roll back).
    bool exact = _match.valid && !boot &&
                 TreeChanges::structure.load(std::memory_order_relaxed) == _match.structure &&
                 !store->InTransaction();
    _match.valid = false;
    HaldenConfigStore::StoreStamp written;
    auto dirty = DirtyValues(GetRoot());
    try {
        Plan();
        exact = exact && _write->exact && _write->deletes.empty() && _touched.empty() && _removedIds.empty();
        HaldenConfigStore::BootAwareTransaction tx(store, boot);
        // Nobody wrote since the tree was known to match (the transaction now
        // keeps everyone else out until it ends).
        exact = exact && store->GetChangeStamp().Same(_match.stamp);
        for (const auto& id : _write->deletes) {
            TarnCtl_LogVerboseInt("%s: Config Convertor Delete API applies key: %s, instanceId: %s\n", "ConfigBranch",
                                  (id.GetComponent() + "/" + id.GetGroup() + "/" + id.GetKey()).c_str(),
                                  id.GetInstanceId().c_str());
            store->Delete(id);
        }
        const bool logWrites = Platform::Log::WouldLog(Platform::Log::Level::Verbose);
        for (const auto& c : _write->objects) {
            if (logWrites) {
                TarnCtl_LogVerboseInt("%s: Config Convertor Update API applies: %s\n", "ConfigBranch",
                                      Serialize(c->doc).c_str());
            }
            store->Write(HaldenConfigStore::ObjectFromJson(c->id, c->doc), HaldenConfigStore::BootWriteFlag(c->id, boot));
        }
        if (exact) written = store->GetChangeStamp();
        tx.Commit();
    } catch (...) {
        // Nothing reached the store: every change is still pending.
        for (auto& v : dirty) v->SetDirty(true);
        ClearPlan();
        throw;
    }
    AfterWrite(exact);
    if (exact) {
        // The store now holds what the tree shows: keep both for the next lock.
        for (auto& c : _write->objects) {
            std::string text = c->id.ToString();
            _readData.erase(text);
            _storedDocs.insert_or_assign(std::move(text), std::move(c->doc));
        }
        _readStamp = written;
        NoteMatch(written);
    }
    ClearPlan();
}

void ConfigStoreConvertor::DeleteFromStore(ConfigBranch& branch) {
    std::lock_guard<std::recursive_mutex> guard(_mutex);
    const auto& t = Mappings::GetTables();
    const std::string key = branch.GetKey();
    ObjectPlace place;
    if (!PlaceOf(key, &place)) {
        throw ConfigFileException("InstanceId not found: " + key + " or not in csoIdKeyMap/csoIdGroupMap");
    }
    ConfigStoreObjectId id = IdOfSpec(place.spec);
    auto store = Store();
    const bool boot = store->IsBoot();
    if (place.elementKey.empty() || (place.singleton && key == place.top)) {
        TarnCtl_LogVerboseInt("%s: Config Convertor Delete API applies key: %s\n", "ConfigBranch", place.spec.c_str());
        store->Delete(id);
        for (auto it = _known.begin(); it != _known.end();) it = Under(it->first, key) ? _known.erase(it) : std::next(it);
        return;
    }
    if (!place.valid) throw ConfigFileException("InstanceId not found: " + key);
    auto [element, last] = GetRoot()->Resolve(place.elementKey + "/x", false);
    if (!element) throw ConfigFileException("InstanceId not found: " + key);
    if (!place.singleton) {
        auto known = _known.find(place.elementKey);
        std::string instance;
        if (known != _known.end()) {
            instance = known->second.GetInstanceId();
        } else {
            auto list = t.elementLists.find(PatternOf(place.top + "/child"));
            if (list != t.elementLists.end()) element->GetValue(list->second.leaf, &instance);
        }
        if (instance.empty()) throw ConfigFileException("InstanceId not found: " + key);
        id.SetInstanceId(instance);
        if (key == place.elementKey) {
            TarnCtl_LogVerboseInt("%s: Config Convertor Delete API applies key: %s, instanceId: %s\n", "ConfigBranch",
                                  place.spec.c_str(), instance.c_str());
            store->Delete(id);
            _known.erase(place.elementKey);
            return;
        }
    }
    // Part of an instance: only what lies below the branch leaves the stored object.
    const std::string pattern = PatternOf(key);
    bool mapped = false;
    for (const MappingRow* row : t.rowsBySpec.at(place.spec)) {
        if (row->legacy == pattern || row->legacy.compare(0, pattern.size() + 1, pattern + "/") == 0) mapped = true;
    }
    if (!mapped) {
        throw ConfigFileException("Config Convertor: removal of " + key +
                                  " can not map to valid Config Store object property");
    }
    auto stored = store->Get(id);
    if (!stored) return;
    rapidjson::Document doc;
    HaldenConfigStore::ObjectToJson(*stored, doc, doc.GetAllocator());
    if (!RemoveAbsent(doc, place.spec, *element, place.elementKey, &key)) return;
    TarnCtl_LogVerboseInt("%s: Config Convertor Delete API applies key: %s, instanceId: %s\n", "ConfigBranch",
                          key.c_str(), id.GetInstanceId().c_str());
    store->Write(HaldenConfigStore::ObjectFromJson(id, doc), HaldenConfigStore::BootWriteFlag(id, boot));
}

}  // namespace TarnCtl::ConfigStoreUtil
