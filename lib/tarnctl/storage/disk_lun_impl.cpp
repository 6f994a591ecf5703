// Disks and partitions: listing from the kernel's partition nodes, lookups by
// name and number, the type/GUID table and partition-table writes.
#include "storage/disk_lun_impl.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "hostctl/exception.h"
#include "ksi/storage.h"
#include "platform/exec.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/printer.h"
#include "storage/storage_util.h"

namespace TarnCtl::Storage {

using HostCtl::Lib::HostCtlException;
using HostCtl::Storage::DiskLunPartition;

namespace {

struct TypeGuid {
    DiskLunPartition::PartitionType type;
    const char* guid;
    const char* word;
};

const TypeGuid kTypeGuids[] = {
    {DiskLunPartition::PARTITION_TYPE_EFI, "c12a7328-f81f-11d2-ba4b-00a0c93ec93b", "efi"},
    {DiskLunPartition::PARTITION_TYPE_BASIC_DATA, "ebd0a0a2-b9e5-4433-87c0-68b6b72699c7", "basic data"},
    {DiskLunPartition::PARTITION_TYPE_LINUX, "0fc63daf-8483-4772-8e79-3d69d8477de4", "linux"},
    {DiskLunPartition::PARTITION_TYPE_LINUX_SWAP, "0657fd6d-a4ab-43c4-84e5-0933c84b4f4f", "linux swap"},
    {DiskLunPartition::PARTITION_TYPE_LINUX_LVM, "e6d6d379-f507-44c2-a23c-238f2a3df928", "linux lvm"},
    {DiskLunPartition::PARTITION_TYPE_LINUX_RAID, "a19d880f-05fc-4d3b-a006-743f0f84911e", "linux raid"},
    {DiskLunPartition::PARTITION_TYPE_KDFS, "6b646673-0000-4000-8000-00000000000b", "kdfs"},
    {DiskLunPartition::PARTITION_TYPE_DUMP, "64756d70-0000-4000-8000-00000000000c", "dump"},
    {DiskLunPartition::PARTITION_TYPE_BOOTPART, "626f6f74-0000-4000-8000-00000000000d", "bootpart"},
    {DiskLunPartition::PARTITION_TYPE_OSDATA, "6f736461-0000-4000-8000-00000000000e", "osdata"},
    {DiskLunPartition::PARTITION_TYPE_FAT16, "", "fat16"},
    {DiskLunPartition::PARTITION_TYPE_FAT32, "", "fat32"},
    {DiskLunPartition::PARTITION_TYPE_NTFS, "", "ntfs"},
    {DiskLunPartition::PARTITION_TYPE_EXTENDED, "", "extended"},
};

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

}  // namespace

std::vector<std::pair<DiskLunPartition::PartitionType, std::string>> DiskLunPartitionImpl::_partTypeGuidPairs;

}  // namespace TarnCtl::Storage

namespace HostCtl::Storage {

std::string DiskLunPartition::GetPartitionTypeString(PartitionType type) {
    if (type == PARTITION_TYPE_NONE)
        return "none";
    for (const auto& t : TarnCtl::Storage::kTypeGuids)
        if (t.type == type)
            return t.word;
    return "unknown";
}

DiskLunPartition::PartitionType DiskLunPartition::PartitionTypeFromGuid(const std::string& guid) {
    const std::string g = TarnCtl::Storage::Lower(guid);
    if (g.empty() || g == "00000000-0000-0000-0000-000000000000")
        return PARTITION_TYPE_NONE;
    for (const auto& t : TarnCtl::Storage::kTypeGuids)
        if (*t.guid && g == t.guid)
            return t.type;
    for (const auto& [type, text] : TarnCtl::Storage::DiskLunPartitionImpl::_partTypeGuidPairs)
        if (g == TarnCtl::Storage::Lower(text))
            return type;
    return PARTITION_TYPE_UNKNOWN;
}

std::string DiskLunPartition::GuidFromPartitionType(PartitionType type) {
    for (const auto& t : TarnCtl::Storage::kTypeGuids)
        if (t.type == type && *t.guid)
            return t.guid;
    for (const auto& [known, text] : TarnCtl::Storage::DiskLunPartitionImpl::_partTypeGuidPairs)
        if (known == type)
            return text;
    TarnCtl_LogInfoInt("%s: Unknown partition type: %d\n", "DiskLunPartition", static_cast<int>(type));
    return "";
}

}  // namespace HostCtl::Storage

