// The storage domain object: the adapter decision tree and typed adapter
// lists, device enumeration with offline devices and once-a-day last_seen
// stamping, lookups by any UID, rescans with the rescan-running mark, stale
// device purging and the boot-time naming of devices.
#include "storage/storage_info_impl.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include "hostctl/exception.h"
#include "lib/cache.h"
#include "platform/hostroot.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"
#include "storage/disk_lun_impl.h"
#include "storage/lun_impl.h"
#include "storage/scsi_interface_impl.h"
#include "storage/scsi_path_impl.h"
#include "storage/storage_util.h"

namespace TarnCtl::Storage {

using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::FilterSpecObject;
using HostCtl::Lib::HostCtlException;
using HostCtl::Storage::DiskLun;
using HostCtl::Storage::DiskLunPartition;
using HostCtl::Storage::Lun;
using HostCtl::Storage::ScsiInterface;
using TarnCtl::Util::Sysinfo;

namespace {

// Class-wide state, built once under the class mutex by the first constructor.
std::mutex gClassMutex;
bool gTablesBuilt = false;
std::map<std::string, uint32_t> gModuleTypes;
std::map<std::string, int> gAuthMap;
// Time of the last last_seen stamping in this process.
std::mutex gStampMutex;
time_t gLastStamp = 0;
bool gStamped = false;

void BuildTables() {
    std::lock_guard<std::mutex> guard(gClassMutex);
    if (gTablesBuilt)
        return;
    for (const char* m : {"mptscsi", "mptscsi_2xx", "aacraid", "aacraid_halden30", "adp94xx", "aic79xx",
                          "aic7xxx", "asa72xx", "gdth", "ips", "megaraid2", "megaraid_sas"})
        gModuleTypes[m] = ScsiInterface::SCSI_IFACE_TYPE_PSCSI;
    for (const char* m : {"iscsi_tarn", "qla4010", "qla4022", "qla4xxx"})
        gModuleTypes[m] = ScsiInterface::SCSI_IFACE_TYPE_ISCSI;
    gModuleTypes["ide"] = ScsiInterface::SCSI_IFACE_TYPE_IDE;
    gModuleTypes["sata"] = ScsiInterface::SCSI_IFACE_TYPE_SATA;
    for (const char* m : {"umass", "usb-storage", "tarnusb"})
        gModuleTypes[m] = ScsiInterface::SCSI_IFACE_TYPE_USB;
    gAuthMap = {{"", 0}, {"AUTH_SYS", 1}, {"SEC_KRB5", 2}, {"SEC_KRB5I", 3}};
    gTablesBuilt = true;
}

std::unique_ptr<ScsiInterface> MakeInterface(const std::string& name, ScsiInterface::ScsiInterfaceType type) {
    switch (type) {
    case ScsiInterface::SCSI_IFACE_TYPE_BLOCK: return std::make_unique<BlockScsiInterfaceImpl>(name);
    case ScsiInterface::SCSI_IFACE_TYPE_FC: return std::make_unique<FibreChannelInterfaceImpl>(name);
    case ScsiInterface::SCSI_IFACE_TYPE_ISCSI:
    case ScsiInterface::SCSI_IFACE_TYPE_ISCSI_VENDOR: return std::make_unique<iScsiInterfaceImpl>(name, type);
    case ScsiInterface::SCSI_IFACE_TYPE_IDE: return std::make_unique<IdeScsiInterfaceImpl>(name);
    case ScsiInterface::SCSI_IFACE_TYPE_SAS: return std::make_unique<SerialAttachedScsiInterfaceImpl>(name);
    case ScsiInterface::SCSI_IFACE_TYPE_SATA: return std::make_unique<SataInterfaceImpl>(name);
    case ScsiInterface::SCSI_IFACE_TYPE_USB: return std::make_unique<UsbInterfaceImpl>(name);
    case ScsiInterface::SCSI_IFACE_TYPE_FCOE: return std::make_unique<FibreChannelOverEthernetInterfaceImpl>(name);
    case ScsiInterface::SCSI_IFACE_TYPE_PCIE: return std::make_unique<PcieInterfaceImpl>(name);
    case ScsiInterface::SCSI_IFACE_TYPE_RDMA: return std::make_unique<RdmaInterfaceImpl>(name);
    case ScsiInterface::SCSI_IFACE_TYPE_TCP: return std::make_unique<TcpInterfaceImpl>(name);
    default: return std::make_unique<ParallelScsiInterfaceImpl>(name);
    }
}

const char* ClaimRuleClassString(HostCtl::Storage::PSAClaimRuleClass c) {
    switch (c) {
    case HostCtl::Storage::MP: return "MP";
    case HostCtl::Storage::Filter: return "Filter";
    case HostCtl::Storage::SOPI: return "SOPI";
    }
    return "";
}

// Marks a rescan as running in the kernel for the lifetime of the guard.
class RescanRunningMark {
public:
    RescanRunningMark() { Write(1); }
    ~RescanRunningMark() { Write(0); }

private:
    static void Write(long on) {
        try {
            Sysinfo si(KSI_NODE_storage_scsifw_rescanOn);
            si.AddInput(on);
            si.AddInput(static_cast<long>(getpid()));
            si.Set();
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Cannot set rescan running state: %s\n", "StorageInfo", e.what());
        }
    }
};

std::vector<std::shared_ptr<HaldenConfigStore::ConfigStoreObject>> ListObjects(const char* key) {
    return Store()->List(std::make_shared<FilterSpecObject>(ConfigStoreObjectId(key, "storage", "halden")));
}

}  // namespace

// ---- Construction and tables ----------------------------------------------------------

std::vector<unsigned long (*)()> StorageInfoImpl::_coreDumpSizeCallbacks;

void StorageInfoImpl::AddCoreDumpSizeCbkFn(unsigned long (*fn)()) {
    _coreDumpSizeCallbacks.push_back(fn);
}

StorageInfoImpl::StorageInfoImpl() {
    BuildTables();
}

const std::map<std::string, uint32_t>& StorageInfoImpl::ModuleTypes() {
    BuildTables();
    return gModuleTypes;
}

const std::map<std::string, int>& StorageInfoImpl::AuthMap() {
    BuildTables();
    return gAuthMap;
}

// ---- Adapters -------------------------------------------------------------------------

ScsiInterface::ScsiInterfaceType StorageInfoImpl::InterfaceTypeFor(const KsiStorageAdapterInfo& info) {
    const std::string driver = FixedString(info.driver);
    const std::string name = FixedString(info.name);
    if (info.transport == 0) {
        const auto& modules = ModuleTypes();
        auto it = modules.find(driver);
        if (it == modules.end()) {
            if (HostCtl::Misc::StartsWith(driver, "qla2") || HostCtl::Misc::StartsWith(driver, "lpfc"))
                return ScsiInterface::SCSI_IFACE_TYPE_FC;
            if (HostCtl::Misc::StartsWith(driver, "qfle3f"))
                return ScsiInterface::SCSI_IFACE_TYPE_FCOE;
            return ScsiInterface::SCSI_IFACE_TYPE_PSCSI;
        }
        switch (it->second) {
        case 0: case 1: case 5: case 10:
            throw HostCtlException("Eror Block should be KSI");
        default:
            if (it->second >= 15)
                throw HostCtlException("Incorrect scsi interface type");
            return static_cast<ScsiInterface::ScsiInterfaceType>(it->second);
        }
    }
    switch (info.transport) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 9: case 11: case 12: case 13: case 14:
        return static_cast<ScsiInterface::ScsiInterfaceType>(info.transport);
    case 10:
        return ScsiInterface::SCSI_IFACE_TYPE_PSCSI;
    case 240:
        return HostCtl::Misc::StartsWith(driver, "qfle3f") ? ScsiInterface::SCSI_IFACE_TYPE_FCOE
                                                           : ScsiInterface::SCSI_IFACE_TYPE_FC;
    default:
        throw HostCtlException("Incomplete scsi interface table: " + name + "; No type for: " + driver);
    }
}

