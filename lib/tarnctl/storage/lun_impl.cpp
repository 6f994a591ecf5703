// SCSI devices: lazy info, display names (stored or generated from vendor,
// path transports and type), queue tuning, state and persistent attributes,
// durable names, and the boot-time replay of stored settings.
#include "storage/lun_impl.h"

#include <cctype>

#include "hostctl/exception.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"
#include "platform/tarnfs.h"
#include "storage/scsi_interface_impl.h"
#include "storage/scsi_path_impl.h"
#include "storage/storage_info_impl.h"
#include "storage/storage_util.h"

namespace TarnCtl::Storage {

using HaldenConfigStore::ConfigStoreObject;
using HostCtl::Lib::HostCtlException;
using HostCtl::Storage::ScsiInterface;
using TarnCtl::Util::Sysinfo;

namespace {

// Replaces every run of white space with one space.
std::string CollapseSpaces(const std::string& text) {
    std::string out;
    bool inSpace = false;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!inSpace)
                out.push_back(' ');
            inSpace = true;
        } else {
            out.push_back(c);
            inSpace = false;
        }
    }
    return out;
}

std::string Hex(const uint8_t* data, uint32_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint32_t i = 0; i < length; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
    return out;
}

}  // namespace

LunImpl::LunImpl(std::string uid) : _name(std::move(uid)) {}

LunImpl::LunImpl(std::string uid, const KsiStorageDeviceInfo& info)
    : _name(std::move(uid)), _stale(false), _info(info) {}

std::unique_ptr<LunImpl> LunImpl::MakeOffline(const std::string& uid) {
    auto lun = std::make_unique<LunImpl>(uid);
    lun->_offline = true;
    lun->_stale = false;
    lun->_info.status = LUN_NOT_CONNECTED;
    return lun;
}

void LunImpl::Refresh() {
    if (!_offline)
        _info = KsiRead<KsiStorageDeviceInfo>(KSI_NODE_storage_scsifw_devices_info, {_name});
    _stale = false;
}

// ---- Display names ---------------------------------------------------------------

std::string LunImpl::TransportWordOf(const std::string& adapter) {
    if (_memo) {
        if (auto it = _memo->find(adapter); it != _memo->end())
            return it->second;
    }
    std::string word = "Unknown";
    try {
        auto info = KsiRead<KsiStorageAdapterInfo>(KSI_NODE_storage_scsifw_adapters_info, {adapter});
        word = ScsiInterfaceImpl::TransportWord(StorageInfoImpl::InterfaceTypeFor(info),
                                                FixedString(info.description));
    } catch (const HostCtlException&) {
        // An adapter that cannot be classified keeps the neutral word.
    }
    if (_memo)
        (*_memo)[adapter] = word;
    return word;
}

std::string LunImpl::GenerateDeviceName() {
    RefreshIfStale();
    std::string typeWord;
    switch (_info.type) {
    case LUN_TYPE_DISK: typeWord = "Disk"; break;
    case LUN_TYPE_TAPE: typeWord = "Tape"; break;
    case LUN_TYPE_IDE_CDROM: typeWord = "IDE CD-ROM"; break;
    case LUN_TYPE_IDE_OTHER: typeWord = "IDE Device"; break;
    default: typeWord = FixedString(_info.typeString); break;
    }
    const std::string vendor = FixedString(_info.vendor);
    std::string name;
    if (IsLocal()) {
        name = "Local " + vendor + " " + typeWord + " (" + _name + ")";
    } else {
        std::string transports;
        std::string last;
        for (const auto& path : GetPathNames()) {
            std::string word;
            try {
                auto info = KsiRead<KsiStoragePathInfo>(KSI_NODE_storage_scsifw_paths_info, {path});
                word = TransportWordOf(FixedString(info.adapter));
            } catch (const HostCtlException&) {
                word = "Unknown";
            }
            if (word == last)
                continue;
            if (!transports.empty())
                transports += "/";
            transports += word;
            last = word;
        }
        name = vendor + " " + transports + " " + typeWord + " (" + _name + ")";
    }
    return CollapseSpaces(name);
}

bool LunImpl::IsDisplayNameSettable() {
    return Flag(KSI_DEVICE_UID_PERSISTABLE);
}

