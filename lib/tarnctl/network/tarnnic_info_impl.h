// The kernel-NIC inventory: adding and removing kernel NICs, lookups by
// connection point, interface name, tag, type and netstack, and the boot
// restore of every configured kernel NIC.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hostctl/network.h"
#include "lib/tarnctl_object.h"

namespace TarnCtl::Network {

class TarnosNicInfoImpl : public virtual HostCtl::Network::TarnosNicInfo, public TarnCtl::Lib::TarnCtlObject {
public:
    // ---- HostCtlObject
    void Refresh() override {}
    std::string GetName() const override { return "tarnosnics"; }
    void LoadConfig() override;
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    // ---- TarnosNicInfo
    void AddTarnosNic(const HostCtl::Network::ConnectionPoint* cp, const std::string& netstackKey,
                      const HostCtl::Network::IpConfig& ip, HostCtl::Network::Pnic* pnic, uint32_t mtu,
                      uint32_t tsoMss, uint32_t numRxQueue, const std::string& name) override;
    void AddTarnosNic(const HostCtl::Network::ConnectionPoint* cp, const std::string& netstackKey,
                      const HostCtl::Network::IpConfig& ip, const HostCtl::Network::MacAddress& mac, uint32_t mtu,
                      uint32_t tsoMss, uint32_t numRxQueue, const std::string& name) override;
    void AddTarnosNic(const std::string& portGroup, const std::string& netstackKey,
                      const HostCtl::Network::IpConfig& ip, const HostCtl::Network::MacAddress& mac, uint32_t mtu,
                      uint32_t tsoMss, uint32_t numRxQueue, const std::string& name) override;
    void RemoveTarnosNic(const HostCtl::Network::ConnectionPoint* cp, const std::string& netstackKey) override;
    void RemoveTarnosNic(const std::string& portGroup, const std::string& netstackKey) override;
    std::unique_ptr<HostCtl::Network::TarnNic> GetTarnosNic(const HostCtl::Network::ConnectionPoint& cp,
                                                            const std::string& netstackKey) override;
    std::unique_ptr<HostCtl::Network::TarnNic> GetTarnosNicByInterface(
        const std::string& name, bool configured, HostCtl::Network::PortsetGetType type) override;
    std::vector<std::unique_ptr<HostCtl::Network::TarnNic>> GetTarnosNics(
        HostCtl::Network::PortsetGetType type) override;
    std::vector<std::unique_ptr<HostCtl::Network::TarnNic>> GetTarnosNicsByTag(
        HostCtl::Network::TarnNicTagType tag) override;
    std::vector<std::unique_ptr<HostCtl::Network::TarnNic>> GetTarnosNicsByType(
        HostCtl::Network::TarnNic::TarnNicType type) override;
    std::vector<std::unique_ptr<HostCtl::Network::TarnNic>> GetTarnosNicsByInstanceKey(
        const std::string& key, HostCtl::Network::PortsetGetType type) override;
    std::vector<std::string> GetTarnosNicNames() override;
    std::string GetTarnnicNetstackInstanceKey(const std::string& name) override;
    uint32_t GetTarnNicCountByNetstackInstance(const std::string& key) override;
    uint32_t GetTarnNicCountWithTag(const std::string& tagName) override;
    bool TarnosNicExists(const HostCtl::Network::ConnectionPoint& cp, const std::string& netstackKey) override;
    bool TarnosNicConfigExists(const HostCtl::Network::ConnectionPoint& cp, const std::string& netstackKey) override;

private:
    void AddInternal(const HostCtl::Network::ConnectionPoint* cp, const std::string& netstackKey,
                     const HostCtl::Network::IpConfig& ip, const HostCtl::Network::MacAddress& mac,
                     HostCtl::Network::Pnic* pnic, uint32_t mtu, uint32_t tsoMss, uint32_t numRxQueue,
                     const std::string& name);
};

}  // namespace TarnCtl::Network