std::unique_ptr<ScsiInterface> StorageInfoImpl::GetScsiInterface(const std::string& name) {
    Sysinfo si(KSI_NODE_storage_scsifw_adapters_info);
    si.SetInstance(name);
    KsiStorageAdapterInfo info{};
    si.Get(&info, sizeof(info));
    if (FixedString(info.name).empty())
        SetFixedString(info.name, name);
    return MakeInterface(name, InterfaceTypeFor(info));
}

bool StorageInfoImpl::IsValidScsiInterface(const std::string& name) {
    Sysinfo si(KSI_NODE_storage_scsifw_adapters);
    si.SetThrowOnError(false);
    return si.IsValidInstance(name);
}

std::vector<std::unique_ptr<ScsiInterface>> StorageInfoImpl::GetScsiInterfaces() {
    std::vector<std::unique_ptr<ScsiInterface>> out;
    for (const auto& name : KsiList(KSI_NODE_storage_scsifw_adapters)) {
        try {
            out.push_back(GetScsiInterface(name));
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Skipping scsi interface %s: %s\n", "StorageInfo", name.c_str(), e.what());
        }
    }
    return out;
}

template <typename Kind>
std::vector<std::unique_ptr<Kind>> StorageInfoImpl::TypedInterfaces() {
    std::vector<std::unique_ptr<Kind>> out;
    for (auto& adapter : GetScsiInterfaces()) {
        if (auto* kind = dynamic_cast<Kind*>(adapter.get())) {
            adapter.release();
            out.emplace_back(kind);
        }
    }
    return out;
}

