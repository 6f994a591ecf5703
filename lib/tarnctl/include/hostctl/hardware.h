// PCI devices and the hardware inventory.
#pragma once

#include "hostctl/object.h"

namespace HostCtl::Hardware {

class HardwareInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
};

}  // namespace HostCtl::Hardware