bool LunImpl::HasDisplayName() {
    auto object = GetBlockDevice(_name);
    return object && object->HasValue("display_name");
}

std::string LunImpl::GetDisplayName() {
    std::map<std::string, std::string> configured;
    if (auto object = GetBlockDevice(_name)) {
        std::string name;
        if (object->GetValue("display_name", &name))
            configured[_name] = name;
    }
    return GetDisplayName(configured);
}

std::string LunImpl::GetDisplayName(const std::map<std::string, std::string>& configured) {
    auto it = configured.find(_name);
    if (_offline)
        return it != configured.end() ? it->second : _name;
    if (IsDisplayNameSettable())
        return it != configured.end() ? it->second : GenerateDeviceName();
    if (IsRemovableDevice()) {
        for (const auto& path : GetPathNames()) {
            try {
                auto info = KsiRead<KsiStoragePathInfo>(KSI_NODE_storage_scsifw_paths_info, {path});
                auto adapter =
                    KsiRead<KsiStorageAdapterInfo>(KSI_NODE_storage_scsifw_adapters_info, {FixedString(info.adapter)});
                if (StorageInfoImpl::InterfaceTypeFor(adapter) == ScsiInterface::SCSI_IFACE_TYPE_USB)
                    return "Local USB " + FixedString(_info.typeString) + "(" + _name + ")";
            } catch (const HostCtlException&) {
            }
        }
    }
    return GenerateDeviceName();
}

void LunImpl::NameDevice() {
    Sysinfo si(KSI_NODE_storage_scsifw_devices_displayName);
    si.SetInstance(_name);
    si.AddInput(GetDisplayName());
    si.Set();
}

void LunImpl::SetDisplayName(const std::string& name, bool set) {
    if (set && name.empty())
        throw HostCtlException("Device display name cannot not be an empty string.");
    if (!IsDisplayNameSettable())
        throw HostCtlException(
            "Cannot set display name on this device.  Unable to guarantee name will not change "
            "across reboots or media change.");
    if (set && name.find('"') != std::string::npos)
        throw HostCtlException("Device name may not contain \".");
    if (InBootMode())
        return;
    StorageLockGuard lock;
    if (!set && !HasDisplayName())
        return;
    // The kernel learns the name first; the store records it only after.
    Sysinfo si(KSI_NODE_storage_scsifw_devices_displayName);
    si.SetInstance(_name);
    si.AddInput(set ? name : GenerateDeviceName());
    si.Set();
    UpdateBlockDevice(_name, [&](ConfigStoreObject& object) {
        if (set)
            object.SetValue("display_name", name);
        else
            object.Remove("display_name");
    });
}

// ---- Plain getters ---------------------------------------------------------------

std::string LunImpl::GetMultipathPluginName() { RefreshIfStale(); return FixedString(_info.plugin); }
HostCtl::Storage::Lun::LunType LunImpl::GetLunType() { RefreshIfStale(); return static_cast<LunType>(_info.type); }
std::string LunImpl::GetLunTypeString() { RefreshIfStale(); return FixedString(_info.typeString); }
std::string LunImpl::GetConsoleDevice() { RefreshIfStale(); return FixedString(_info.consoleDevice); }
uint32_t LunImpl::GetQueueDepth() { RefreshIfStale(); return _info.queueDepth; }
std::string LunImpl::GetVendor() { RefreshIfStale(); return FixedString(_info.vendor); }
std::string LunImpl::GetModel() { RefreshIfStale(); return FixedString(_info.model); }
std::string LunImpl::GetRevision() { RefreshIfStale(); return FixedString(_info.revision); }
uint32_t LunImpl::GetScsiLevel() { RefreshIfStale(); return _info.scsiLevel; }
uint64_t LunImpl::GetNumBlocks() { RefreshIfStale(); return _info.numBlocks; }
uint32_t LunImpl::GetBlockSize() { RefreshIfStale(); return _info.blockSize; }
uint64_t LunImpl::GetSize() { RefreshIfStale(); return _info.numBlocks * _info.blockSize; }
HostCtl::Storage::Lun::LunStatus LunImpl::GetStatus() { RefreshIfStale(); return static_cast<LunStatus>(_info.status); }
std::string LunImpl::GetStatusString() { return Lun::GetStatusString(GetStatus()); }

