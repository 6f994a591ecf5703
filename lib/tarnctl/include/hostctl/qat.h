// Accelerator and data-compression facilities: interfaces without an object root.
#pragma once

#include <string>
#include <vector>

namespace HostCtl::QAT {
class QATInfo {
public:
    virtual std::vector<std::string> GetDevices() = 0;
    virtual ~QATInfo() = default;
};
}  // namespace HostCtl::QAT

namespace HostCtl::DCF {
class DCFInfo {
public:
    virtual std::vector<std::string> GetDevices() = 0;
    virtual ~DCFInfo() = default;
};
}  // namespace HostCtl::DCF
