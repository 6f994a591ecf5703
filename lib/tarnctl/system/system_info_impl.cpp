// The system domain object: so far the module query the host printer needs.
#include "platform/log.h"
#include "platform/sysinfo.h"
#include "system/domains.h"

namespace TarnCtl::System {

bool SystemInfoImpl::IsModuleLoaded(const std::string& name) {
    try {
        TarnCtl::Util::Sysinfo si(KSI_NODE_system_modules);
        si.SetThrowOnError(false);
        return si.IsValidInstance(name);
    } catch (const HostCtl::Lib::HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Unable to read the module list: %s\n", "SystemInfo",
                           e.GetDetailedMessage().c_str());
        return false;
    }
}

}  // namespace TarnCtl::System
