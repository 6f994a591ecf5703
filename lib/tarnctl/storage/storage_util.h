// Small helpers shared by the storage implementation files: kernel record
// reads by instance path, fixed-array strings, the store objects the storage
// domain keeps, and the clock the time-based operations use.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/configstore.h"
#include "platform/sysinfo.h"

namespace TarnCtl::Storage {

// Text of a NUL-padded fixed array.
template <size_t N>
std::string FixedString(const char (&field)[N]) {
    size_t n = 0;
    while (n < N && field[n] != '\0')
        ++n;
    return std::string(field, n);
}

// Copies `text` into a fixed array, truncating and NUL-terminating.
template <size_t N>
void SetFixedString(char (&field)[N], std::string_view text) {
    size_t n = text.size() < N - 1 ? text.size() : N - 1;
    for (size_t i = 0; i < N; ++i)
        field[i] = i < n ? text[i] : '\0';
}

// Reads the record of `node` at the instance path; throws SysinfoException.
template <typename T>
T KsiRead(uint32_t node, std::initializer_list<std::string_view> instance) {
    TarnCtl::Util::Sysinfo si(node);
    for (std::string_view key : instance)
        si.AddInstancePath(key);
    T record{};
    si.Get(&record, sizeof(record));
    return record;
}

// The instance keys below the path.
std::vector<std::string> KsiList(uint32_t node, std::initializer_list<std::string_view> instance = {});

// The configuration store and the storage domain's objects in it.
std::shared_ptr<HaldenConfigStore::ConfigStore> Store();
HaldenConfigStore::ConfigStoreObjectId BlockDeviceId(const std::string& uid);
HaldenConfigStore::ConfigStoreObjectId DeviceAccessId(const std::string& uid);
// The block_devices object of a device, or empty.
std::shared_ptr<HaldenConfigStore::ConfigStoreObject> GetBlockDevice(const std::string& uid);
// Reads, modifies and writes back the block_devices object in one transaction;
// `change` gets the existing object or a new one. Nothing is written in boot mode.
void UpdateBlockDevice(const std::string& uid,
                       const std::function<void(HaldenConfigStore::ConfigStoreObject&)>& change);
bool InBootMode();

// The lock file that serialises storage configuration changes between
// processes. Every setter and rescan holds it for its whole run. Within a
// process it is one lock: nested holders (a rescan that runs a setter) share
// it and other threads wait for it, so nothing deadlocks on its own flock.
inline constexpr const char* kStorageLockFile = "/tmp/.StorageInfoImpl.lock";

class StorageLockFile {
public:
    explicit StorageLockFile(std::string path = kStorageLockFile) : _path(std::move(path)) {}
    ~StorageLockFile();
    StorageLockFile(const StorageLockFile&) = delete;
    StorageLockFile& operator=(const StorageLockFile&) = delete;
    // Blocks until this thread holds the lock; throws HostCtlException when
    // the lock file cannot be opened.
    void Lock();
    // Releases one Lock() of this object; no-op when it holds none.
    void Unlock();
    const std::string& Path() const { return _path; }

private:
    std::string _path;
    int _held = 0;  // this object's Lock() calls not yet undone; touched by its owner thread only
};

// Holds the storage lock for a scope.
class StorageLockGuard {
public:
    explicit StorageLockGuard(StorageLockFile& lock) : _lock(lock) { _lock.Lock(); }
    StorageLockGuard() : _own(std::make_unique<StorageLockFile>()), _lock(*_own) { _lock.Lock(); }
    ~StorageLockGuard() { _lock.Unlock(); }
    StorageLockGuard(const StorageLockGuard&) = delete;
    StorageLockGuard& operator=(const StorageLockGuard&) = delete;

private:
    std::unique_ptr<StorageLockFile> _own;
    StorageLockFile& _lock;
};

// Seconds since the epoch; tests replace the source to move through days.
class StorageClock {
public:
    static time_t Now();
    static void SetSource(time_t (*source)());

private:
    static time_t (*_source)();
};

}  // namespace TarnCtl::Storage