#define TARN_TYPED_LIST(Method, Kind)                                                  \
    std::vector<std::unique_ptr<HostCtl::Storage::Kind>> StorageInfoImpl::Method() { \
        return TypedInterfaces<HostCtl::Storage::Kind>();                              \
    }
TARN_TYPED_LIST(GetFibreChannelInterfaces, FibreChannelInterface)
TARN_TYPED_LIST(GetFibreChannelOverEthernetInterfaces, FibreChannelOverEthernetInterface)
TARN_TYPED_LIST(GetiScsiInterfaces, iScsiInterface)
TARN_TYPED_LIST(GetBlockScsiInterfaces, BlockScsiInterface)
TARN_TYPED_LIST(GetIdeScsiInterfaces, IdeScsiInterface)
TARN_TYPED_LIST(GetParallelScsiInterfaces, ParallelScsiInterface)
TARN_TYPED_LIST(GetPcieScsiInterfaces, PcieInterface)
TARN_TYPED_LIST(GetRdmaScsiInterfaces, RdmaInterface)
TARN_TYPED_LIST(GetSerialAttachedScsiInterfaces, SerialAttachedScsiInterface)
TARN_TYPED_LIST(GetUsbInterfaces, UsbInterface)
TARN_TYPED_LIST(GetSataInterfaces, SataInterface)
#undef TARN_TYPED_LIST

// ---- Devices --------------------------------------------------------------------------

std::unique_ptr<LunImpl> StorageInfoImpl::MakeLun(std::string uid, const KsiStorageDeviceInfo& info) {
    if (info.type == Lun::LUN_TYPE_DISK)
        return std::make_unique<DiskLunImpl>(std::move(uid), info);
    return std::make_unique<LunImpl>(std::move(uid), info);
}

std::vector<std::unique_ptr<LunImpl>> StorageInfoImpl::EnumerateLuns(bool includeOffline) {
    std::vector<std::unique_ptr<LunImpl>> out;
    auto memo = std::make_shared<TransportWordMemo>();
    auto names = KsiList(KSI_NODE_storage_scsifw_devices);
    std::set<std::string> live;
    if (includeOffline)
        live.insert(names.begin(), names.end());
    out.reserve(names.size());
    // Each name moves into its device: a listing of every device copies no name.
    for (auto& name : names) {
        try {
            const auto info = KsiRead<KsiStorageDeviceInfo>(KSI_NODE_storage_scsifw_devices_info, {name});
            auto lun = MakeLun(std::move(name), info);
            lun->SetTransportWordMemo(memo);
            out.push_back(std::move(lun));
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Skipping lun %s: %s\n", "StorageInfo", name.c_str(), e.what());
        }
    }
    if (includeOffline) {
        try {
            for (const auto& uid : KsiList(KSI_NODE_storage_scsifw_persistDeviceAttrs_uids))
                if (!live.count(uid))
                    out.push_back(LunImpl::MakeOffline(uid));
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Skipping some offline luns: %s\n", "StorageInfo", e.what());
        }
    }
    return out;
}

