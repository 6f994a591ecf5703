// Disks and their partitions: the partition list read from the kernel, the
// partition-type GUID table (with plug-in additions) and partition-table writes
// through the host's partition tool.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "storage/lun_impl.h"

namespace TarnCtl::Storage {

class DiskLunImpl : public LunImpl, public virtual HostCtl::Storage::DiskLun {
public:
    using LunImpl::LunImpl;

    std::vector<std::unique_ptr<HostCtl::Storage::DiskLunPartition>> GetPartitions() override;
    std::unique_ptr<HostCtl::Storage::DiskLunPartition> GetPartition(const std::string& name) override;
    std::unique_ptr<HostCtl::Storage::DiskLunPartition> GetPartition(uint16_t number) override;
    void SetPartitionTable(const std::vector<HostCtl::Storage::PartitionSpec>& partitions) override;
    void MkLabelPartitionTable(const std::string& label) override;

    // The partition tool on the host.
    static constexpr const char* kPartitionTool = "/bin/partutil";

private:
    void RunPartitionTool(const std::string& arguments);
};

class DiskLunPartitionImpl : public virtual HostCtl::Storage::DiskLunPartition,
                             public virtual TarnCtl::Lib::TarnCtlObject {
public:
    // Reads the partition's record; throws "Unable to get Disk Partition
    // information for <name>" when it cannot.
    DiskLunPartitionImpl(const std::string& disk, uint16_t number, const std::string& diskDevfsPath);

    void Refresh() override;
    std::string GetName() const override;
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    std::string GetDiskName() override { return _disk; }
    uint16_t GetPartitionNumber() override { return _number; }
    uint64_t GetStartSector() override { return _start; }
    uint64_t GetEndSector() override { return _end; }
    PartitionType GetPartitionType() override { return _type; }
    std::string GetPartitionGuid() override { return _guid; }
    std::string GetConsoleDevice() override { return _devfsPath; }
    std::string GetDevfsPath() override { return _devfsPath; }

    // Splits "<disk>:<n>" at the last colon; false when it is not such a name.
    static bool ParseName(const std::string& name, std::string* disk, uint16_t* number);

    // Extra (type, GUID) pairs registered by the plug-in.
    static std::vector<std::pair<PartitionType, std::string>> _partTypeGuidPairs;

private:
    std::string _disk;
    uint16_t _number;
    uint64_t _start = 0;
    uint64_t _end = 0;
    PartitionType _type = PARTITION_TYPE_NONE;
    std::string _guid;
    std::string _devfsPath;
};

}  // namespace TarnCtl::Storage
