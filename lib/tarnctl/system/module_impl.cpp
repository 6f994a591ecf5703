// Kernel modules: loading through the module loader library, options and the
// enabled flag in the configuration store (validated against the module file's
// declared parameters before anything is stored), file metadata, loggers, the
// containing software bundle, and the boot-time load of the configured modules.
#include "system/module_impl.h"

#include <set>

#include <boost/filesystem.hpp>
#include <boost/regex.hpp>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include "hostctl/exception.h"
#include "platform/boot.h"
#include "platform/bootconfig.h"
#include "platform/hostroot.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/modloader.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"

using HaldenConfigStore::ConfigStore;
using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::ConfigStoreTransaction;
using HostCtl::Lib::HostCtlException;

namespace TarnCtl::System {

namespace {

const char* kTag = "ModuleImpl";

std::shared_ptr<ConfigStore> Store() { return ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace); }

ConfigStoreObjectId SettingsKey() { return ConfigStoreObjectId("module_settings", "tarnos", "halden"); }

std::string StripObjectSuffix(const std::string& name) {
    if (name.size() > 2 && name.compare(name.size() - 2, 2, ".o") == 0) return name.substr(0, name.size() - 2);
    return name;
}

std::string RecordText(const char* text, size_t size) { return std::string(text, strnlen(text, size)); }

std::string NodeText(xmlNodePtr node) {
    xmlChar* content = xmlNodeGetContent(node);
    std::string out = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return out;
}

bool IsElement(xmlNodePtr node, const char* name) {
    return node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

// Name and acceptance level of the bundle descriptor `doc` when its file list
// names `filePath`.
bool BundleHolds(xmlDocPtr doc, const std::string& filePath, std::pair<std::string, std::string>* out) {
    xmlNodePtr root = xmlDocGetRootElement(doc);
    if (!root || !IsElement(root, "zib")) return false;
    std::string name, level;
    bool holds = false;
    for (xmlNodePtr n = root->children; n; n = n->next) {
        if (IsElement(n, "name")) name = NodeText(n);
        else if (IsElement(n, "acceptance-level")) level = NodeText(n);
        else if (IsElement(n, "file-list"))
            for (xmlNodePtr f = n->children; f; f = f->next) {
                if (!IsElement(f, "file")) continue;
                std::string file = NodeText(f);
                if (file.empty()) continue;
                if (file[0] != '/') file = "/" + file;
                if (file == filePath) holds = true;
            }
    }
    if (holds) *out = {name, level};
    return holds;
}

}  // namespace

// ---- Construction and names -------------------------------------------------------

std::string ModuleImpl::FileNameFromPath(const std::string& text) {
    // The directory part is taken atomically: once the last '/' is found the
    // engine never retries shorter prefixes, so a path ending in '/' (or a run
    // of slashes) fails in linear time instead of backtracking.
    static const boost::regex pattern("\\A(?>[\\s\\S]*/)?([^/]+)\\z");
    boost::smatch m;
    if (!boost::regex_match(text, m, pattern)) throw HostCtlException("Unable to determine filename from " + text);
    return m[1].str();
}

std::string ModuleImpl::CheckModuleFile(const std::string& name) {
    if (name.empty()) return "";
    std::vector<std::string> candidates;
    if (name[0] == '/') candidates.push_back(name);
    if (name.find('/') == std::string::npos) {
        candidates.push_back(std::string(kModuleDirectory) + "/" + name);
        candidates.push_back(std::string(kModuleDirectory) + "/" + name + ".o");
    }
    for (const auto& c : candidates) {
        try {
            if (HostCtl::Misc::HostFileExists(c)) return c;
        } catch (const HostCtlException&) {
            // A path leaving the host root names no module file.
        }
    }
    return "";
}

bool ModuleImpl::IsValidName(const std::string& name) {
    if (name.empty()) return false;
    Util::Sysinfo si(KSI_NODE_system_modules);
    si.SetThrowOnError(false);
    si.SetInstance(name);
    Ksi::Modules::Loaded loaded{};
    if (si.Get(&loaded, sizeof(loaded)) == TARN_OK) return true;
    return !CheckModuleFile(name).empty();
}

std::vector<std::string> ModuleImpl::GetModulesFromCs() {
    std::vector<std::string> out;
    for (const auto& o : Store()->List(std::make_shared<HaldenConfigStore::FilterSpecObject>(SettingsKey())))
        out.push_back(o->GetConfigStoreObjectId().GetInstanceId());
    return out;
}

std::vector<std::string> ModuleImpl::GetAllModuleNames() {
    std::set<std::string> names;
    boost::system::error_code ec;
    std::string dir = Platform::HostPath(kModuleDirectory);
    for (boost::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (boost::filesystem::is_regular_file(it->path(), ec))
            names.insert(StripObjectSuffix(it->path().filename().string()));
    Util::Sysinfo si(KSI_NODE_system_modules);
    std::vector<std::string> loaded;
    si.List(loaded);
    names.insert(loaded.begin(), loaded.end());
    for (const auto& n : GetModulesFromCs()) names.insert(n);
    return {names.begin(), names.end()};
}

std::vector<HostCtl::System::ModuleNamespace> ModuleImpl::GetLoadedNamespaces() {
    std::vector<HostCtl::System::ModuleNamespace> out;
    Util::Sysinfo si(KSI_NODE_system_modloader_namespaces);
    std::vector<std::string> names;
    si.List(names);
    for (const auto& ns : names) {
        Util::Sysinfo v(KSI_NODE_system_modloader_namespaces_versions);
        v.SetInstance(ns);
        std::vector<std::string> versions;
        v.List(versions);
        for (const auto& version : versions) out.push_back({ns, version});
    }
    return out;
}

ModuleImpl::ModuleImpl(const std::string& nameOrPath) {
    std::string last = FileNameFromPath(nameOrPath);
    _name = StripObjectSuffix(last);
    if (nameOrPath.find('/') != std::string::npos) {
        _filePath = nameOrPath;
    } else {
        _filePath = CheckModuleFile(_name);
        if (_filePath.empty()) _filePath = std::string(kModuleDirectory) + "/" + last;
    }
    _fileName = FileNameFromPath(_filePath);
    std::string text;
    if (auto o = StoredSettings()) o->GetValue("options", &text);
    _options = ParseOptions(text);
}

ConfigStoreObjectId ModuleImpl::SettingsId() const {
    ConfigStoreObjectId id = SettingsKey();
    id.SetInstanceId(_name);
    return id;
}

std::shared_ptr<ConfigStoreObject> ModuleImpl::StoredSettings() const { return Store()->Get(SettingsId()); }

void ModuleImpl::WriteSettings(const std::function<void(ConfigStoreObject&)>& change) {
    auto store = Store();
    // Boot replays what the store holds: nothing to record then.
    if (store->IsBoot()) return;
    ConfigStoreTransaction txn(store);
    auto object = store->Get(SettingsId());
    if (!object) object = std::make_shared<ConfigStoreObject>(SettingsId());
    change(*object);
    store->Write(object);
    txn.Commit();
}

// ---- Run-time facts ------------------------------------------------------------------

void ModuleImpl::Refresh() {
    _general.reset();
    _needRefresh = false;
    Util::Sysinfo si(KSI_NODE_system_modules);
    si.SetThrowOnError(false);
    si.SetInstance(_name);
    Ksi::Modules::Loaded loaded{};
    if (si.Get(&loaded, sizeof(loaded)) != TARN_OK) return;
    try {
        Util::Sysinfo g(KSI_NODE_system_modules_general);
        g.SetInstance(_name);
        Ksi::Modules::General record{};
        g.Get(&record, sizeof(record));
        _general = record;
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Failed to get info for module %s: %s\n", kTag, _name.c_str(),
                           e.GetDetailedMessage().c_str());
    }
}

void ModuleImpl::CheckLoaded() {
    if (_needRefresh) Refresh();
    if (!_general) throw HostCtlException("Cannot access module instance.");
}

bool ModuleImpl::IsLoaded() {
    if (_needRefresh) Refresh();
    return _general.has_value();
}

std::string ModuleImpl::GetVersion() {
    CheckLoaded();
    return RecordText(_general->version, sizeof(_general->version));
}
uint32_t ModuleImpl::GetModuleId() { return CheckLoaded(), _general->moduleId; }
uint64_t ModuleImpl::GetReadOnlyAddr() { return CheckLoaded(), _general->readOnlyAddr; }
uint32_t ModuleImpl::GetReadOnlyLength() { return CheckLoaded(), _general->readOnlyLength; }
uint64_t ModuleImpl::GetWritableAddr() { return CheckLoaded(), _general->writableAddr; }
uint32_t ModuleImpl::GetWritableLength() { return CheckLoaded(), _general->writableLength; }
uint64_t ModuleImpl::GetTextBaseAddr() { return CheckLoaded(), _general->textBase; }
uint64_t ModuleImpl::GetDataBaseAddr() { return CheckLoaded(), _general->dataBase; }
uint64_t ModuleImpl::GetBssBaseAddr() { return CheckLoaded(), _general->bssBase; }
uint32_t ModuleImpl::GetUseCount() { return CheckLoaded(), _general->useCount; }
std::string ModuleImpl::GetLoadedOptions() {
    CheckLoaded();
    return RecordText(_general->options, sizeof(_general->options));
}
std::string ModuleImpl::GetBuildType() {
    CheckLoaded();
    return RecordText(_general->buildType, sizeof(_general->buildType));
}

// ---- Load and unload ---------------------------------------------------------------

void ModuleImpl::Load(const std::string& options, bool skipValidation) {
    if (!IsValidName(_name)) throw HostCtlException("Invalid module name " + _name);
    std::string text = options.empty() ? GetOptionString() : options;
    if (!options.empty() && !skipValidation) ValidateOptions(_name, ParseOptions(options), FileInfo());
    TARN_ReturnStatus st = TARNMod_Load(_name.c_str(), text.c_str());
    _needRefresh = true;
    // A module that is already loaded is what the caller wanted.
    if (st != TARN_OK && st != TARN_BUSY)
        throw Lib::SysinfoException("Unable to load module " + _name + ": " + TARN_ReturnStatusToString(st), st);
    if (st == TARN_OK)
        TarnCtl_LogInfoInt("%s: Loaded module %s with options '%s'\n", kTag, _name.c_str(), text.c_str());
}

void ModuleImpl::Unload() {
    TARN_ReturnStatus st = TARNMod_Unload(_name.c_str());
    _needRefresh = true;
    if (st != TARN_OK)
        throw Lib::SysinfoException("Unable to unload module " + _name + ": " + TARN_ReturnStatusToString(st), st);
    TarnCtl_LogInfoInt("%s: Unloaded module %s\n", kTag, _name.c_str());
}

// ---- Options and enabled flag ----------------------------------------------------

std::string ModuleImpl::GetOptionString() {
    std::string text;
    if (auto o = StoredSettings()) o->GetValue("options", &text);
    return text;
}

std::map<std::string, std::string> ModuleImpl::GetOptions() {
    _options = ParseOptions(GetOptionString());
    return _options;
}

void ModuleImpl::SetOptionString(const std::string& options, bool skipValidation) {
    ModuleOptionMap parsed = ParseOptions(options);
    if (!skipValidation) ValidateOptions(_name, parsed, FileInfo());
    WriteSettings([&](ConfigStoreObject& o) { o.SetValue("options", options); });
    _options = std::move(parsed);
}

void ModuleImpl::SetOptions(const std::map<std::string, std::string>& options) {
    SetOptionString(FormatOptions(options), false);
}

void ModuleImpl::AppendOptionString(const std::string& options, bool skipValidation) {
    ModuleOptionMap added = ParseOptions(options);
    if (!skipValidation) ValidateOptions(_name, added, FileInfo());
    ModuleOptionMap merged = ParseOptions(GetOptionString());
    // Options already configured keep their values.
    merged.insert(added.begin(), added.end());
    SetOptionString(FormatOptions(merged), true);
}

void ModuleImpl::CopyParameters(const std::string& fromModule, const std::vector<std::string>& names) {
    if (!IsValidName(fromModule)) throw HostCtlException("Unknown module: " + fromModule);
    if (!GetOptionString().empty())
        throw HostCtlException("Cannot set parameters for module '" + _name +
                               "', since parameters are already configured for module.");
    ModuleOptionMap source = ModuleImpl(fromModule).GetOptions();
    ModuleOptionMap copied;
    for (const auto& name : names) {
        if (!FileInfo().FindParameter(name))
            throw HostCtlException("Module '" + _name + "' does not define parameter '" + name + "'");
        if (auto it = source.find(name); it != source.end()) copied[name] = it->second;
    }
    SetOptions(copied);
}

bool ModuleImpl::GetEnabled() {
    bool enabled = true;
    if (auto o = StoredSettings()) o->GetValue("enabled", &enabled);
    return enabled;
}

void ModuleImpl::SetEnabled(bool enabled) {
    WriteSettings([&](ConfigStoreObject& o) { o.SetValue("enabled", enabled); });
}

// ---- File metadata -----------------------------------------------------------------

const ModuleFileInfo& ModuleImpl::FileInfo() {
    if (!_info) _info = ReadModuleHeader(_filePath);
    return *_info;
}

std::vector<HostCtl::System::ModuleParam> ModuleImpl::GetParameters() { return FileInfo().parameters; }
HostCtl::System::ModuleNamespace ModuleImpl::GetNamespace() { return FileInfo().providedNamespace; }
std::string ModuleImpl::GetFileVersion() { return FileInfo().Fact("version"); }
std::string ModuleImpl::GetLicense() { return FileInfo().Fact("license"); }
std::vector<HostCtl::System::ModuleNamespace> ModuleImpl::GetRequiredNamespaces() {
    return FileInfo().requiredNamespaces;
}

void ModuleImpl::FindZib() {
    if (_zib) return;
    std::vector<std::string> files;
    boost::system::error_code ec;
    std::string dir = Platform::HostPath(kZibDirectory);
    for (boost::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == ".xml") files.push_back(it->path().filename().string());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        std::string hostFile = std::string(kZibDirectory) + "/" + f;
        xmlDocPtr doc = xmlReadFile(Platform::HostPath(hostFile).c_str(), nullptr,
                                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
        if (!doc) {
            TarnCtl_LogWarnInt("%s: haldencli: Failed to parse XML in '%s' when looking for acceptance level for "
                               "module '%s'\n",
                               kTag, hostFile.c_str(), _name.c_str());
            continue;
        }
        std::pair<std::string, std::string> found;
        bool holds = BundleHolds(doc, _filePath, &found);
        xmlFreeDoc(doc);
        if (holds) {
            _zib = found;
            return;
        }
    }
    _zib = std::make_pair(std::string("unknown"), std::string("unknown"));
}

std::string ModuleImpl::GetContainingZIB() { return FindZib(), _zib->first; }
std::string ModuleImpl::GetZIBAcceptanceLevel() { return FindZib(), _zib->second; }

void ModuleImpl::SetLockRankShimLoad() {
    throw HostCtlException("Setting the lock-rank shim load of a module is not available yet");
}

// ---- Loggers ---------------------------------------------------------------------------

HostCtl::System::LogLevel ModuleImpl::GetLogLevel(const std::string& name) {
    Util::Sysinfo si(KSI_NODE_system_modules_loglevels);
    si.SetInstance(_name);
    si.AddInstancePath(name);
    Ksi::Modules::LogLevel r{};
    si.Get(&r, sizeof(r));
    return {name, r.level, r.defaultLevel};
}

std::vector<std::string> ModuleImpl::GetLogLevelNames() {
    Util::Sysinfo si(KSI_NODE_system_modules_loglevels);
    si.SetInstance(_name);
    std::vector<std::string> names;
    si.List(names);
    return names;
}

std::vector<HostCtl::System::LogLevel> ModuleImpl::GetAllLogLevels() {
    std::vector<HostCtl::System::LogLevel> out;
    for (const auto& n : GetLogLevelNames()) out.push_back(GetLogLevel(n));
    return out;
}

void ModuleImpl::SetLogLevel(const std::string& name, uint32_t level) {
    Util::Sysinfo si(KSI_NODE_system_modules_loglevels);
    si.SetInstance(_name);
    si.AddInstancePath(name);
    si.AddInput(level);
    si.SetDefaultErrorMessage(("Unable to set log level " + name + " of module " + _name).c_str());
    si.Set();
}

void ModuleImpl::SetDefaultLogLevel(const std::string& name) {
    SetLogLevel(name, GetLogLevel(name).defaultLevel);
}

// ---- Boot ----------------------------------------------------------------------------

void ModuleImpl::RestoreSettings() {
    auto object = StoredSettings();
    if (!object) return;
    std::string text;
    object->GetValue("options", &text);
    try {
        ModuleOptionMap parsed = ParseOptions(text);
        ValidateOptions(_name, parsed, FileInfo());
        _options = std::move(parsed);
    } catch (const HostCtlException& e) {
        TarnCtl_LogErrorInt("%s: Failed to validate module \"%s\" options (\"%s\")\n", kTag, _name.c_str(),
                            text.c_str());
        throw;
    }
}

void ModuleImpl::RestoreAllModules() {
    std::set<std::string> invalid;
    for (const auto& name : GetModulesFromCs()) {
        try {
            ModuleImpl(name).RestoreSettings();
        } catch (const HostCtlException&) {
            invalid.insert(name);
        }
    }
    size_t failed = 0;
    for (const auto& name : Platform::BootConfig::Modules()) {
        try {
            ModuleImpl m(name);
            if (!m.GetEnabled()) {
                TarnCtl_LogInfoInt("%s: Module %s is disabled, not loading it\n", kTag, name.c_str());
                continue;
            }
            // Options that no longer validate are left out rather than
            // keeping the driver from loading at all.
            std::string options = invalid.count(name) ? "" : m.GetOptionString();
            TARN_ReturnStatus st = TARNMod_Load(name.c_str(), options.c_str());
            if (st != TARN_OK && st != TARN_BUSY)
                throw HostCtlException("Unable to load module " + name + ": " + TARN_ReturnStatusToString(st));
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: %s\n", kTag, e.GetDetailedMessage().c_str());
            ++failed;
        }
    }
    if (failed)
        throw HostCtlException(HostCtl::Misc::StrPrintf("Failed to load %zu of the boot modules", failed));
}

// ---- Printing ---------------------------------------------------------------------------

void ModuleImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("Module");
    printer->BeginObject();
    printer->Print("Name", _name);
    printer->Print("File Path", _filePath);
    printer->Print("Loaded", IsLoaded());
    if (_general) {
        printer->Print("Module ID", _general->moduleId);
        printer->Print("Version", RecordText(_general->version, sizeof(_general->version)));
        printer->Print("Use Count", _general->useCount);
    }
    printer->Print("Enabled", GetEnabled());
    printer->Print("Options", GetOptionString());
    printer->EndObject();
}

namespace {
// Drivers come before the domains that use their devices.
const Platform::Boot::Step kRestoreModules("system.modules", 90, [] { ModuleImpl::RestoreAllModules(); });
}  // namespace

}  // namespace TarnCtl::System
