// Thin adapters that give the store-backed configuration tree the shape of the
// host configuration file's classes, so that network and firewall code written
// against the file works unchanged. Each forwards every call to the object it
// wraps: a tree node, or (when made over them) the host configuration file's own
// classes. The tree is chosen whenever ConfigUtil says the store path is on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "configstore/confignode.h"
#include "configstore/configstoreconvertor.h"
#include "platform/configfile.h"

namespace TarnCtl::ConfigStoreUtil {

class ConfigArrayUtil;

class ConfigUtil {
public:
    // The store-backed tree is the only configuration path in use.
    static bool isConfigStoreFeatureEnabled() { return true; }
};

class ConfigBranchUtil {
public:
    ConfigBranchUtil() = default;
    explicit ConfigBranchUtil(std::shared_ptr<ConfigBranch> branch) : _branch(std::move(branch)) {}
    explicit ConfigBranchUtil(std::shared_ptr<TarnCtl::Config::ConfigBranch> branch) : _file(std::move(branch)) {}

    explicit operator bool() const { return Tree() || _file; }
    const std::shared_ptr<ConfigBranch>& Get() const { return _branch; }
    const std::shared_ptr<TarnCtl::Config::ConfigBranch>& GetFileBranch() const { return _file; }

    ConfigBranchUtil GetBranch(const std::string& name) {
        return Tree() ? ConfigBranchUtil(_branch->GetBranch(name)) : ConfigBranchUtil(_file->GetBranch(name));
    }
    ConfigArrayUtil GetArray(const std::string& name);
    template <typename T>
    bool GetValue(const std::string& name, T* out) {
        return Tree() ? _branch->GetValue(name, out) : _file->GetValue(name, out);
    }
    template <typename T>
    void SetValue(const std::string& name, T&& value) {
        if (Tree()) {
            _branch->GetValue(name)->SetValue(std::forward<T>(value));
        } else {
            _file->SetValue(name, std::forward<T>(value));
        }
    }
    bool HasValue(const std::string& name) { return Tree() ? _branch->HasValue(name) : _file->HasValue(name); }
    bool HasBranch(const std::string& name) { return Tree() ? _branch->HasBranch(name) : _file->HasBranch(name); }
    bool Remove(const std::string& name) { return Tree() ? _branch->Remove(name) : _file->Remove(name); }
    void RemoveAllChildren();
    std::vector<std::string> GetValueNames() const {
        return Tree() ? _branch->GetValueNames() : _file->GetValueNames();
    }
    std::vector<ConfigBranchUtil> GetBranches() const;
    int64_t GetArrayIndex() const;
    std::string GetKey() const { return Tree() ? _branch->GetKey() : _file->GetPath(); }
    // True when every (name, value) pair matches this branch's values.
    bool MatchValues(const std::vector<std::pair<std::string, std::string>>& values);
    // Deletes the store object (or list element) this branch stands for, now.
    // A branch of the host configuration file has no store object: nothing happens.
    void HaldenConfToConfigStoreDelete();
    // Records in the id map that this element is the store sub-object
    // `subObjectId` ("port_groups/" + index, "routes/" + index); see
    // ConfigStoreConvertor::RegisterConfigStoreId. Nothing for a file branch.
    void RegisterConfigStoreId(const std::string& subObjectId);

private:
    bool Tree() const { return _branch && ConfigUtil::isConfigStoreFeatureEnabled(); }

    std::shared_ptr<ConfigBranch> _branch;
    std::shared_ptr<TarnCtl::Config::ConfigBranch> _file;
};

class ConfigArrayUtil {
public:
    ConfigArrayUtil() = default;
    explicit ConfigArrayUtil(std::shared_ptr<ConfigArray> array) : _array(std::move(array)) {}
    explicit ConfigArrayUtil(std::shared_ptr<TarnCtl::Config::ConfigArray> array) : _file(std::move(array)) {}

    explicit operator bool() const { return Tree() || _file; }
    const std::shared_ptr<ConfigArray>& Get() const { return _array; }

