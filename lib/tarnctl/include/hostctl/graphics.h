// Graphics devices.
#pragma once

#include <string>
#include <vector>
#include "hostctl/object.h"

namespace HostCtl::Graphics {

class GraphicsInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
};

class NvidiaVgpuInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
};

// Not an object of the tree: no HostCtlObject root.
class NvidiaDeviceGroupInfo {
public:
    virtual std::vector<std::string> GetDeviceGroups() = 0;
    virtual ~NvidiaDeviceGroupInfo() = default;
};

}  // namespace HostCtl::Graphics
