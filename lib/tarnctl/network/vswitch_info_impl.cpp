// The standard-switch inventory: adding, removing, listing and looking up.
#include "network/vswitch_info_impl.h"

#include "hostctl/exception.h"
#include "hostctl/network_dvs.h"
#include "network/network_util.h"
#include "network/vswitch_impl.h"

namespace TarnCtl::Network {

using namespace HostCtl::Network;
using HostCtl::Lib::HostCtlException;

void VirtualSwitchInfoImpl::AddVirtualSwitch(const std::string& name, uint32_t numPorts) {
    VirtualSwitchImpl::CreateVirtualSwitch(name, numPorts);
}

void VirtualSwitchInfoImpl::AddVirtualSwitchWithPolicy(const NicTeamingPolicy& teaming,
                                                       const PortSecurityPolicy& security,
                                                       const ShapingPolicy& shaping, const NicCapabilities& caps,
                                                       const std::string& name, uint32_t numPorts) {
    VirtualSwitchImpl::CreateVirtualSwitchWithPolicy(teaming, security, shaping, caps, name, numPorts);
}

void VirtualSwitchInfoImpl::RemoveVirtualSwitch(const std::string& name) {
    KsiPortsetProperties p{};
    if (PortsetImpl::ReadProperties(name, &p) && p.systemSwitch) ThrowNotAvailable("Removing a system switch");
    if (!VirtualSwitchImpl::IsStandardSwitch(name))
        throw HostCtlException("Invalid virtual switch name, not a virtual switch");
    VirtualSwitchImpl(name).Destroy();
}

std::vector<std::unique_ptr<VirtualSwitch>> VirtualSwitchInfoImpl::GetVirtualSwitches(PortsetGetType type) {
    std::vector<std::unique_ptr<VirtualSwitch>> out;
    if (!(type & PORTSET_GET_VSS)) return out;
    for (const std::string& name : PortsetImpl::ListPortsets())
        if (VirtualSwitchImpl::IsStandardSwitch(name)) out.push_back(std::make_unique<VirtualSwitchImpl>(name));
    return out;
}

std::unique_ptr<VirtualSwitch> VirtualSwitchInfoImpl::GetVirtualSwitchByName(const std::string& name,
                                                                             PortsetGetType type) {
    if (!(type & PORTSET_GET_VSS) || !VirtualSwitchImpl::IsStandardSwitch(name)) return nullptr;
    return std::make_unique<VirtualSwitchImpl>(name);
}

bool VirtualSwitchInfoImpl::SwitchExists(const std::string& name) { return VirtualSwitchImpl::IsStandardSwitch(name); }

std::vector<std::unique_ptr<Portset>> VirtualSwitchInfoImpl::GetAllSwitches() {
    std::vector<std::unique_ptr<Portset>> out;
    for (auto& sw : GetVirtualSwitches(PORTSET_GET_VSS)) out.push_back(std::move(sw));
    return out;
}

void VirtualSwitchInfoImpl::AddDVSwitch(const std::string&, const std::string&, const std::string&,
                                        const std::string&, uint32_t, uint32_t, bool) {
    ThrowNotAvailable("Distributed switches");
}
void VirtualSwitchInfoImpl::RemoveDVSwitch(const std::string&) { ThrowNotAvailable("Distributed switches"); }
std::vector<std::unique_ptr<DVSwitch>> VirtualSwitchInfoImpl::GetDVSwitches() {
    ThrowNotAvailable("Distributed switches");
}
std::unique_ptr<DVSwitch> VirtualSwitchInfoImpl::GetDVSwitchByName(const std::string&) {
    ThrowNotAvailable("Distributed switches");
}
std::unique_ptr<DVSwitch> VirtualSwitchInfoImpl::GetDVSwitchById(const std::string&) {
    ThrowNotAvailable("Distributed switches");
}
std::vector<std::unique_ptr<DVSwitch>> VirtualSwitchInfoImpl::GetOpaqueSwitches() {
    ThrowNotAvailable("Opaque switches");
}
void VirtualSwitchInfoImpl::SaveDVSCache(const std::string&) { ThrowNotAvailable("The distributed-switch cache"); }
void VirtualSwitchInfoImpl::LoadDVSCache(const std::string&) { ThrowNotAvailable("The distributed-switch cache"); }

}  // namespace TarnCtl::Network
