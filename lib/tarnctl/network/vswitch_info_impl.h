// The inventory of standard switches (VirtualSwitchInfo). Distributed and
// opaque switches belong to their own area and are refused as not available.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hostctl/network_vswitch.h"
#include "lib/tarnctl_object.h"

namespace TarnCtl::Network {

class VirtualSwitchInfoImpl : public virtual HostCtl::Network::VirtualSwitchInfo, public TarnCtl::Lib::TarnCtlObject {
public:
    void Refresh() override {}
    std::string GetName() const override { return "VirtualSwitchInfo"; }
    // Boot: replays every recorded standard switch (VirtualSwitchImpl::LoadConfig).
    void LoadConfig() override;

    void AddVirtualSwitch(const std::string& name, uint32_t numPorts) override;
    void AddVirtualSwitchWithPolicy(const HostCtl::Network::NicTeamingPolicy& teaming,
                                    const HostCtl::Network::PortSecurityPolicy& security,
                                    const HostCtl::Network::ShapingPolicy& shaping,
                                    const HostCtl::Network::NicCapabilities& caps, const std::string& name,
                                    uint32_t numPorts) override;
    void RemoveVirtualSwitch(const std::string& name) override;
    std::vector<std::unique_ptr<HostCtl::Network::VirtualSwitch>> GetVirtualSwitches(
        HostCtl::Network::PortsetGetType type) override;
    std::unique_ptr<HostCtl::Network::VirtualSwitch> GetVirtualSwitchByName(
        const std::string& name, HostCtl::Network::PortsetGetType type) override;
    bool SwitchExists(const std::string& name) override;
    std::vector<std::unique_ptr<HostCtl::Network::Portset>> GetAllSwitches() override;

    void AddDVSwitch(const std::string& name, const std::string& id, const std::string& alias,
                     const std::string& version, uint32_t numPorts, uint32_t maxPorts, bool opaque) override;
    void RemoveDVSwitch(const std::string& id) override;
    std::vector<std::unique_ptr<HostCtl::Network::DVSwitch>> GetDVSwitches() override;
    std::unique_ptr<HostCtl::Network::DVSwitch> GetDVSwitchByName(const std::string& name) override;
    std::unique_ptr<HostCtl::Network::DVSwitch> GetDVSwitchById(const std::string& id) override;
    std::vector<std::unique_ptr<HostCtl::Network::DVSwitch>> GetOpaqueSwitches() override;
    void SaveDVSCache(const std::string& file) override;
    void LoadDVSCache(const std::string& file) override;
};

}  // namespace TarnCtl::Network