std::string LunImpl::GetDevfsPath() {
    RefreshIfStale();
    switch (_info.devfs) {
    case KSI_DEVFS_DISKS: return "/kdfs/devices/disks/" + _name;
    case KSI_DEVFS_CDROM: return "/kdfs/devices/cdrom/" + _name;
    case KSI_DEVFS_GENSCSI: return "/kdfs/devices/genscsi/" + _name;
    default: throw HostCtlException("Unknown Device Registration, could not get devfs path for device");
    }
}

std::vector<std::string> LunImpl::GetUids() {
    return KsiList(KSI_NODE_storage_scsifw_devices_uids, {_name});
}

std::vector<std::string> LunImpl::GetPathNames() {
    if (_offline)
        return {};
    return KsiList(KSI_NODE_storage_scsifw_devices_paths, {_name});
}

std::vector<std::unique_ptr<HostCtl::Storage::ScsiPath>> LunImpl::GetPaths() {
    std::vector<std::unique_ptr<HostCtl::Storage::ScsiPath>> out;
    for (const auto& path : GetPathNames())
        out.push_back(std::make_unique<ScsiPathImpl>(path));
    return out;
}

HostCtl::Storage::StorageStatistics LunImpl::GetStorageStatistics() {
    auto stats = KsiRead<KsiStorageStats>(KSI_NODE_storage_scsifw_devices_stats, {_name});
    HostCtl::Storage::StorageStatistics out;
    out.SetValues(stats.counters);
    return out;
}

uint32_t LunImpl::ReadValue(uint32_t node) {
    return KsiRead<KsiStorageValue>(node, {_name}).value;
}

void LunImpl::WriteValue(uint32_t node, uint32_t value) {
    Sysinfo si(node);
    si.SetInstance(_name);
    si.AddInput(static_cast<unsigned long>(value));
    si.Set();
}

// ---- Reservation -----------------------------------------------------------------

// Disk reservations go through the file-system library.
void LunImpl::Reserve() {
    TARN_ReturnStatus st = TarnfsLib_ReserveDisk(_name, "reserve");
    if (st != TARN_OK)
        throw HostCtlException("Reserve failed with error code: " + HostCtl::Lib::StatusHex(st));
}

void LunImpl::Reset() {
    TARN_ReturnStatus st = TarnfsLib_ReserveDisk(_name, "lunreset");
    if (st != TARN_OK)
        throw HostCtlException("Reset failed with error code: " + HostCtl::Lib::StatusHex(st));
}

// ---- Queue tuning ----------------------------------------------------------------

void LunImpl::RequireDisk() {
    if (GetLunType() != LUN_TYPE_DISK)
        throw HostCtlException("Not a disk: " + _name);
}

uint32_t LunImpl::GetQueueFullSampleSize() {
    return KsiRead<KsiStorageQfullParams>(KSI_NODE_storage_scsifw_devices_qfullconfigparams, {_name}).sampleSize;
}

uint32_t LunImpl::GetQueueFullThreshold() {
    return KsiRead<KsiStorageQfullParams>(KSI_NODE_storage_scsifw_devices_qfullconfigparams, {_name}).threshold;
}

void LunImpl::SetQueueFullParameters(uint32_t threshold, uint32_t sampleSize) {
    RequireDisk();
    if (threshold > sampleSize)
        throw HostCtlException(
            "Cannot set device qfull parameters. queue-full-threshold should be <= "
            "queue-full-sample-size.");
    if (threshold > 16)
        throw HostCtlException(std::string("Cannot set device qfull parameters. ") +
                               "queue-full-threshold should be <= " + std::to_string(16));
    StorageLockGuard lock;
    KsiStorageQfullParams params{sampleSize, threshold};
    Sysinfo si(KSI_NODE_storage_scsifw_devices_qfullconfigparams);
    si.SetInstance(_name);
    si.SetStruct(&params, sizeof(params));
    UpdateBlockDevice(_name, [&](ConfigStoreObject& object) {
        object.SetValue("queue_full_sample_size", sampleSize);
        object.SetValue("queue_full_threshold", threshold);
    });
}

uint32_t LunImpl::GetMaxQueueDepth() {
    return ReadValue(KSI_NODE_storage_scsifw_devices_maxQueueDepth);
}

