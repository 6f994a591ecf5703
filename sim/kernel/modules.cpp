// The simulated kernel's modules and boot options. A new host root gets the
// module files and bundle descriptors built with the library, and a boot
// configuration naming the modules loaded at boot. The module loader loads and
// unloads through /system/modules (so injected faults on that node, instance =
// module name, script loader failures); a loaded module has a general record
// carrying the options it was loaded with and one record per logger. At every
// kernel reset the boot-option record is filled from the defaults, overridden
// by the boot configuration's "kernelopt" line: what was set for the next boot
// is in effect after it.
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include <strings.h>

#include <rapidjson/document.h>

#include "hostctl/status.h"
#include "ksi/modules.h"
#include "platform/bootconfig.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/modloader.h"
#include "sim/kernel.h"

namespace TarnSim {

namespace Generated {
struct EmbeddedFile {
    const char* path;
    const unsigned char* data;
    size_t size;
    const char* version;
    const char* provides;
};
extern const EmbeddedFile kModuleFiles[];
extern const size_t kModuleFileCount;
}  // namespace Generated

namespace {

const char* kArea = "modules";
const char* kModuleDir = "/usr/lib/quillon/tarnmod/";

void CopyText(char* out, size_t size, const std::string& text) {
    std::memset(out, 0, size);
    std::memcpy(out, text.data(), std::min(text.size(), size - 1));
}

const Generated::EmbeddedFile* FindModuleFile(const std::string& name) {
    for (size_t i = 0; i < Generated::kModuleFileCount; ++i) {
        const auto& f = Generated::kModuleFiles[i];
        std::string path = f.path;
        if (path == kModuleDir + name || path == kModuleDir + name + ".o") return &f;
    }
    return nullptr;
}

// Files a host keeps once it has them: a later reset leaves them (and any
// change made to them) alone.
void InstallFiles() {
    for (size_t i = 0; i < Generated::kModuleFileCount; ++i) {
        const auto& f = Generated::kModuleFiles[i];
        if (HostCtl::Misc::HostFileExists(f.path)) continue;
        HostCtl::Misc::WriteHostFileAtomic(f.path, std::string(reinterpret_cast<const char*>(f.data), f.size),
                                           0644);
    }
}

void InitModules(KernelState& state, const rapidjson::Value* section) {
    std::string loggers;
    std::vector<std::string> boot;
    if (section && section->IsObject()) {
        if (auto it = section->FindMember("boot"); it != section->MemberEnd() && it->value.IsArray())
            for (const auto& m : it->value.GetArray())
                if (m.IsString()) boot.push_back(m.GetString());
        if (auto it = section->FindMember("loggers"); it != section->MemberEnd() && it->value.IsArray())
            for (const auto& l : it->value.GetArray())
                if (l.IsString()) loggers += std::string(loggers.empty() ? "" : " ") + l.GetString();
    }
    state.SetAreaValue(kArea, "loggers", loggers);
    InstallFiles();
    if (!HostCtl::Misc::HostFileExists(Platform::BootConfig::kPath)) Platform::BootConfig::SetModules(boot);
}

bool ModuleFileExists(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return false;
    return HostCtl::Misc::HostFileExists(kModuleDir + name) ||
           HostCtl::Misc::HostFileExists(kModuleDir + name + ".o");
}

// The namespace's record counts its versions; it goes with the last one.
void UpdateNamespace(KernelState& state, const std::string& ns) {
    auto versions = state.Instances("", KSI_NODE_system_modloader_namespaces_versions, {ns});
    if (versions.empty())
        state.Remove("", KSI_NODE_system_modloader_namespaces, {ns});
    else
        state.Put(KSI_NODE_system_modloader_namespaces, {ns},
                  Ksi::Modules::Namespace{static_cast<uint32_t>(versions.size())});
}

TARN_ReturnStatus Load(Call& c, const std::string& name, const std::string& options) {
    if (!ModuleFileExists(name)) return TARN_NOT_FOUND;
    if (c.state.Has("", KSI_NODE_system_modules, {name})) return TARN_BUSY;
    Ksi::Modules::General g{};
    if (options.size() >= sizeof(g.options)) {
        RaiseEvent(HostCtl::Misc::StrPrintf("Option string for module %s is longer than %zu characters",
                                            name.c_str(), sizeof(g.options) - 1));
        return TARN_BAD_PARAM;
    }
    uint32_t id = static_cast<uint32_t>(std::stoul(c.state.GetAreaValue(kArea, "nextId", "1")));
    c.state.SetAreaValue(kArea, "nextId", std::to_string(id + 1));
    g.moduleId = id;
    const Generated::EmbeddedFile* f = FindModuleFile(name);
    CopyText(g.version, sizeof(g.version), f && f->version ? f->version : "");
    CopyText(g.buildType, sizeof(g.buildType), "release");
    uint64_t base = 0x420000000000ULL + static_cast<uint64_t>(id) * 0x1000000ULL;
    g.readOnlyAddr = base;
    g.readOnlyLength = 0x20000;
    g.writableAddr = base + 0x400000;
    g.writableLength = 0x8000;
    g.textBase = base;
    g.dataBase = base + 0x400000;
    g.bssBase = base + 0x408000;
    CopyText(g.options, sizeof(g.options), options);
    if (f && f->provides) {
        std::string provides = f->provides;
        size_t hash = provides.rfind('#');
        if (hash != std::string::npos && hash > 0) {
            Ksi::Modules::NamespaceVersion v{};
            CopyText(v.module, sizeof(v.module), name);
            c.state.Put(KSI_NODE_system_modloader_namespaces_versions,
                        {provides.substr(0, hash), provides.substr(hash + 1)}, v);
            UpdateNamespace(c.state, provides.substr(0, hash));
        }
    }
    c.state.Put(KSI_NODE_system_modules, {name}, Ksi::Modules::Loaded{id});
    c.state.Put(KSI_NODE_system_modules_general, {name}, g);
    std::string loggers = c.state.GetAreaValue(kArea, "loggers");
    size_t pos = 0;
    while (pos < loggers.size()) {
        size_t end = loggers.find(' ', pos);
        if (end == std::string::npos) end = loggers.size();
        if (end > pos)
            c.state.Put(KSI_NODE_system_modules_loglevels, {name, loggers.substr(pos, end - pos)},
                        Ksi::Modules::LogLevel{0, 0});
        pos = end + 1;
    }
    return TARN_OK;
}

TARN_ReturnStatus Unload(Call& c, const std::string& name) {
    Ksi::Modules::General g{};
    if (!c.state.Has("", KSI_NODE_system_modules, {name})) return TARN_MODULE_NOT_LOADED;
    if (c.state.Read(KSI_NODE_system_modules_general, {name}, &g) && g.useCount > 0) return TARN_BUSY;
    c.state.Remove("", KSI_NODE_system_modules, {name});
    c.state.Remove("", KSI_NODE_system_modules_general, {name});
    for (const auto& logger : c.state.Instances("", KSI_NODE_system_modules_loglevels, {name}))
        c.state.Remove("", KSI_NODE_system_modules_loglevels, {name, logger});
    for (const auto& path : c.state.AllInstances("", KSI_NODE_system_modloader_namespaces_versions)) {
        Ksi::Modules::NamespaceVersion v{};
        if (path.size() != 2 || !c.state.Read(KSI_NODE_system_modloader_namespaces_versions, path, &v)) continue;
        if (std::string(v.module, strnlen(v.module, sizeof(v.module))) != name) continue;
        c.state.Remove("", KSI_NODE_system_modloader_namespaces_versions, path);
        UpdateNamespace(c.state, path[0]);
    }
    return TARN_OK;
}

// Set on /system/modules (instance: module): inputs "load", options or "unload".
TARN_ReturnStatus ModulesSet(Call& c) {
    std::string op, options;
    if (c.instance.size() != 1 || !c.InputText(0, &op)) return TARN_BAD_PARAM;
    if (op == "load") {
        c.InputText(1, &options);
        return Load(c, c.instance[0], options);
    }
    if (op == "unload") return Unload(c, c.instance[0]);
    return TARN_BAD_PARAM;
}

TARN_ReturnStatus LogLevelSet(Call& c) {
    Ksi::Modules::LogLevel r{};
    int64_t level = 0;
    if (c.instance.size() != 2 || !c.state.Read(c.node, c.instance, &r)) return TARN_NOT_FOUND;
    if (!c.InputInt(0, &level) || level < 0 || level > UINT32_MAX) return TARN_BAD_PARAM;
    r.level = static_cast<uint32_t>(level);
    c.state.Put(c.node, c.instance, r);
    return TARN_OK;
}

TARN_ReturnStatus Refuse(Call&, const void*, unsigned int) { return TARN_NOT_SUPPORTED; }

// ---- Boot options -------------------------------------------------------------

// Writes `text` as the row's run-time value; false when the text does not fit
// the row's type (the kernel then keeps the default).
bool PutValue(std::string& record, const Ksi::BootOptions::Row& row, const std::string& text) {
    std::string type = row.type;
    char* at = record.data() + row.offset;
    if (type == "Bool") {
        if (strcasecmp(text.c_str(), "TRUE") == 0 || text == "1")
            *at = 1;
        else if (strcasecmp(text.c_str(), "FALSE") == 0 || text == "0")
            *at = 0;
        else
            return false;
        return true;
    }
    if (type == "string") {
        if (text.size() >= row.size) return false;
        std::memset(at, 0, row.size);
        std::memcpy(at, text.data(), text.size());
        return true;
    }
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    bool isSigned = type == "int32" || type == "int64";
    if (!isSigned && text[0] == '-') return false;
    if (isSigned) {
        long long v = std::strtoll(text.c_str(), &end, 10);
        if (errno || *end) return false;
        if (type == "int32") {
            if (v < INT32_MIN || v > INT32_MAX) return false;
            int32_t x = static_cast<int32_t>(v);
            std::memcpy(at, &x, sizeof(x));
        } else {
            int64_t x = v;
            std::memcpy(at, &x, sizeof(x));
        }
        return true;
    }
    unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (errno || *end) return false;
    if (type == "uint8") {
        if (v > UINT8_MAX) return false;
        *at = static_cast<char>(v);
    } else {
        if (v > UINT32_MAX) return false;
        uint32_t x = static_cast<uint32_t>(v);
        std::memcpy(at, &x, sizeof(x));
    }
    return true;
}

void InitBootOptions(KernelState& state, const rapidjson::Value* section) {
    std::string record(Ksi::BootOptions::kRecordSize, '\0');
    std::map<std::string, std::string> defaults;
    if (section && section->IsObject())
        if (auto it = section->FindMember("options"); it != section->MemberEnd() && it->value.IsArray())
            for (const auto& o : it->value.GetArray())
                if (o.IsObject() && o.HasMember("name") && o["name"].IsString() && o.HasMember("default") &&
                    o["default"].IsString())
                    defaults[o["name"].GetString()] = o["default"].GetString();
    for (size_t i = 0; i < Ksi::BootOptions::kRowCount; ++i) {
        const auto& row = Ksi::BootOptions::kRows[i];
        auto it = defaults.find(row.name);
        if (it == defaults.end() || !PutValue(record, row, it->second)) PutValue(record, row, row.defaultValue);
    }
    for (const auto& [name, value] : Platform::BootConfig::KernelOptions()) {
        const auto* row = Ksi::BootOptions::FindRow(name.c_str());
        if (!row) {
            TarnCtl_LogWarnInt("%s: Ignoring unknown boot option %s\n", "TarnSim", name.c_str());
            continue;
        }
        if (!PutValue(record, *row, value))
            TarnCtl_LogWarnInt("%s: Ignoring boot option %s: invalid value '%s'\n", "TarnSim", name.c_str(),
                               value.c_str());
    }
    state.Write("", KSI_NODE_system_tarn_cotable, {}, record.data(), record.size());
}

// ---- Loader ----------------------------------------------------------------------

class SimModLoader : public Platform::ModLoader::Backend {
public:
    TARN_ReturnStatus Load(const char* name, const char* options, int) override {
        return SimBackend().Set(nullptr, KSI_NODE_system_modules, {Key(name)},
                                {Key("load"), Key(options ? options : "")});
    }
    TARN_ReturnStatus Unload(const char* name) override {
        return SimBackend().Set(nullptr, KSI_NODE_system_modules, {Key(name)}, {Key("unload")});
    }
    TARN_ReturnStatus IsModuleLoaded(const char* name) override {
        Ksi::Modules::Loaded r{};
        return SimBackend().Get(nullptr, KSI_NODE_system_modules, {Key(name)}, {}, &r, sizeof(r));
    }

private:
    static KSI_Param Key(const char* text) {
        KSI_Param p;
        p.text = text;
        return p;
    }
};

NodeHandler ModulesNode() {
    NodeHandler h;
    h.set = ModulesSet;
    h.setStruct = Refuse;
    return h;
}
NodeHandler RecordNode(SetFn set = nullptr) {
    NodeHandler h;
    h.set = std::move(set);
    h.setStruct = Refuse;
    return h;
}

Area MakeArea(const char* name, int order, std::function<void(KernelState&, const rapidjson::Value*)> init) {
    Area a;
    a.name = name;
    a.order = order;
    a.init = std::move(init);
    return a;
}

const AreaRegistration modulesArea(MakeArea("modules", 40, InitModules));
const AreaRegistration bootOptionsArea(MakeArea("bootOptions", 35, InitBootOptions));
const NodeRegistration modulesNode(KSI_NODE_system_modules, ModulesNode());
const NodeRegistration generalNode(KSI_NODE_system_modules_general, RecordNode());
const NodeRegistration logLevelNode(KSI_NODE_system_modules_loglevels, RecordNode(LogLevelSet));
const NodeRegistration cotableNode(KSI_NODE_system_tarn_cotable, RecordNode());
const NodeRegistration namespacesNode(KSI_NODE_system_modloader_namespaces, RecordNode());
const NodeRegistration versionsNode(KSI_NODE_system_modloader_namespaces_versions, RecordNode());

}  // namespace

namespace {
// The simulation is the host's module loader as soon as the library is loaded.
const bool gRegistered = (Platform::ModLoader::RegisterDefaultBackend(new SimModLoader), true);
}  // namespace

}  // namespace TarnSim
