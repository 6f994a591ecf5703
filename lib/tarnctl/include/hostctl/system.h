// System services: host-wide facts, modules, and the I/O filter inventory.
#pragma once

#include <string>

#include "hostctl/object.h"

namespace HostCtl::System {

class SystemInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
    // Whether the kernel module `name` is loaded.
    virtual bool IsModuleLoaded(const std::string& name) = 0;
};

class IOFilterInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
};

}  // namespace HostCtl::System
