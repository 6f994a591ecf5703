// System services: host-wide facts, modules, and the I/O filter inventory.
#pragma once

#include <cstdint>
#include <string>

#include "hostctl/object.h"

namespace HostCtl::System {

// One kernel logger (shared with the module loggers).
struct LogLevel {
    std::string name;
    uint32_t level = 0;
    uint32_t defaultLevel = 0;
};

class SystemInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
    // Whether the kernel module `name` is loaded.
    virtual bool IsModuleLoaded(const std::string& name) = 0;
};

class IOFilterInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
};

}  // namespace HostCtl::System
