// Thin adapters that give the store-backed configuration tree the shape of the
// host configuration file's classes, so that network and firewall code written
// against the file works unchanged. Each forwards every call to the object it wraps.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "configstore/confignode.h"
#include "configstore/configstoreconvertor.h"

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

    explicit operator bool() const { return _branch != nullptr; }
    const std::shared_ptr<ConfigBranch>& Get() const { return _branch; }

    ConfigBranchUtil GetBranch(const std::string& name) { return ConfigBranchUtil(_branch->GetBranch(name)); }
    ConfigArrayUtil GetArray(const std::string& name);
    template <typename T>
    bool GetValue(const std::string& name, T* out) {
        return _branch->GetValue(name, out);
    }
    template <typename T>
    void SetValue(const std::string& name, T&& value) {
        _branch->GetValue(name)->SetValue(std::forward<T>(value));
    }
    bool HasValue(const std::string& name) { return _branch->HasValue(name); }
    bool HasBranch(const std::string& name) { return _branch->HasBranch(name); }
    bool Remove(const std::string& name) { return _branch->Remove(name); }
    void RemoveAllChildren() { _branch->RemoveAllChildren(); }
    std::vector<std::string> GetValueNames() const { return _branch->GetValueNames(); }
    std::vector<ConfigBranchUtil> GetBranches() const;
    int64_t GetArrayIndex() const { return _branch->GetArrayIndex(); }
    std::string GetKey() const { return _branch->GetKey(); }
    // True when every (name, value) pair matches this branch's values.
    bool MatchValues(const std::vector<std::pair<std::string, std::string>>& values);
    // Deletes the store object (or list element) this branch stands for, now.
    void HaldenConfToConfigStoreDelete();

private:
    std::shared_ptr<ConfigBranch> _branch;
};

class ConfigArrayUtil {
public:
    ConfigArrayUtil() = default;
    explicit ConfigArrayUtil(std::shared_ptr<ConfigArray> array) : _array(std::move(array)) {}

    explicit operator bool() const { return _array != nullptr; }
    const std::shared_ptr<ConfigArray>& Get() const { return _array; }

    ConfigBranchUtil NewInstance() { return ConfigBranchUtil(_array->NewInstance()); }
    ConfigBranchUtil GetInstance(const std::string& key) { return ConfigBranchUtil(_array->GetInstance(key)); }
    std::vector<ConfigBranchUtil> GetInstances() const;
    std::vector<std::string> GetInstanceKeys() const { return _array->GetInstanceKeys(); }
    bool HasInstance(const std::string& name, const std::string& value) const {
        return _array->HasInstance(name, value);
    }
    bool HasInstance(const std::vector<std::pair<std::string, std::string>>& values) const {
        return _array->HasInstance(values);
    }
    bool HasKey(const std::string& elementName) const { return _array->HasElement(elementName); }
    // An empty adapter when no element matches.
    ConfigBranchUtil FindInstanceWithValue(const std::string& name, const std::string& value) const {
        return ConfigBranchUtil(_array->FindInstanceWithValue(name, value));
    }
    ConfigBranchUtil FindInstanceWithValues(const std::vector<std::pair<std::string, std::string>>& values) const {
        return ConfigBranchUtil(_array->FindInstanceWithValues(values));
    }
    ConfigBranchUtil FindInstanceWithIndex(long index) const {
        return ConfigBranchUtil(_array->FindInstanceWithIndex(index));
    }
    void RemoveInstance(const std::string& name, const std::string& value) { _array->RemoveInstance(name, value); }

private:
    std::shared_ptr<ConfigArray> _array;
};

class ConfigFileUtil {
public:
    explicit ConfigFileUtil(std::shared_ptr<ConfigStoreConvertor> convertor)
        : _convertor(std::move(convertor)) {}
    // The process's configuration, over the shared converter.
    static ConfigFileUtil GetFile() { return ConfigFileUtil(ConfigStoreConvertor::GetConvertor()); }

    void Lock(const std::vector<std::string>& objectSpecs) { _convertor->Lock(objectSpecs); }
    void Unlock() { _convertor->Unlock(); }
    void Write() { _convertor->Write(); }

    template <typename T>
    bool GetValue(const std::string& path, T* out) {
        return _convertor->GetValue(path, out);
    }
    template <typename T>
    void SetValue(const std::string& path, T&& value) {
        _convertor->SetValue(path, std::forward<T>(value));
    }
    bool HasValue(const std::string& path) { return _convertor->GetRoot()->HasValue(path); }
    bool Remove(const std::string& path) { return _convertor->GetRoot()->Remove(path); }
    ConfigBranchUtil GetBranch(const std::string& path) { return ConfigBranchUtil(_convertor->GetBranch(path)); }
    ConfigArrayUtil GetArray(const std::string& path) { return ConfigArrayUtil(_convertor->GetRoot()->GetArray(path)); }
    const std::shared_ptr<ConfigStoreConvertor>& GetConvertor() const { return _convertor; }

private:
    std::shared_ptr<ConfigStoreConvertor> _convertor;
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
