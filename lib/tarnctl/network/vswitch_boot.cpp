// Boot replay of the recorded standard switches: port set, uplinks (renamed
// NICs repaired through the NIC rename map), port groups, policies, beaconing,
// CDP, MTU and overlays. Each failing step is logged and the replay goes on;
// the switch's boot status says whether every step succeeded. The log texts
// keep their historical spellings ("swtich"), which log readers match.
#include <algorithm>

#include "hostctl/exception.h"
#include "network/network_util.h"
#include "network/pnic_impl.h"
#include "network/vswitch_impl.h"
#include "network/vswitch_info_impl.h"
#include "platform/boot.h"
#include "platform/log.h"
#include "platform/sysinfo.h"

namespace TarnCtl::Network {

using namespace HostCtl::Network;
using ConfigStoreUtil::ConfigBranchUtil;
using ConfigStoreUtil::SynchronizedConfigFileUtil;
using HaldenConfigStore::SubObjectId;
using HostCtl::Lib::HostCtlException;

namespace {

const char* kTag = "VirtualSwitchImpl";

// The recorded administrative state of an uplink NIC, applied when there is one.
void ApplyNicEnabled(const std::string& nic) {
    bool enabled = true;
    bool recorded = false;
    {
        SynchronizedConfigFileUtil nics({kNicsRoot});
        ConfigBranchUtil e = nics->GetArray(PnicImpl::kConfigArray).FindInstanceWithValue("name", nic);
        recorded = e && e.GetValue("nicEnabled", &enabled);
    }
    if (recorded) PnicImpl(nic).SetEnabled(enabled);
}

}  // namespace

void VirtualSwitchInfoImpl::LoadConfig() {
    std::vector<std::string> names;
    {
        SynchronizedConfigFileUtil config({kVssRoot});
        for (ConfigBranchUtil& e : config->GetArray(kVswitchArray).GetInstances()) {
            std::string name;
            if (e.GetValue("name", &name)) names.push_back(name);
        }
    }
    // Boot statuses are written together at the end: one store commit, not one per switch.
    std::vector<std::pair<std::string, bool>> statuses;
    for (const std::string& name : names) {
        VirtualSwitchImpl sw(name);
        statuses.emplace_back(name, sw.LoadConfigInt());
    }
    if (!IsBootMode()) return;
    auto store = NetStore();
    HaldenConfigStore::ConfigStoreTransaction t(store);
    for (const auto& [name, ok] : statuses) store->SetBootStatus(SwitchStoreId(name), ok);
    t.Commit();
}

void VirtualSwitchImpl::LoadConfig() {
    bool ok = LoadConfigInt();
    if (IsBootMode()) NetStore()->SetBootStatus(SwitchStoreId(_name), ok);
}

bool VirtualSwitchImpl::LoadConfigInt() {
    bool ok = true;
    SynchronizedConfigFileUtil config({SwitchSpec(_name)});
    ConfigBranchUtil entry = config->GetArray(kVswitchArray).FindInstanceWithValue("name", _name);
    if (!entry) {
        TarnCtl_LogWarnInt("%s: No view for virtual switch: %s\n", kTag, _name.c_str());
        return false;
    }
    if (!IsStandardSwitch(_name)) {
        uint32_t numPorts = 0;
        entry.GetValue("numPorts", &numPorts);
        try {
            Util::Sysinfo si(KSI_NODE_net_create);
            si.AddInput(_name);
            si.AddInput(std::to_string(numPorts ? numPorts : Portset::DEF_NUM_PORTS));
            si.AddInput(StandardSwitchClass());
            si.AddInput(0);
            si.Set();
        } catch (const HostCtlException& e) {
            TarnCtl_LogErrorInt("%s: Unable to create virtual switch %s: %s\n", kTag, _name.c_str(),
                                e.GetDetailedMessage().c_str());
            return false;
        }
    }
    ok &= LoadUplinks(entry);
    ok &= LoadPortGroups(entry);
    ok &= LoadSettings(entry);
    return ok;
}

void VirtualSwitchImpl::RestoreUplinks() {
    SynchronizedConfigFileUtil config({SwitchSpec(_name)});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    LoadUplinks(entry);
}

bool VirtualSwitchImpl::LoadUplinks(ConfigBranchUtil& entry) {
    if (!entry.HasBranch("uplinks")) return true;
    bool ok = true, renamed = false;
    std::vector<std::string> recorded;
    std::vector<std::string> linked = GetUplinks(false);
    for (ConfigBranchUtil& u : entry.GetBranch("uplinks").GetArray("child").GetInstances()) {
        std::string nic;
        try {
            if (!u.GetValue("pnic", &nic))
                throw HostCtlException("Missing configuration data: Virtual Switch " + _name + " is missing pnic name");
            if (!PnicImpl::IsValidPnic(nic)) {
                std::string now = PnicImpl::GetNewNicName(nic);
                if (now.empty()) {
                    recorded.push_back(nic);
                    throw HostCtlException("Unable to find mapping for " + nic);
                }
                u.SetValue("pnic", now);
                nic = now;
                renamed = true;
            }
            recorded.push_back(nic);
            if (std::find(linked.begin(), linked.end(), nic) == linked.end())
                PortsetKernel::SetWord(LINK_NODES[0], {_name}, nic, "Unable to link " + nic + " to " + _name);
            ApplyNicEnabled(nic);
        } catch (const HostCtlException& e) {
            TarnCtl_LogErrorInt("%s: Unable to restore uplink %s  of virtual swtich %s. Reason was %s: \n", kTag,
                                nic.c_str(), _name.c_str(), e.GetDetailedMessage().c_str());
            ok = false;
        }
    }
    if (!renamed) return ok;
    // The repaired names are kept: the store object is written directly, as the
    // configuration tree records nothing while the host boots.
    try {
        auto store = NetStore();
        HaldenConfigStore::BootAwareTransaction t(store);
        auto object = store->Get(SwitchStoreId(_name));
        if (object) {
            auto bridge = object->GetSubObject(SubObjectId("bridge"));
            if (!bridge) bridge = object->CreateSubObject(SubObjectId("bridge"));
            bridge->SetValue("nics", recorded);
            store->Write(object, HaldenConfigStore::BootWriteFlag(SwitchStoreId(_name), IsBootMode()));
        }
        t.Commit();
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Unable to record the renamed uplinks of %s: %s\n", kTag, _name.c_str(),
                           e.GetDetailedMessage().c_str());
    }
    return ok;
}

