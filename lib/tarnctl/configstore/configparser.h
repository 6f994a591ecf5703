// Reads configuration-store objects into the legacy tree: flattens each object's
// JSON into leaf paths, maps them to tree paths and stores the values. Built per
// lock by the converter; also feeds the tree from a legacy text file.
#pragma once

#include <rapidjson/document.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "configstore/confignode.h"
#include "configstore/configupgradeparser.h"

namespace HaldenConfigStore {
class ConfigStore;
class ConfigStoreObjectId;
class ConfigStoreObject;
}  // namespace HaldenConfigStore

namespace TarnCtl::ConfigStoreUtil {

class ConfigStoreConvertor;
class ConfigParser {
public:
    ConfigParser(std::shared_ptr<ConfigStoreConvertor> owner, std::shared_ptr<ConfigBranch> root,
                 std::shared_ptr<HaldenConfigStore::ConfigStore> store);

    // Reads the objects of the specs into the tree (specs not allowed are skipped).
    void Parse(const std::vector<std::string>& specs);
    // Statements of a legacy file under "net" whose second component is the name
    // (or one of the names) go into the tree, dirty.
    void ParseFromSticky(const std::string& name, ConfigUpgradeParser& in);
    void ParseFromSticky(const std::set<std::string>& names, ConfigUpgradeParser& in);

    // "halden/network/tarnnics/tarn0" -> (key tarnnics, group network,
    // component halden, instance tarn0). Throws ConfigFileException when malformed.
    static HaldenConfigStore::ConfigStoreObjectId GetConfigStoreObjectId(const std::string& spec);
    // Leaves of a JSON object as "/path=value" ("/port_groups[0]/vlan_id=10").
    static std::vector<std::string> ExtractAllPath(const std::string& json);
    // The JSON of the stored object merged with the desired one (boot); empty
    // when neither exists.
    static std::string MergeConfigStoreObject(const std::shared_ptr<HaldenConfigStore::ConfigStoreObject>& desired,
                                              const std::shared_ptr<HaldenConfigStore::ConfigStoreObject>& current);
    // Store path + value -> tree path with the value mapped; false when unmapped.
    static bool MapOldPath(const std::string& storePath, const std::string& value, std::string* legacyPath,
                           std::string* legacyValue);
    static std::vector<std::string> GetSubKeysForCS(const std::string& legacyPath);
    // "path=value" from a flattened store object -> stored in the tree.
    void TranslatePath2Memory(const std::string& path);
    // First element index for instances of a spec (after those already in memory).
    long GetStartIdxInMemory(const std::string& spec);

private:
    void StoreStatement(const std::vector<ConfigUpgradeParser::SubKey>& keys, size_t n);
    void ParseObject(const std::string& objectSpec, bool multi, long index, rapidjson::Document& doc,
                     const std::string& instanceId);
    // One leaf of a store object ("halden/...[0002]/mtu", "1500") into the tree.
    void Translate(const std::string& storePath, std::string value);

    std::shared_ptr<ConfigStoreConvertor> _owner;
    std::shared_ptr<ConfigBranch> _root;
    std::shared_ptr<HaldenConfigStore::ConfigStore> _store;
    // The leaves of one object come in order: the branch of the last one is
    // usually the branch of the next.
    std::string _lastDir;
    std::shared_ptr<ConfigBranch> _lastBranch;
    // The branches along _lastDir: each component's end offset and its branch.
    struct DirLevel {
        size_t end;
        std::shared_ptr<ConfigBranch> branch;
    };
    std::vector<DirLevel> _dirLevels;
    std::vector<long> _indices;  // reused by every leaf
};

}  // namespace TarnCtl::ConfigStoreUtil
