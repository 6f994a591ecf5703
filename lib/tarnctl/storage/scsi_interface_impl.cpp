// Storage adapters: lazy refresh from the adapter's info, stats and UID
// records, statistics, and the three rescan steps with their failure texts.
#include "storage/scsi_interface_impl.h"

#include "hostctl/exception.h"
#include "ksi/storage.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"
#include "storage/scsi_path_impl.h"
#include "storage/storage_info_impl.h"
#include "storage/storage_util.h"

namespace TarnCtl::Storage {

using HostCtl::Lib::HostCtlException;
using HostCtl::Misc::StrPrintf;

ScsiInterfaceImpl::ScsiInterfaceImpl(const std::string& name) : _name(name) {}

void ScsiInterfaceImpl::Refresh() {
    auto info = KsiRead<KsiStorageAdapterInfo>(KSI_NODE_storage_scsifw_adapters_info, {_name});
    auto stats = KsiRead<KsiStorageStats>(KSI_NODE_storage_scsifw_adapters_stats, {_name});
    auto uid = KsiRead<KsiStorageAdapterUid>(KSI_NODE_storage_scsifw_adapters_uid, {_name});
    _driver = FixedString(info.driver);
    _description = FixedString(info.description);
    _capabilities = info.capabilities;
    _status = info.status;
    _pciAddress = info.hasPci ? StrPrintf("%04x:%02x:%02x.%x", info.pciSegment, info.pciBus,
                                          info.pciSlot, info.pciFunction)
                              : "";
    _queueDepth = stats.queueDepth;
    _nvme = stats.nvme != 0;
    _uid = FixedString(uid.uid);
    _protMask = uid.protMask;
    switch (uid.guardType) {
    case 1: _guardType = "CRC"; break;
    case 2: _guardType = "IP"; break;
    case 3: _guardType = "CRC, IP"; break;
    default: _guardType = "NO GUARD SUPPORT"; break;
    }
    _stale = false;
}

std::vector<std::unique_ptr<HostCtl::Lib::HostCtlObject>> ScsiInterfaceImpl::GetChildren() {
    std::vector<std::unique_ptr<HostCtl::Lib::HostCtlObject>> out;
    for (auto& p : GetScsiPaths())
        out.push_back(std::move(p));
    return out;
}

std::string ScsiInterfaceImpl::GetAdapterUid() { RefreshIfStale(); return _uid; }
uint32_t ScsiInterfaceImpl::GetAdapterCapabilities() { RefreshIfStale(); return _capabilities; }
uint32_t ScsiInterfaceImpl::ProtMask() { RefreshIfStale(); return _protMask; }
std::string ScsiInterfaceImpl::GuardType() { RefreshIfStale(); return _guardType; }
uint32_t ScsiInterfaceImpl::GetAdapterStatus() { RefreshIfStale(); return _status; }
std::string ScsiInterfaceImpl::GetDriver() { RefreshIfStale(); return _driver; }
uint32_t ScsiInterfaceImpl::GetQueueDepth() { RefreshIfStale(); return _queueDepth; }
std::string ScsiInterfaceImpl::GetDescription() { RefreshIfStale(); return _description; }

std::string ScsiInterfaceImpl::GetCommunicationProtocol() {
    RefreshIfStale();
    return _nvme ? "NVME" : "SCSI";
}

std::string ScsiInterfaceImpl::GetPciAddress() {
    RefreshIfStale();
    if (!_pciAddress.empty())
        TarnCtl_LogVerboseInt("%s: We have a storage controller at %s\n", "ScsiInterface",
                              _pciAddress.c_str());
    return _pciAddress;
}

std::vector<std::unique_ptr<HostCtl::Storage::ScsiPath>> ScsiInterfaceImpl::GetScsiPaths() {
    std::vector<std::unique_ptr<HostCtl::Storage::ScsiPath>> out;
    for (const auto& path : KsiList(KSI_NODE_storage_scsifw_adapters_paths, {_name}))
        out.push_back(std::make_unique<ScsiPathImpl>(path));
    return out;
}

HostCtl::Storage::StorageStatistics ScsiInterfaceImpl::GetStorageStatistics() {
    auto stats = KsiRead<KsiStorageStats>(KSI_NODE_storage_scsifw_adapters_stats, {_name});
    HostCtl::Storage::StorageStatistics out;
    out.SetValues(stats.counters);
    return out;
}

void ScsiInterfaceImpl::GetScsiStats(HostCtl::Storage::ScsiStats& stats) {
    stats.io = GetStorageStatistics();
}

bool ScsiInterfaceImpl::IsLocalType(uint32_t type) {
    switch (type) {
    case 0: case 1: case 4: case 6: case 7: case 8: case 9: case 12:
        return true;
    default:
        return false;
    }
}

bool ScsiInterfaceImpl::IsLocalOnly() {
    return IsLocalType(GetInterfaceType());
}

std::string ScsiInterfaceImpl::TransportWord(ScsiInterfaceType type, const std::string& description) {
    switch (type) {
    case SCSI_IFACE_TYPE_FC: return "Fibre Channel";
    case SCSI_IFACE_TYPE_ISCSI:
    case SCSI_IFACE_TYPE_ISCSI_VENDOR: return "iSCSI";
    case SCSI_IFACE_TYPE_IDE: return "IDE";
    case SCSI_IFACE_TYPE_SAS: return "Serial Attached SCSI";
    case SCSI_IFACE_TYPE_SATA: return "Serial ATA";
    case SCSI_IFACE_TYPE_USB: return "USB";
    case SCSI_IFACE_TYPE_PSCSI: return "Local SCSI";
    case SCSI_IFACE_TYPE_FCOE: return "Fibre Channel Over Ethernet";
    case SCSI_IFACE_TYPE_PCIE: return "PCIe";
    case SCSI_IFACE_TYPE_RDMA: return "RDMA";
    case SCSI_IFACE_TYPE_TCP: return "TCP";
    case SCSI_IFACE_TYPE_BLOCK: return description;
    default: return "Unknown";
    }
}

std::string ScsiInterfaceImpl::GetTransportMapping(const std::string&) {
    return TransportWord(GetInterfaceType(), GetDescription());
}

namespace {

struct ScanStep {
    uint32_t node;
    const char* what;        // "new devices"
    const char* causeTail;   // what follows the kernel's cause
};

const ScanStep kDiscover{KSI_NODE_storage_scsifw_add, "new devices",
                         ".  Please see Tarnos log for more information"};
const ScanStep kRemove{KSI_NODE_storage_scsifw_delete, "old devices",
                       ". Please see Tarnos log for more information"};
const ScanStep kUpdate{KSI_NODE_storage_scsifw_update, "path updates",
                       ". Please see Tarnos log for more information"};

// Asks the kernel to run one scan step on `adapter`, mapping its refusals to
// the texts users know.
void RunScanStep(const ScanStep& step, const std::string& adapter) {
    const std::string head = std::string("Unable to scan Tarnos SCSI subsystem for ") + step.what + ".";
    StorageLockGuard lock;
    try {
        TarnCtl::Util::Sysinfo si(step.node);
        si.AddInput(adapter);
        si.Set();
    } catch (const TarnCtl::Lib::SysinfoException& e) {
        if (e.GetStatus() == TARN_BUSY)
            throw HostCtlException(head + "  Scan already in progress", e.GetKevtMessage());
        throw HostCtlException(head + TARN_ReturnStatusToString(e.GetStatus()) + step.causeTail,
                               e.GetKevtMessage());
    } catch (const HostCtlException& e) {
        throw HostCtlException(head + "  Please see Tarnos log for more information",
                               e.GetKevtMessage());
    }
}

}  // namespace

void ScsiInterfaceImpl::RescanDiscoverNewDevices() {
    RunScanStep(kDiscover, _name);
}

bool ScsiInterfaceImpl::RescanRemoveDeadDevices() {
    RunScanStep(kRemove, _name);
    // The kernel keeps the outcome of the adapter's last scan; a failure to
    // read it only loses the "devices were removed" hint.
    TarnCtl::Util::Sysinfo si(KSI_NODE_storage_scsifw_delete);
    si.SetThrowOnError(false);
    si.SetInstance(_name);
    KsiStorageRescanResult result{};
    return si.Get(&result, sizeof(result)) == TARN_OK && result.devicesRemoved > 0;
}

void ScsiInterfaceImpl::RescanUpdatePathState() {
    RunScanStep(kUpdate, _name);
}

void ScsiInterfaceImpl::Rescan(bool skipClaim) {
    bool discoverFailed = false;
    try {
        RescanDiscoverNewDevices();
    } catch (const HostCtlException&) {
        discoverFailed = true;
    }
    // New devices can appear once dead ones are gone; a failed first discovery
    // gets its second chance here, and then its failure counts.
    if (RescanRemoveDeadDevices() || discoverFailed)
        RescanDiscoverNewDevices();
    RescanUpdatePathState();
    if (!skipClaim)
        StorageInfoImpl().RunPsaClaimRules(HostCtl::Storage::MP, false);
}

bool ScsiInterfaceImpl::HasDeadPathsInUse() {
    try {
        for (const auto& path : KsiList(KSI_NODE_storage_scsifw_adapters_paths, {_name})) {
            auto state = KsiRead<KsiStorageValue>(KSI_NODE_storage_scsifw_paths_state, {path});
            if (state.value != HostCtl::Storage::ScsiPath::DEAD)
                continue;
            auto info = KsiRead<KsiStoragePathInfo>(KSI_NODE_storage_scsifw_paths_info, {path});
            std::string plugin = FixedString(info.plugin);
            if (!plugin.empty() && plugin != "MASK_PATH")
                return true;
        }
    } catch (const HostCtlException&) {
        return false;
    }
    return false;
}

void ScsiInterfaceImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("Scsi Interface");
    printer->BeginObject();
    printer->Print("Name", _name);
    printer->Print("Driver", GetDriver());
    printer->Print("Type", GetInterfaceTypeString(GetInterfaceType()));
    printer->Print("UID", GetAdapterUid());
    printer->Print("Description", GetDescription());
    printer->Print("Queue Depth", GetQueueDepth());
    printer->Print("Capabilities", GetAdapterCapabilities(), true);
    printer->Print("Status", GetAdapterStatus());
    printer->Print("Protection Mask", ProtMask(), true);
    printer->Print("Guard Type", GuardType());
    printer->Print("Protocol", GetCommunicationProtocol());
    printer->EndObject();
}

}  // namespace TarnCtl::Storage
