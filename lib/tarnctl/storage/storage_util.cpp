// Shared helpers of the storage implementation: kernel listings, the
// block_devices and devices_access store objects, and the clock.
#include "storage/storage_util.h"

#include <functional>

namespace TarnCtl::Storage {

using HaldenConfigStore::ConfigStore;
using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;

std::vector<std::string> KsiList(uint32_t node, std::initializer_list<std::string_view> instance) {
    TarnCtl::Util::Sysinfo si(node);
    for (std::string_view key : instance)
        si.AddInstancePath(key);
    std::vector<std::string> out;
    si.List(out);
    return out;
}

std::shared_ptr<ConfigStore> Store() {
    return ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
}

ConfigStoreObjectId BlockDeviceId(const std::string& uid) {
    return ConfigStoreObjectId("block_devices", "storage", "halden", uid);
}

ConfigStoreObjectId DeviceAccessId(const std::string& uid) {
    return ConfigStoreObjectId("devices_access", "storage", "halden", uid);
}

std::shared_ptr<ConfigStoreObject> GetBlockDevice(const std::string& uid) {
    return Store()->Get(BlockDeviceId(uid));
}

bool InBootMode() {
    return Store()->IsBoot();
}

void UpdateBlockDevice(const std::string& uid, const std::function<void(ConfigStoreObject&)>& change) {
    auto store = Store();
    if (store->IsBoot())
        return;
    HaldenConfigStore::ConfigStoreTransaction txn(store);
    auto object = store->Get(BlockDeviceId(uid));
    if (!object) {
        object = std::make_shared<ConfigStoreObject>(BlockDeviceId(uid));
        // The device field names the device for validators and listings.
        object->SetValue("device", uid);
    }
    change(*object);
    store->Write(object);
    txn.Commit();
}

namespace {
time_t SystemNow() {
    return time(nullptr);
}
}  // namespace

time_t (*StorageClock::_source)() = SystemNow;

time_t StorageClock::Now() {
    return _source();
}

void StorageClock::SetSource(time_t (*source)()) {
    _source = source ? source : SystemNow;
}

}  // namespace TarnCtl::Storage
