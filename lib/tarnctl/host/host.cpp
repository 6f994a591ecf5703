// The host object, its accessors, and whole-host printing.
#include "hostctl/host.h"

#include <functional>

#include "adv/advanced_option_branch_impl.h"
#include "host/host_impl.h"
#include "network/network_info_impl.h"
#include "platform/printer.h"
#include "storage/storage_info_impl.h"
#include "system/domains.h"

namespace HostCtl {

namespace {
// The one host object: constant, stateless, never created or destroyed by a client.
const Host gHost{};
}  // namespace

const Host* HostFactory::GetHost() { return &gHost; }

std::unique_ptr<Hardware::HardwareInfo> Host::GetHardwareInfo() const {
    return std::make_unique<TarnCtl::Hardware::HardwareInfoImpl>();
}
std::unique_ptr<Resource::ResourceInfo> Host::GetResourceInfo() const {
    return std::make_unique<TarnCtl::Resource::ResourceInfoImpl>();
}
std::unique_ptr<Storage::StorageInfo> Host::GetStorageInfo() const {
    return std::make_unique<TarnCtl::Storage::StorageInfoImpl>();
}
std::unique_ptr<Network::NetworkInfo> Host::GetNetworkInfo() const {
    return std::make_unique<TarnCtl::Network::NetworkInfoImpl>();
}
std::unique_ptr<System::SystemInfo> Host::GetSystemInfo() const {
    return std::make_unique<TarnCtl::System::SystemInfoImpl>();
}
std::unique_ptr<Drivers::DriverInfo> Host::GetDriverInfo() const {
    return std::make_unique<TarnCtl::Drivers::DriverInfoImpl>();
}
std::unique_ptr<Graphics::GraphicsInfo> Host::GetGraphicsInfo() const {
    return std::make_unique<TarnCtl::Graphics::GraphicsInfoImpl>();
}
std::unique_ptr<Graphics::NvidiaVgpuInfo> Host::GetNvidiaVgpuInfo() const {
    return std::make_unique<TarnCtl::Graphics::NvidiaVgpuInfoImpl>();
}
std::unique_ptr<Graphics::NvidiaDeviceGroupInfo> Host::GetNvidiaDeviceGroupInfo() const {
    return std::make_unique<TarnCtl::Graphics::NvidiaDeviceGroupInfoImpl>();
}
std::unique_ptr<Adv::AdvancedOptionBranch> Host::GetAdvancedOptions() const {
    return std::make_unique<TarnCtl::Adv::AdvancedOptionBranchImpl>();
}
std::unique_ptr<Security::TarnAccessInfo> Host::GetTarnAccessInfo() const {
    return std::make_unique<TarnCtl::Security::TarnAccessInterfaceImpl>();
}
std::unique_ptr<Security::SecurityInfo> Host::GetSecurityInfo() const {
    return std::make_unique<TarnCtl::Security::SecurityInfoImpl>();
}
std::unique_ptr<XFlash::XFlashInfo> Host::GetXFlashInfo() const {
    return std::make_unique<TarnCtl::XFlash::XFlashInfoImpl>();
}
std::unique_ptr<System::IOFilterInfo> Host::GetIOFilterInfo() const {
    return std::make_unique<TarnCtl::System::IOFilterInfoImpl>();
}
std::unique_ptr<User::UserGroupInfo> Host::GetUserGroupInfo() const {
    return std::make_unique<TarnCtl::User::UserGroupInfoImpl>();
}
std::unique_ptr<RDMA::RDMAInfo> Host::GetRDMAInfo() const {
    return std::make_unique<TarnCtl::RDMA::RDMAInfoImpl>();
}
std::unique_ptr<Nvme::NvmeInfo> Host::GetNvmeInfo() const {
    return std::make_unique<TarnCtl::Nvme::NvmeInfoImpl>();
}
std::unique_ptr<NvmeTarget::NvmeTarget> Host::GetNvmeTarget() const {
    return std::make_unique<TarnCtl::NvmeTarget::NvmeTargetImpl>();
}
std::unique_ptr<QAT::QATInfo> Host::GetQATInfo() const {
    return std::make_unique<TarnCtl::QAT::QATInfoImpl>();
}
std::unique_ptr<DCF::DCFInfo> Host::GetDCFInfo() const {
    return std::make_unique<TarnCtl::DCF::DCFInfoImpl>();
}
std::unique_ptr<Drivers::DeviceInfo> Host::GetDeviceInfo() const {
    return std::make_unique<TarnCtl::Drivers::DeviceInfoImpl>();
}
std::unique_ptr<HyperClock::HyperClockInfo> Host::GetHyperClockInfo() const {
    return std::make_unique<TarnCtl::HyperClock::HyperClockInfoImpl>();
}

}  // namespace HostCtl

namespace TarnCtl {

namespace {

template <typename T>
void PrintChild(std::unique_ptr<T> object, TarnCtl::Lib::ObjectPrinter* printer) {
    // The object dies at the end of this call, also when printing throws.
    printer->PrintObject(TarnCtl::Util::tarnctl_cast(object.get()));
}

}  // namespace

void HostImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    const HostCtl::Host* host = HostCtl::HostFactory::GetHost();
    printer->SetType("Host");
    printer->BeginObject();
    PrintChild(host->GetHardwareInfo(), printer);
    PrintChild(host->GetNetworkInfo(), printer);
    PrintChild(host->GetStorageInfo(), printer);
    PrintChild(host->GetResourceInfo(), printer);
    bool clockModule = false;
    {
        auto system = host->GetSystemInfo();
        printer->PrintObject(TarnCtl::Util::tarnctl_cast(system.get()));
        clockModule = system->IsModuleLoaded("hyperclock");
    }
    PrintChild(host->GetDeviceInfo(), printer);
    PrintChild(host->GetDriverInfo(), printer);
    PrintChild(host->GetGraphicsInfo(), printer);
    PrintChild(host->GetAdvancedOptions(), printer);
    PrintChild(host->GetIOFilterInfo(), printer);
    PrintChild(host->GetNvmeInfo(), printer);
    if (clockModule)
        PrintChild(host->GetHyperClockInfo(), printer);
    PrintChild(std::unique_ptr<HostCtl::Dpu::DpuInfo>(new TarnCtl::Dpu::DpuInfoImpl), printer);
    printer->EndObject();
}

}  // namespace TarnCtl
