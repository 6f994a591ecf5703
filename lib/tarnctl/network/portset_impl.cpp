// The kernel port set under a standard switch and the kernel helpers shared
// by switches and port groups (see portset_impl.h).
#include "network/portset_impl.h"

#include <algorithm>
#include <cstring>

#include "hostctl/exception.h"
#include "network/network_util.h"
#include "platform/log.h"
#include "platform/sysinfo.h"
#include "system/kernel_opts.h"

namespace TarnCtl::Network {

using HostCtl::Lib::HostCtlException;

std::string SwitchSpec(const std::string& vswitch) { return std::string(kVssRoot) + "/" + vswitch; }

HaldenConfigStore::ConfigStoreObjectId SwitchStoreId(const std::string& vswitch) {
    return HaldenConfigStore::ConfigStoreObjectId(kSwitches, kNetworkVss, kHalden, vswitch);
}

void RecordConfig(ConfigStoreUtil::ConfigFileUtil& config) {
    if (!IsBootMode()) config.Write();
}

std::string JoinList(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& s : items) out += (out.empty() ? "" : ", ") + s;
    return out;
}

HostCtl::Network::NicTeamingPolicy WithUplink(const HostCtl::Network::NicTeamingPolicy& policy, const std::string& nic, bool add,
                            const std::vector<std::string>& uplinks) {
    HostCtl::Network::NicTeamingPolicy p = policy;
    if (!policy.HasUplinkOrder()) {
        if (!add) return p;
        p.SetUplinkOrder(uplinks);
        p.SetMaxActiveUplinks(static_cast<int>(uplinks.size()));
        return p;
    }
    std::vector<std::string> order = policy.GetUplinkOrder();
    int maxActive = policy.GetMaxActiveUplinks();
    auto it = std::find(order.begin(), order.end(), nic);
    if (add) {
        if (it != order.end()) return p;
        bool allActive = maxActive < 0 || maxActive >= static_cast<int>(order.size());
        order.push_back(nic);
        if (allActive) maxActive = static_cast<int>(order.size());
    } else {
        if (it == order.end()) return p;
        order.erase(it);
        maxActive = std::min(maxActive, static_cast<int>(order.size()));
    }
    p.SetUplinkOrder(order);
    p.SetMaxActiveUplinks(maxActive);
    return p;
}

namespace PortsetKernel {

namespace {
void Address(Util::Sysinfo& si, const std::vector<std::string>& instance) {
    for (const std::string& key : instance) si.AddInstancePath(key);
}
}  // namespace

void SetInt(uint32_t node, const std::vector<std::string>& instance, long value, const std::string& what) {
    KernelStep(what, [&] {
        Util::Sysinfo si(node);
        Address(si, instance);
        si.AddInput(value);
        si.Set();
    });
}

uint32_t GetInt(uint32_t node, const std::vector<std::string>& instance, const std::string& what) {
    uint32_t v = 0;
    KernelStep(what, [&] {
        Util::Sysinfo si(node);
        Address(si, instance);
        si.Get(&v, sizeof v);
    });
    return v;
}

void SetWord(uint32_t node, const std::vector<std::string>& instance, const std::string& word,
             const std::string& what) {
    KernelStep(what, [&] {
        Util::Sysinfo si(node);
        Address(si, instance);
        si.AddInput(word);
        si.Set();
    });
}

void SetStruct(uint32_t node, const std::vector<std::string>& instance, void* data, unsigned length,
               const std::string& what) {
    KernelStep(what, [&] {
        Util::Sysinfo si(node);
        Address(si, instance);
        si.SetStruct(data, length);
    });
}

bool GetStruct(uint32_t node, const std::vector<std::string>& instance, void* data, unsigned length) {
    Util::Sysinfo si(node);
    si.SetThrowOnError(false);
    Address(si, instance);
    std::memset(data, 0, length);
    return si.Get(data, length) == TARN_OK;
}

std::vector<std::string> List(uint32_t node, const std::vector<std::string>& instance, const std::string& what) {
    std::vector<std::string> out;
    KernelStep(what, [&] {
        Util::Sysinfo si(node);
        Address(si, instance);
        si.List(out);
    });
    return out;
}

}  // namespace PortsetKernel

PortsetImpl::PortsetImpl(const std::string& name) : _name(name) {}

bool PortsetImpl::IsClassEtherswitch() {
    try {
        return System::KernelOpts::GetRuntimeValueBool("netVSSUseEtherswitch");
    } catch (const HostCtlException& e) {
        // A kernel without the option runs the classic switch.
        TarnCtl_LogVerboseInt("%s: Unable to read netVSSUseEtherswitch: %s\n", "PortsetImpl",
                              e.GetDetailedMessage().c_str());
        return false;
    }
}

std::string PortsetImpl::StandardSwitchClass() {
    return IsClassEtherswitch() ? KSI_PORTSET_CLASS_ETHERSWITCH : KSI_PORTSET_CLASS_CSWITCH;
}

std::string PortsetImpl::GetPortcfgKSINode() {
    return IsClassEtherswitch() ? KSI_PORTSET_CLASS_ETHERSWITCH : KSI_PORTCFG_CLASS;
}

bool PortsetImpl::ReadProperties(const std::string& name, KsiPortsetProperties* out) {
    return PortsetKernel::GetStruct(KSI_NODE_net_portsets_properties, {name}, out, sizeof *out);
}

std::vector<std::string> PortsetImpl::ListPortsets() {
    return PortsetKernel::List(PORT_SET_NODES[0], {}, "Unable to list port sets");
}

KsiPortsetProperties PortsetImpl::Properties() {
    KsiPortsetProperties p{};
    if (!ReadProperties(_name, &p)) throw HostCtlException("Unable to find portset " + _name);
    return p;
}

std::vector<std::string> PortsetImpl::SwitchInstance() {
    KsiPortsetProperties p = Properties();
    return {std::string(p.switchClass, strnlen(p.switchClass, sizeof p.switchClass)), _name};
}

uint32_t PortsetImpl::GetNumPorts() { return Properties().numPorts; }

uint32_t PortsetImpl::GetMTU() { return Properties().mtu; }

std::string PortsetImpl::GetSwitchClass() {
    KsiPortsetProperties p = Properties();
    return std::string(p.switchClass, strnlen(p.switchClass, sizeof p.switchClass));
}

std::vector<KsiPortInfo> PortsetImpl::GetPortInfos() {
    const std::string what = "Unable to list ports of " + _name;
    std::vector<KsiPortInfo> out;
    for (const std::string& id : PortsetKernel::List(KSI_NODE_net_portsets_ports, {_name}, what)) {
        KsiPortInfo port{};
        // A port that went away between the listing and the read is not listed.
        if (PortsetKernel::GetStruct(KSI_NODE_net_portsets_ports, {_name, id}, &port, sizeof port))
            out.push_back(port);
    }
    return out;
}

std::vector<std::string> PortsetImpl::GetUplinks(bool configured) {
    if (!configured)
        return PortsetKernel::List(KSI_NODE_net_portsets_uplinks, {_name}, "Unable to list uplinks of " + _name);
    ConfigStoreUtil::SynchronizedConfigFileUtil config({SwitchSpec(_name)});
    std::vector<std::string> out;
    auto entry = config->GetArray(kVswitchArray).FindInstanceWithValue("name", _name);
    if (!entry || !entry.HasBranch("uplinks")) return out;
    for (auto& u : entry.GetBranch("uplinks").GetArray("child").GetInstances()) {
        std::string nic;
        if (u.GetValue("pnic", &nic)) out.push_back(nic);
    }
    return out;
}

}  // namespace TarnCtl::Network
