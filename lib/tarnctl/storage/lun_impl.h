// SCSI devices: a logical unit read lazily from the kernel, its per-device
// settings in the kernel and in the block_devices store object, and the
// generated display name.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "hostctl/storage.h"
#include "ksi/storage.h"
#include "lib/tarnctl_object.h"

namespace TarnCtl::Storage {

// Adapter name -> transport word, shared by the devices of one enumeration so
// that naming many devices reads each adapter once.
using TransportWordMemo = std::map<std::string, std::string>;

class LunImpl : public virtual HostCtl::Storage::Lun, public virtual TarnCtl::Lib::TarnCtlObject {
public:
    // A live device; reads its info on first use.
    explicit LunImpl(std::string uid);
    // A live device whose info record was just read.
    LunImpl(std::string uid, const KsiStorageDeviceInfo& info);
    // A device known only from its persisted attributes.
    static std::unique_ptr<LunImpl> MakeOffline(const std::string& uid);

    void Refresh() override;
    std::string GetName() const override { return _name; }
    // Replays the device's stored settings into the kernel (boot).
    void LoadConfig() override;
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    std::string GetIdentifier() override { return _name; }
    void NameDevice() override;
    std::string GetDisplayName() override;
    std::string GetDisplayName(const std::map<std::string, std::string>& configured) override;
    bool IsDisplayNameSettable() override;
    void SetDisplayName(const std::string& name, bool set) override;
    bool HasDisplayName() override;
    bool HasUserConfiguredDisplayName() override { return HasDisplayName(); }
    std::string GetMultipathPluginName() override;
    LunType GetLunType() override;
    std::string GetLunTypeString() override;
    std::string GetConsoleDevice() override;
    std::string GetDevfsPath() override;
    uint32_t GetQueueDepth() override;
    std::string GetVendor() override;
    std::string GetModel() override;
    std::string GetRevision() override;
    uint32_t GetScsiLevel() override;
    bool IsPseudoLun() override { return Flag(KSI_DEVICE_PSEUDO); }
    void Reserve() override;
    void Reset() override;
    LunStatus GetStatus() override;
    std::string GetStatusString() override;
    void SetStatus(LunStatus status, bool persist) override;
    std::vector<std::string> GetDurableNames() override;
    bool IsRdmCapable() override { return Flag(KSI_DEVICE_RDM_CAPABLE); }
    bool IsLocal() override { return Flag(KSI_DEVICE_LOCAL); }
    bool IsRemovableDevice() override { return Flag(KSI_DEVICE_REMOVABLE); }
    bool IsSSD() override { return Flag(KSI_DEVICE_SSD); }
    std::vector<std::string> GetUids() override;
    std::vector<std::string> GetPathNames() override;
    std::vector<std::unique_ptr<HostCtl::Storage::ScsiPath>> GetPaths() override;
    // Multipathing (lun_paths.cpp).
    std::unique_ptr<HostCtl::Storage::Nmp::NmpDeviceConfig> GetDeviceConfig() override;
    void UnclaimAllPaths() override;
    void ClaimFilters() override;
    void CleanPrevMppConfig() override;
    uint64_t GetSize() override;
    uint64_t GetNumBlocks() override;
    uint32_t GetBlockSize() override;
    HostCtl::Storage::StorageStatistics GetStorageStatistics() override;
    bool IsNVMe() override { return Flag(KSI_DEVICE_NVME); }
    bool IsOffline() override { return _offline; }
    void SetDetached(bool detached) override;
    uint32_t GetQueueFullSampleSize() override;
    uint32_t GetQueueFullThreshold() override;
    void SetQueueFullParameters(uint32_t threshold, uint32_t sampleSize) override;
    uint32_t GetLatencySensitiveThreshold() override;
    void SetLatencySensitiveThreshold(uint32_t threshold) override;
    uint32_t GetMaxQueueDepth() override;
    void SetMaxQueueDepth(uint32_t depth) override;
    uint32_t GetNumReqOutstanding() override;
    void SetNumReqOutstanding(uint32_t count) override;
    bool IsProtEnabled() override { return Flag(KSI_DEVICE_PROT_ENABLED); }
    void SetProt(bool enable) override;
    bool IsDetached() override;
    void SetNotShared(bool notShared) override;
    bool IsNotShared() override;
    void SetPerenniallyReserved(bool reserved) override;
    bool IsPerenniallyReserved() override;
    void DeleteState() override;
    void MarkPDL(bool lost) override;
    bool IsDeviceInquiryCacheIgnored() override;
    void SetDeviceInquiryCacheIgnored(bool ignored) override;

    // Vendor, transports of the paths, type word and identifier.
    std::string GenerateDeviceName();
    void SetTransportWordMemo(std::shared_ptr<TransportWordMemo> memo) { _memo = std::move(memo); }

protected:
    void RefreshIfStale() {
        if (_stale)
            Refresh();
    }
    bool Flag(uint32_t flag) {
        RefreshIfStale();
        return (_info.flags & flag) != 0;
    }
    // Throws "Not a disk: <name>" unless the device is a disk.
    void RequireDisk();
    // Writes one persistent attribute assignment ("detached=yes").
    void SetPersistentAttribute(const std::string& assignment, const char* failureText);
    KsiStoragePersistAttrs ReadPersistentAttributes();
    // The kernel's value of a one-value node of this device.
    uint32_t ReadValue(uint32_t node);
    void WriteValue(uint32_t node, uint32_t value);
    std::string TransportWordOf(const std::string& adapter);

    std::string _name;
    bool _offline = false;
    bool _stale = true;
    KsiStorageDeviceInfo _info{};
    std::shared_ptr<TransportWordMemo> _memo;
};

}  // namespace TarnCtl::Storage
