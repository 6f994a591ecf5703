// Resource groups, VM groups and worlds.
#pragma once

#include "hostctl/object.h"

namespace HostCtl::Resource {

class ResourceInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
};

}  // namespace HostCtl::Resource
