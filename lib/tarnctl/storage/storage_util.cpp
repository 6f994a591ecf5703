// Shared helpers of the storage implementation: kernel listings, the
// block_devices and devices_access store objects, and the clock.
#include "storage/storage_util.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <mutex>

#include "hostctl/exception.h"
#include "platform/hostroot.h"

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

// ---- Lock file ------------------------------------------------------------------------

namespace {
// The process's hold on the lock file. The recursive mutex keeps other threads
// out while one thread holds the flock (flock does not tell threads apart);
// depth counts nested holds of that thread.
std::recursive_mutex gLockMutex;
int gLockFd = -1;    // guarded by gLockMutex
int gLockDepth = 0;  // guarded by gLockMutex
}  // namespace

StorageLockFile::~StorageLockFile() {
    while (_held > 0)
        Unlock();
}

void StorageLockFile::Lock() {
    std::unique_lock<std::recursive_mutex> mutex(gLockMutex);
    if (gLockDepth == 0) {
        const std::string real = Platform::HostPath(_path);
        const std::string dir = real.substr(0, real.rfind('/'));
        ::mkdir(dir.c_str(), 01777);
        int fd = ::open(real.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0)
            throw HostCtl::Lib::HostCtlException("Unable to open lock file " + _path);
        if (::flock(fd, LOCK_EX) != 0) {
            ::close(fd);
            throw HostCtl::Lib::HostCtlException("Unable to lock " + _path);
        }
        gLockFd = fd;
    }
    ++gLockDepth;
    ++_held;
    mutex.release();  // stays locked until the matching Unlock
}

void StorageLockFile::Unlock() {
    if (_held == 0)
        return;
    --_held;
    if (--gLockDepth == 0) {
        ::flock(gLockFd, LOCK_UN);
        ::close(gLockFd);
        gLockFd = -1;
    }
    gLockMutex.unlock();
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