namespace TarnCtl::Storage {

// ---- Partitions -------------------------------------------------------------------

DiskLunPartitionImpl::DiskLunPartitionImpl(const std::string& disk, uint16_t number,
                                           const std::string& diskDevfsPath)
    : _disk(disk), _number(number) {
    _devfsPath = number == 0 ? diskDevfsPath : diskDevfsPath + ":" + std::to_string(number);
    Refresh();
}

void DiskLunPartitionImpl::Refresh() {
    try {
        auto info = KsiRead<KsiStoragePartitionInfo>(KSI_NODE_storage_scsifw_devices_partitions_info,
                                                     {_disk, std::to_string(_number)});
        _start = info.startSector;
        _end = info.endSector;
        _guid = FixedString(info.partitionGuid);
        _type = PartitionTypeFromGuid(FixedString(info.typeGuid));
    } catch (const HostCtlException&) {
        throw HostCtlException("Unable to get Disk Partition information for " + GetName());
    }
}

std::string DiskLunPartitionImpl::GetName() const {
    return HostCtl::Misc::StrPrintf("%s:%hu", _disk.c_str(), _number);
}

bool DiskLunPartitionImpl::ParseName(const std::string& name, std::string* disk, uint16_t* number) {
    size_t colon = name.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= name.size())
        return false;
    const std::string digits = name.substr(colon + 1);
    if (!std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }) ||
        digits.size() > 5)
        return false;
    unsigned long n = std::strtoul(digits.c_str(), nullptr, 10);
    if (n > 0xffff)
        return false;
    *disk = name.substr(0, colon);
    *number = static_cast<uint16_t>(n);
    return true;
}

void DiskLunPartitionImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("Disk Lun Partition");
    printer->BeginObject();
    printer->Print("Name", GetName());
    printer->Print("Start Sector", _start);
    printer->Print("End Sector", _end);
    printer->Print("Type", GetPartitionTypeString(_type));
    printer->Print("GUID", _guid);
    printer->EndObject();
}

// ---- Disks -------------------------------------------------------------------------

std::vector<std::unique_ptr<DiskLunPartition>> DiskLunImpl::GetPartitions() {
    std::vector<std::unique_ptr<DiskLunPartition>> out;
    const std::string devfs = GetDevfsPath();
    for (const auto& key : KsiList(KSI_NODE_storage_scsifw_devices_partitions, {_name})) {
        char* end = nullptr;
        unsigned long n = std::strtoul(key.c_str(), &end, 10);
        if (key.empty() || *end || n > 0xffff) {
            TarnCtl_LogWarnInt("%s: Bad tarnos partition: %lu on lun: %s\n", "DiskLun", n, _name.c_str());
            continue;
        }
        try {
            out.push_back(std::make_unique<DiskLunPartitionImpl>(_name, static_cast<uint16_t>(n), devfs));
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Skipping disk lun partition %s: %s\n", "DiskLun",
                               (_name + ":" + key).c_str(), e.what());
        }
    }
    return out;
}

std::unique_ptr<DiskLunPartition> DiskLunImpl::GetPartition(uint16_t number) {
    return std::make_unique<DiskLunPartitionImpl>(_name, number, GetDevfsPath());
}

std::unique_ptr<DiskLunPartition> DiskLunImpl::GetPartition(const std::string& name) {
    for (auto& p : GetPartitions())
        if (p->GetName() == name)
            return std::move(p);
    throw HostCtlException("Unable to find a partition with the name " + name);
}

void DiskLunImpl::RunPartitionTool(const std::string& arguments) {
    std::string output, error;
    const std::string command = std::string(kPartitionTool) + " setptbl " + "/dev/disks/" + _name + arguments;
    int status = TarnCtl::Util::RunShellCmd(0, command, "", output, error);
    if (status != 0) {
        std::string cause = error.empty() ? output : error;
        while (!cause.empty() && (cause.back() == '\n' || cause.back() == ' '))
            cause.pop_back();
        TarnCtl_LogErrorInt("%s: Failed to set partition table: %s\n", "DiskLun", cause.c_str());
        throw HostCtlException("Failed to set partition table: " + cause);
    }
}

void DiskLunImpl::SetPartitionTable(const std::vector<HostCtl::Storage::PartitionSpec>& partitions) {
    std::string arguments = " gpt";
    for (const auto& p : partitions) {
        std::string guid = DiskLunPartition::GuidFromPartitionType(p.type);
        if (guid.empty() || p.number == 0 || p.endSector < p.startSector)
            throw HostCtlException("Invalid partition type specified");
        arguments += HostCtl::Misc::StrPrintf(" \"%u %llu %llu %s 0\"", p.number,
                                              static_cast<unsigned long long>(p.startSector),
                                              static_cast<unsigned long long>(p.endSector), guid.c_str());
    }
    RunPartitionTool(arguments);
}

void DiskLunImpl::MkLabelPartitionTable(const std::string& label) {
    if (label != "gpt" && label != "msdos")
        throw HostCtlException("Invalid partition table label " + label);
    RunPartitionTool(" " + label);
}

}  // namespace TarnCtl::Storage
