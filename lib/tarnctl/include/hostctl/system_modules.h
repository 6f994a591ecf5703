// Kernel modules and kernel boot options: the module objects (load, unload,
// options kept across reboots, metadata of the module file) and the typed boot
// options that decide how the next boot goes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hostctl/object.h"
#include "hostctl/system.h"

namespace HostCtl::System {

// A parameter a module file declares: its name, C type ("int", "array of
// uint", "charp", ...) and description.
struct ModuleParam {
    std::string name;
    std::string type;
    std::string description;
};

// A namespace a module provides or requires, with its version.
class ModuleNamespace {
public:
    std::string name;
    std::string version;
};

class Module : public virtual HostCtl::Lib::HostCtlObject {
public:
    // ---- Run-time facts of a loaded module; a module that is not loaded
    // throws "Cannot access module instance.".
    virtual bool IsLoaded() = 0;
    virtual std::string GetVersion() = 0;
    virtual uint32_t GetModuleId() = 0;
    virtual uint64_t GetReadOnlyAddr() = 0;
    virtual uint32_t GetReadOnlyLength() = 0;
    virtual uint64_t GetWritableAddr() = 0;
    virtual uint32_t GetWritableLength() = 0;
    virtual uint64_t GetTextBaseAddr() = 0;
    virtual uint64_t GetDataBaseAddr() = 0;
    virtual uint64_t GetBssBaseAddr() = 0;
    virtual uint32_t GetUseCount() = 0;

    // Loads the module; empty `options` means the stored option string. A
    // module that is already loaded counts as loaded.
    virtual void Load(const std::string& options, bool skipValidation) = 0;
    virtual void Unload() = 0;

    // ---- Options kept in the configuration store for the next load.
    virtual void SetOptions(const std::map<std::string, std::string>& options) = 0;
    virtual std::map<std::string, std::string> GetOptions() = 0;
    virtual std::string GetOptionString() = 0;
    virtual void SetOptionString(const std::string& options, bool skipValidation) = 0;
    virtual void AppendOptionString(const std::string& options, bool skipValidation) = 0;
    virtual void CopyParameters(const std::string& fromModule, const std::vector<std::string>& names) = 0;
    virtual bool GetEnabled() = 0;
    virtual void SetEnabled(bool enabled) = 0;

    // ---- Metadata of the module file.
    virtual std::string GetFileName() = 0;
    virtual std::vector<ModuleParam> GetParameters() = 0;
    virtual ModuleNamespace GetNamespace() = 0;
    virtual std::string GetFileVersion() = 0;
    virtual std::string GetLicense() = 0;
    virtual std::vector<ModuleNamespace> GetRequiredNamespaces() = 0;
    virtual std::string GetFilePath() = 0;

    // ---- The module's loggers.
    virtual LogLevel GetLogLevel(const std::string& name) = 0;
    virtual std::vector<std::string> GetLogLevelNames() = 0;
    virtual std::vector<LogLevel> GetAllLogLevels() = 0;
    virtual void SetLogLevel(const std::string& name, uint32_t level) = 0;
    virtual void SetDefaultLogLevel(const std::string& name) = 0;

    virtual void SetLockRankShimLoad() = 0;
    virtual std::string GetBuildType() = 0;
    // The software bundle holding the module file and its acceptance level
    // ("unknown" when no bundle names the file).
    virtual std::string GetContainingZIB() = 0;
    virtual std::string GetZIBAcceptanceLevel() = 0;

    // Boot: checks the stored options before the module is loaded with them.
    virtual void RestoreSettings() = 0;
};

class KernelOption : public virtual HostCtl::Lib::HostCtlObject {
public:
    // Numbers are fixed; a string option has a type of its own.
    enum OptionType : uint32_t {
        TYPE_UNKNOWN = 0,
        TYPE_BOOL = 1,
        TYPE_INT32 = 2,
        TYPE_UINT8 = 3,
        TYPE_UINT32 = 4,
        TYPE_INT64 = 5,
        TYPE_STRING = 6,
    };
    virtual OptionType GetType() = 0;
    virtual std::string GetDescription() = 0;
    // The values as text (Bool options: "TRUE" / "FALSE").
    virtual std::string GetDefaultValueString() = 0;
    virtual std::string GetValueString() = 0;
    virtual std::string GetRuntimeValueString() = 0;
};

// Typed views: default, configured (for the next boot) and run-time value;
// SetValue records a value for the next boot.
template <typename T>
class KernelTypedOption : public virtual KernelOption {
public:
    virtual T GetDefaultValue() = 0;
    virtual T GetValue() = 0;
    virtual T GetRuntimeValue() = 0;
    virtual void SetValue(T value) = 0;
};

using KernelBoolOption = KernelTypedOption<bool>;
using KernelInt32Option = KernelTypedOption<int32_t>;
using KernelInt64Option = KernelTypedOption<int64_t>;
using KernelUint8Option = KernelTypedOption<uint8_t>;
using KernelUint32Option = KernelTypedOption<uint32_t>;
using KernelStringOption = KernelTypedOption<std::string>;

}  // namespace HostCtl::System
