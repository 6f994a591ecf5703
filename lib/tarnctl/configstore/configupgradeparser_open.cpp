// Opening a legacy configuration file by its host path; kept apart from the
// statement reader so that the reader builds without the platform layer.
#include <fstream>

#include "configstore/configupgradeparser.h"
#include "hostctl/exception.h"
#include "platform/misc.h"

namespace TarnCtl::ConfigStoreUtil {

namespace {
std::unique_ptr<std::istream> OpenHostFile(const char* path) {
    std::unique_ptr<std::ifstream> in;
    try {
        in = HostCtl::Misc::GetIfstream(path ? path : "");
    } catch (const HostCtl::Lib::HostCtlException&) {
        throw ConfigUpgradeParser::Exception("ConfigParser: failed to open halden.conf");
    }
    if (!in->is_open()) throw ConfigUpgradeParser::Exception("ConfigParser: failed to open halden.conf");
    return in;
}
}  // namespace

ConfigUpgradeParser::ConfigUpgradeParser(const char* path) : ConfigUpgradeParser(OpenHostFile(path)) {}

}  // namespace TarnCtl::ConfigStoreUtil
