// Advanced options: the kernel's named tunables, addressed "/Branch/Option",
// presented as a tree of branches holding integer and string options, plus the
// administrator-defined options of the "UserVars" branch.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hostctl/object.h"

namespace TarnCtl::Lib {
class ObjectPrinter;
}

namespace HostCtl::Adv {

// Common part of an option. Getters re-read the kernel record first when the
// object is stale (fresh objects and objects just written are stale).
class AdvancedOption : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual std::string GetOptionName() = 0;
    // "/" + branch + "/" + option.
    virtual std::string GetOptionPath() = 0;
    // 0 integer, 1 string.
    virtual int GetType() = 0;
    virtual std::string GetDescription() = 0;
    virtual bool IsHostSpecific() = 0;
    // "reboot", "maintenance-mode" or "none".
    virtual std::string GetImpact() = 0;
    // Writes the default to the kernel and drops the persisted value, in one
    // store transaction; audited as "settings.advanced.reset".
    virtual void SetToDefault() = 0;
    // Records the current value in the configuration store.
    virtual void UpdateValueToCstore() = 0;
};

class AdvancedIntegerOption : public virtual AdvancedOption {
public:
    virtual int64_t GetDefaultValue() = 0;
    virtual int64_t GetMinimum() = 0;
    virtual int64_t GetMaximum() = 0;
    virtual int64_t GetValue() = 0;
    // Kernel first, then the store, in one transaction; audited as
    // "settings.advanced.set". A kernel refusal persists and audits nothing.
    virtual void SetValue(long value) = 0;
    virtual void Print(TarnCtl::Lib::ObjectPrinter* printer) = 0;
    virtual bool IsHidden() = 0;
};

class AdvancedStringOption : public virtual AdvancedOption {
public:
    virtual std::string GetDefaultValue() = 0;
    virtual std::string GetValidCharacters() = 0;
    virtual std::string GetValue() = 0;
    virtual void SetValue(const std::string& value) = 0;
    virtual bool IsHidden() = 0;
    virtual void Print(TarnCtl::Lib::ObjectPrinter* printer) = 0;
};

class AdvancedOptionBranch : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual std::string GetBranchName() = 0;
    // Integer options first, then string options, in kernel order; hidden
    // ones only when asked. The root branch has none.
    virtual std::vector<std::unique_ptr<AdvancedOption>> GetOptions(bool includeHidden) = 0;
    // Throws "Unable to find option " + name when absent.
    virtual std::unique_ptr<AdvancedOption> GetOptionByName(const std::string& name) = 0;
    // Every kernel branch and then "UserVars" (root only).
    virtual std::vector<std::unique_ptr<AdvancedOptionBranch>> GetBranches() = 0;
    // Throws "Unable to find branch " + name when absent.
    virtual std::unique_ptr<AdvancedOptionBranch> GetBranchByName(const std::string& name) = 0;
    // Moves the values kept in the old host configuration file into the store.
    virtual bool UpgradeConfigToConfigStore() = 0;
    virtual void Print(TarnCtl::Lib::ObjectPrinter* printer) = 0;
};

// What a change needs before it takes effect.
struct OptionImpact {
    bool reboot = false;
    bool maintenanceMode = false;
    bool operator==(const OptionImpact&) const = default;
};

// Flags of a user-defined option (bit set).
enum UserOptFlags : unsigned int {
    USER_OPT_HIDDEN = 1,
    USER_OPT_HOST_SPECIFIC = 2,
    USER_OPT_REBOOT_REQUIRED = 4,
    USER_OPT_MAINTENANCE_MODE_REQUIRED = 8,
};

}  // namespace HostCtl::Adv