    ConfigBranchUtil NewInstance() {
        return Tree() ? ConfigBranchUtil(_array->NewInstance()) : ConfigBranchUtil(_file->NewInstance());
    }
    // The element of that name ("child[0003]"); made when absent.
    ConfigBranchUtil GetInstance(const std::string& key);
    std::vector<ConfigBranchUtil> GetInstances() const;
    std::vector<std::string> GetInstanceKeys() const;
    bool HasInstance(const std::string& name, const std::string& value) const {
        return Tree() ? _array->HasInstance(name, value) : _file->HasInstance(name, value);
    }
    bool HasInstance(const std::vector<std::pair<std::string, std::string>>& values) const {
        return Tree() ? _array->HasInstance(values) : _file->HasInstance(values);
    }
    bool HasKey(const std::string& elementName) const;
    // An empty adapter when no element matches.
    ConfigBranchUtil FindInstanceWithValue(const std::string& name, const std::string& value) const {
        return Tree() ? ConfigBranchUtil(_array->FindInstanceWithValue(name, value))
                      : ConfigBranchUtil(_file->FindInstanceWithValue(name, value));
    }
    ConfigBranchUtil FindInstanceWithValues(const std::vector<std::pair<std::string, std::string>>& values) const {
        return Tree() ? ConfigBranchUtil(_array->FindInstanceWithValues(values))
                      : ConfigBranchUtil(_file->FindInstanceWithValues(values));
    }
    // Throws ConfigFileException "Config Convertor: unable to find instance" when none.
    ConfigBranchUtil FindInstanceWithIndex(long index) const;
    // Throws "Config Convertor: no matching instance to remove: " + value when none.
    void RemoveInstance(const std::string& name, const std::string& value);

private:
    bool Tree() const { return _array && ConfigUtil::isConfigStoreFeatureEnabled(); }

    std::shared_ptr<ConfigArray> _array;
    std::shared_ptr<TarnCtl::Config::ConfigArray> _file;
};

class ConfigFileUtil {
public:
    explicit ConfigFileUtil(std::shared_ptr<ConfigStoreConvertor> convertor)
        : _convertor(std::move(convertor)) {}
    explicit ConfigFileUtil(TarnCtl::Config::ConfigFile* file) : _file(file) {}
    // The process's configuration: the shared converter while the store path is
    // on, else the host configuration file.
    static ConfigFileUtil GetFile() {
        return ConfigUtil::isConfigStoreFeatureEnabled() ? ConfigFileUtil(ConfigStoreConvertor::GetConvertor())
                                                         : ConfigFileUtil(TarnCtl::Config::ConfigFile::GetFile());
    }

    // The file has no store objects: it is locked as a whole.
    void Lock(const std::vector<std::string>& objectSpecs) {
        if (Tree()) {
            _convertor->Lock(objectSpecs);
        } else {
            _file->Lock();
        }
    }
    void Unlock() { Tree() ? _convertor->Unlock() : _file->Unlock(); }
    void Write() { Tree() ? _convertor->Write() : _file->Write(); }

    template <typename T>
    bool GetValue(const std::string& path, T* out) {
        return Tree() ? _convertor->GetValue(path, out) : _file->GetValue(path, out);
    }
    template <typename T>
    void SetValue(const std::string& path, T&& value) {
        if (Tree()) {
            _convertor->SetValue(path, std::forward<T>(value));
        } else {
            _file->SetValue(path, std::forward<T>(value));
        }
    }
    bool HasValue(const std::string& path) { return Tree() ? _convertor->GetRoot()->HasValue(path) : _file->HasValue(path); }
    bool Remove(const std::string& path) { return Tree() ? _convertor->GetRoot()->Remove(path) : _file->Remove(path); }
    ConfigBranchUtil GetBranch(const std::string& path) {
        return Tree() ? ConfigBranchUtil(_convertor->GetBranch(path)) : ConfigBranchUtil(_file->GetBranch(path));
    }
    ConfigArrayUtil GetArray(const std::string& path) {
        return Tree() ? ConfigArrayUtil(_convertor->GetRoot()->GetArray(path)) : ConfigArrayUtil(_file->GetArray(path));
    }
    const std::shared_ptr<ConfigStoreConvertor>& GetConvertor() const { return _convertor; }
    // The id map: the tree element at `elementKey` is the store sub-object
    // `subObjectId`. The host configuration file has no store: nothing happens.
    void RegisterConfigStoreId(const std::string& elementKey, const std::string& subObjectId) {
        if (Tree()) _convertor->RegisterConfigStoreId(elementKey, subObjectId);
    }

private:
    bool Tree() const { return _convertor && ConfigUtil::isConfigStoreFeatureEnabled(); }

    std::shared_ptr<ConfigStoreConvertor> _convertor;
    TarnCtl::Config::ConfigFile* _file = nullptr;
};

// Locks the configuration for the listed store objects for its lifetime.
class SynchronizedConfigFileUtil {
public:
    explicit SynchronizedConfigFileUtil(std::vector<std::string> objectSpecs);
    ~SynchronizedConfigFileUtil();
    SynchronizedConfigFileUtil(const SynchronizedConfigFileUtil&) = delete;
    SynchronizedConfigFileUtil& operator=(const SynchronizedConfigFileUtil&) = delete;

    ConfigFileUtil* operator->() { return &_file; }
    ConfigFileUtil& GetFile() { return _file; }

private:
    ConfigFileUtil _file;
};

}  // namespace TarnCtl::ConfigStoreUtil