bool StorageInfoImpl::StampDue(bool force) {
    std::lock_guard<std::mutex> guard(gStampMutex);
    return force || !gStamped || StorageClock::Now() - gLastStamp > kStampInterval;
}

void StorageInfoImpl::StampLastSeen(const std::vector<std::string>& uids, bool force) {
    std::lock_guard<std::mutex> guard(gStampMutex);
    const time_t now = StorageClock::Now();
    if (!force && gStamped && now - gLastStamp <= kStampInterval)
        return;
    auto store = Store();
    if (store->IsBoot())
        return;
    try {
        HaldenConfigStore::ConfigStoreTransaction txn(store);
        for (const auto& uid : uids) {
            auto object = std::make_shared<HaldenConfigStore::ConfigStoreObject>(DeviceAccessId(uid));
            object->SetValue("device", uid);
            object->SetValue("last_seen", static_cast<long>(now));
            store->Write(object);
        }
        txn.Commit();
        gLastStamp = now;
        gStamped = true;
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Unable to record when devices were last seen: %s\n", "StorageInfo", e.what());
    }
}

std::vector<std::unique_ptr<Lun>> StorageInfoImpl::GetLuns(bool includeOffline, bool forceStamp) {
    auto luns = EnumerateLuns(includeOffline);
    std::vector<std::unique_ptr<Lun>> out;
    out.reserve(luns.size());
    if (StampDue(forceStamp)) {
        std::vector<std::string> uids;
        uids.reserve(luns.size());
        for (const auto& lun : luns)
            uids.push_back(lun->GetIdentifier());
        StampLastSeen(uids, forceStamp);
    }
    for (auto& lun : luns)
        out.push_back(std::move(lun));
    return out;
}

std::unique_ptr<Lun> StorageInfoImpl::GetLunByUUID(const std::string& uid) {
    Sysinfo si(KSI_NODE_storage_scsifw_devices);
    si.SetThrowOnError(false);
    if (!si.IsValidInstance(uid))
        return nullptr;
    return MakeLun(uid, KsiRead<KsiStorageDeviceInfo>(KSI_NODE_storage_scsifw_devices_info, {uid}));
}

std::string StorageInfoImpl::ResolveRuntimeLunName(const std::string& name) {
    // Reading the UID's record answers whether it exists: no need to list
    // every UID of the host first, which made per-device lookups (and the
    // boot replays built on them) grow with the number of devices.
    if (!name.empty()) {
        Sysinfo primary(KSI_NODE_storage_scsifw_deviceUids_primaryUid);
        primary.SetThrowOnError(false);
        primary.SetInstance(name);
        KsiStorageUid uid{};
        if (primary.Get(&uid, sizeof(uid)) == TARN_OK && uid.uid[0] != '\0')
            return FixedString(uid.uid);
    }
    throw HostCtlException("Unable to resolve Device name " + name +
                           ".  Device was either removed or is Unknown.");
}

std::unique_ptr<LunImpl> StorageInfoImpl::GetLun(const std::string& name, bool allowOffline) {
    std::string uid;
    try {
        uid = StorageInfoImpl().ResolveRuntimeLunName(name);
    } catch (const HostCtlException&) {
        if (allowOffline) {
            Sysinfo si(KSI_NODE_storage_scsifw_persistDeviceAttrs_uids);
            si.SetThrowOnError(false);
            if (si.IsValidInstance(name))
                return LunImpl::MakeOffline(name);
        }
        return nullptr;
    }
    Sysinfo si(KSI_NODE_storage_scsifw_devices_info);
    si.SetThrowOnError(false);
    si.SetInstance(uid);
    KsiStorageDeviceInfo info{};
    if (si.Get(&info, sizeof(info)) != TARN_OK)
        return nullptr;
    return MakeLun(uid, info);
}

