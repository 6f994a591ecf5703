// The storage domain: adapters, devices, paths and volumes.
#pragma once

#include "hostctl/object.h"

namespace HostCtl::Storage {

class StorageInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
};

}  // namespace HostCtl::Storage
