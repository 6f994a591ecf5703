// Shared helpers of the switch tests: a fresh simulated host per test (default
// profile: pnx0 and pnx1 take MTUs up to 9000, pnx2 and pnx3 up to 9190; pnx1
// has a legacy driver), a kernel backend that records every write so tests can
// check the exact sequence, store access, fault injection and log capture.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../network/network_fixture.h"
#include "fixture.h"
#include "forwarding_backend.h"
#include "hostctl/exception.h"
#include "hostctl/host.h"
#include "hostctl/network.h"
#include "ksi/network.h"
#include "network/network_util.h"
#include "platform/configstore.h"
#include "platform/log.h"
#include "platform/sysinfo.h"
#include "sim/faults.h"
#include "sim/kernel.h"
#include "sim/profile.h"

namespace VsTest {

using namespace HostCtl::Network;

// One recorded kernel write: node, instance path and inputs as text.
struct Write {
    uint32_t node;
    std::string instance;  // keys joined with "/"
    std::string inputs;    // inputs joined with ",", or "struct" for SetStruct
    bool operator==(const Write& o) const { return node == o.node && instance == o.instance && inputs == o.inputs; }
};
inline std::ostream& operator<<(std::ostream& os, const Write& w) {
    return os << "{" << w.node << " " << w.instance << " [" << w.inputs << "]}";
}

// Forwards every call to the simulation and keeps each write that succeeded
// or failed, in order.
class RecordingKernel : public TarnTest::InstalledBackend {
public:
    TARN_ReturnStatus Set(const char* module, uint32_t node, const std::vector<KSI_Param>& instance,
                          const std::vector<KSI_Param>& inputs) override {
        writes.push_back({node, Join(instance, "/"), Join(inputs, ",")});
        return Next().Set(module, node, instance, inputs);
    }
    TARN_ReturnStatus SetStruct(const char* module, uint32_t node, const std::vector<KSI_Param>& instance,
                                const void* buffer, unsigned int length) override {
        writes.push_back({node, Join(instance, "/"), "struct"});
        return Next().SetStruct(module, node, instance, buffer, length);
    }
    // The writes of these nodes only, in order.
    std::vector<Write> Of(std::initializer_list<uint32_t> nodes) const {
        std::vector<Write> out;
        for (const Write& w : writes)
            for (uint32_t n : nodes)
                if (w.node == n) out.push_back(w);
        return out;
    }
    std::vector<Write> writes;

private:
    static std::string Join(const std::vector<KSI_Param>& list, const char* sep) {
        std::string out;
        for (const KSI_Param& p : list) out += (out.empty() ? "" : sep) + p.AsText();
        return out;
    }
};

// The network test host (NetTest::NetHostTest: fresh default host, Fault,
// Kernel, Booting) with switch helpers.
class SwitchTest : public NetTest::NetHostTest {
protected:
    static std::unique_ptr<VirtualSwitchInfo> Info() {
        return HostCtl::HostFactory::GetHost()->GetNetworkInfo()->GetVirtualSwitchInfo();
    }
    static std::unique_ptr<VirtualSwitch> Switch(const std::string& name) {
        auto sw = Info()->GetVirtualSwitchByName(name, PORTSET_GET_VSS);
        if (!sw) throw std::runtime_error("no switch " + name);
        return sw;
    }
    static std::unique_ptr<PortGroup> Pg(const std::string& sw, const std::string& name) {
        auto pg = Switch(sw)->GetPortGroupByName(name);
        if (!pg) throw std::runtime_error("no port group " + name);
        return pg;
    }
    // The switch's store object as JSON text, or "<absent>".
    static std::string SwitchData(const std::string& name) {
        auto o = Store()->Get(HaldenConfigStore::ConfigStoreObjectId("switches", "network_vss", "halden", name));
        return o ? o->GetData() : "<absent>";
    }
    // Connected ports and kernel NICs of a port group, as a later area would set them.
    static void SetClients(const std::string& pg, uint32_t ports, uint32_t nics) {
        Kernel([&](TarnSim::KernelState& s) {
            KsiPortgroupInfo info{};
            ASSERT_TRUE(s.Read(KSI_PG_CREATE, {"portcfg", pg}, &info));
            info.activePorts = ports;
            info.tarnNics = nics;
            s.Put(KSI_PG_CREATE, {"portcfg", pg}, info);
        });
    }
    static uint32_t PnicMtu(const std::string& nic) {
        KsiPnicProperties p{};
        TarnCtl::Util::Sysinfo si(KSI_NODE_net_pNics_properties);
        si.SetInstance(nic);
        si.Get(&p, sizeof p);
        return p.mtu;
    }
    static uint32_t KernelInt(uint32_t node, const std::vector<std::string>& instance) {
        uint32_t v = 0;
        TarnCtl::Util::Sysinfo si(node);
        for (const auto& k : instance) si.AddInstancePath(k);
        si.Get(&v, sizeof v);
        return v;
    }
    static std::vector<std::string> KernelList(uint32_t node, const std::vector<std::string>& instance) {
        std::vector<std::string> out;
        TarnCtl::Util::Sysinfo si(node);
        for (const auto& k : instance) si.AddInstancePath(k);
        si.List(out);
        return out;
    }
    // A kernel reset to the profile, as a reboot does before the boot steps.
    static void ResetKernel() { TarnSim::Profile::ResetKernel(TarnSim::Profile::CurrentProfile(), true); }
};

using NetTest::Thrown;

}  // namespace VsTest
