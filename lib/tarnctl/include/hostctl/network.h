// The network domain.
#pragma once

#include "hostctl/object.h"

namespace HostCtl::Network {

class NetworkInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
};

}  // namespace HostCtl::Network
