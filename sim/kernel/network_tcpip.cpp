// The simulated kernel's TCP/IP stack instances (netstacks): creation and
// destruction, their properties, congestion-control algorithms, ECN and IPv6,
// and the kernel-wide maximum of port sets. The "tcpip" slice of the "network"
// profile section: {"availableCC": "newreno,cubic,dctcp", "defaultCC": "newreno",
// "ipv6": true, "maxPortsets": 1024, "socketMax": 11000}. The default netstack
// always runs. Two boot-time inputs come from the host's boot configuration,
// as a real kernel takes them at load: the boot option netNumPortsets and the
// "ipv6" option of the tcpip4 module (see ApplyBootConfiguration).
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "hostctl/status.h"
#include "ksi/network.h"
#include "network_model.h"
#include "platform/boot.h"
#include "platform/configstore.h"
#include "platform/misc.h"
#include "platform/log.h"

namespace TarnSim::Network {

namespace {

const char* kArea = "network.tcpip";
const char* kDefaultStack = "defaultTcpipStack";

std::vector<std::string> Available(const KernelState& s) {
    std::vector<std::string> out;
    HostCtl::Misc::StringTokenize(s.GetAreaValue(kArea, "availableCC", "newreno"), out, ",");
    return out;
}

bool IsAvailable(const KernelState& s, const std::string& algo) {
    auto list = Available(s);
    return std::find(list.begin(), list.end(), algo) != list.end();
}

bool Ipv6On(const KernelState& s) { return s.GetAreaValue(kArea, "ipv6", "1") == "1"; }

// Brings up one instance with its defaults.
void StartInstance(KernelState& s, const std::string& key, const std::string& algo, uint32_t socketMax) {
    KsiTcpipInstanceProps p{};
    CopyText(p.name, key);
    p.state = KSI_NETSTACK_RUNNING;
    p.socketMax = socketMax;
    CopyText(p.ccAlgo, algo);
    p.ipv6Enabled = Ipv6On(s);
    s.Put(KSI_NODE_net_tcpip_instances_properties, {key}, p);
    KsiTcpipText t{};
    CopyText(t.text, algo);
    s.Put(KSI_NODE_net_tcpip_instances_defaultcc, {key}, t);
    CopyText(t.text, "enabled");
    s.Put(KSI_NODE_net_tcpip_instances_ecn, {key}, t);
    uint8_t v6 = p.ipv6Enabled;
    s.Put(KSI_NODE_net_tcpip_instances_v6conf, {key}, v6);
    uint8_t rtadv = 1;
    s.Put(KSI_NODE_net_tcpip_instances_v6_rtadv, {key}, rtadv);
    char list[KSI_TCPIP_AVAILABLECC_LEN] = {};
    std::string text = s.GetAreaValue(kArea, "availableCC", "newreno");
    std::memcpy(list, text.data(), std::min(text.size(), sizeof list - 1));
    s.Write("", KSI_NODE_net_tcpip_instances_availablecc, {key}, list, sizeof list);
}

const uint32_t kInstanceNodes[] = {
    KSI_NODE_net_tcpip_instances_properties, KSI_NODE_net_tcpip_instances_defaultcc,
    KSI_NODE_net_tcpip_instances_ecn,        KSI_NODE_net_tcpip_instances_v6conf,
    KSI_NODE_net_tcpip_instances_v6_rtadv,   KSI_NODE_net_tcpip_instances_availablecc,
};

void InitTcpip(KernelState& s, const rapidjson::Value* network) {
    const rapidjson::Value* t = network ? Object(*network, "tcpip") : nullptr;
    static const rapidjson::Value empty(rapidjson::kObjectType);
    const rapidjson::Value& c = t ? *t : empty;
    s.SetAreaValue(kArea, "availableCC", Str(c, "availableCC", "newreno,cubic,dctcp"));
    s.SetAreaValue(kArea, "ipv6", Bool(c, "ipv6", true) ? "1" : "0");
    uint32_t maxPortsets = static_cast<uint32_t>(Int(c, "maxPortsets", 1024));
    s.Put(KSI_NODE_net_maxPortsets, {}, maxPortsets);
    StartInstance(s, kDefaultStack, Str(c, "defaultCC", "newreno"), static_cast<uint32_t>(Int(c, "socketMax", 11000)));
}

// "name=value" inputs of the create node.
bool Named(const Call& c, size_t i, const char* name, std::string* out) {
    std::string text;
    if (!c.InputText(i, &text)) return false;
    std::string prefix = std::string(name) + "=";
    if (text.rfind(prefix, 0) != 0) return false;
    *out = text.substr(prefix.size());
    return true;
}

TARN_ReturnStatus Create(Call& c) {
    std::string key, algo, socketMax;
    if (!Named(c, 0, "name", &key) || !Named(c, 1, "ccalgo", &algo) || !Named(c, 2, "socketmax", &socketMax))
        return TARN_MISSING_PARAMETER;
    if (key.empty() || key.size() >= sizeof(KsiTcpipInstanceProps::name)) return TARN_BAD_PARAM;
    if (c.state.Has("", KSI_NODE_net_tcpip_instances_properties, {key})) return TARN_EXISTS;
    if (!IsAvailable(c.state, algo)) return TARN_BAD_PARAM;
    char* end = nullptr;
    unsigned long n = std::strtoul(socketMax.c_str(), &end, 10);
    if (socketMax.empty() || *end || n == 0 || n > 65535) return TARN_BAD_PARAM;
    StartInstance(c.state, key, algo, static_cast<uint32_t>(n));
    return TARN_OK;
}

TARN_ReturnStatus Destroy(Call& c) {
    if (c.instance.size() != 1) return TARN_BAD_PARAM;
    const std::string& key = c.instance[0];
    if (!c.state.Has("", KSI_NODE_net_tcpip_instances_properties, {key})) return TARN_NOT_FOUND;
    if (key == kDefaultStack) return TARN_BUSY;
    // Interfaces still plumbed keep the instance alive.
    if (!c.state.Instances("", KSI_NODE_net_tcpip_instances_vNics_properties, {key}).empty()) return TARN_BUSY;
    for (uint32_t node : kInstanceNodes) c.state.Remove("", node, {key});
    // Routing goes with the instance: gateways, static routes, neighbours.
    for (uint32_t node : {KSI_NODE_net_tcpip_instances_v4_route, KSI_NODE_net_tcpip_instances_v6_route,
                          KSI_NODE_net_tcpip_instances_v4_neighbors, KSI_NODE_net_tcpip_instances_v6_neighbors})
        for (const std::string& k : c.state.Instances("", node, {key})) c.state.Remove("", node, {key, k});
    c.state.Remove("", KSI_NODE_net_tcpip_instances_v4_gateway, {key});
    c.state.Remove("", KSI_NODE_net_tcpip_instances_v6_gateway, {key});
    return TARN_OK;
}

bool Running(const Call& c) {
    return c.instance.size() == 1 && c.state.Has("", KSI_NODE_net_tcpip_instances_properties, {c.instance[0]});
}

TARN_ReturnStatus SetDefaultCc(Call& c) {
    std::string algo;
    if (!Running(c)) return TARN_NOT_FOUND;
    if (!c.InputText(0, &algo)) return TARN_MISSING_PARAMETER;
    if (!IsAvailable(c.state, algo)) return TARN_BAD_PARAM;
    KsiTcpipText t{};
    CopyText(t.text, algo);
    c.state.Put(KSI_NODE_net_tcpip_instances_defaultcc, c.instance, t);
    KsiTcpipInstanceProps p{};
    c.state.Read(KSI_NODE_net_tcpip_instances_properties, c.instance, &p);
    CopyText(p.ccAlgo, algo);
    c.state.Put(KSI_NODE_net_tcpip_instances_properties, c.instance, p);
    return TARN_OK;
}

TARN_ReturnStatus SetEcn(Call& c) {
    std::string text;
    if (!Running(c)) return TARN_NOT_FOUND;
    if (!c.InputText(0, &text)) return TARN_MISSING_PARAMETER;
    if (text != "disabled" && text != "enabled" && text != "echo-only") return TARN_BAD_PARAM;
    KsiTcpipText t{};
    CopyText(t.text, text);
    c.state.Put(KSI_NODE_net_tcpip_instances_ecn, c.instance, t);
    return TARN_OK;
}

TARN_ReturnStatus SetRtAdv(Call& c) {
    int64_t on = 0;
    if (!Running(c)) return TARN_NOT_FOUND;
    if (!c.InputInt(0, &on) || (on != 0 && on != 1)) return TARN_BAD_PARAM;
    if (!Ipv6On(c.state)) return TARN_NOT_SUPPORTED;
    uint8_t v = static_cast<uint8_t>(on);
    c.state.Put(KSI_NODE_net_tcpip_instances_v6_rtadv, c.instance, v);
    return TARN_OK;
}

const NodeRegistration kInstances(KSI_NODE_net_tcpip_instances,
                                  ListHandler([](Call& c, std::vector<std::string>* out) {
                                      *out = c.state.Instances("", KSI_NODE_net_tcpip_instances_properties,
                                                               c.instance);
                                      return TARN_OK;
                                  }));
const NodeRegistration kCreate(KSI_NODE_net_tcpip_createNetstackInstance, SetHandler(Create));
const NodeRegistration kDestroy(KSI_NODE_net_tcpip_instances_destroy, SetHandler(Destroy));
const NodeRegistration kDefaultCc(KSI_NODE_net_tcpip_instances_defaultcc, SetHandler(SetDefaultCc));
const NodeRegistration kEcn(KSI_NODE_net_tcpip_instances_ecn, SetHandler(SetEcn));
const NodeRegistration kRtAdv(KSI_NODE_net_tcpip_instances_v6_rtadv, SetHandler(SetRtAdv));

// The kernel takes the host's boot configuration when it starts: the number of
// port sets (boot option netNumPortsets, store field "net_num_portsets") and
// IPv6 (option "ipv6" of module tcpip4; absent or anything but "0" means on).
void ApplyBootConfiguration() {
    auto store = HaldenConfigStore::ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
    long portsets = 0;
    if (auto o = store->Get(HaldenConfigStore::ConfigStoreObjectId("options", "tarnos", "halden")))
        o->GetValue("net_num_portsets", &portsets);
    bool ipv6 = true;
    if (auto m = store->Get(HaldenConfigStore::ConfigStoreObjectId("module_settings", "tarnos", "halden", "tcpip4"))) {
        std::string options;
        m->GetValue("options", &options);
        std::vector<std::string> words;
        HostCtl::Misc::StringTokenize(options, words, " \t");
        for (const std::string& w : words)
            if (w.rfind("ipv6=", 0) == 0) ipv6 = w.substr(5) != "0";
    }
    WithState(
        [&](KernelState& s) {
            if (portsets > 0) s.Put(KSI_NODE_net_maxPortsets, {}, static_cast<uint32_t>(portsets));
            if (ipv6) return;
            s.SetAreaValue(kArea, "ipv6", "0");
            uint8_t off = 0;
            for (const std::string& key : s.Instances("", KSI_NODE_net_tcpip_instances_properties)) {
                s.Put(KSI_NODE_net_tcpip_instances_v6conf, {key}, off);
                KsiTcpipInstanceProps p{};
                s.Read(KSI_NODE_net_tcpip_instances_properties, {key}, &p);
                p.ipv6Enabled = 0;
                s.Put(KSI_NODE_net_tcpip_instances_properties, {key}, p);
            }
        },
        true);
}

const Platform::Boot::Step kBootConfiguration("sim.kernel.network", 1, ApplyBootConfiguration);

const SectionPartRegistration kPart("tcpip", 10, InitTcpip);

}  // namespace

}  // namespace TarnSim::Network
