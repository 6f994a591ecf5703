// The distributed-storage datastore as the storage domain sees it. Its dump
// policy, capacity and datastore naming come from plug-in hooks.
#pragma once

#include <cstdint>
#include <string>

namespace HostCtl::Morra {
struct Uuid {
    uint8_t bytes[16];
};
}  // namespace HostCtl::Morra

namespace TarnCtl::Storage {

class MorraFileSystemImpl {
public:
    explicit MorraFileSystemImpl(const HostCtl::Morra::Uuid& uuid) : _uuid(uuid) {}

    // Re-reads total and used raw capacity through the plug-in; unchanged when
    // the plug-in offers no capacity hook.
    void RefreshCapacity();
    void SetMorraDatastoreName(const std::string& name);
    // The dump policy text for `policyId`, or "" without the plug-in.
    static std::string GetDumpPolicy(unsigned int policyId);

    unsigned long GetTotalCapacity() const { return _total; }
    unsigned long GetUsedCapacity() const { return _used; }

    static void (*getDumpPolicyFn)(unsigned int, char**);
    static void (*getCapacityFromDIRSVCFn)(HostCtl::Morra::Uuid, unsigned long* total, unsigned long* used);
    static void (*setMorraDatastoreNameFn)(const std::string&, const std::string&);

private:
    HostCtl::Morra::Uuid _uuid;
    unsigned long _total = 0;
    unsigned long _used = 0;
};

}  // namespace TarnCtl::Storage
