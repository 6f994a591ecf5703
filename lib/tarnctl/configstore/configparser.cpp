// Reading side of the converter: store objects (merged with the desired
// configuration while the host boots) are flattened to leaf paths and put into
// the tree under their legacy paths; legacy text statements go in directly.
#include "configstore/configparser.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cinttypes>
#include <cstdio>

#include "configstore/configmappings.h"
#include "configstore/configstoreconvertor.h"
#include "configstore/configupgradeparser.h"
#include "platform/configstore.h"
#include "platform/configstore_json.h"
#include "platform/log.h"
#include "platform/misc.h"

namespace TarnCtl::ConfigStoreUtil {

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;

namespace {

const char* kComponent = "ConfigParser";

// Calls sink(path, text) for every leaf of `v` ("/port_groups[0]/vlan_id", "10").
template <typename Sink>
void Flatten(const rapidjson::Value& v, std::string& path, Sink& sink) {
    switch (v.GetType()) {
        case rapidjson::kObjectType:
            for (auto it = v.MemberBegin(); it != v.MemberEnd(); ++it) {
                size_t keep = path.size();
                path.push_back('/');
                path.append(it->name.GetString(), it->name.GetStringLength());
                Flatten(it->value, path, sink);
                path.resize(keep);
            }
            return;
        case rapidjson::kArrayType:
            for (rapidjson::SizeType i = 0; i < v.Size(); ++i) {
                size_t keep = path.size();
                path.push_back('[');
                path += std::to_string(i);
                path.push_back(']');
                Flatten(v[i], path, sink);
                path.resize(keep);
            }
            return;
        case rapidjson::kStringType:
            sink(path, std::string(v.GetString(), v.GetStringLength()));
            return;
        case rapidjson::kTrueType:
            sink(path, std::string("true"));
            return;
        case rapidjson::kFalseType:
            sink(path, std::string("false"));
            return;
        case rapidjson::kNumberType: {
            char buf[64];
            if (v.IsInt64()) {
                std::snprintf(buf, sizeof buf, "%" PRId64, v.GetInt64());
            } else if (v.IsUint64()) {
                std::snprintf(buf, sizeof buf, "%" PRIu64, v.GetUint64());
            } else if (v.IsDouble()) {
                std::snprintf(buf, sizeof buf, "%f", v.GetDouble());
            } else {
                TarnCtl_LogWarnInt("%s: Fail to convert %s to string.\n", kComponent, path.c_str());
                return;
            }
            sink(path, std::string(buf));
            return;
        }
        case rapidjson::kNullType:
            TarnCtl_LogWarnInt("%s: Error processing null type.\n", kComponent);
            return;
    }
}

bool SameKind(const rapidjson::Value& a, const rapidjson::Value& b) {
    // true and false are kinds of their own in the document model: a differing
    // boolean ends the merge like any other kind change.
    return a.GetType() == b.GetType();
}

// Merges `source` into `target` member by member (see MergeConfigStoreObject).
// Returns false when a kind change ended the merge.
bool MergeConfigStoreObjectInt(rapidjson::Value& target, rapidjson::Value& source,
                               rapidjson::Document::AllocatorType& alloc) {
    const auto& tables = Mappings::GetTables();
    for (auto it = source.MemberBegin(); it != source.MemberEnd(); ++it) {
        auto found = target.FindMember(it->name);
        if (found == target.MemberEnd()) {
            rapidjson::Value name(it->name, alloc);
            rapidjson::Value value(it->value, alloc);
            target.AddMember(name, value, alloc);
            continue;
        }
        rapidjson::Value& t = found->value;
        rapidjson::Value& s = it->value;
        if (!SameKind(t, s)) return false;
        if (s.IsArray()) {
            std::string member(it->name.GetString(), it->name.GetStringLength());
            auto idIt = tables.instanceIdMapping.find(member);
            for (auto& element : s.GetArray()) {
                if (element.IsObject() && idIt != tables.instanceIdMapping.end()) {
                    const std::string& prop = idIt->second;
                    TarnCtl_LogVerboseInt("%s: Merge %s according to: %s\n", kComponent, member.c_str(),
                                          prop.c_str());
                    auto sid = element.FindMember(prop.c_str());
                    rapidjson::Value* match = nullptr;
                    if (sid != element.MemberEnd()) {
                        for (auto& te : t.GetArray()) {
                            if (!te.IsObject()) continue;
                            auto tid = te.FindMember(prop.c_str());
                            if (tid != te.MemberEnd() && tid->value == sid->value) {
                                match = &te;
                                break;
                            }
                        }
                    }
                    if (match) {
                        if (!MergeConfigStoreObjectInt(*match, element, alloc)) return false;
                        continue;
                    }
                }
                t.PushBack(rapidjson::Value(element, alloc), alloc);
            }
        } else if (s.IsObject()) {
            if (!MergeConfigStoreObjectInt(t, s, alloc)) return false;
        } else {
            t.CopyFrom(s, alloc);
        }
    }
    return true;
}

std::string Serialize(const rapidjson::Value& v) {
    rapidjson::StringBuffer buf;
    rapidjson::Writer<rapidjson::StringBuffer> w(buf);
    v.Accept(w);
    return std::string(buf.GetString(), buf.GetSize());
}

bool AllDigits(const std::string& s) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

}  // namespace

ConfigParser::ConfigParser(std::shared_ptr<ConfigStoreConvertor> owner, std::shared_ptr<ConfigBranch> root,
                           std::shared_ptr<HaldenConfigStore::ConfigStore> store)
    : _owner(std::move(owner)), _root(std::move(root)), _store(std::move(store)) {}

ConfigStoreObjectId ConfigParser::GetConfigStoreObjectId(const std::string& spec) {
    std::vector<std::string> parts;
    HostCtl::Misc::StringTokenize(spec, parts, "/");
    if (parts.size() < 3 || parts.size() > 4) {
        throw ConfigFileException("Config Convertor: invalid object spec: " + spec);
    }
    if (parts.size() == 4) return ConfigStoreObjectId(parts[2], parts[1], parts[0], parts[3]);
    return ConfigStoreObjectId(parts[2], parts[1], parts[0]);
}

std::vector<std::string> ConfigParser::ExtractAllPath(const std::string& json) {
    std::vector<std::string> out;
    rapidjson::Document doc;
    doc.Parse(json.c_str(), json.size());
    if (doc.HasParseError()) {
        throw ConfigFileException("Config Convertor: unreadable store object: " + json.substr(0, 200));
    }
    std::string path;
    auto sink = [&out](const std::string& leaf, std::string value) { out.push_back(leaf + "=" + value); };
    Flatten(doc, path, sink);
    return out;
}

std::string ConfigParser::MergeConfigStoreObject(const std::shared_ptr<ConfigStoreObject>& desired,
                                                 const std::shared_ptr<ConfigStoreObject>& current) {
    if (!desired) return current ? current->GetData() : std::string();
    rapidjson::Document doc;
    doc.Parse(desired->GetData().c_str());
    if (doc.HasParseError() || !doc.IsObject()) return current ? current->GetData() : desired->GetData();
    if (current) {
        rapidjson::Document cur;
        cur.Parse(current->GetData().c_str());
        if (!cur.HasParseError() && cur.IsObject()) MergeConfigStoreObjectInt(doc, cur, doc.GetAllocator());
    }
    return Serialize(doc);
}

bool ConfigParser::MapOldPath(const std::string& storePath, const std::string& value, std::string* legacyPath,
                              std::string* legacyValue) {
    const auto& tables = Mappings::GetTables();
    std::vector<long> indices;
    std::string pattern = Mappings::NormalizePath(storePath, &indices);
    auto it = tables.reverseMapping.find(pattern);
    if (it == tables.reverseMapping.end()) return false;
    *legacyPath = Mappings::InsertIndices(it->second->legacy, indices);
    *legacyValue = Mappings::MapEnum(*it->second, value, false);
    return true;
}

std::vector<std::string> ConfigParser::GetSubKeysForCS(const std::string& legacyPath) {
    std::vector<std::string> parts;
    HostCtl::Misc::StringTokenize(legacyPath, parts, "/");
    return parts;
}

void ConfigParser::TranslatePath2Memory(const std::string& path) {
    size_t eq = path.find('=');
    if (eq == std::string::npos) return;
    Translate(path.substr(0, eq), path.substr(eq + 1));
}

void ConfigParser::Translate(const std::string& storePath, std::string value) {
    const auto& tables = Mappings::GetTables();
    _indices.clear();
    auto it = tables.reverseMapping.find(Mappings::NormalizePath(storePath, &_indices));
    if (it == tables.reverseMapping.end()) return;
    const Mappings::MappingRow& row = *it->second;
    std::string legacyPath = Mappings::InsertIndices(row.legacy, _indices);
    std::string legacyValue = row.enums ? Mappings::MapEnum(row, value, false) : std::move(value);
    TarnCtl_LogTriviaInt("%s: Parsed halden-shaped path: %s\n", kComponent, legacyPath.c_str());
    size_t slash = legacyPath.rfind('/');
    size_t leafStart = slash == std::string::npos ? 0 : slash + 1;
    if (leafStart == legacyPath.size()) return;
    size_t dirLength = slash == std::string::npos ? 0 : slash;
    if (!_lastBranch || _lastDir.compare(0, std::string::npos, legacyPath, 0, dirLength) != 0) {
        // Leaves of one object move between sibling branches: walk on from the
        // deepest branch the last directory shares with this one.
        size_t common = 0;
        const size_t limit = std::min(_lastDir.size(), dirLength);
        while (common < limit && _lastDir[common] == legacyPath[common]) ++common;
        size_t keep = 0;
        while (keep < _dirLevels.size() && _dirLevels[keep].end <= common &&
               (_dirLevels[keep].end == dirLength || legacyPath[_dirLevels[keep].end] == '/')) {
            ++keep;
        }
        _dirLevels.resize(keep);
        std::shared_ptr<ConfigBranch> branch = keep ? _dirLevels.back().branch : _root;
        size_t pos = keep ? _dirLevels.back().end : 0;
        while (pos < dirLength) {
            if (legacyPath[pos] == '/') {
                ++pos;
                continue;
            }
            size_t end = legacyPath.find('/', pos);
            if (end == std::string::npos || end > dirLength) end = dirLength;
            branch = branch->GetBranch(legacyPath.substr(pos, end - pos));
            _dirLevels.push_back({end, branch});
            pos = end;
        }
        _lastBranch = std::move(branch);
        _lastDir.assign(legacyPath, 0, dirLength);
    }
    // The element is known to the store by this name, whatever it is renamed to later.
    if (row.namesElement) _lastBranch->SetStoreName(legacyValue);
    _lastBranch->GetValue(legacyPath.substr(leafStart))->InitValue(std::move(legacyValue));
}

long ConfigParser::GetStartIdxInMemory(const std::string& spec) {
    const auto& tables = Mappings::GetTables();
    auto it = tables.incrementReadIdxMap.find(spec);
    if (it == tables.incrementReadIdxMap.end()) return 0;
    auto [branch, last] = _root->Resolve(it->second + "/child", false);
    if (!branch || !branch->HasArray(last)) return 0;
    return static_cast<long>(branch->GetArray(last)->GetEndIndex());
}

void ConfigParser::ParseObject(const std::string& objectSpec, bool multi, long index, rapidjson::Document& doc,
                               const std::string& instanceId) {
    const auto& tables = Mappings::GetTables();
    std::string prefix = multi ? HostCtl::Misc::StrPrintf("%s[%04ld]", objectSpec.c_str(), index) : objectSpec;
    if (multi) {
        // The element needs its naming value for write-back even when the object
        // keeps it only as its instance id.
        auto idIt = tables.instanceIdMapping.find(objectSpec);
        if (idIt != tables.instanceIdMapping.end() && !instanceId.empty() && doc.IsObject() &&
            !doc.HasMember(idIt->second.c_str())) {
            rapidjson::Value name(idIt->second.c_str(), doc.GetAllocator());
            rapidjson::Value value(instanceId.c_str(), doc.GetAllocator());
            doc.AddMember(name, value, doc.GetAllocator());
        }
    }
    auto sink = [this](const std::string& leaf, std::string value) { Translate(leaf, std::move(value)); };
    Flatten(doc, prefix, sink);
    auto legacy = tables.legacyOfSpec.find(objectSpec);
    if (legacy == tables.legacyOfSpec.end() || (multi && instanceId.empty())) return;
    ConfigStoreObjectId id = GetConfigStoreObjectId(objectSpec);
    if (multi) id.SetInstanceId(instanceId);
    _owner->NoteRead(multi ? HostCtl::Misc::StrPrintf("%s/child[%04ld]", legacy->second.c_str(), index) : legacy->second,
                     id);
}

void ConfigParser::Parse(const std::vector<std::string>& specs) {
    const auto& tables = Mappings::GetTables();
    for (const std::string& spec : specs) {
        ConfigStoreObjectId id = GetConfigStoreObjectId(spec);
        std::string objectSpec = id.GetComponent() + "/" + id.GetGroup() + "/" + id.GetKey();
        if (!tables.allowedNetworkConfigStoreObject.count(objectSpec)) {
            TarnCtl_LogVerboseInt("%s: Skipping object %s: not a network object\n", kComponent, spec.c_str());
            continue;
        }
        bool multi = !tables.allowedNetworkSingletonConfigStoreObject.count(objectSpec);
        long start = multi ? GetStartIdxInMemory(objectSpec) : 0;

        // (instance id, JSON text) while booting; (instance id, stored object) otherwise.
        std::vector<std::pair<std::string, std::string>> objects;
        std::vector<std::shared_ptr<ConfigStoreObject>> stored;
        if (_store->IsBoot()) {
            if (!multi || id.HasInstanceId()) {
                auto desired = _store->GetDesiredUserConfig(id, 0);
                auto current = _store->Get(id);
                if (!desired && !current) continue;
                objects.emplace_back(id.GetInstanceId(), MergeConfigStoreObject(desired, current));
            } else {
                auto filter = std::make_shared<HaldenConfigStore::FilterSpecObject>(id);
                auto currents = _store->List(filter);
                auto desireds = _store->GetDesiredUserConfigInstances(id, 0);
                std::vector<std::string> order;
                std::map<std::string, std::pair<std::shared_ptr<ConfigStoreObject>, std::shared_ptr<ConfigStoreObject>>>
                    byInstance;
                for (const auto& d : desireds) {
                    const std::string& inst = d->GetConfigStoreObjectId().GetInstanceId();
                    if (!byInstance.count(inst)) order.push_back(inst);
                    byInstance[inst].first = d;
                }
                for (const auto& c : currents) {
                    const std::string& inst = c->GetConfigStoreObjectId().GetInstanceId();
                    if (!byInstance.count(inst)) order.push_back(inst);
                    byInstance[inst].second = c;
                }
                for (const auto& inst : order) {
                    auto& [desired, current] = byInstance[inst];
                    objects.emplace_back(inst, MergeConfigStoreObject(desired, current));
                }
            }
        } else if (!multi || id.HasInstanceId()) {
            auto object = _store->Get(id);
            if (!object) continue;
            stored.push_back(std::move(object));
        } else {
            stored = _store->List(std::make_shared<HaldenConfigStore::FilterSpecObject>(id));
        }
        long i = start;
        for (const auto& [instance, json] : objects) {
            rapidjson::Document doc;
            doc.Parse(json.c_str(), json.size());
            if (doc.HasParseError()) {
                throw ConfigFileException("Config Convertor: unreadable store object: " + json.substr(0, 200));
            }
            ParseObject(objectSpec, multi, i++, doc, instance);
        }
        for (const auto& object : stored) {
            // Straight from the object: no JSON text in between.
            rapidjson::Document doc;
            HaldenConfigStore::ObjectToJson(*object, doc, doc.GetAllocator());
            _owner->NoteStoredObject(object);
            ParseObject(objectSpec, multi, i++, doc, object->GetConfigStoreObjectId().GetInstanceId());
        }
    }
}

void ConfigParser::ParseFromSticky(const std::string& name, ConfigUpgradeParser& in) {
    ParseFromSticky(std::set<std::string>{name}, in);
}

void ConfigParser::ParseFromSticky(const std::set<std::string>& names, ConfigUpgradeParser& in) {
    for (;;) {
        std::vector<ConfigUpgradeParser::SubKey> keys = in.GetSubKeys();
        if (keys.empty() || keys[0].kind == ConfigUpgradeParser::kEnd) break;
        // Components, then the value, then the end mark.
        size_t n = 0;
        while (n < keys.size() && (keys[n].kind == ConfigUpgradeParser::kComponent ||
                                   keys[n].kind == ConfigUpgradeParser::kIndexedComponent)) {
            ++n;
        }
        if (n < 3 || n >= keys.size() || keys[n].kind != ConfigUpgradeParser::kValue) continue;
        if (keys[0].text != "net" || keys[0].kind != ConfigUpgradeParser::kComponent) continue;
        if (!names.count(keys[1].text)) continue;
        bool usable = true;
        for (size_t i = 0; i < n; ++i) {
            if (keys[i].text.empty()) usable = false;
        }
        if (!usable || keys[n - 1].kind != ConfigUpgradeParser::kComponent) continue;
        try {
            StoreStatement(keys, n);
        } catch (const ConfigFileException& e) {
            // One statement that clashes with the tree does not stop the import.
            TarnCtl_LogWarnInt("%s: Skipping statement at line %d: %s\n", kComponent, in.GetLine(), e.what());
        }
    }
}

void ConfigParser::StoreStatement(const std::vector<ConfigUpgradeParser::SubKey>& keys, size_t n) {
    {
        std::shared_ptr<ConfigBranch> branch = _root;
        for (size_t i = 0; i + 1 < n; ++i) {
            const auto& k = keys[i];
            if (k.kind == ConfigUpgradeParser::kIndexedComponent) {
                auto array = branch->GetArray(k.text);
                std::string key, element;
                if (AllDigits(k.index)) {
                    array->GetNamesFromIndex(std::stol(k.index), key, element);
                } else {
                    array->GetNamesFromIndex(k.index, key, element);
                }
                branch = array->GetInstance(element);
            } else {
                branch = branch->GetBranch(k.text);
            }
        }
        branch->GetValue(keys[n - 1].text)->SetValue(keys[n].text);
    }
}

}  // namespace TarnCtl::ConfigStoreUtil