std::unique_ptr<Lun> StorageInfoImpl::GetDeviceByName(const std::string& name, bool allowOffline) {
    return GetLun(name, allowOffline);
}

std::vector<std::unique_ptr<DiskLun>> StorageInfoImpl::GetDiskLuns() {
    std::vector<std::unique_ptr<DiskLun>> out;
    for (auto& lun : EnumerateLuns(false)) {
        if (auto* disk = dynamic_cast<DiskLunImpl*>(lun.get())) {
            lun.release();
            out.emplace_back(disk);
        }
    }
    return out;
}

std::vector<std::unique_ptr<DiskLun>> StorageInfoImpl::GetDiskLuns(const std::set<std::string>& names) {
    std::vector<std::unique_ptr<DiskLun>> out;
    for (const auto& name : names) {
        auto lun = GetLun(name, false);
        if (auto* disk = dynamic_cast<DiskLunImpl*>(lun.get())) {
            lun.release();
            out.emplace_back(disk);
        }
    }
    return out;
}

std::vector<std::unique_ptr<Lun>> StorageInfoImpl::GetCdroms() {
    std::vector<std::unique_ptr<Lun>> out;
    for (auto& lun : EnumerateLuns(false)) {
        auto type = lun->GetLunType();
        if (type == Lun::LUN_TYPE_CDROM || type == Lun::LUN_TYPE_IDE_CDROM)
            out.push_back(std::move(lun));
    }
    return out;
}

std::unique_ptr<Lun> StorageInfoImpl::GetDeviceByDevfsPath(const std::string& path) {
    for (auto& lun : EnumerateLuns(false)) {
        try {
            if (lun->GetDevfsPath() == path)
                return std::unique_ptr<Lun>(lun.release());
        } catch (const HostCtlException&) {
        }
    }
    return nullptr;
}

std::unique_ptr<DiskLunPartition> StorageInfoImpl::GetPartitionByName(const std::string& name) {
    std::string disk;
    uint16_t number = 0;
    if (!DiskLunPartitionImpl::ParseName(name, &disk, &number)) {
        disk = name;
        number = 0;
    }
    auto lun = GetLun(disk, false);
    auto* diskLun = dynamic_cast<DiskLunImpl*>(lun.get());
    if (!diskLun)
        throw HostCtlException("Unable to find a partition with the name " + name);
    return diskLun->GetPartition(number);
}

std::unique_ptr<DiskLunPartition> StorageInfoImpl::GetPartitionByNumber(const std::string& device,
                                                                         unsigned short number) {
    std::unique_ptr<LunImpl> lun;
    try {
        lun = GetLun(ResolveRuntimeLunName(device), false);
    } catch (const HostCtlException& e) {
        throw HostCtlException(std::string("Unable to get DiskLun partition: ") + e.what());
    }
    auto* disk = dynamic_cast<DiskLunImpl*>(lun.get());
    if (!disk)
        throw HostCtlException("Unable to get DiskLun partition: Not a disk: " + device);
    return disk->GetPartition(static_cast<uint16_t>(number));
}

std::unique_ptr<DiskLunPartition> StorageInfoImpl::GetPartitionByDevfsPath(const std::string& path) {
    const std::string prefix = "/kdfs/devices/disks/";
    if (!HostCtl::Misc::StartsWith(path, prefix))
        return nullptr;
    std::string rest = path.substr(prefix.size());
    std::string disk = rest;
    uint16_t number = 0;
    DiskLunPartitionImpl::ParseName(rest, &disk, &number);
    auto lun = GetLun(disk, false);
    auto* diskLun = dynamic_cast<DiskLunImpl*>(lun.get());
    return diskLun ? diskLun->GetPartition(number) : nullptr;
}

void StorageInfoImpl::GetConfiguredDisplayNames(std::map<std::string, std::string>& names) {
    for (const auto& object : ListObjects("block_devices")) {
        std::string name;
        if (object->GetValue("display_name", &name))
            names[object->GetConfigStoreObjectId().GetInstanceId()] = name;
    }
}

