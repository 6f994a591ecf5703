// RDMA devices.
#pragma once

#include "hostctl/object.h"

namespace HostCtl::RDMA {

class RDMAInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
};

}  // namespace HostCtl::RDMA
