// Domain objects of the host that so far identify and print themselves only:
// resources, and the further domains (drivers,
// device tree, graphics, security, flash cache, I/O filters, user groups,
// RDMA, NVMe, clock devices, smart NICs, accelerators).
#pragma once

#include <string>
#include <vector>

#include "hostctl/dpu.h"
#include "hostctl/drivers.h"
#include "hostctl/graphics.h"
#include "hardware/hardware_info_impl.h"
#include "hostctl/hardware.h"
#include "hostctl/hyperclock.h"
#include "hostctl/nvme.h"
#include "hostctl/nvmetarget.h"
#include "hostctl/qat.h"
#include "hostctl/rdma.h"
#include "hostctl/resource.h"
#include "hostctl/security.h"
#include "hostctl/system.h"
#include "hostctl/user.h"
#include "hostctl/xflash.h"
#include "lib/simple_domain.h"
#include "system/system_info_impl.h"

#define TARN_SIMPLE_DOMAIN(ns, cls, iface, type, name)                                         \
    namespace TarnCtl::ns {                                                                    \
    class cls : public TarnCtl::Lib::SimpleDomainImpl<HostCtl::ns::iface> {                  \
    public:                                                                                    \
        cls() : SimpleDomainImpl(type, name) {}                                                \
    };                                                                                         \
    }

TARN_SIMPLE_DOMAIN(Resource, ResourceInfoImpl, ResourceInfo, "Resource Info", "resources")
TARN_SIMPLE_DOMAIN(Drivers, DriverInfoImpl, DriverInfo, "Driver Info", "drivers")
TARN_SIMPLE_DOMAIN(Drivers, DeviceInfoImpl, DeviceInfo, "Generic Device Tree Info", "devices")
TARN_SIMPLE_DOMAIN(Graphics, GraphicsInfoImpl, GraphicsInfo, "Graphics Info", "graphics")
TARN_SIMPLE_DOMAIN(Graphics, NvidiaVgpuInfoImpl, NvidiaVgpuInfo, "Vgpu Info", "vgpu")
TARN_SIMPLE_DOMAIN(Security, TarnAccessInterfaceImpl, TarnAccessInfo, "Access Info", "access")
TARN_SIMPLE_DOMAIN(Security, SecurityInfoImpl, SecurityInfo, "Security Info", "security")
TARN_SIMPLE_DOMAIN(XFlash, XFlashInfoImpl, XFlashInfo, "Flash Cache Info", "xflash")
TARN_SIMPLE_DOMAIN(System, IOFilterInfoImpl, IOFilterInfo, "IO Filter Info", "iofilters")
TARN_SIMPLE_DOMAIN(User, UserGroupInfoImpl, UserGroupInfo, "User Group Info", "usergroups")
TARN_SIMPLE_DOMAIN(RDMA, RDMAInfoImpl, RDMAInfo, "RDMA Info", "rdma")
TARN_SIMPLE_DOMAIN(Nvme, NvmeInfoImpl, NvmeInfo, "NVMe Info", "nvme")
TARN_SIMPLE_DOMAIN(NvmeTarget, NvmeTargetImpl, NvmeTarget, "NVMe Target", "nvmetarget")
TARN_SIMPLE_DOMAIN(HyperClock, HyperClockInfoImpl, HyperClockInfo, "Clock Device Info", "hyperclock")

#undef TARN_SIMPLE_DOMAIN

namespace TarnCtl::Dpu {

// The smart-NIC inventory. This host model has no DPU devices.
class DpuInfoImpl : public TarnCtl::Lib::SimpleDomainImpl<HostCtl::Dpu::DpuInfo> {
public:
    DpuInfoImpl() : SimpleDomainImpl("Smart NIC Info", "dpu") {}
    bool HasDpuDevice() override { return false; }

protected:
    void PrintEntries(TarnCtl::Lib::ObjectPrinter* printer) override {
        printer->Print("Status", "no DPU device");
    }
};

}  // namespace TarnCtl::Dpu

namespace TarnCtl::Graphics {
class NvidiaDeviceGroupInfoImpl : public HostCtl::Graphics::NvidiaDeviceGroupInfo {
public:
    std::vector<std::string> GetDeviceGroups() override { return {}; }
};
}  // namespace TarnCtl::Graphics

namespace TarnCtl::QAT {
class QATInfoImpl : public HostCtl::QAT::QATInfo {
public:
    std::vector<std::string> GetDevices() override { return {}; }
};
}  // namespace TarnCtl::QAT

namespace TarnCtl::DCF {
class DCFInfoImpl : public HostCtl::DCF::DCFInfo {
public:
    std::vector<std::string> GetDevices() override { return {}; }
};
}  // namespace TarnCtl::DCF
