// Keyboard layouts: the layout list of /usr/share/keymaps/list, loading a
// layout's gzip keymap archive into the console, and the configured layout
// in the store, replayed at boot.
#include <zlib.h>

#include "hostctl/exception.h"
#include "platform/configstore.h"
#include "platform/console.h"
#include "platform/hostroot.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "system/system_info_impl.h"
#include "system/system_values.h"

namespace TarnCtl::System {

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::ConfigStoreTransaction;
using HostCtl::Lib::HostCtlException;

namespace {

constexpr const char* kKeymapDir = "/usr/share/keymaps/";
constexpr const char* kKeymapList = "/usr/share/keymaps/list";
// No real keymap comes near this; a larger one is a broken or hostile archive.
constexpr size_t kMaxKeymapBytes = 4u << 20;

ConfigStoreObjectId KeyboardId() { return ConfigStoreObjectId("keyboard", "system", "halden"); }

std::string LayoutOf(const std::shared_ptr<ConfigStoreObject>& object) {
    std::string layout;
    if (object) object->GetValue("layout", &layout);
    return layout;
}

// The archive's text; false when it is missing, not gzip or corrupt.
bool Inflate(const std::string& hostPath, std::string* out) {
    std::string real;
    try {
        real = Platform::HostPath(hostPath);
    } catch (const HostCtlException&) {
        return false;
    }
    gzFile in = gzopen(real.c_str(), "rb");
    if (!in) return false;
    bool ok = gzdirect(in) == 0;
    char buffer[16384];
    while (ok) {
        int n = gzread(in, buffer, sizeof(buffer));
        if (n < 0) ok = false;
        if (n <= 0) break;
        out->append(buffer, static_cast<size_t>(n));
        if (out->size() > kMaxKeymapBytes) ok = false;
    }
    // A truncated archive reads as far as it goes; only closing tells.
    if (gzclose(in) != Z_OK) ok = false;
    return ok;
}

}  // namespace

void SystemInfoImpl::LoadKeymaps() {
    if (_keymapsLoaded) return;
    auto in = HostCtl::Misc::GetIfstream(kKeymapList);
    if (!in || !in->is_open()) throw HostCtlException("Unable to read keymap list");
    _keymaps = ParseKeymapList(*in);
    if (in->bad()) {
        _keymaps.clear();
        throw HostCtlException("Unable to read keymap list");
    }
    _keymapsLoaded = true;
}

std::vector<std::string> SystemInfoImpl::GetKeyboardLayouts() {
    LoadKeymaps();
    std::vector<std::string> names;
    names.reserve(_keymaps.size());
    for (const auto& [name, file] : _keymaps) names.push_back(name);  // the map keeps them sorted
    return names;
}

std::string SystemInfoImpl::GetLayoutFromZipFileName(const std::string& file) {
    LoadKeymaps();
    for (const auto& [name, archive] : _keymaps)
        if (archive == file) return name;
    return "";
}

void SystemInfoImpl::LoadKeyboardMappings(const std::string& name) {
    LoadKeymaps();
    auto it = _keymaps.find(name);
    std::string text;
    if (it == _keymaps.end() || !Inflate(kKeymapDir + it->second, &text) || !Platform::Console::LoadKeymap(text))
        throw HostCtlException("Unable to load keymap");
}

void SystemInfoImpl::SetKeyboardLayout(const std::string& name) {
    LoadKeymaps();
    if (_keymaps.find(name) == _keymaps.end()) throw HostCtlException("Invalid keymap specified");
    auto store = SystemStore();
    if (store->IsBoot()) {
        LoadKeyboardMappings(name);
        return;
    }
    std::string previous = GetKeyboardLayout();
    ConfigStoreTransaction txn(store);
    LoadKeyboardMappings(name);
    try {
        auto object = store->Get(KeyboardId());
        if (!object) object = std::make_shared<ConfigStoreObject>(KeyboardId());
        object->SetValue("layout", name);
        store->Write(object);
        txn.Commit();
    } catch (const HostCtlException&) {
        // The console goes back to the layout the store still names.
        try {
            if (!previous.empty()) LoadKeyboardMappings(previous);
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Unable to reload keyboard layout %s: %s\n", "SystemInfo", previous.c_str(),
                               e.GetDetailedMessage().c_str());
        }
        throw;
    }
    TarnCtl_LogInfoInt("%s: Keyboard layout set to %s\n", "SystemInfo", name.c_str());
}

std::string SystemInfoImpl::GetKeyboardLayout() {
    auto store = SystemStore();
    std::string layout = LayoutOf(store->Get(KeyboardId()));
    if (layout.empty()) layout = LayoutOf(store->GetDesiredUserConfig(KeyboardId(), 0));
    return layout;
}

void SystemInfoImpl::RestoreKeyboardLayout() {
    auto store = SystemStore();
    std::string layout = LayoutOf(store->GetDesiredUserConfig(KeyboardId(), 0));
    if (layout.empty()) layout = LayoutOf(store->Get(KeyboardId()));
    try {
        if (!layout.empty()) LoadKeyboardMappings(layout);
    } catch (const HostCtlException& e) {
        throw HostCtlException(std::string("Failed to set keyboard layout: ") + e.what());
    }
    store->SetBootStatus(KeyboardId(), true);
}

}  // namespace TarnCtl::System