std::map<std::string, std::string> StorageInfoImpl::GetDisplayNameMap() {
    std::map<std::string, std::string> configured, out;
    GetConfiguredDisplayNames(configured);
    for (auto& lun : EnumerateLuns(false)) {
        try {
            out[lun->GetIdentifier()] = lun->GetDisplayName(configured);
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Skipping lun %s: %s\n", "StorageInfo", lun->GetIdentifier().c_str(), e.what());
        }
    }
    return out;
}

// ---- Purging --------------------------------------------------------------------------

void StorageInfoImpl::PurgeDevices(const std::vector<std::string>& uids) {
    if (uids.empty())
        return;
    StorageLockGuard lock(_lock);
    auto store = Store();
    HaldenConfigStore::ConfigStoreTransaction txn(store);
    for (const auto& uid : uids) {
        Sysinfo si(KSI_NODE_storage_scsifw_persistDeviceAttrs_set);
        si.SetDefaultErrorMessage("Unable to delete persistent attributes. Please see Tarnos log");
        si.AddInput(uid);
        si.AddInput("deleted=true");
        si.Set();
        store->Delete(BlockDeviceId(uid));
    }
    txn.Commit();
}

void StorageInfoImpl::PurgeStaleLuns(unsigned int days) {
    const time_t now = StorageClock::Now();
    std::vector<std::string> stale;
    for (const auto& object : ListObjects("devices_access")) {
        std::string uid;
        long lastSeen = 0;
        if (!object->GetValue("device", &uid))
            continue;
        object->GetValue("last_seen", &lastSeen);
        if (now >= lastSeen + static_cast<long>(days) * kStampInterval)
            stale.push_back(uid);
    }
    PurgeDevices(stale);
}

void StorageInfoImpl::PurgeStaleLunsForce() {
    const auto names = KsiList(KSI_NODE_storage_scsifw_devices);
    std::set<std::string> live(names.begin(), names.end());
    std::vector<std::string> gone;
    for (const auto& object : ListObjects("devices_access")) {
        std::string uid;
        if (object->GetValue("device", &uid) && !live.count(uid))
            gone.push_back(uid);
    }
    PurgeDevices(gone);
}

void StorageInfoImpl::DeleteLunState(const std::string& uid) {
    auto lun = GetLun(uid, true);
    if (!lun)
        throw HostCtlException("Unable to resolve Device name " + uid +
                               ".  Device was either removed or is Unknown.");
    StorageLockGuard lock(_lock);
    lun->DeleteState();
}

// ---- Paths and claiming ---------------------------------------------------------------

std::vector<std::unique_ptr<HostCtl::Storage::ScsiPath>> StorageInfoImpl::GetScsiPaths() {
    std::vector<std::unique_ptr<HostCtl::Storage::ScsiPath>> out;
    auto names = KsiList(KSI_NODE_storage_scsifw_paths);
    out.reserve(names.size());
    for (auto& name : names)
        out.push_back(std::make_unique<ScsiPathImpl>(std::move(name)));
    return out;
}

std::vector<std::string> StorageInfoImpl::GetScsiAdaptersForDevice(const std::string& device) {
    return KsiList(KSI_NODE_storage_scsifw_devices_adapters, {device});
}

std::unique_ptr<HostCtl::Storage::ScsiPath> StorageInfoImpl::GetPathByName(const std::string& name) {
    const auto paths = KsiList(KSI_NODE_storage_scsifw_paths);
    for (const auto& path : paths)
        if (path == name)
            return std::make_unique<ScsiPathImpl>(path);
    for (const auto& path : paths) {
        try {
            auto p = std::make_unique<ScsiPathImpl>(path);
            if (p->GetIdentifier() == name)
                return p;
        } catch (const HostCtlException&) {
        }
    }
    return nullptr;
}

