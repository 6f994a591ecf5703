// The NVMe target.
#pragma once

#include "hostctl/object.h"

namespace HostCtl::NvmeTarget {

class NvmeTarget : public virtual HostCtl::Lib::HostCtlObject {
public:
};

}  // namespace HostCtl::NvmeTarget
