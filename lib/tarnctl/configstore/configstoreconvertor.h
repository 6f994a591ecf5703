// The process-wide converter between the configuration store and the legacy
// configuration tree: Lock reads the requested store objects into the tree,
// Write puts every changed value back in one store transaction. Its recursive
// mutex is held from Lock to the matching Unlock, so one thread at a time works
// on the tree and may lock again while it does (nesting).
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <unordered_map>
#include <vector>

#include "configstore/confignode.h"
#include "platform/configstore.h"

namespace TarnCtl::ConfigStoreUtil {

class ConfigUpgradeParser;
namespace Mappings {
struct MappingRow;
}

class ConfigStoreConvertor : public std::enable_shared_from_this<ConfigStoreConvertor> {
public:
    // The shared converter, made on first use.
    static std::shared_ptr<ConfigStoreConvertor> GetConvertor();

    ConfigStoreConvertor();
    ~ConfigStoreConvertor();
    ConfigStoreConvertor(const ConfigStoreConvertor&) = delete;
    ConfigStoreConvertor& operator=(const ConfigStoreConvertor&) = delete;

    // Takes the converter lock and reads the objects of `specs`
    // ("halden/network_vss/switches", "halden/network/tarnnics/tarn0") into the
    // tree: the outermost lock rebuilds it (or keeps the tree of the last one
    // while that is exactly what a new read would give: the same objects, the
    // store unchanged since the tree read or wrote it, no tree change left
    // unwritten, no boot), nested ones add the new objects.
    // A read failure releases the lock and throws ConfigFileException
    // "ConfigStoreConvertor: read failed: " / "... nested read failed: " + cause.
    void Lock(const std::vector<std::string>& specs);
    void Unlock();
    // Writes every change back in one store transaction (none while the host
    // boots): dirty values, and the removals made through the tree since the last
    // write (a removed element leaves its store list, a removed object instance is
    // deleted, a removed value leaves its object, string lists are rebuilt).
    // On failure nothing is written and every change stays pending.
    void Write();
    // The store objects Write would write now, as (object id, JSON text), and
    // those it would delete (JSON text "<deleted>"), without writing anything or
    // clearing dirty flags.
    std::vector<std::pair<std::string, std::string>> PreviewWrite();

    std::shared_ptr<ConfigBranch> GetRoot();
    // The branch at a tree path ("/net/vswitch"), created when absent.
    std::shared_ptr<ConfigBranch> GetBranch(const std::string& path);
    std::shared_ptr<ConfigValue> GetValue(const std::string& path);
    // The value node at a path, or empty when absent (nothing is created).
    std::shared_ptr<ConfigValue> FindValue(const std::string& path);

    template <typename T>
    bool GetValue(const std::string& path, T* out) {
        auto [branch, last] = GetRoot()->Resolve(path, false);
        return branch && branch->GetValue(last, out);
    }
    template <typename T>
    void SetValue(const std::string& path, T&& value) {
        GetValue(path)->SetValue(std::forward<T>(value));
    }

    // Rebuilds the tree from a legacy configuration file (host path), keeping the
    // statements under "net" whose second component is one of the names. The
    // values come in dirty, so a Write stores them.
    void GetBranchFromSticky(const std::string& name, const std::string& filePath);
    void GetBranchFromSticky(const std::set<std::string>& names, const std::string& filePath);
    void GetBranchFromSticky(const std::set<std::string>& names, ConfigUpgradeParser& parser);

    void RegisterValue(const std::string& path, const std::shared_ptr<ConfigValue>& value);
    void UnregisterValue(const std::string& path);

    // The id map: records that the tree element at `elementKey`
    // ("/net/vswitch/child[0000]/portgroup/child[0002]") is the store sub-object
    // `subObjectId` ("port_groups/2": list member, "/", the element's index).
    // Throws ConfigFileException when the element does not exist, the id is
    // malformed, names another list or another index.
    void RegisterConfigStoreId(const std::string& elementKey, const std::string& subObjectId);
    // The registered sub-object id of an element, or "".
    std::string GetConfigStoreId(const std::string& elementKey) const;

    // Write-back, called by the tree while it prints.
    void BeginPrint();
    void PrintValue(ConfigValue& value, int objectType);
    void EndPrint();
    // Called by a node that leaves the tree, before it detaches: the store object
    // it belongs to is reconciled with the tree at the next Write. Throws
    // ConfigFileException when the node lies in a store object's branch but
    // cannot be tied to one instance.
    void NoteRemoval(const ConfigNode& node);
    // Deletes what a tree branch stands for from the store at once: an object
    // (all instances for a whole object branch), an instance, or the part of an
    // instance below the branch (a list element, a string list entry, a policy).
    // Throws ConfigFileException when nothing in the mapping lies at or below it.
    void DeleteFromStore(ConfigBranch& branch);