bool VirtualSwitchImpl::LoadPortGroups(ConfigBranchUtil& entry) {
    if (!entry.HasBranch("portgroup")) return true;
    bool ok = true;
    const std::string nodeClass = GetPortcfgKSINode();
    for (ConfigBranchUtil& pg : entry.GetBranch("portgroup").GetArray("child").GetInstances()) {
        std::string name;
        try {
            if (!pg.GetValue("name", &name)) throw HostCtlException("Missing configuration data: portgroup name");
            if (PortGroupImpl::IsValidPortGroup(name, nodeClass)) {
                TarnCtl_LogInfoInt("%s: Portgroup %s Already exists, skipping\n", kTag, name.c_str());
                continue;
            }
            PortGroupImpl::CreatePortGroupInternal(name, _name, nodeClass);
            PortGroupImpl(name, _name, nodeClass).Restore();
        } catch (const HostCtlException& e) {
            TarnCtl_LogErrorInt("%s: Unable to load configuration for Portgroup %s on virtual switch %s: %s\n", kTag,
                                name.c_str(), _name.c_str(), e.GetDetailedMessage().c_str());
            ok = false;
        }
    }
    return ok;
}

bool VirtualSwitchImpl::LoadSettings(ConfigBranchUtil& entry) {
    bool ok = true;
    try {
        FetchNetPolicyForPortGroups();
    } catch (const HostCtlException& e) {
        TarnCtl_LogErrorInt("%s: Unable to restore network policy of virtual switch %s: %s\n", kTag, _name.c_str(),
                            e.GetDetailedMessage().c_str());
        ok = false;
    }
    try {
        auto instance = SwitchInstance();
        uint32_t interval = Portset::DEF_BEACON_INTERVAL, threshold = Portset::DEF_BEACON_THRESHOLD;
        if (entry.HasBranch("beacon")) {
            ConfigBranchUtil b = entry.GetBranch("beacon");
            b.GetValue("timeout", &interval);
            b.GetValue("threshold", &threshold);
        }
        PortsetKernel::SetInt(KSI_PS_BEACON_INTERVAL, instance, interval, "Unable to set beacon interval of " + _name);
        PortsetKernel::SetInt(KSI_PS_BEACON_THRESHOLD, instance, threshold,
                              "Unable to set beacon threshold of " + _name);
        if (!NeedBeacon().empty())
            PortsetKernel::SetInt(KSI_PS_BEACON_ENABLE, instance, 1, "Unable to enable beaconing on " + _name);
    } catch (const HostCtlException& e) {
        TarnCtl_LogErrorInt("%s: Unable to enable beaconing on virtual switch %s: %s\n", kTag, _name.c_str(),
                            e.GetDetailedMessage().c_str());
        ok = false;
    }
    std::string cdp;
    if (entry.HasBranch("cdp") && entry.GetBranch("cdp").GetValue("status", &cdp)) {
        try {
            PortsetKernel::SetInt(KSI_PS_CDP_STATUS, SwitchInstance(), ParseCdp(cdp),
                                  "Unable to set CDP status of " + _name);
        } catch (const HostCtlException& e) {
            TarnCtl_LogErrorInt("%s: Unable to restore CDP status of virtual switch %s: %s\n", kTag, _name.c_str(),
                                e.GetDetailedMessage().c_str());
            ok = false;
        }
    }
    uint32_t mtu = 0;
    if (entry.GetValue("mtu", &mtu)) {
        try {
            SetMTUInternal(mtu);
        } catch (const HostCtlException& e) {
            TarnCtl_LogErrorInt("%s: Unable to set MTU to %d on virtual switch %s: %s\n", kTag, static_cast<int>(mtu),
                                _name.c_str(), e.GetDetailedMessage().c_str());
            ok = false;
        }
    }
    if (!entry.HasBranch("overlays")) return ok;
    for (ConfigBranchUtil& o : entry.GetBranch("overlays").GetArray("child").GetInstances()) {
        uint32_t id = 0;
        std::string overlay;
        if (!o.GetValue("overlayId", &id)) {
            TarnCtl_LogWarnInt("%s: Missing overlay information for virtual switch %s, skipping\n", kTag,
                               _name.c_str());
            continue;
        }
        o.GetValue("overlay", &overlay);
        try {
            PortsetKernel::SetWord(KSI_NODE_net_portsets_overlays, {_name, std::to_string(id)}, overlay,
                                   "Unable to set overlay " + std::to_string(id) + " of " + _name);
        } catch (const HostCtlException& e) {
            TarnCtl_LogErrorInt("%s: Unable to restore overlay information for virtual swtich %s: %s\n", kTag,
                                _name.c_str(), e.GetDetailedMessage().c_str());
            ok = false;
        }
    }
    return ok;
}

namespace {
const Platform::Boot::Step kVswitches("network.vswitches", 220, [] { VirtualSwitchInfoImpl().LoadConfig(); });
}  // namespace

}  // namespace TarnCtl::Network
