// Storage adapters: the common adapter object with its lazily read kernel
// values and rescan steps, and one class per adapter kind.
#pragma once

#include <cstdint>
#include <string>

#include "hostctl/storage.h"
#include "lib/tarnctl_object.h"

namespace TarnCtl::Storage {

class ScsiInterfaceImpl : public virtual HostCtl::Storage::ScsiInterface,
                          public virtual TarnCtl::Lib::TarnCtlObject {
public:
    explicit ScsiInterfaceImpl(const std::string& name);

    void Refresh() override;
    std::string GetName() const override { return _name; }
    std::vector<std::unique_ptr<HostCtl::Lib::HostCtlObject>> GetChildren() override;
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    std::string GetIdentifier() override { return _name; }
    std::string GetAdapterUid() override;
    uint32_t GetAdapterCapabilities() override;
    uint32_t ProtMask() override;
    std::string GuardType() override;
    uint32_t GetAdapterStatus() override;
    std::string GetDriver() override;
    uint32_t GetQueueDepth() override;
    std::string GetCommunicationProtocol() override;
    std::vector<std::unique_ptr<HostCtl::Storage::ScsiPath>> GetScsiPaths() override;
    HostCtl::Storage::StorageStatistics GetStorageStatistics() override;
    void GetScsiStats(HostCtl::Storage::ScsiStats& stats) override;
    std::string GetPciAddress() override;
    std::string GetDescription() override;
    void Rescan(bool skipClaim) override;
    void RescanDiscoverNewDevices() override;
    bool RescanRemoveDeadDevices() override;
    void RescanUpdatePathState() override;
    bool IsLocalOnly() override;
    bool IsVirtual() override { return false; }
    std::string GetTransportMapping(const std::string& pathName) override;

    // The transport word of an adapter type in generated device names.
    static std::string TransportWord(ScsiInterfaceType type, const std::string& description);
    static bool IsLocalType(uint32_t type);
    // True when a dead path of this adapter is still claimed by a plug-in
    // other than the masking one; any failure counts as "not in use".
    bool HasDeadPathsInUse();

protected:
    void RefreshIfStale() {
        if (_stale)
            Refresh();
    }

    std::string _name;
    bool _stale = true;
    std::string _driver;
    std::string _description;
    std::string _uid;
    uint32_t _queueDepth = 0;
    uint32_t _capabilities = 0;
    uint32_t _protMask = 0;
    std::string _guardType;
    bool _nvme = false;
    uint32_t _status = 0;
    std::string _pciAddress;
};

// One kind: its interface and its type.
template <typename Interface, HostCtl::Storage::ScsiInterface::ScsiInterfaceType Type>
class ScsiInterfaceKind : public ScsiInterfaceImpl, public virtual Interface {
public:
    explicit ScsiInterfaceKind(const std::string& name) : ScsiInterfaceImpl(name) {}
    HostCtl::Storage::ScsiInterface::ScsiInterfaceType GetInterfaceType() override { return Type; }
};

using HostCtl::Storage::ScsiInterface;
using BlockScsiInterfaceImpl =
    ScsiInterfaceKind<HostCtl::Storage::BlockScsiInterface, ScsiInterface::SCSI_IFACE_TYPE_BLOCK>;
using FibreChannelInterfaceImpl =
    ScsiInterfaceKind<HostCtl::Storage::FibreChannelInterface, ScsiInterface::SCSI_IFACE_TYPE_FC>;
using FibreChannelOverEthernetInterfaceImpl =
    ScsiInterfaceKind<HostCtl::Storage::FibreChannelOverEthernetInterface,
                      ScsiInterface::SCSI_IFACE_TYPE_FCOE>;
using IdeScsiInterfaceImpl =
    ScsiInterfaceKind<HostCtl::Storage::IdeScsiInterface, ScsiInterface::SCSI_IFACE_TYPE_IDE>;
using SerialAttachedScsiInterfaceImpl =
    ScsiInterfaceKind<HostCtl::Storage::SerialAttachedScsiInterface, ScsiInterface::SCSI_IFACE_TYPE_SAS>;
using SataInterfaceImpl =
    ScsiInterfaceKind<HostCtl::Storage::SataInterface, ScsiInterface::SCSI_IFACE_TYPE_SATA>;
using UsbInterfaceImpl =
    ScsiInterfaceKind<HostCtl::Storage::UsbInterface, ScsiInterface::SCSI_IFACE_TYPE_USB>;
using ParallelScsiInterfaceImpl =
    ScsiInterfaceKind<HostCtl::Storage::ParallelScsiInterface, ScsiInterface::SCSI_IFACE_TYPE_PSCSI>;
using PcieInterfaceImpl =
    ScsiInterfaceKind<HostCtl::Storage::PcieInterface, ScsiInterface::SCSI_IFACE_TYPE_PCIE>;
using RdmaInterfaceImpl =
    ScsiInterfaceKind<HostCtl::Storage::RdmaInterface, ScsiInterface::SCSI_IFACE_TYPE_RDMA>;
using TcpInterfaceImpl =
    ScsiInterfaceKind<HostCtl::Storage::TcpInterface, ScsiInterface::SCSI_IFACE_TYPE_TCP>;

// Software and vendor iSCSI share one class; it keeps the type it was built as.
class iScsiInterfaceImpl : public ScsiInterfaceImpl, public virtual HostCtl::Storage::iScsiInterface {
public:
    iScsiInterfaceImpl(const std::string& name, ScsiInterfaceType type)
        : ScsiInterfaceImpl(name), _type(type) {}
    ScsiInterfaceType GetInterfaceType() override { return _type; }

private:
    ScsiInterfaceType _type;
};

}  // namespace TarnCtl::Storage
