// Checks of desired native multipathing settings before they are applied: a
// device's `nmp` entry and SATP claim rules. Each failing check appends a
// record; informational findings are only logged.
#pragma once

#include <vector>

#include "platform/configstore.h"
#include "storage/device_config_validation.h"

namespace TarnCtl::Storage::Nmp {

// The `nmp` sub-object of the `index`-th block_devices entry `object`.
void NMPDeviceValidateConfig(std::vector<HaldenConfigManager::ValidationErrorInfo>& result,
                             const HaldenConfigStore::ConfigStoreObject& object, int index);

// The `index`-th nmp_claim_rules entry.
void NmpClaimRuleValidate(const HaldenConfigStore::ConfigStoreObject& object,
                          std::vector<HaldenConfigManager::ValidationErrorInfo>& result, int index);

}  // namespace TarnCtl::Storage::Nmp
