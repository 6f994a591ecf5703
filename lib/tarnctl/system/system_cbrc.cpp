// The content-based read cache switch. The cache is a kernel module; its
// runtime state is a kernel flag and its configured state a store object,
// changed together in one transaction and replayed at boot.
#include "hostctl/exception.h"
#include "hostctl/status.h"
#include "platform/configstore.h"
#include "platform/log.h"
#include "platform/sysinfo.h"
#include "system/system_info_impl.h"

namespace TarnCtl::System {

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::ConfigStoreTransaction;
using HostCtl::Lib::HostCtlException;

namespace {

constexpr const char* kCbrcModule = "cbrc_filter_2";

ConfigStoreObjectId CbrcId() { return ConfigStoreObjectId("CBRC", "system", "halden"); }

}  // namespace

void SystemInfoImpl::EnableCbrc(bool enable) {
    TarnCtl::Util::Sysinfo si(KSI_NODE_system_cbrc_enable);
    si.SetMessageForError(TARN_ALREADY_ENABLED, "Unable to enable CBRC, CBRC already enabled");
    si.SetMessageForError(TARN_MISSING_PARAMETER, "Unable to enable CBRC, missing input paramter");
    si.SetMessageForError(TARN_MODULE_NOT_LOADED, "Unable to enable CBRC, module not loaded");
    si.AddInput(enable);
    si.Set();
}

// Loading the module on demand waits for the kernel module objects; until
// then the cache can be switched only while its module is loaded.
void SystemInfoImpl::SetCbrcEnabled(bool enable) {
    if (!IsModuleLoaded(kCbrcModule))
        throw HostCtlException(
            "CBRC module is not loaded, cannot enable disable it. Please see Tarnos.log for details");
    auto store = SystemStore();
    if (store->IsBoot()) {
        EnableCbrc(enable);
        return;
    }
    ConfigStoreTransaction txn(store);
    EnableCbrc(enable);
    try {
        auto object = store->Get(CbrcId());
        if (!object) {
            TarnCtl_LogInfoInt("%s: CBRC object not found in config store, creating a new object.\n", "SystemInfo");
            object = std::make_shared<ConfigStoreObject>(CbrcId());
        }
        object->SetValue("enable", enable);
        store->Write(object);
        txn.Commit();
    } catch (const HostCtlException&) {
        // The runtime state follows the store back.
        try {
            EnableCbrc(!enable);
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Unable to switch CBRC back: %s\n", "SystemInfo", e.GetDetailedMessage().c_str());
        }
        throw;
    }
}

bool SystemInfoImpl::GetCbrcRuntimeEnabled() {
    uint32_t value = 0;
    TarnCtl::Util::Sysinfo si(KSI_NODE_system_cbrc_enable);
    si.Get(&value, sizeof(value));
    return value != 0;
}

bool SystemInfoImpl::GetCbrcConfiguredEnabled() {
    auto store = SystemStore();
    auto object = store->GetDesiredUserConfig(CbrcId(), 0);
    if (!object) object = store->Get(CbrcId());
    bool enabled = false;
    if (object) {
        TarnCtl_LogInfoInt("%s: Loading CBRC desired configuration %s\n", "SystemInfo", object->GetData().c_str());
        object->GetValue("enable", &enabled);
    }
    try {
        store->SetBootStatus(CbrcId(), true);
    } catch (const HostCtlException&) {
        TarnCtl_LogWarnInt("%s: Failed to set boot status for CBRC.\n", "SystemInfo");
    }
    return enabled;
}

void SystemInfoImpl::RestoreCbrc() {
    if (!GetCbrcConfiguredEnabled()) return;
    if (!IsModuleLoaded(kCbrcModule))
        throw HostCtlException(
            "CBRC module is not loaded, cannot enable disable it. Please see Tarnos.log for details");
    EnableCbrc(true);
}

}  // namespace TarnCtl::System
