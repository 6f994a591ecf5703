// Kernel boot options: the fixed, generated table of typed options, their
// configured values (halden/tarnos/options, one field per option, recorded for
// the next boot together with the boot configuration) and their run-time
// values (one kernel record holding every option).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hostctl/system_modules.h"
#include "ksi/modules.h"
#include "platform/configstore.h"

namespace TarnCtl::System {

class KernelOptionImpl;

class KernelOpts {
public:
    using OptionType = HostCtl::System::KernelOption::OptionType;

    // Every option name, in table order.
    static std::vector<std::string> GetOptionNames();
    // The descriptor of `name`; an unknown name throws "Invalid Key Name: " + name.
    static const Ksi::BootOptions::Row& GetOptionInfo(const std::string& name);
    static OptionType GetOptionType(const std::string& name);
    static OptionType GetOptionType(const Ksi::BootOptions::Row& row);
    static std::string GetOptionTypeString(OptionType type);
    // Throws the type-mismatch message when a value of `type` cannot be given
    // to `name` (integer calls fit every integer option).
    static void CheckOptionType(const std::string& name, OptionType type);
    // Run-time values of every option as text, by name.
    static std::map<std::string, std::string> GetCurrentValues();
    // One option object per table entry; without `all`, only those configured
    // off their default.
    static std::vector<std::unique_ptr<HostCtl::System::KernelOption>> GetAllOptions(bool all);
    static std::unique_ptr<KernelOptionImpl> GetOption(const std::string& name);
    // Records a value for the next boot: boot configuration first, then the
    // store in one transaction, then the audit record "settings.kernel.set".
    static void SetOption(const std::string& name, const std::string& value);
    static void SetOption(const std::string& name, const char* value);
    static void SetOption(const std::string& name, bool value);
    static void SetOption(const std::string& name, long value);
    static bool GetRuntimeValueBool(const std::string& name);
    // Moves the options kept under "/tarnos" of the host configuration file
    // into the store and the boot configuration.
    static void ConfigStoreUpgrade();

    // Boot: rewrites the boot configuration's options from the store.
    static void RestoreBootConfiguration();

    // The store object of the configured values.
    static HaldenConfigStore::ConfigStoreObjectId StoreId();
};

}  // namespace TarnCtl::System
