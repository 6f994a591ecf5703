// Out-of-line parts of the configuration tree adapters.
#include "configstore/configfileutil.h"

namespace TarnCtl::ConfigStoreUtil {

ConfigArrayUtil ConfigBranchUtil::GetArray(const std::string& name) {
    return Tree() ? ConfigArrayUtil(_branch->GetArray(name)) : ConfigArrayUtil(_file->GetArray(name));
}

std::vector<ConfigBranchUtil> ConfigBranchUtil::GetBranches() const {
    std::vector<ConfigBranchUtil> out;
    if (Tree()) {
        for (auto& b : _branch->GetBranches()) out.emplace_back(b);
    } else {
        for (auto& b : _file->GetBranches()) out.emplace_back(b);
    }
    return out;
}

void ConfigBranchUtil::RemoveAllChildren() {
    if (Tree()) {
        _branch->RemoveAllChildren();
        return;
    }
    for (const auto& name : _file->GetValueNames()) _file->Remove(name);
    for (const auto& b : _file->GetBranches()) _file->Remove(b->GetName());
}

int64_t ConfigBranchUtil::GetArrayIndex() const {
    return Tree() ? _branch->GetArrayIndex() : ConfigArray::IndexOfName(_file->GetName());
}

bool ConfigBranchUtil::MatchValues(const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& [name, value] : values) {
        std::string text;
        if (!GetValue(name, &text) || text != value) return false;
    }
    return true;
}

void ConfigBranchUtil::HaldenConfToConfigStoreDelete() {
    if (!Tree()) return;
    if (auto owner = _branch->GetOwner()) owner->DeleteFromStore(*_branch);
}

void ConfigBranchUtil::RegisterConfigStoreId(const std::string& subObjectId) {
    if (!Tree()) return;
    if (auto owner = _branch->GetOwner()) owner->RegisterConfigStoreId(_branch->GetKey(), subObjectId);
}

ConfigBranchUtil ConfigArrayUtil::GetInstance(const std::string& key) {
    if (Tree()) return ConfigBranchUtil(_array->GetInstance(key));
    // The file's arrays take the key inside the brackets.
    std::string inner = key;
    size_t open = key.find('[');
    if (open != std::string::npos && !key.empty() && key.back() == ']') {
        inner = key.substr(open + 1, key.size() - open - 2);
    }
    return ConfigBranchUtil(_file->GetInstance(inner));
}

std::vector<ConfigBranchUtil> ConfigArrayUtil::GetInstances() const {
    std::vector<ConfigBranchUtil> out;
    if (Tree()) {
        for (auto& b : _array->GetInstances()) out.emplace_back(b);
    } else {
        for (auto& b : _file->GetInstances()) out.emplace_back(b);
    }
    return out;
}

std::vector<std::string> ConfigArrayUtil::GetInstanceKeys() const {
    if (Tree()) return _array->GetInstanceKeys();
    std::vector<std::string> out;
    for (auto& b : _file->GetInstances()) out.push_back(b->GetName());
    return out;
}

bool ConfigArrayUtil::HasKey(const std::string& elementName) const {
    if (Tree()) return _array->HasElement(elementName);
    for (auto& b : _file->GetInstances()) {
        if (b->GetName() == elementName) return true;
    }
    return false;
}

ConfigBranchUtil ConfigArrayUtil::FindInstanceWithIndex(long index) const {
    if (Tree()) return ConfigBranchUtil(_array->FindInstanceWithIndex(index));
    for (auto& b : _file->GetInstances()) {
        if (ConfigArray::IndexOfName(b->GetName()) == index) return ConfigBranchUtil(b);
    }
    throw ConfigFileException("Config Convertor: unable to find instance");
}

void ConfigArrayUtil::RemoveInstance(const std::string& name, const std::string& value) {
    if (Tree()) {
        _array->RemoveInstance(name, value);
    } else if (!_file->RemoveInstance(name, value)) {
        throw ConfigFileException("Config Convertor: no matching instance to remove: " + value);
    }
}

SynchronizedConfigFileUtil::SynchronizedConfigFileUtil(std::vector<std::string> objectSpecs)
    : _file(ConfigFileUtil::GetFile()) {
    _file.Lock(objectSpecs);
}

SynchronizedConfigFileUtil::~SynchronizedConfigFileUtil() { _file.Unlock(); }

}  // namespace TarnCtl::ConfigStoreUtil