void LunImpl::SetMaxQueueDepth(uint32_t depth) {
    RequireDisk();
    if (depth < 4)
        throw HostCtlException(
            "Cannot set device's max queue depth parameter. max-queue-depth should be >= 4");
    StorageLockGuard lock;
    WriteValue(KSI_NODE_storage_scsifw_devices_maxQueueDepth, depth);
    UpdateBlockDevice(_name, [&](ConfigStoreObject& object) { object.SetValue("max_queue_depth", depth); });
}

uint32_t LunImpl::GetNumReqOutstanding() {
    return ReadValue(KSI_NODE_storage_scsifw_devices_schedReqOutstanding);
}

void LunImpl::SetNumReqOutstanding(uint32_t count) {
    RequireDisk();
    // The depth checked is the one in force when the value is written.
    StorageLockGuard lock;
    const uint32_t depth = GetMaxQueueDepth();
    if (count > depth)
        throw HostCtlException(std::string("Cannot set device queue depth parameter. ") +
                               "sched-num-req-outstanding should be <= " + std::to_string(depth));
    WriteValue(KSI_NODE_storage_scsifw_devices_schedReqOutstanding, count);
    UpdateBlockDevice(_name, [&](ConfigStoreObject& object) {
        object.SetValue("sched_num_req_outstanding", count);
    });
}

uint32_t LunImpl::GetLatencySensitiveThreshold() {
    return ReadValue(KSI_NODE_storage_scsifw_devices_SchedulingLatencyThreshold);
}

void LunImpl::SetLatencySensitiveThreshold(uint32_t threshold) {
    RequireDisk();
    StorageLockGuard lock;
    WriteValue(KSI_NODE_storage_scsifw_devices_SchedulingLatencyThreshold, threshold);
    const std::string plugin = GetMultipathPluginName();
    UpdateBlockDevice(_name, [&](ConfigStoreObject& object) {
        object.SetValue("latency_sensitive_threshold", threshold);
        object.SetValue("plugin", plugin);
    });
}

bool LunImpl::IsDeviceInquiryCacheIgnored() {
    return ReadValue(KSI_NODE_storage_scsifw_devices_ignoreInquiryCache) != 0;
}

void LunImpl::SetDeviceInquiryCacheIgnored(bool ignored) {
    RequireDisk();
    StorageLockGuard lock;
    WriteValue(KSI_NODE_storage_scsifw_devices_ignoreInquiryCache, ignored ? 1 : 0);
    UpdateBlockDevice(_name, [&](ConfigStoreObject& object) {
        object.SetValue("is_inquiry_cache_ignored", ignored);
    });
}

void LunImpl::SetProt(bool enable) {
    WriteValue(KSI_NODE_storage_scsifw_devices_protectionEnabled, enable ? 1 : 0);
    _stale = true;
}

void LunImpl::MarkPDL(bool lost) {
    WriteValue(KSI_NODE_storage_scsifw_devices_markPDL, lost ? 1 : 0);
}

// ---- State and persistent attributes ---------------------------------------------

void LunImpl::SetStatus(LunStatus status, bool persist) {
    if (status != LUN_ON && status != LUN_OFF)
        throw HostCtlException("Cannot set device to any states other than on or off");
    StorageLockGuard lock;
    Sysinfo si(KSI_NODE_storage_scsifw_devices_state);
    si.SetInstance(_name);
    si.SetMessageForError(TARN_BUSY,
                          "Unable to change device state, the device is marked as 'busy' by the Tarnos.");
    si.SetMessageForError(TARN_INVALID_STATE,
                          "Unable to change device state, the device is in an incorrect state.");
    si.AddInput(static_cast<unsigned long>(status));
    si.Set();
    _stale = true;
    if (persist)
        SetDetached(status == LUN_OFF);
}

void LunImpl::SetPersistentAttribute(const std::string& assignment, const char* failureText) {
    Sysinfo si(KSI_NODE_storage_scsifw_persistDeviceAttrs_set);
    si.SetDefaultErrorMessage(failureText);
    si.AddInput(_name);
    si.AddInput(assignment);
    si.Set();
}

