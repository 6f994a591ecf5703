// User-world resource groups.
#pragma once

#include "hostctl/object.h"

namespace HostCtl::User {

class UserGroupInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
};

}  // namespace HostCtl::User