void StorageInfoImpl::RunPsaClaimRules(HostCtl::Storage::PSAClaimRuleClass ruleClass, bool wait) {
    Sysinfo si(KSI_NODE_storage_scsifw_claimrule);
    if (wait)
        si.AddInput("wait");
    si.AddInput(std::string("plugintype=") + ClaimRuleClassString(ruleClass));
    if (ruleClass == HostCtl::Storage::MP) {
        for (const char* input : {"format=location", "adapter=*", "channel=-1", "target=-1", "lun=-1"})
            si.AddInput(input);
    } else if (ruleClass == HostCtl::Storage::Filter) {
        si.AddInput("format=deviceuid");
        si.AddInput("deviceuid=*");
    } else {
        throw HostCtlException("RunPsaClaimRules: Invalid claimrule class");
    }
    si.Set();
}

// ---- Rescans --------------------------------------------------------------------------

std::string StorageInfoImpl::RescanAdapters(const std::string& adapter, const std::string& type,
                                            bool skipClaim) {
    // Other processes' storage changes wait for the whole rescan, and the
    // kernel sees it running from the adapter listing to the last claim run.
    StorageLockGuard lock(_lock);
    RescanRunningMark mark;
    std::vector<std::unique_ptr<ScsiInterface>> adapters;
    if (adapter == "*") {
        try {
            adapters = GetScsiInterfaces();
        } catch (const HostCtlException& e) {
            throw HostCtlException(
                std::string("Unable to retrieve list of adapters to rescan from the system. Error was ") +
                e.what());
        }
    } else {
        std::unique_ptr<ScsiInterface> one;
        try {
            one = GetScsiInterface(adapter);
        } catch (const HostCtlException&) {
            throw HostCtlException("Invalid adapter specified or unable to get adapter '" + adapter + "'\n");
        }
        if (!one)
            throw HostCtlException("Invalid adapter specified '" + adapter + "'\n");
        adapters.push_back(std::move(one));
    }

    std::string result;
    bool deadPathsInUse = false;
    for (auto& a : adapters) {
        if (_progress)
            _progress(a->GetIdentifier());
        try {
            if (type == "add") {
                a->RescanDiscoverNewDevices();
            } else if (type == "delete") {
                a->RescanRemoveDeadDevices();
            } else if (type == "update") {
                a->RescanUpdatePathState();
            } else {
                a->Rescan(skipClaim);
                if (auto* impl = dynamic_cast<ScsiInterfaceImpl*>(a.get()); impl && impl->HasDeadPathsInUse())
                    deadPathsInUse = true;
            }
        } catch (const HostCtlException& e) {
            result += "Error while rescanning adapter " + a->GetIdentifier() + ". Error was " + e.what() + "\n";
        }
    }
    if (!skipClaim && (type == "all" || type == "add"))
        RunPsaClaimRules(HostCtl::Storage::MP, false);
    if (deadPathsInUse)
        result +=
            "Rescan complete, however some dead paths were not removed because they were in use by the "
            "system. Please use the 'storage core device world list' command to see the Tarnos worlds "
            "still using these paths.";
    return result;
}

// ---- Boot -----------------------------------------------------------------------------

void StorageInfoImpl::LoadConfig() {
    // Multipathing configuration is restored by the multipathing code's own
    // boot step, which runs before this one.
    std::map<std::string, std::string> configured;
    GetConfiguredDisplayNames(configured);
    for (const auto& [uid, name] : configured) {
        try {
            auto lun = GetLun(uid, false);
            if (!lun)
                throw HostCtlException("Unable to resolve Device name " + uid +
                                       ".  Device was either removed or is Unknown.");
            lun->NameDevice();
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Unable to name LUN %s: %s\n", "StorageInfo", uid.c_str(), e.what());
        }
    }
}

void StorageInfoImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("Storage Info");
    printer->BeginObject();
    {
        TarnCtl::Lib::ObjectPrinter::VectorPrinterHelper list("Scsi Interfaces", printer);
        for (auto& a : GetScsiInterfaces())
            list.Print(TarnCtl::Util::tarnctl_cast(a.get()));
    }
    {
        TarnCtl::Lib::ObjectPrinter::VectorPrinterHelper list("Luns", printer);
        for (auto& lun : EnumerateLuns(false))
            list.Print(lun.get());
    }
    printer->EndObject();
}

}  // namespace TarnCtl::Storage
