// A plug-in that fills the hooks from its constructor, as the distributed-storage plug-in does.
#include <cstring>
#include <string>

#include "host/plugin_hooks.h"
#include "network/tarnnic_hooks.h"
#include "storage/disk_lun_api.h"
#include "storage/morra_file_system_impl.h"

namespace {
bool Yes() { return true; }
bool No() { return false; }
bool Refuse(const std::string&, const std::string&) { return false; }
unsigned long Capacity() { return 4096; }
void CapacityFn(HostCtl::Morra::Uuid, unsigned long* total, unsigned long* used) {
    *total = 1000;
    *used = 250;
}
void Destroyed(const std::string&) {}
void DumpPolicy(unsigned int id, char** text) {
    *text = strdup(("policy-" + std::to_string(id)).c_str());
}
std::string gNamed;
void NameDatastore(const std::string& uuid, const std::string& name) { gNamed = uuid + "=" + name; }
}  // namespace

extern "C" void TarnctlPluginConstructor() {
    TarnCtl::Util::MorraUtilApi::isMorraEnabledFn = Yes;
    TarnCtl::Util::MorraUtilApi::isMorraActiveFn = No;
    TarnCtl::Util::MorraUtilApi::startMorraMgmtDaemonFn = No;
    TarnCtl::Util::MorraUtilApi::saveMorraDecomStateFn = Refuse;
    TarnCtl::Util::MorraUtilApi::getMorraCapacityFn = Capacity;
    TarnCtl::Storage::DiskLunApi::AddGetCapacityFromDIRSVCCbkFn(CapacityFn);
    TarnCtl::Storage::DiskLunApi::AddGetDumpPolicyCbkFn(DumpPolicy);
    TarnCtl::Storage::DiskLunApi::AddSetMorraDatastoreNameCbkFn(NameDatastore);
    TarnCtl::Network::TarnosNicApi::AddTarnosNicDestroyCallback(Destroyed);
}

// What the datastore naming hook last received, for the tests.
extern "C" const char* TestPluginLastNamed() { return gNamed.c_str(); }
