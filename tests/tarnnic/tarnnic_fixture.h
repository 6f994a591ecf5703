// Shared helpers of the kernel-NIC tests: a fresh default host with switch vs1
// (uplink pnx0) carrying port groups pg1, pg2 and pg30 (VLAN 30, where no DHCP
// server answers), a kernel recorder that notes how many host programs had run
// at each write (so a release can be shown to come before a bind), and readers
// of the kernel NIC nodes.
#pragma once

#include <arpa/inet.h>

#include <string>
#include <vector>

#include "../vswitch/vswitch_fixture.h"
#include "hostctl/network_tarnnic.h"
#include "network/tarnnic_dhcp.h"
#include "network/tarnnic_impl.h"
#include "network/tarnnic_info_impl.h"
#include "platform/exec.h"
#include "platform/misc.h"
#include "sim/processes.h"

namespace NicTest {

using namespace HostCtl::Network;
using NetTest::Thrown;

// Every kernel write with the number of program runs recorded before it.
class OrderedKernel : public VsTest::RecordingKernel {
public:
    TARN_ReturnStatus Set(const char* module, uint32_t node, const std::vector<KSI_Param>& instance,
                          const std::vector<KSI_Param>& inputs) override {
        programsBefore.push_back(Platform::Exec::RecordedCalls().size());
        return RecordingKernel::Set(module, node, instance, inputs);
    }
    std::vector<size_t> programsBefore;  // parallel to `writes` for Set calls
};

class NicHostTest : public VsTest::SwitchTest {
protected:
    void SetUp() override {
        SwitchTest::SetUp();
        Info()->AddVirtualSwitch("vs1", 0);
        Switch("vs1")->AddUplink("pnx0", true);
        Switch("vs1")->AddPortGroup("pg1");
        Switch("vs1")->AddPortGroup("pg2");
        Switch("vs1")->AddPortGroup("pg30");
        Pg("vs1", "pg30")->SetVlanId(30);
        Platform::Exec::ClearRecordedCalls();
    }
    static std::unique_ptr<TarnosNicInfo> Nics() {
        return HostCtl::HostFactory::GetHost()->GetNetworkInfo()->GetTarnosNicInfo();
    }
    static IpConfig Static(const std::string& addr, const std::string& mask, const std::string& gw = "") {
        IpConfig ip;
        ip.SetIpv4Address(Ipv4Address(addr));
        ip.SetIpv4Netmask(Ipv4Address(mask));
        if (!gw.empty()) ip.SetIpv4Gateway(Ipv4Address(gw));
        return ip;
    }
    static IpConfig Dhcp() {
        IpConfig ip;
        ip.SetUseDhcp(true);
        return ip;
    }
    // Adds a NIC with a user-given MAC on a port group of the default netstack.
    static void Add(const std::string& pg, const std::string& name, const IpConfig& ip = IpConfig(),
                    const std::string& key = "", const std::string& mac = "02:00:4c:6a:00:01") {
        Nics()->AddTarnosNic(pg, key, ip, MacAddress(mac), 0, 0, 0, name);
    }
    static std::unique_ptr<TarnNic> Nic(const std::string& pg, const std::string& key = "") {
        auto nic = Nics()->GetTarnosNic(ConnectionPoint::PortGroup(pg), key);
        if (!nic) throw std::runtime_error("no kernel NIC on " + pg);
        return nic;
    }
    static void AddNetstack(const std::string& key) {
        auto net = HostCtl::HostFactory::GetHost()->GetNetworkInfo();
        auto ns = net->GetNetstackInstanceByKey(key);
        net->AddNetstackInstance(ns.get(), false);
    }
    static std::string NicData(const std::string& name) { return Data("tarnnics", "network", name); }
    static bool Plumbed(const std::string& name, const std::string& key = "defaultTcpipStack") {
        return !KernelList(KSI_NODE_net_tcpip_instances_vNics_properties, {key}).empty() &&
               KernelProps(name, key).name[0] != 0;
    }
    static KsiVnicProperties KernelProps(const std::string& name, const std::string& key = "defaultTcpipStack") {
        KsiVnicProperties p{};
        TarnCtl::Util::Sysinfo si(KSI_NODE_net_tcpip_instances_vNics_properties);
        si.SetThrowOnError(false);
        si.SetInstance(key);
        si.AddInstancePath(name);
        si.Get(&p, sizeof p);
        return p;
    }
    // "a.b.c.d/m.m.m.m gw g.g.g.g" as the kernel holds it.
    static std::string KernelV4(const std::string& name, const std::string& key = "defaultTcpipStack") {
        KsiVnicIpv4Address a{};
        uint32_t gw = 0;
        Kernel([&](TarnSim::KernelState& s) {
            s.Read(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask, {key, name}, &a);
            s.Read(KSI_NODE_net_tcpip_instances_vNics_v4_gateway, {key, name}, &gw);
        });
        return Ipv4Address(a.address).GetStringAddress() + "/" + Ipv4Address(a.netmask).GetStringAddress() + " gw " +
               Ipv4Address(gw).GetStringAddress();
    }
    static uint32_t KernelTags(const std::string& name, const std::string& key = "defaultTcpipStack") {
        KsiVnicTags t{};
        Kernel([&](TarnSim::KernelState& s) { s.Read(KSI_NODE_net_tcpip_instances_vNics_tags, {key, name}, &t); });
        return t.mask;
    }
    static std::string Adv(const std::string& branch, const std::string& option) {
        return TarnCtl::Network::GetAdvString(branch, option);
    }
    // Host program runs since the test began, each as its joined command line.
    static std::vector<std::string> Programs() {
        std::vector<std::string> out;
        for (const auto& argv : Platform::Exec::RecordedCalls()) {
            std::string line;
            for (const auto& a : argv) line += (line.empty() ? "" : " ") + a;
            out.push_back(line);
        }
        return out;
    }
};

}  // namespace NicTest
