// Drivers and the device tree.
#pragma once

#include "hostctl/object.h"

namespace HostCtl::Drivers {

class DriverInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
};

class DeviceInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
};

}  // namespace HostCtl::Drivers