KsiStoragePersistAttrs LunImpl::ReadPersistentAttributes() {
    Sysinfo si(KSI_NODE_storage_scsifw_persistDeviceAttrs_uids);
    si.SetThrowOnError(false);
    si.SetInstance(_name);
    KsiStoragePersistAttrs attrs{};
    if (si.Get(&attrs, sizeof(attrs)) != TARN_OK)
        return KsiStoragePersistAttrs{};
    return attrs;
}

void LunImpl::SetDetached(bool detached) {
    StorageLockGuard lock;
    SetPersistentAttribute(std::string("detached=") + (detached ? "yes" : "no"),
                           "Unable to set attribute. Please see Tarnos log");
    UpdateBlockDevice(_name, [&](ConfigStoreObject& object) {
        object.SetValue("state", detached ? "OFF" : "ON");
    });
}

bool LunImpl::IsDetached() {
    return ReadPersistentAttributes().detached != 0;
}

void LunImpl::SetNotShared(bool notShared) {
    if (!notShared && IsLocal())
        throw HostCtlException("Not shared status cannot be cleared for local device \"" +
                               GetDisplayName() + "\"");
    StorageLockGuard lock;
    SetPersistentAttribute(std::string("notShared=") + (notShared ? "yes" : "no"),
                           "Unable to set not shared attribute. Please see Tarnos log");
    UpdateBlockDevice(_name, [&](ConfigStoreObject& object) { object.SetValue("not_shared", notShared); });
}

bool LunImpl::IsNotShared() {
    return ReadPersistentAttributes().notShared != 0;
}

void LunImpl::SetPerenniallyReserved(bool reserved) {
    StorageLockGuard lock;
    SetPersistentAttribute(std::string("perennialResvd=") + (reserved ? "yes" : "no"),
                           "Unable to set attribute. Please see Tarnos log");
    UpdateBlockDevice(_name, [&](ConfigStoreObject& object) {
        object.SetValue("perennial_reserved", reserved);
    });
}

bool LunImpl::IsPerenniallyReserved() {
    return ReadPersistentAttributes().perennialResvd != 0;
}

void LunImpl::DeleteState() {
    StorageLockGuard lock;
    auto store = Store();
    if (store->IsBoot()) {
        SetPersistentAttribute("deleted=true", "Unable to delete persistent attributes. Please see Tarnos log");
        return;
    }
    HaldenConfigStore::ConfigStoreTransaction txn(store);
    SetPersistentAttribute("deleted=true", "Unable to delete persistent attributes. Please see Tarnos log");
    store->Delete(BlockDeviceId(_name));
    txn.Commit();
}

// ---- Durable names ---------------------------------------------------------------

std::vector<std::string> LunImpl::GetDurableNames() {
    auto paths = GetPathNames();
    bool anyAlive = paths.empty();
    for (const auto& path : paths) {
        try {
            if (KsiRead<KsiStorageValue>(KSI_NODE_storage_scsifw_paths_state, {path}).value !=
                HostCtl::Storage::ScsiPath::DEAD) {
                anyAlive = true;
                break;
            }
        } catch (const HostCtlException&) {
        }
    }
    if (!anyAlive)
        throw HostCtlException(
            "Unable to query VPD pages from device, all paths are dead, no I/O possible.");
    std::vector<std::string> names;
    auto std = KsiRead<KsiStorageInquiry>(KSI_NODE_storage_scsifw_devices_inquirySTD, {_name});
    names.push_back("STD: " + Hex(std.data, std.length < sizeof(std.data) ? std.length : sizeof(std.data)));
    for (const auto& page : KsiList(KSI_NODE_storage_scsifw_devices_inquiryVPD, {_name})) {
        try {
            auto vpd = KsiRead<KsiStorageInquiry>(KSI_NODE_storage_scsifw_devices_inquiryVPD_uncachedData,
                                                  {_name, page});
            names.push_back("VPD " + page + ": " +
                            Hex(vpd.data, vpd.length < sizeof(vpd.data) ? vpd.length : sizeof(vpd.data)));
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Got exception on VPD page %ld data for device %s. %s\n", "LunImpl",
                               std::strtol(page.c_str(), nullptr, 0), _name.c_str(), e.what());
        }
    }
    return names;
}

// ---- Boot ------------------------------------------------------------------------

