// SmartNIC / DPU devices.
#pragma once

#include "hostctl/object.h"

namespace HostCtl::Dpu {

class DpuInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
    // Whether the host has any DPU (smart NIC) device.
    virtual bool HasDpuDevice() = 0;
};

}  // namespace HostCtl::Dpu
