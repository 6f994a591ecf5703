// Helpers shared by the disk file-system volume code.
#include "storage/kdfs_util.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "hostctl/exception.h"
#include "ksi/kdfs.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/sysinfo.h"
#include "platform/tarnfs.h"
#include "storage/storage_util.h"

namespace TarnCtl::Storage::Kdfs {

using HaldenConfigStore::ConfigStoreObject;

std::string FormatUuid(const uint8_t (&b)[16]) {
    uint32_t w0, w1;
    uint16_t h;
    std::memcpy(&w0, b, 4);
    std::memcpy(&w1, b + 4, 4);
    std::memcpy(&h, b + 8, 2);
    return HostCtl::Misc::StrPrintf("%08x-%08x-%04hx-%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx", w0, w1, h, b[10], b[11],
                                    b[12], b[13], b[14], b[15]);
}

std::vector<std::string> ExtentDevices(const std::vector<std::string>& extents) {
    std::vector<std::string> devices;
    for (const auto& e : extents) {
        std::string device = e.substr(0, e.rfind(':'));
        if (std::find(devices.begin(), devices.end(), device) == devices.end())
            devices.push_back(std::move(device));
    }
    return devices;
}

void EnsureLibrary() {
    static std::mutex mu;
    static bool ready = false;
    std::lock_guard<std::mutex> guard(mu);
    if (ready)
        return;
    TARN_ReturnStatus st = TarnfsLib_Init();
    if (st != TARN_OK)
        throw HostCtl::Lib::HostCtlException("Unable to initialize the file system library: " + StatusText(st));
    ready = true;
}

std::string StatusText(TARN_ReturnStatus status) {
    return TARN_ReturnStatusToString(status);
}

TARN_ReturnStatus WriteLvm(uint32_t node, const std::vector<std::string>& inputs) {
    TarnCtl::Util::Sysinfo si(node);
    si.SetModule(KSI_LVM_MODULE);
    si.SetThrowOnError(false);
    for (const auto& input : inputs)
        si.AddInput(input);
    return si.Set();
}

bool IsMountedUuid(const std::string& uuid) {
    TarnCtl::Util::Sysinfo si(KSI_NODE_system_fsSwitch_volumes);
    si.SetThrowOnError(false);
    return !uuid.empty() && si.IsValidInstance(uuid);
}

HaldenConfigStore::ConfigStoreObjectId DatastoreId(const std::string& uuid) {
    return HaldenConfigStore::ConfigStoreObjectId("kdfs_datastores", "storage", "halden", uuid);
}

std::shared_ptr<ConfigStoreObject> GetDatastore(const std::string& uuid) {
    return Store()->Get(DatastoreId(uuid));
}

void UpdateDatastore(const std::string& uuid, const std::function<void(ConfigStoreObject&)>& change) {
    auto store = Store();
    if (store->IsBoot())
        return;
    HaldenConfigStore::ConfigStoreTransaction txn(store);
    auto object = store->Get(DatastoreId(uuid));
    bool created = false;
    if (!object) {
        object = std::make_shared<ConfigStoreObject>(DatastoreId(uuid));
        object->SetValue("volume_uuid", uuid);
        created = true;
    }
    change(*object);
    store->Write(object);
    txn.Commit();
    if (created)
        TarnCtl_LogInfoInt("%s: New entry created in config store for UUID %s.\n", "VmFileSystem", uuid.c_str());
}

void RecordOrPutBack(const std::function<void()>& record, const std::function<TARN_ReturnStatus()>& putBack,
                     const std::string& what) {
    try {
        record();
    } catch (const HostCtl::Lib::HostCtlException&) {
        // The kernel follows the store back, so the next boot and now agree.
        TARN_ReturnStatus st = putBack();
        if (st != TARN_OK)
            TarnCtl_LogWarnInt("%s: Unable to put back %s: %s\n", "VmFileSystem", what.c_str(), StatusText(st).c_str());
        throw;
    }
}

std::vector<std::shared_ptr<ConfigStoreObject>> ListDatastores() {
    return Store()->List(std::make_shared<HaldenConfigStore::FilterSpecObject>(
        HaldenConfigStore::ConfigStoreObjectId("kdfs_datastores", "storage", "halden")));
}

}  // namespace TarnCtl::Storage::Kdfs
