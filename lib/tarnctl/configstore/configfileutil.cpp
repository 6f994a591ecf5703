// Out-of-line parts of the configuration tree adapters.
#include "configstore/configfileutil.h"

namespace TarnCtl::ConfigStoreUtil {

ConfigArrayUtil ConfigBranchUtil::GetArray(const std::string& name) {
    return ConfigArrayUtil(_branch->GetArray(name));
}

std::vector<ConfigBranchUtil> ConfigBranchUtil::GetBranches() const {
    std::vector<ConfigBranchUtil> out;
    for (auto& b : _branch->GetBranches()) out.emplace_back(b);
    return out;
}

bool ConfigBranchUtil::MatchValues(const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& [name, value] : values) {
        std::string text;
        if (!_branch->GetValue(name, &text) || text != value) return false;
    }
    return true;
}

void ConfigBranchUtil::HaldenConfToConfigStoreDelete() {
    if (auto owner = _branch->GetOwner()) owner->DeleteFromStore(*_branch);
}

std::vector<ConfigBranchUtil> ConfigArrayUtil::GetInstances() const {
    std::vector<ConfigBranchUtil> out;
    for (auto& b : _array->GetInstances()) out.emplace_back(b);
    return out;
}

SynchronizedConfigFileUtil::SynchronizedConfigFileUtil(std::vector<std::string> objectSpecs)
    : _file(ConfigFileUtil::GetFile()) {
    _file.Lock(objectSpecs);
}

SynchronizedConfigFileUtil::~SynchronizedConfigFileUtil() { _file.Unlock(); }

}  // namespace TarnCtl::ConfigStoreUtil
