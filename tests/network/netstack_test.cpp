// Netstacks: the states over kernel and configuration with their repair (not
// while booting), adding with rollback, removal, the settings that go to the
// kernel, the default netstack's advanced options and the record, boot restore,
// and the host-wide settings (number of switches, IPv6 of the kernel's stack).
#include <sys/stat.h>

#include <algorithm>

#include "hostctl/adv.h"
#include "hostctl/host.h"
#include "network/netstack_instance_impl.h"
#include "network/network_info_impl.h"
#include "network_fixture.h"
#include "system/kernel_opt_impl.h"
#include "system/kernel_opts.h"
#include "platform/bootconfig.h"
#include "platform/configfile.h"
#include "platform/misc.h"
#include "platform/sysinfo.h"

namespace NetTest {
namespace {

using namespace HostCtl::Network;
using TarnCtl::Network::NetstackInstanceImpl;
using TarnCtl::Network::NetworkInfoImpl;

class NetstackTest : public NetHostTest {
protected:
    static bool KernelRuns(const std::string& key) {
        KsiTcpipInstanceProps p{};
        return NetstackInstanceImpl::ReadKernelProperties(key, &p);
    }
    static KsiTcpipInstanceProps KernelProps(const std::string& key) {
        KsiTcpipInstanceProps p{};
        NetstackInstanceImpl::ReadKernelProperties(key, &p);
        return p;
    }
    static std::string KernelText(uint32_t node, const std::string& key) {
        KsiTcpipText t{};
        TarnCtl::Util::Sysinfo si(node);
        si.SetInstance(key);
        si.Get(&t, sizeof t);
        return std::string(t.text, strnlen(t.text, sizeof t.text));
    }
    // Starts an instance in the kernel only, as another program would.
    static void KernelStart(const std::string& key, const std::string& algo = "newreno") {
        TarnCtl::Util::Sysinfo si(KSI_NODE_net_tcpip_createNetstackInstance);
        si.AddInput("name=" + key);
        si.AddInput("ccalgo=" + algo);
        si.AddInput("socketmax=11000");
        si.Set();
    }
    static bool FileExists(const std::string& hostPath) { return HostCtl::Misc::HostFileExists(hostPath); }
    static int64_t AdvInt(const std::string& option) { return TarnCtl::Network::GetAdvInt("Net", option); }
    static std::string AdvStr(const std::string& option) { return TarnCtl::Network::GetAdvString("Net", option); }
    static void Add(const std::string& key, const std::function<void(NetstackInstance&)>& setup = nullptr,
                    bool createOnly = false) {
        NetworkInfoImpl net;
        auto ns = net.GetNetstackInstanceByKey(key);
        if (setup) setup(*ns);
        net.AddNetstackInstance(ns.get(), createOnly);
    }
    NetworkInfoImpl net;
};

// ---- Names ---------------------------------------------------------------------------------

TEST_F(NetstackTest, NamesWithADoubleQuoteAreRefused) {
    EXPECT_TRUE(NetworkInfoImpl::IsNetworkObjectNameValid("velmove-1", false));
    EXPECT_FALSE(NetworkInfoImpl::IsNetworkObjectNameValid("vm\"o", false));
    EXPECT_EQ(Thrown([] { NetworkInfoImpl::IsNetworkObjectNameValid("vm\"o", true); }),
              "Invalid characters in specified  value: 'vm\"o'; Cannot contain any of these characters '\"'");
    EXPECT_EQ(Thrown([] { Add("vm\"o"); }),
              "Invalid characters in specified  value: 'vm\"o'; Cannot contain any of these characters '\"'");
    EXPECT_EQ(Data("net_stacks", "network", "vm\"o"), "<absent>");
    EXPECT_FALSE(KernelRuns("vm\"o"));
    // A good key with a bad display name is refused by enabling as well.
    NetstackInstanceImpl ns("vmo");
    ns.Create();
    ns.SetFields("bad\"name", 11000, "newreno", true, "enabled");
    EXPECT_EQ(Thrown([&] { ns.Enable(); }),
              "Invalid characters in specified  value: 'bad\"name'; Cannot contain any of these characters '\"'");
    EXPECT_FALSE(KernelRuns("vmo"));
}

// ---- Adding ------------------------------------------------------------------------------------

TEST_F(NetstackTest, AddingCreatesRecordResolverFileAndKernelInstance) {
    Platform::Log::Capture log;
    Add("vmo", [](NetstackInstance& ns) {
        ns.SetMaxConnections(5000, false);
        ns.SetCongestionControlAlgorithm("cubic", false);
        ns.SetInstanceName("Migration", false);
    });
    KsiTcpipInstanceProps p = KernelProps("vmo");
    EXPECT_EQ(p.state, 4660u);
    EXPECT_EQ(p.socketMax, 5000u);
    EXPECT_STREQ(p.ccAlgo, "cubic");
    EXPECT_EQ(Data("net_stacks", "network", "vmo"),
              R"({"congestion_control_algorithm":"CUBIC","enabled":true,"key":"vmo","max_connections":5000,"name":"Migration"})");
    EXPECT_TRUE(FileExists("/etc/vmo-resolv.conf"));
    EXPECT_EQ(TarnTest::ReadHost("/etc/vmo-resolv.conf"), "");
    EXPECT_TRUE(log.Contains("NetstackInstanceImpl: Created netstack instance vmo in configuration"));
    EXPECT_TRUE(log.Contains("NetstackInstanceImpl: Enabled netstack instance vmo"));
    EXPECT_EQ(net.GetNetstackInstanceState("vmo"), 4660u);
    // The default settings are left out of the record.
    Add("ops");
    EXPECT_EQ(Data("net_stacks", "network", "ops"), R"({"enabled":true,"key":"ops","name":"ops"})");
}

TEST_F(NetstackTest, AddingRollsBackWhenTheKernelRefusesAndPassesTheErrorOn) {
    Fault(KSI_NODE_net_tcpip_createNetstackInstance, TARN_NO_MEMORY);
    std::string expected = "Unable to create netstack instance vmo" + HostCtl::Lib::StatusTail(TARN_NO_MEMORY);
    EXPECT_EQ(Thrown([] { Add("vmo"); }), expected);
    EXPECT_EQ(Data("net_stacks", "network", "vmo"), "<absent>");
    EXPECT_FALSE(FileExists("/etc/vmo-resolv.conf"));
    EXPECT_FALSE(KernelRuns("vmo"));
    EXPECT_EQ(net.GetNetstackInstanceState("vmo"), 1u);
    // The same key can be added afterwards.
    Add("vmo");
    EXPECT_EQ(net.GetNetstackInstanceState("vmo"), 4660u);
}

TEST_F(NetstackTest, EnablingTakesTheKernelInstanceDownWhenALaterStepFails) {
    Put("net_stacks", "network", "vmo", R"({"key":"vmo","name":"vmo","enabled":false,"ecn_status":"DISABLED"})");
    ASSERT_EQ(net.GetNetstackInstanceState("vmo"), 2u);
    Fault(KSI_NODE_net_tcpip_instances_ecn, TARN_BUSY, "vmo");
    EXPECT_EQ(Thrown([] { Add("vmo"); }),
              "Unable to set ECN status of netstack instance vmo" + HostCtl::Lib::StatusTail(TARN_BUSY));
    EXPECT_FALSE(KernelRuns("vmo"));
    EXPECT_EQ(Data("net_stacks", "network", "vmo"),
              R"({"ecn_status":"DISABLED","enabled":false,"key":"vmo","name":"vmo"})");
    // Without the fault the recorded ECN status reaches the kernel.
    Add("vmo");
    EXPECT_EQ(KernelText(KSI_NODE_net_tcpip_instances_ecn, "vmo"), "disabled");
}

TEST_F(NetstackTest, AddingAnExistingNetstack) {
    Add("vmo", nullptr, true);
    EXPECT_EQ(net.GetNetstackInstanceState("vmo"), 2u);
    EXPECT_FALSE(KernelRuns("vmo"));
    EXPECT_EQ(Thrown([] { Add("vmo", nullptr, true); }), "Netstack instance 'vmo' is already found in config");
    Add("vmo");  // configured and stopped: enabling is all that is left
    EXPECT_EQ(net.GetNetstackInstanceState("vmo"), 4660u);
    EXPECT_EQ(Thrown([] { Add("vmo"); }), "Netstack instance 'vmo' is already found in kernel");
    EXPECT_EQ(Thrown([] { NetworkInfoImpl().AddNetstackInstance(nullptr, false); }), "Netstack instance invalid input");
}

// ---- States over kernel and configuration ------------------------------------------------------

struct StateCase {
    const char* name;
    const char* record;  // store object of "vmo", "" for none
    bool kernel;         // the kernel runs "vmo"
    bool boot;
    uint32_t state;      // 0: no instance
    const char* error;
    const char* enabledAfter;  // the record's "enabled" afterwards, "" for no record
    bool warned;
};

class NetstackStateTest : public NetstackTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(NetstackStateTest, LookupAppliesTheConsistencyRules) {
    const StateCase& c = GetParam();
    if (*c.record) Put("net_stacks", "network", "vmo", c.record);
    if (c.kernel) KernelStart("vmo", "cubic");
    Platform::Log::Capture log;
    std::unique_ptr<NetstackInstance> ns;
    std::string error;
    if (c.boot) Store()->SetBootMode(true);
    error = Thrown([&] { ns = net.LookupNetstackInstanceByKey("vmo"); });
    Store()->SetBootMode(false);
    EXPECT_EQ(error, c.error ? c.error : "<no exception>");
    EXPECT_EQ(ns ? ns->GetState() : 0u, c.state);
    auto o = Object("net_stacks", "network", "vmo");
    bool enabled = false;
    EXPECT_EQ(o ? (o->GetValue("enabled", &enabled) ? (enabled ? "true" : "false") : "unset") : "",
              std::string(c.enabledAfter));
    EXPECT_EQ(log.Contains("NetworkInfoImpl::LookupNetstackInstanceByKey: Updated netstack state in config to "
                           "disabled: vmo, since it does not exist in kernel"),
              c.warned);
}

const StateCase kStateCases[] = {
    {"Neither", "", false, false, 0, nullptr, "", false},
    {"RunningNotConfigured", "", true, false, 4660, nullptr, "", false},
    {"ConfiguredDisabledStopped", R"({"key":"vmo","enabled":false})", false, false, 2, nullptr, "false", false},
    {"ConfiguredDisabledRunning", R"({"key":"vmo","enabled":false})", true, false, 0,
     "Inconsistent state of Netstack instance, is not enabled in config: vmo", "false", false},
    {"ConfiguredEnabledRunning", R"({"key":"vmo","enabled":true,"congestion_control_algorithm":"CUBIC"})", true, false,
     4660, nullptr, "true", false},
    {"ConfiguredEnabledMissingRepaired", R"({"key":"vmo","enabled":true})", false, false, 2, nullptr, "false", true},
    {"ConfiguredEnabledMissingAtBoot", R"({"key":"vmo","enabled":true})", false, true, 2, nullptr, "true", false},
};
INSTANTIATE_TEST_SUITE_P(Cases, NetstackStateTest, ::testing::ValuesIn(kStateCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(NetstackStateTest, ValuesComeFromTheRecordWhenConfiguredAndFromTheKernelOtherwise) {
    KernelStart("rt", "dctcp");
    auto rt = net.LookupNetstackInstanceByKey("rt");
    ASSERT_TRUE(rt);
    EXPECT_EQ(rt->GetCongestionControlAlgorithm(), "dctcp");
    EXPECT_EQ(rt->GetMaxConnections(), 11000u);
    Put("net_stacks", "network", "cf",
        R"({"key":"cf","name":"Config","enabled":false,"max_connections":3000,"ipv6_enabled":false})");
    auto cf = net.LookupNetstackInstanceByKey("cf");
    ASSERT_TRUE(cf);
    EXPECT_EQ(cf->GetInstanceName(), "Config");
    EXPECT_EQ(cf->GetMaxConnections(), 3000u);
    EXPECT_FALSE(cf->GetIpv6Enabled());
    EXPECT_EQ(cf->GetCongestionControlAlgorithm(), "newreno");
}

TEST_F(NetstackTest, ListingRepairsWithItsOwnComponent) {
    Put("net_stacks", "network", "gone", R"({"key":"gone","enabled":true})");
    Add("vmo");
    Platform::Log::Capture log;
    auto list = net.ListNetstackInstances();
    std::vector<std::string> keys;
    for (auto& ns : list) keys.push_back(ns->GetKey() + "=" + std::to_string(ns->GetState()));
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"defaultTcpipStack=4660", "gone=2", "vmo=4660"}));
    EXPECT_TRUE(log.Contains("NetworkInfoImpl::ListNetstackInstances: Updated netstack state in config to disabled: "
                             "gone, since it does not exist in kernel"));
    EXPECT_EQ(Data("net_stacks", "network", "gone"), R"({"enabled":false,"key":"gone"})");
}

TEST_F(NetstackTest, RefreshFindsACongestionAlgorithmTheKernelDisagreesWith) {
    Put("net_stacks", "network", "vmo", R"({"key":"vmo","enabled":true,"congestion_control_algorithm":"CUBIC"})");
    KernelStart("vmo", "newreno");
    NetstackInstanceImpl ns("vmo");
    EXPECT_EQ(Thrown([&] { ns.Refresh(); }), "Inconsistent value of ccalgo for Netstack instance: vmo");
}

// ---- Removing --------------------------------------------------------------------------------------

TEST_F(NetstackTest, RemovingIsRefusedWhileKernelNicsAreBoundAndNamesThemAll) {
    Add("vmo");
    Kernel([](TarnSim::KernelState& s) {
        uint8_t one = 1;
        s.Put(KSI_NODE_net_tcpip_instances_vNics_properties, {"vmo", "tarn1"}, one);
        s.Put(KSI_NODE_net_tcpip_instances_vNics_properties, {"vmo", "tarn2"}, one);
    });
    std::string before = Data("net_stacks", "network", "vmo");
    EXPECT_EQ(Thrown([&] { net.RemoveNetstackInstance("vmo", false); }),
              "Cannot remove netstack instance 'vmo' when Tarnos adapters:tarn1, tarn2 exist");
    EXPECT_TRUE(KernelRuns("vmo"));
    EXPECT_EQ(Data("net_stacks", "network", "vmo"), before);
    EXPECT_TRUE(FileExists("/etc/vmo-resolv.conf"));
}

TEST_F(NetstackTest, RemovingStopsAndForgetsTheNetstack) {
    Add("vmo");
    Platform::Log::Capture log;
    net.RemoveNetstackInstance("vmo", false);
    EXPECT_FALSE(KernelRuns("vmo"));
    EXPECT_EQ(Data("net_stacks", "network", "vmo"), "<absent>");
    EXPECT_FALSE(FileExists("/etc/vmo-resolv.conf"));
    EXPECT_TRUE(log.Contains("NetworkInfoImpl: Removing netstack instance vmo"));
    EXPECT_TRUE(log.Contains("NetstackInstanceImpl: Disabled netstack instance vmo"));
    EXPECT_TRUE(log.Contains("NetstackInstanceImpl: Destroyed netstack instance vmo"));
    EXPECT_EQ(net.GetNetstackInstanceState("vmo"), 1u);
    EXPECT_EQ(Thrown([&] { net.RemoveNetstackInstance("vmo", false); }), "Netstack instance 'vmo' is not found");
}

TEST_F(NetstackTest, AKernelRefusalWhileRemovingKeepsTheRecord) {
    Add("vmo");
    Fault(KSI_NODE_net_tcpip_instances_destroy, TARN_BUSY, "vmo");
    EXPECT_EQ(Thrown([&] { net.RemoveNetstackInstance("vmo", false); }),
              "Error destroying netstack instance: Unable to destroy netstack instance vmo in the kernel" +
                  HostCtl::Lib::StatusTail(TARN_BUSY));
    EXPECT_TRUE(KernelRuns("vmo"));
    EXPECT_EQ(Data("net_stacks", "network", "vmo"), R"({"enabled":true,"key":"vmo","name":"vmo"})");
}

// ---- Settings ----------------------------------------------------------------------------------------

TEST_F(NetstackTest, MaxConnectionsBounds) {
    Add("vmo");
    auto ns = net.LookupNetstackInstanceByKey("vmo");
    std::string before = Data("net_stacks", "network", "vmo");
    for (unsigned n : {1999u, 20001u, 0u}) {
        EXPECT_EQ(Thrown([&] { ns->SetMaxConnections(n, true); }),
                  "Unable to set max connections.  Valid values are 2000-20000")
            << n;
        EXPECT_EQ(Data("net_stacks", "network", "vmo"), before) << n;
    }
    for (unsigned n : {2000u, 20000u}) {
        ns->SetMaxConnections(n, true);
        EXPECT_EQ(Object("net_stacks", "network", "vmo")->GetData().find("\"max_connections\":" + std::to_string(n)) !=
                      std::string::npos,
                  true)
            << Data("net_stacks", "network", "vmo");
    }
}

TEST_F(NetstackTest, TheDefaultNetstackKeepsItsAdvancedOptionInStep) {
    net.RestoreNetstackInstances();  // gives the default netstack its record
    auto ns = net.GetDefaultNetstackInstance();
    EXPECT_EQ(Thrown([&] { ns->SetMaxConnections(1999, true); }),
              "Unable to set max connections.  Valid values are 2000-20000");
    EXPECT_EQ(AdvInt("TcpipSocketMax"), 11000);
    ns->SetMaxConnections(15000, true);
    EXPECT_EQ(AdvInt("TcpipSocketMax"), 15000);
    EXPECT_NE(Data("net_stacks", "network", "defaultTcpipStack").find("\"max_connections\":15000"), std::string::npos);
    ns->UnsetMaxConnections();
    EXPECT_EQ(AdvInt("TcpipSocketMax"), 11000);
    EXPECT_EQ(Data("net_stacks", "network", "defaultTcpipStack").find("max_connections"), std::string::npos);

    // A change made through the advanced option is taken over when read.
    TarnCtl::Network::SetAdvInt("Net", "TcpipSocketMax", 12345);
    Platform::Log::Capture log;
    auto fresh = net.LookupNetstackInstanceByKey("defaultTcpipStack");
    EXPECT_EQ(fresh->GetMaxConnections(), 12345u);
    EXPECT_TRUE(log.Contains("Syncing netstack max conn value to advanced config: 11000 -> 12345"));
    EXPECT_NE(Data("net_stacks", "network", "defaultTcpipStack").find("\"max_connections\":12345"), std::string::npos);
}

TEST_F(NetstackTest, CongestionControlFollowsTheKernelsList) {
    net.RestoreNetstackInstances();
    auto ns = net.GetDefaultNetstackInstance();
    EXPECT_EQ(ns->GetCongestionControlAlgorithmList(), (std::vector<std::string>{"newreno", "cubic", "dctcp"}));
    std::string before = Data("net_stacks", "network", "defaultTcpipStack");
    EXPECT_EQ(Thrown([&] { ns->SetCongestionControlAlgorithm("bbr", true); }), "Unsupported congestion control algorithm");
    EXPECT_EQ(KernelText(KSI_NODE_net_tcpip_instances_defaultcc, "defaultTcpipStack"), "newreno");
    EXPECT_EQ(AdvStr("TcpipDefaultStackCCAlgo"), "newreno");
    EXPECT_EQ(Data("net_stacks", "network", "defaultTcpipStack"), before);

    ns->SetCongestionControlAlgorithm("cubic", true);
    EXPECT_EQ(KernelText(KSI_NODE_net_tcpip_instances_defaultcc, "defaultTcpipStack"), "cubic");
    EXPECT_EQ(AdvStr("TcpipDefaultStackCCAlgo"), "cubic");
    EXPECT_NE(Data("net_stacks", "network", "defaultTcpipStack").find("\"congestion_control_algorithm\":\"CUBIC\""),
              std::string::npos);
    ns->UnsetCongestionControlAlgorithm();
    EXPECT_EQ(KernelText(KSI_NODE_net_tcpip_instances_defaultcc, "defaultTcpipStack"), "newreno");
    EXPECT_EQ(AdvStr("TcpipDefaultStackCCAlgo"), "newreno");
    EXPECT_EQ(Data("net_stacks", "network", "defaultTcpipStack").find("congestion_control_algorithm"), std::string::npos);

    // Another netstack's algorithm touches neither the default's kernel value nor the option.
    Add("vmo");
    net.LookupNetstackInstanceByKey("vmo")->SetCongestionControlAlgorithm("dctcp", true);
    EXPECT_EQ(AdvStr("TcpipDefaultStackCCAlgo"), "newreno");
    EXPECT_NE(Data("net_stacks", "network", "vmo").find("\"congestion_control_algorithm\":\"DCTCP\""), std::string::npos);
}

TEST_F(NetstackTest, EcnStatusGoesToTheKernelThenTheRecord) {
    Add("vmo");
    auto ns = net.LookupNetstackInstanceByKey("vmo");
    std::string before = Data("net_stacks", "network", "vmo");
    EXPECT_EQ(Thrown([&] { ns->SetEcnStatus("sometimes"); }),
              "Invalid ECN status 'sometimes'; valid values are disabled, enabled, echo-only");
    Fault(KSI_NODE_net_tcpip_instances_ecn, TARN_BUSY, "vmo");
    EXPECT_EQ(Thrown([&] { ns->SetEcnStatus("disabled"); }),
              "Unable to set ECN status of netstack instance vmo" + HostCtl::Lib::StatusTail(TARN_BUSY));
    EXPECT_EQ(Data("net_stacks", "network", "vmo"), before);
    EXPECT_EQ(KernelText(KSI_NODE_net_tcpip_instances_ecn, "vmo"), "enabled");
    ns->SetEcnStatus("echo-only");
    EXPECT_EQ(KernelText(KSI_NODE_net_tcpip_instances_ecn, "vmo"), "echo-only");
    EXPECT_NE(Data("net_stacks", "network", "vmo").find("\"ecn_status\":\"ECHOONLY\""), std::string::npos);
}

TEST_F(NetstackTest, SettersRecordNothingWhileBooting) {
    Add("vmo");
    auto ns = net.LookupNetstackInstanceByKey("vmo");
    std::string before = Data("net_stacks", "network", "vmo");
    Booting([&] {
        ns->SetMaxConnections(4000, true);
        ns->SetInstanceName("Other", true);
        ns->SetIpv6Enabled(false, true);
        ns->SetEcnStatus("disabled");
    });
    EXPECT_EQ(Data("net_stacks", "network", "vmo"), before);
    EXPECT_EQ(KernelText(KSI_NODE_net_tcpip_instances_ecn, "vmo"), "disabled");
}

// ---- Boot --------------------------------------------------------------------------------------------

TEST_F(NetstackTest, NetstacksComeBackAfterAReboot) {
    Add("vmo", [](NetstackInstance& ns) {
        ns.SetMaxConnections(6000, false);
        ns.SetCongestionControlAlgorithm("dctcp", false);
    });
    net.LookupNetstackInstanceByKey("vmo")->SetEcnStatus("disabled");
    Add("stopped", nullptr, true);
    Platform::Log::Capture log;
    TarnSim::Profile::Reboot();
    KsiTcpipInstanceProps p = KernelProps("vmo");
    EXPECT_EQ(p.state, 4660u);
    EXPECT_EQ(p.socketMax, 6000u);
    EXPECT_STREQ(p.ccAlgo, "dctcp");
    EXPECT_EQ(KernelText(KSI_NODE_net_tcpip_instances_ecn, "vmo"), "disabled");
    EXPECT_TRUE(log.Contains("NetworkInfoImpl: Enabled netstack instance:vmo during boot"));
    EXPECT_TRUE(log.Contains("NetworkInfoImpl: Created default netstack instance in configuration during boot"));
    // A recorded netstack that was only created comes up at boot as well.
    EXPECT_TRUE(KernelRuns("stopped"));
    EXPECT_EQ(Data("net_stacks", "network", "defaultTcpipStack"),
              R"({"enabled":true,"key":"defaultTcpipStack","name":"defaultTcpipStack"})");
}

TEST_F(NetstackTest, BootReplaysTheDefaultNetstacksAlgorithmAndGoesOnPastAFailure) {
    Put("net_stacks", "network", "defaultTcpipStack",
        R"({"key":"defaultTcpipStack","enabled":true,"congestion_control_algorithm":"CUBIC","ecn_status":"DISABLED"})");
    Put("net_stacks", "network", "bad", R"({"key":"bad","enabled":true,"congestion_control_algorithm":"CUBIC"})");
    Put("net_stacks", "network", "good", R"({"key":"good","enabled":true})");
    Fault(KSI_NODE_net_tcpip_createNetstackInstance, TARN_NO_MEMORY, "", 1);
    Platform::Log::Capture log;
    Booting([&] { net.RestoreNetstackInstances(); });
    EXPECT_EQ(KernelText(KSI_NODE_net_tcpip_instances_defaultcc, "defaultTcpipStack"), "cubic");
    EXPECT_EQ(KernelText(KSI_NODE_net_tcpip_instances_ecn, "defaultTcpipStack"), "disabled");
    EXPECT_EQ(AdvStr("TcpipDefaultStackCCAlgo"), "cubic");
    EXPECT_TRUE(log.Contains("NetworkInfoImpl: Updated default netstack congestioncontrol algorithm from newrenoto cubic "
                             "as read from the config store"));
    EXPECT_TRUE(log.Contains("NetworkInfoImpl: Netstack instance:defaultTcpipStack already enabled"));
    EXPECT_TRUE(log.Contains("NetworkInfoImpl: Failed to enable bad during boot, error Unable to create netstack "
                             "instance bad"));
    EXPECT_FALSE(KernelRuns("bad"));
    EXPECT_TRUE(KernelRuns("good"));
    EXPECT_TRUE(log.Contains("NetworkInfoImpl: Enabling 3 netstack instances during boot"));
}

// ---- Host-wide settings ------------------------------------------------------------------------------

TEST_F(NetstackTest, MaximumSwitchesTakeEffectAtTheNextBoot) {
    EXPECT_EQ(net.GetMaxVirtualSwitches(), 1024u);
    EXPECT_EQ(net.GetConfiguredMaxVirtualSwitches(), 1024u);
    EXPECT_EQ(Thrown([&] { net.SetConfiguredMaxVirtualSwitches(0); }), "Invalid number of virtual switches: 0");
    EXPECT_EQ(Data("options", "tarnos", ""), "<absent>");
    net.SetConfiguredMaxVirtualSwitches(512);
    EXPECT_EQ(Data("options", "tarnos", ""), R"({"net_num_portsets":512})");
    // It is a boot option like any other: the boot-option table sees it too.
    EXPECT_EQ(TarnCtl::System::KernelOpts::GetOption("netNumPortsets")->GetValueString(), "512");
    EXPECT_EQ(Platform::BootConfig::FormatKernelOptions(Platform::BootConfig::KernelOptions()), "netNumPortsets=512");
    NetworkInfoImpl fresh;
    EXPECT_EQ(fresh.GetMaxVirtualSwitches(), 1024u);
    EXPECT_EQ(fresh.GetConfiguredMaxVirtualSwitches(), 512u);
    TarnSim::Profile::Reboot();
    EXPECT_EQ(NetworkInfoImpl().GetMaxVirtualSwitches(), 512u);
}

bool WithDpu() { return true; }

TEST_F(NetstackTest, KernelIpv6IsAModuleOptionForTheNextBoot) {
    EXPECT_TRUE(net.IsTarnIpv6Enabled());
    EXPECT_TRUE(net.GetTarnIpv6Enabled());
    Put("module_settings", "tarnos", "tcpip4", R"({"options":"maxsock=10 ipv6=1"})");
    TarnCtl::Network::SetDpuProbe(WithDpu);
    std::string refused = Thrown([&] { net.SetTarnIpv6Enabled(false); });
    TarnCtl::Network::SetDpuProbe(nullptr);
    EXPECT_EQ(refused, "Disabling IPv6 is not allowed on a host that has a DPU.");
    EXPECT_EQ(Data("module_settings", "tarnos", "tcpip4"), R"({"options":"maxsock=10 ipv6=1"})");

    net.SetTarnIpv6Enabled(false);
    EXPECT_EQ(Data("module_settings", "tarnos", "tcpip4"), R"({"options":"maxsock=10 ipv6=0"})");
    EXPECT_FALSE(net.GetTarnIpv6Enabled());
    EXPECT_TRUE(net.IsTarnIpv6Enabled());  // live state until the reboot
    TarnSim::Profile::Reboot();
    EXPECT_FALSE(NetworkInfoImpl().IsTarnIpv6Enabled());
    EXPECT_EQ(Thrown([] { NetworkInfoImpl().IsTarnIpv6GlobalRouterAdvEnabled("defaultTcpipStack"); }), "Ipv6 not Enabled");
    EXPECT_EQ(Thrown([] { NetworkInfoImpl().SetTarnIpv6GlobalRouterAdvEnabled(true, "defaultTcpipStack"); }),
              "Ipv6 not Enabled");
    NetworkInfoImpl().SetTarnIpv6Enabled(true);
    EXPECT_EQ(Data("module_settings", "tarnos", "tcpip4"), R"({"options":"maxsock=10 ipv6=1"})");
}

TEST_F(NetstackTest, RouterAdvertisementsPerNetstack) {
    EXPECT_TRUE(net.IsTarnIpv6GlobalRouterAdvEnabled("defaultTcpipStack"));
    net.SetTarnIpv6GlobalRouterAdvEnabled(false, "defaultTcpipStack");
    EXPECT_FALSE(net.IsTarnIpv6GlobalRouterAdvEnabled("defaultTcpipStack"));
}

}  // namespace
}  // namespace NetTest
