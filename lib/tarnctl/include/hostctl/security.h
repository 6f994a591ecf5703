// Kernel security domains and host security information.
#pragma once

#include "hostctl/object.h"

namespace HostCtl::Security {

class TarnAccessInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
};

class SecurityInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
};

}  // namespace HostCtl::Security
