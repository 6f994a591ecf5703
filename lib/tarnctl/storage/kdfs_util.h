// Helpers shared by the disk file-system volume code: the UUID text, device
// paths, the file-system library's one-time start, writes to the
// logical-volume driver and the kdfs_datastores store objects.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hostctl/status.h"
#include "platform/configstore.h"

namespace TarnCtl::Storage::Kdfs {

inline constexpr const char* kVolumesDir = "/kdfs/volumes/";
inline constexpr const char* kDisksDir = "/kdfs/devices/disks/";

// "%08x-%08x-%04hx-%02hhx..." over the raw bytes: two 32-bit words and a
// 16-bit word in the machine's byte order, then six bytes.
std::string FormatUuid(const uint8_t (&bytes)[16]);
// "/kdfs/devices/disks/<device:partition>".
inline std::string DevicePath(const std::string& extent) {
    return kDisksDir + extent;
}
// The devices under a volume's extents ("device:n"), each once, in extent order.
std::vector<std::string> ExtentDevices(const std::vector<std::string>& extents);
// Calls TarnfsLib_Init once per process; throws when it fails.
void EnsureLibrary();
// The kernel's text for a status.
std::string StatusText(TARN_ReturnStatus status);
// Writes inputs to a node of the logical-volume driver; returns the status
// (the kernel's events are logged, not thrown).
TARN_ReturnStatus WriteLvm(uint32_t node, const std::vector<std::string>& inputs);
// True when a volume with this UUID is mounted.
bool IsMountedUuid(const std::string& uuid);

// The volume's kdfs_datastores object, or empty.
std::shared_ptr<HaldenConfigStore::ConfigStoreObject> GetDatastore(const std::string& uuid);
// Reads, changes and writes back the object in one transaction, creating it
// (and logging so) when absent. Nothing is written in boot mode.
void UpdateDatastore(const std::string& uuid, const std::function<void(HaldenConfigStore::ConfigStoreObject&)>& change);
HaldenConfigStore::ConfigStoreObjectId DatastoreId(const std::string& uuid);
// Runs `record`, the store half of a change the kernel already took; when it
// throws, `putBack` returns the kernel to where it was (a failure of that is
// logged under `what`) and the store's error is rethrown.
void RecordOrPutBack(const std::function<void()>& record, const std::function<TARN_ReturnStatus()>& putBack,
                     const std::string& what);
// Every kdfs_datastores object.
std::vector<std::shared_ptr<HaldenConfigStore::ConfigStoreObject>> ListDatastores();

}  // namespace TarnCtl::Storage::Kdfs
