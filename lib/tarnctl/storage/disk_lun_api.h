// A flat, handle-based facade over the device objects for callers that cannot
// hold the interface objects: a handle from GetLun, released with DestroyLun.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hostctl/storage.h"
#include "storage/morra_file_system_impl.h"

namespace TarnCtl::Storage {

class DiskLunApi {
public:
    struct Handle;

    // Empty (null) when the name resolves to no device.
    static Handle* GetLun(const std::string& name, bool allowOffline);
    static void DestroyLun(Handle* handle);

    static bool IsSSD(Handle* handle);
    static bool IsLocal(Handle* handle);
    // A removable device reached through a USB adapter.
    static bool IsUSBDisk(Handle* handle);
    static uint32_t GetBlockSize(Handle* handle);
    static uint64_t GetNumBlocks(Handle* handle);
    static uint64_t GetSize(Handle* handle);
    static void Reserve(Handle* handle);
    static void ReloadClaimRules();
    static void MkLabelPartitionTable(Handle* handle, const std::string& label);
    // Start sector of partition `number`; throws when the disk has none.
    static uint64_t GetPartitionOffset(Handle* handle, uint16_t number);
    static std::vector<HostCtl::Storage::DiskLunPartition::PartitionType> GetPartitionTypes(Handle* handle);
    static void CreatePartitions(Handle* handle, const std::vector<HostCtl::Storage::PartitionSpec>& partitions);
    static void DeleteAllPartitions(Handle* handle);
    // Teaches the partition code a type known only to the plug-in.
    static void AddPartitionTypeGuidPair(const std::string& guid,
                                         HostCtl::Storage::DiskLunPartition::PartitionType type);
    static void AddCoreDumpSizeCbkFn(unsigned long (*fn)());
    // The distributed-storage plug-in's datastore hooks (dump policy text,
    // raw capacity, datastore naming); a later registration replaces an earlier one.
    static void AddGetDumpPolicyCbkFn(void (*fn)(unsigned int, char**));
    static void AddGetCapacityFromDIRSVCCbkFn(void (*fn)(HostCtl::Morra::Uuid, unsigned long* total,
                                                         unsigned long* used));
    static void AddSetMorraDatastoreNameCbkFn(void (*fn)(const std::string&, const std::string&));
};

}  // namespace TarnCtl::Storage
