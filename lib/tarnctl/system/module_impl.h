// One kernel module: run-time facts from the kernel, metadata from its file,
// and the options and enabled flag kept in the configuration store
// (halden/tarnos/module_settings, one instance per module).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hostctl/system_modules.h"
#include "ksi/modules.h"
#include "lib/tarnctl_object.h"
#include "platform/configstore.h"
#include "system/module_info.h"
#include "system/module_options.h"

namespace TarnCtl::System {

inline constexpr const char* kModuleDirectory = "/usr/lib/quillon/tarnmod";
inline constexpr const char* kZibDirectory = "/var/db/haldenimg/zibs";

class ModuleImpl : public HostCtl::System::Module, public TarnCtl::Lib::TarnCtlObject {
public:
    // `nameOrPath`: a module name (looked up in the module directory as given,
    // then with ".o") or a path to a module file.
    explicit ModuleImpl(const std::string& nameOrPath);

    void Refresh() override;
    std::string GetName() const override { return _name; }

    bool IsLoaded() override;
    std::string GetVersion() override;
    uint32_t GetModuleId() override;
    uint64_t GetReadOnlyAddr() override;
    uint32_t GetReadOnlyLength() override;
    uint64_t GetWritableAddr() override;
    uint32_t GetWritableLength() override;
    uint64_t GetTextBaseAddr() override;
    uint64_t GetDataBaseAddr() override;
    uint64_t GetBssBaseAddr() override;
    uint32_t GetUseCount() override;
    void Load(const std::string& options, bool skipValidation) override;
    void Unload() override;
    void SetOptions(const std::map<std::string, std::string>& options) override;
    std::map<std::string, std::string> GetOptions() override;
    std::string GetOptionString() override;
    void SetOptionString(const std::string& options, bool skipValidation) override;
    void AppendOptionString(const std::string& options, bool skipValidation) override;
    void CopyParameters(const std::string& fromModule, const std::vector<std::string>& names) override;
    bool GetEnabled() override;
    void SetEnabled(bool enabled) override;
    std::string GetFileName() override { return _fileName; }
    std::vector<HostCtl::System::ModuleParam> GetParameters() override;
    HostCtl::System::ModuleNamespace GetNamespace() override;
    std::string GetFileVersion() override;
    std::string GetLicense() override;
    std::vector<HostCtl::System::ModuleNamespace> GetRequiredNamespaces() override;
    std::string GetFilePath() override { return _filePath; }
    HostCtl::System::LogLevel GetLogLevel(const std::string& name) override;
    std::vector<std::string> GetLogLevelNames() override;
    std::vector<HostCtl::System::LogLevel> GetAllLogLevels() override;
    void SetLogLevel(const std::string& name, uint32_t level) override;
    void SetDefaultLogLevel(const std::string& name) override;
    void SetLockRankShimLoad() override;
    std::string GetBuildType() override;
    std::string GetContainingZIB() override;
    std::string GetZIBAcceptanceLevel() override;
    void RestoreSettings() override;
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    // A name of a loaded module, or one whose file exists.
    static bool IsValidName(const std::string& name);
    // The file of module `name`: the name as given, then in the module
    // directory, then with ".o"; empty when none exists.
    static std::string CheckModuleFile(const std::string& name);
    // Names of the modules with settings in the store.
    static std::vector<std::string> GetModulesFromCs();
    // Every module the host knows: files of the module directory, loaded
    // modules and modules with settings, sorted by name.
    static std::vector<std::string> GetAllModuleNames();
    // The last path component of `text`; throws "Unable to determine filename
    // from " + text when there is none (a path ending in '/').
    static std::string FileNameFromPath(const std::string& text);
    // The namespaces loaded modules provide, one entry per version, by name.
    static std::vector<HostCtl::System::ModuleNamespace> GetLoadedNamespaces();
    // Boot: checks the stored settings of every module, then loads the boot
    // configuration's modules that are enabled, with their stored options.
    static void RestoreAllModules();

    // The option string the loaded module was loaded with (the kernel's record).
    std::string GetLoadedOptions();

    // The parsed file metadata (read on first use).
    const ModuleFileInfo& FileInfo();

private:
    void CheckLoaded();
    HaldenConfigStore::ConfigStoreObjectId SettingsId() const;
    std::shared_ptr<HaldenConfigStore::ConfigStoreObject> StoredSettings() const;
    // Writes the settings object with `change` applied, outside boot.
    void WriteSettings(const std::function<void(HaldenConfigStore::ConfigStoreObject&)>& change);
    void FindZib();

    std::string _name;
    std::string _fileName;
    std::string _filePath;
    bool _needRefresh = true;
    std::optional<Ksi::Modules::General> _general;  // set while the module is loaded
    std::optional<ModuleFileInfo> _info;
    std::optional<std::pair<std::string, std::string>> _zib;  // bundle name, acceptance level
    ModuleOptionMap _options;
};

}  // namespace TarnCtl::System
