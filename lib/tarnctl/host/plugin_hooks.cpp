// The plug-in hooks and the operations that use them.
#include "host/plugin_hooks.h"

#include <cstdlib>

#include "host/host_impl.h"
#include "hostctl/exception.h"
#include "network/tarnnic_hooks.h"
#include "storage/morra_file_system_impl.h"

namespace TarnCtl::Util {

bool (*MorraUtilApi::isMorraEnabledFn)() = nullptr;
bool (*MorraUtilApi::isMorraActiveFn)() = nullptr;
bool (*MorraUtilApi::startMorraMgmtDaemonFn)() = nullptr;
bool (*MorraUtilApi::saveMorraDecomStateFn)(const std::string&, const std::string&) = nullptr;
unsigned long (*MorraUtilApi::getMorraCapacityFn)() = nullptr;

namespace {
// Loads the plug-in when the hook is empty; an empty hook after that means the
// operation cannot be performed here.
template <typename Fn>
Fn Need(Fn& hook) {
    if (!hook)
        TarnCtl::HostImpl::LoadTarnCtlPlugins();
    if (!hook)
        throw HostCtl::Lib::HostCtlException("Unable to reach the Morra plugin: it is not loaded");
    return hook;
}
}  // namespace

bool MorraUtilApi::IsMorraEnabled() { return Need(isMorraEnabledFn)(); }
bool MorraUtilApi::IsMorraActive() { return Need(isMorraActiveFn)(); }

void MorraUtilApi::StartMorraMgmtDaemon() {
    if (!Need(startMorraMgmtDaemonFn)())
        throw HostCtl::Lib::HostCtlException("Failed to start Morra management daemon.");
}

void MorraUtilApi::SaveMorraDecomState(const std::string& a, const std::string& b) {
    if (!Need(saveMorraDecomStateFn)(a, b))
        throw HostCtl::Lib::HostCtlException("Failed to save Morra decom state.");
}

unsigned long MorraUtilApi::GetMorraCapacity() { return Need(getMorraCapacityFn)(); }

}  // namespace TarnCtl::Util

namespace TarnCtl::AdvStats {
bool (*MorraStatsApi::isMorraEnabledFn)() = nullptr;
void (*MorraStatsApi::getMorraDomStatsFn[3])(MorraDomStats*) = {nullptr, nullptr, nullptr};
}  // namespace TarnCtl::AdvStats

namespace TarnCtl::Storage {

void (*MorraFileSystemImpl::getDumpPolicyFn)(unsigned int, char**) = nullptr;
void (*MorraFileSystemImpl::getCapacityFromDIRSVCFn)(HostCtl::Morra::Uuid, unsigned long*, unsigned long*) = nullptr;
void (*MorraFileSystemImpl::setMorraDatastoreNameFn)(const std::string&, const std::string&) = nullptr;

void MorraFileSystemImpl::RefreshCapacity() {
    if (!getCapacityFromDIRSVCFn)
        TarnCtl::HostImpl::LoadTarnCtlPlugins();
    if (!getCapacityFromDIRSVCFn)
        return;  // no plug-in: the capacity stays as it was
    unsigned long total = _total, used = _used;
    getCapacityFromDIRSVCFn(_uuid, &total, &used);
    _total = total;
    _used = used;
}

void MorraFileSystemImpl::SetMorraDatastoreName(const std::string& name) {
    if (!setMorraDatastoreNameFn)
        TarnCtl::HostImpl::LoadTarnCtlPlugins();
    if (!setMorraDatastoreNameFn)
        throw HostCtl::Lib::HostCtlException("Unable to set the Morra datastore name: the Morra plugin is not loaded");
    char text[40];
    static const char* hex = "0123456789abcdef";
    int k = 0;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text[k++] = '-';
        text[k++] = hex[_uuid.bytes[i] >> 4];
        text[k++] = hex[_uuid.bytes[i] & 15];
    }
    text[k] = '\0';
    setMorraDatastoreNameFn(text, name);
}

std::string MorraFileSystemImpl::GetDumpPolicy(unsigned int policyId) {
    if (!getDumpPolicyFn)
        TarnCtl::HostImpl::LoadTarnCtlPlugins();
    if (!getDumpPolicyFn)
        return "";
    char* text = nullptr;
    getDumpPolicyFn(policyId, &text);
    std::string out = text ? text : "";
    std::free(text);
    return out;
}

}  // namespace TarnCtl::Storage

namespace TarnCtl::Network {

std::vector<TarnNicHooks::DestroyFn> TarnNicHooks::_destroyCallbacks;
std::vector<TarnNicHooks::ReconfigTagFn> TarnNicHooks::_reconfigTagCallbacks;

void TarnosNicApi::AddTarnosNicDestroyCallback(TarnNicHooks::DestroyFn fn) {
    TarnNicHooks::AddTarnNicDestroyCallback(fn);
}
void TarnosNicApi::AddTarnosNicReconfigTagCallback(TarnNicHooks::ReconfigTagFn fn) {
    TarnNicHooks::AddTarnNicReconfigTagCallback(fn);
}

}  // namespace TarnCtl::Network
