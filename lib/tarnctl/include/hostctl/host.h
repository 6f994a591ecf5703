// The front door of the library: the process-wide host object and its
// accessors, one per information domain. Each accessor builds a new
// implementation object and hands it to the caller, who owns it.
#pragma once

#include <memory>

namespace HostCtl {
namespace Hardware { class HardwareInfo; }
namespace Resource { class ResourceInfo; }
namespace Storage { class StorageInfo; }
namespace Network { class NetworkInfo; }
namespace System { class SystemInfo; class IOFilterInfo; }
namespace Drivers { class DriverInfo; class DeviceInfo; }
namespace Graphics { class GraphicsInfo; class NvidiaVgpuInfo; class NvidiaDeviceGroupInfo; }
namespace Adv { class AdvancedOptionBranch; }
namespace Security { class TarnAccessInfo; class SecurityInfo; }
namespace XFlash { class XFlashInfo; }
namespace User { class UserGroupInfo; }
namespace RDMA { class RDMAInfo; }
namespace Nvme { class NvmeInfo; }
namespace NvmeTarget { class NvmeTarget; }
namespace QAT { class QATInfo; }
namespace DCF { class DCFInfo; }
namespace HyperClock { class HyperClockInfo; }

// Static, constant and stateless: no fields, no virtual operations. Safe from
// any thread; two calls of an accessor return two independent objects.
class Host {
public:
    std::unique_ptr<Hardware::HardwareInfo> GetHardwareInfo() const;
    std::unique_ptr<Resource::ResourceInfo> GetResourceInfo() const;
    std::unique_ptr<Storage::StorageInfo> GetStorageInfo() const;
    std::unique_ptr<Network::NetworkInfo> GetNetworkInfo() const;
    std::unique_ptr<System::SystemInfo> GetSystemInfo() const;
    std::unique_ptr<Drivers::DriverInfo> GetDriverInfo() const;
    std::unique_ptr<Graphics::GraphicsInfo> GetGraphicsInfo() const;
    std::unique_ptr<Graphics::NvidiaVgpuInfo> GetNvidiaVgpuInfo() const;
    std::unique_ptr<Graphics::NvidiaDeviceGroupInfo> GetNvidiaDeviceGroupInfo() const;
    std::unique_ptr<Adv::AdvancedOptionBranch> GetAdvancedOptions() const;
    std::unique_ptr<Security::TarnAccessInfo> GetTarnAccessInfo() const;
    std::unique_ptr<Security::SecurityInfo> GetSecurityInfo() const;
    std::unique_ptr<XFlash::XFlashInfo> GetXFlashInfo() const;
    std::unique_ptr<System::IOFilterInfo> GetIOFilterInfo() const;
    std::unique_ptr<User::UserGroupInfo> GetUserGroupInfo() const;
    std::unique_ptr<RDMA::RDMAInfo> GetRDMAInfo() const;
    std::unique_ptr<Nvme::NvmeInfo> GetNvmeInfo() const;
    std::unique_ptr<NvmeTarget::NvmeTarget> GetNvmeTarget() const;
    std::unique_ptr<QAT::QATInfo> GetQATInfo() const;
    std::unique_ptr<DCF::DCFInfo> GetDCFInfo() const;
    std::unique_ptr<Drivers::DeviceInfo> GetDeviceInfo() const;
    std::unique_ptr<HyperClock::HyperClockInfo> GetHyperClockInfo() const;
    void PrepareForExit() const {}
};

class HostFactory {
public:
    // The one host object; the same address on every call.
    static const Host* GetHost();
};

}  // namespace HostCtl