void LunImpl::LoadConfig() {
    auto store = Store();
    const auto id = BlockDeviceId(_name);
    auto object = store->GetDesiredUserConfig(id, 0);
    if (!object)
        object = store->Get(id);
    if (!object)
        return;
    const char* tag = "LunImpl";
    const std::string dev = _name;
    bool failed = false;
    auto attempt = [&](const std::function<void()>& apply, const std::function<void(const char*)>& log) {
        try {
            apply();
        } catch (const HostCtlException& e) {
            log(e.what());
            failed = true;
        }
    };

    std::string state;
    if (object->GetValue("state", &state) && (state == "ON" || state == "OFF")) {
        attempt([&] { SetStatus(state == "OFF" ? LUN_OFF : LUN_ON, false); },
                [&](const char* err) {
                    TarnCtl_LogWarnInt("%s: Unable to set state: %s for device %s. Error %s\n", tag,
                                       state.c_str(), dev.c_str(), err);
                });
    }
    long threshold = 0, sample = 0;
    if (object->GetValue("queue_full_threshold", &threshold) &&
        object->GetValue("queue_full_sample_size", &sample)) {
        attempt(
            [&] {
                KsiStorageQfullParams params{static_cast<uint32_t>(sample), static_cast<uint32_t>(threshold)};
                Sysinfo si(KSI_NODE_storage_scsifw_devices_qfullconfigparams);
                si.SetInstance(_name);
                si.SetStruct(&params, sizeof(params));
            },
            [&](const char* err) {
                TarnCtl_LogWarnInt("%s: Unable to set QFULL Threshold %ld QFULL Sample %ld for device %s. Error %s\n",
                                   tag, threshold, sample, dev.c_str(), err);
            });
    }
    long value = 0;
    if (object->GetValue("sched_num_req_outstanding", &value)) {
        attempt([&] { WriteValue(KSI_NODE_storage_scsifw_devices_schedReqOutstanding, value); },
                [&](const char* err) {
                    TarnCtl_LogWarnInt("%s: Unable to set SNRO value %ld for device %s. Error %s\n", tag,
                                       value, dev.c_str(), err);
                });
    }
    if (object->GetValue("max_queue_depth", &value)) {
        attempt([&] { WriteValue(KSI_NODE_storage_scsifw_devices_maxQueueDepth, value); },
                [&](const char* err) {
                    TarnCtl_LogWarnInt("%s: Unable to set Max Queue depth value of %ld for device %s. Error %s\n",
                                       tag, value, dev.c_str(), err);
                });
    }
    if (object->GetValue("latency_sensitive_threshold", &value)) {
        attempt([&] { WriteValue(KSI_NODE_storage_scsifw_devices_SchedulingLatencyThreshold, value); },
                [&](const char* err) {
                    TarnCtl_LogWarnInt("%s: Unable to set Latency Sensitive Threshold of %ld for device %s. Error %s\n",
                                       tag, value, dev.c_str(), err);
                });
    }
    bool ignored = false;
    if (object->GetValue("is_inquiry_cache_ignored", &ignored)) {
        attempt([&] { WriteValue(KSI_NODE_storage_scsifw_devices_ignoreInquiryCache, ignored ? 1 : 0); },
                [&](const char* err) {
                    TarnCtl_LogWarnInt("%s: Unable to set Inquiry Cache Ignored setting for device %s. Error %s\n",
                                       tag, dev.c_str(), err);
                });
    }
    if (failed) {
        TarnCtl_LogWarnInt("%s: Core Device Settings of device %s have not applied completely to the tarnos.\n",
                           tag, dev.c_str());
    }
    store->SetBootStatus(id, !failed);
}

void LunImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType(_offline ? "Offline Lun" : "Lun");
    printer->BeginObject();
    printer->Print("Name", _name);
    printer->Print("Display Name", GetDisplayName());
    if (!_offline) {
        printer->Print("Type", GetLunTypeString());
        printer->Print("Vendor", GetVendor());
        printer->Print("Model", GetModel());
        printer->Print("Revision", GetRevision());
        printer->Print("Size", GetSize(), false, "bytes");
        printer->Print("Status", GetStatusString());
        printer->Print("Plugin", GetMultipathPluginName());
        printer->Print("Is Local", IsLocal());
        printer->Print("Is SSD", IsSSD());
    }
    printer->EndObject();
}

}  // namespace TarnCtl::Storage
