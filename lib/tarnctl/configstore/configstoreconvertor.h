// The process-wide converter between the configuration store and the legacy
// configuration tree: Lock reads the requested store objects into the tree,
// Write puts every changed value back in one store transaction. Its recursive
// mutex is held from Lock to the matching Unlock, so one thread at a time works
// on the tree and may lock again while it does (nesting).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "configstore/confignode.h"

namespace HaldenConfigStore {
class ConfigStore;
}

namespace TarnCtl::ConfigStoreUtil {

class ConfigUpgradeParser;

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
    // tree: the outermost lock rebuilds it, nested ones add the new objects.
    // A read failure releases the lock and throws ConfigFileException
    // "ConfigStoreConvertor: read failed: " / "... nested read failed: " + cause.
    void Lock(const std::vector<std::string>& specs);
    void Unlock();
    // Writes every dirty value back, in one store transaction.
    void Write();
    // The store objects Write would write now, as (object id, JSON text), without
    // writing them or clearing dirty flags.
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

    // Write-back, called by the tree while it prints.
    void BeginPrint();
    void PrintValue(ConfigValue& value, int objectType);
    void EndPrint();
    // Deletes the store object (or element) that a tree branch stands for, at once.
    void DeleteFromStore(ConfigBranch& branch);

    uint32_t GetNestingCount() const { return _nesting; }
    const std::vector<std::string>& GetAllowedSpecs() const { return _allowedSpecs; }
    // The object spec ("halden/network_vss/switches") that holds a tree path, or "".
    static std::string SpecForPath(const std::string& path);

private:
    struct WriteState;

    void ComputeAllowObj(const std::vector<std::string>& specs, std::vector<std::string>* toRead);
    void NewTree();
    std::shared_ptr<HaldenConfigStore::ConfigStore> Store() const;

    std::vector<std::string> _allowedSpecs;
    std::vector<std::string> _specsToRead;
    std::recursive_mutex _mutex;
    std::shared_ptr<ConfigBranch> _root;
    std::map<std::string, std::shared_ptr<ConfigValue>> _registered;
    std::vector<std::string> _pending;
    uint32_t _nesting = 0;
    std::unique_ptr<WriteState> _write;
};

}  // namespace TarnCtl::ConfigStoreUtil
