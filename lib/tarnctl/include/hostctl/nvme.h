// NVMe adapters.
#pragma once

#include "hostctl/object.h"

namespace HostCtl::Nvme {

class NvmeInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
};

}  // namespace HostCtl::Nvme
