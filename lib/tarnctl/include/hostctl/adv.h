// Advanced options: the kernel's named tunables.
#pragma once

#include "hostctl/object.h"

namespace HostCtl::Adv {

class AdvancedOptionBranch : public virtual HostCtl::Lib::HostCtlObject {
public:
};

}  // namespace HostCtl::Adv
