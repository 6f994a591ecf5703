// The handle-based device facade: every call forwards to the device object
// behind the handle.
#include "storage/disk_lun_api.h"

#include "hostctl/exception.h"
#include "storage/disk_lun_impl.h"
#include "storage/storage_info_impl.h"

namespace TarnCtl::Storage {

using HostCtl::Lib::HostCtlException;

struct DiskLunApi::Handle {
    std::unique_ptr<LunImpl> lun;
};

namespace {

LunImpl& Lun(DiskLunApi::Handle* handle) {
    if (!handle || !handle->lun)
        throw HostCtlException("Invalid device handle");
    return *handle->lun;
}

DiskLunImpl& Disk(DiskLunApi::Handle* handle) {
    auto* disk = dynamic_cast<DiskLunImpl*>(&Lun(handle));
    if (!disk)
        throw HostCtlException("Not a disk: " + Lun(handle).GetIdentifier());
    return *disk;
}

}  // namespace

DiskLunApi::Handle* DiskLunApi::GetLun(const std::string& name, bool allowOffline) {
    auto lun = StorageInfoImpl::GetLun(name, allowOffline);
    if (!lun)
        return nullptr;
    auto* handle = new Handle;
    handle->lun = std::move(lun);
    return handle;
}

void DiskLunApi::DestroyLun(Handle* handle) {
    delete handle;
}

bool DiskLunApi::IsSSD(Handle* handle) { return Lun(handle).IsSSD(); }
bool DiskLunApi::IsLocal(Handle* handle) { return Lun(handle).IsLocal(); }
uint32_t DiskLunApi::GetBlockSize(Handle* handle) { return Lun(handle).GetBlockSize(); }
uint64_t DiskLunApi::GetNumBlocks(Handle* handle) { return Lun(handle).GetNumBlocks(); }
uint64_t DiskLunApi::GetSize(Handle* handle) { return Lun(handle).GetSize(); }
void DiskLunApi::Reserve(Handle* handle) { Lun(handle).Reserve(); }

bool DiskLunApi::IsUSBDisk(Handle* handle) {
    LunImpl& lun = Lun(handle);
    if (!lun.IsRemovableDevice())
        return false;
    StorageInfoImpl storage;
    for (auto& path : lun.GetPaths()) {
        try {
            auto adapter = storage.GetScsiInterface(path->GetAdapterName());
            if (adapter->GetInterfaceType() == HostCtl::Storage::ScsiInterface::SCSI_IFACE_TYPE_USB)
                return true;
        } catch (const HostCtlException&) {
        }
    }
    return false;
}

void DiskLunApi::ReloadClaimRules() {
    StorageInfoImpl().RunPsaClaimRules(HostCtl::Storage::MP, true);
}

void DiskLunApi::MkLabelPartitionTable(Handle* handle, const std::string& label) {
    Disk(handle).MkLabelPartitionTable(label);
}

uint64_t DiskLunApi::GetPartitionOffset(Handle* handle, uint16_t number) {
    return Disk(handle).GetPartition(number)->GetStartSector();
}

std::vector<HostCtl::Storage::DiskLunPartition::PartitionType> DiskLunApi::GetPartitionTypes(Handle* handle) {
    std::vector<HostCtl::Storage::DiskLunPartition::PartitionType> out;
    for (auto& p : Disk(handle).GetPartitions())
        if (p->GetPartitionNumber() != 0)
            out.push_back(p->GetPartitionType());
    return out;
}

void DiskLunApi::CreatePartitions(Handle* handle, const std::vector<HostCtl::Storage::PartitionSpec>& partitions) {
    Disk(handle).SetPartitionTable(partitions);
}

void DiskLunApi::DeleteAllPartitions(Handle* handle) {
    Disk(handle).SetPartitionTable({});
}

void DiskLunApi::AddPartitionTypeGuidPair(const std::string& guid,
                                          HostCtl::Storage::DiskLunPartition::PartitionType type) {
    DiskLunPartitionImpl::_partTypeGuidPairs.emplace_back(type, guid);
}

void DiskLunApi::AddCoreDumpSizeCbkFn(unsigned long (*fn)()) {
    StorageInfoImpl::AddCoreDumpSizeCbkFn(fn);
}

void DiskLunApi::AddGetDumpPolicyCbkFn(void (*fn)(unsigned int, char**)) {
    MorraFileSystemImpl::getDumpPolicyFn = fn;
}

void DiskLunApi::AddGetCapacityFromDIRSVCCbkFn(void (*fn)(HostCtl::Morra::Uuid, unsigned long*, unsigned long*)) {
    MorraFileSystemImpl::getCapacityFromDIRSVCFn = fn;
}

void DiskLunApi::AddSetMorraDatastoreNameCbkFn(void (*fn)(const std::string&, const std::string&)) {
    MorraFileSystemImpl::setMorraDatastoreNameFn = fn;
}

}  // namespace TarnCtl::Storage