    uint32_t GetNestingCount() const { return _nesting; }
    const std::vector<std::string>& GetAllowedSpecs() const { return _allowedSpecs; }
    // The object spec ("halden/network_vss/switches") that holds a tree path, or "".
    static std::string SpecForPath(const std::string& path);

    // Called by the reader for every object instance it puts into the tree.
    void NoteRead(const std::string& elementKey, const HaldenConfigStore::ConfigStoreObjectId& id);
    // Called by the reader with every object it read outside boot mode, so
    // that a write-back need not read it again.
    void NoteStoredObject(const std::shared_ptr<const HaldenConfigStore::ConfigStoreObject>& object);

private:
    struct WriteState;
    struct Collected;
    struct RowPlan;

    void ComputeAllowObj(const std::vector<std::string>& specs, std::vector<std::string>* toRead);
    void NewTree();
    std::shared_ptr<HaldenConfigStore::ConfigStore> Store() const;
    // Fills _write with what Write would store and delete.
    void Plan();
    void ClearPlan();
    // The collected object of a tree element, read from the store on first touch.
    Collected& Collect(const HaldenConfigStore::ConfigStoreObjectId& id, const std::string& objectSpec,
                       const std::string& elementKey);
    // After a successful write: what the store now holds is what the tree knows.
    void AfterWrite(bool exact = false);
    // The stored object of `id` now, into `doc`: what the lock read while the
    // store is unchanged since, else a fresh read. False when there is no such object.
    bool ReadStored(const HaldenConfigStore::ConfigStoreObjectId& id, rapidjson::Document& doc);

    std::vector<std::string> _allowedSpecs;
    std::vector<std::string> _specsToRead;
    std::recursive_mutex _mutex;
    std::shared_ptr<ConfigBranch> _root;
    std::map<std::string, std::shared_ptr<ConfigValue>> _registered;
    std::vector<std::string> _pending;
    uint32_t _nesting = 0;
    std::unique_ptr<WriteState> _write;
    // Tree element key -> the store object it was read from or last written as.
    std::map<std::string, HaldenConfigStore::ConfigStoreObjectId> _known;
    // Element keys below which something was removed since the last write.
    std::set<std::string> _touched;
    // Stored objects whose tree element was removed since the last write.
    std::vector<HaldenConfigStore::ConfigStoreObjectId> _removedIds;
    // The id map (RegisterConfigStoreId).
    std::map<std::string, std::string> _idMap;
    // What the reads of this lock found, and the store's state when they began.
    std::unordered_map<std::string, std::shared_ptr<const HaldenConfigStore::ConfigStoreObject>> _readData;
    // The objects the last exact write-back stored, as written (they replace
    // their entries of _readData); taken out by the write that uses them.
    std::unordered_map<std::string, rapidjson::Document> _storedDocs;
    HaldenConfigStore::StoreStamp _readStamp;
    bool _readDataCurrent = false;  // set by Plan: the store has not changed since
    // What the tree was last known to equal: the store as of `stamp` (as read
    // by an outermost lock or as written back since), for exactly `specs`, and
    // no tree changed since (the TreeChanges counts). While all of that still
    // holds at the next outermost lock, the tree is kept instead of read again.
    struct Match {
        bool valid = false;
        HaldenConfigStore::StoreStamp stamp;
        uint64_t structure = 0;
        uint64_t values = 0;
        std::vector<std::string> specs;  // sorted
    };
    Match _match;
    // True (and the tree made ready for a new lock) when the tree may be kept.
    bool KeepTree(const std::vector<std::string>& toRead, const HaldenConfigStore::StoreStamp& stamp,
                  HaldenConfigStore::ConfigStore& store);
    void NoteMatch(const HaldenConfigStore::StoreStamp& stamp);
    // PrintValue's plan of each mapping row (per object type), made on first use.
    const RowPlan& PlanFor(const Mappings::MappingRow& row, int objectType, const std::string& key);
    std::map<std::pair<const Mappings::MappingRow*, int>, std::unique_ptr<RowPlan>> _rowPlans;
};

}  // namespace TarnCtl::ConfigStoreUtil
