// Clock devices.
#pragma once

#include "hostctl/object.h"

namespace HostCtl::HyperClock {

class HyperClockInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
};

}  // namespace HostCtl::HyperClock
