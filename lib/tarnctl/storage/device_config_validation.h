// Validation of a desired device configuration (a block_devices entry) before
// it is applied, and the validation-error records every settings validator
// appends to.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/configstore.h"

namespace HaldenConfigManager {

// A message identifier with its arguments.
struct ErrorInfo {
    std::string messageId;
    std::vector<std::string> arguments;
};

// One failing check: the offending field's path and the error.
struct ValidationErrorInfo {
    std::string path;
    ErrorInfo error;
};

// The namespace every settings-validation message identifier starts with.
inline constexpr const char* kValidationMessageNamespace = "com.tarn.settings.validation.";

}  // namespace HaldenConfigManager

namespace TarnCtl::Storage {

class DeviceConfigValidator {
public:
    // Appends a record to `result` for each failing check of the `index`-th
    // block_devices entry `object`. Exceptions are logged and passed on.
    static void ValidateDeviceConfig(std::vector<HaldenConfigManager::ValidationErrorInfo>& result,
                                     const HaldenConfigStore::ConfigStoreObject& object, int index);

    // Whether a device is in use by the system (worlds hold it open).
    static bool CheckLunInUse(const std::string& device);

    // Validators of the multipathing sub-objects, provided by the plug-ins'
    // code; a missing one checks nothing.
    using SubValidator = std::function<void(std::vector<HaldenConfigManager::ValidationErrorInfo>&,
                                            const HaldenConfigStore::ConfigStoreObject& entry, int index)>;
    static SubValidator _hppDeviceValidateConfig;
    static SubValidator _nmpDeviceValidateConfig;
};

}  // namespace TarnCtl::Storage
