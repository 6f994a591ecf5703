// hostctl storage path ... and storage nmp ...: paths with their state, the
// native multipathing plug-in's per-device configuration (SATP, PSP, policy
// settings, working paths), its SATPs with default PSPs and claim rules, its
// PSPs; and hostctl sim path fail|restore to pull and re-plug a path.
#include <CLI/CLI.hpp>

#include <iostream>

#include "command.h"
#include "hostctl/exception.h"
#include "hostctl/storage.h"
#include "output.h"
#include "sim/storage_paths.h"
#include "storage/nmp_device_config_impl.h"
#include "storage/nmp_psa_plugin_impl.h"
#include "storage/storage_info_impl.h"

namespace {

using HostCtl::Storage::ScsiPath;
using HostCtl::Storage::Nmp::SatpClaimRule;
using TarnCtl::Storage::StorageInfoImpl;
using TarnCtl::Storage::Nmp::NmpDeviceConfigImpl;
using TarnCtl::Storage::Nmp::NmpPsaPluginImpl;

std::string Join(const std::vector<std::string>& items, const char* separator = ", ") {
    std::string out;
    for (const auto& item : items)
        out += (out.empty() ? "" : separator) + item;
    return out;
}

std::unique_ptr<ScsiPath> Path(StorageInfoImpl& storage, const std::string& name) {
    auto path = storage.GetPathByName(name);
    if (!path)
        throw HostCtlTool::CommandFailure{"Unknown path " + name};
    return path;
}

// The native plug-in's configuration of a device given by any of its UIDs.
std::unique_ptr<HostCtl::Storage::Nmp::NmpDeviceConfig> DeviceConfig(StorageInfoImpl& storage,
                                                                     const std::string& name) {
    auto lun = storage.GetDeviceByName(name, false);
    if (!lun)
        throw HostCtlTool::CommandFailure{"Unknown device " + name};
    auto config = lun->GetDeviceConfig();
    if (!config)
        throw HostCtlTool::CommandFailure{"Device " + lun->GetIdentifier() + " is not claimed by NMP"};
    return config;
}

// ---- storage path -----------------------------------------------------------------------

void PathList(const std::string& device) {
    StorageInfoImpl storage;
    std::vector<std::unique_ptr<ScsiPath>> paths;
    if (device.empty()) {
        paths = storage.GetScsiPaths();
    } else {
        auto lun = storage.GetDeviceByName(device, false);
        if (!lun)
            throw HostCtlTool::CommandFailure{"Unknown device " + device};
        paths = lun->GetPaths();
    }
    HostCtlTool::Table t({"Runtime Name", "Device", "Adapter", "Channel", "Target", "LUN", "State", "Plugin", "UID"});
    for (const char* n : {"Channel", "Target", "LUN"})
        t.SetKind(n, HostCtlTool::Table::Kind::Number);
    for (auto& p : paths) {
        try {
            t.AddRow({p->GetRuntimeName(), p->GetDeviceIdentifier(), p->GetAdapterName(),
                      std::to_string(p->GetChannelNumber()), std::to_string(p->GetTargetNumber()),
                      std::to_string(p->GetLun()), p->GetStateString(), p->GetMultipathPluginIdentifier(),
                      p->GetIdentifier()});
        } catch (const HostCtl::Lib::HostCtlException& e) {
            std::cerr << "Skipping path " << p->GetRuntimeName() << ": " << e.what() << "\n";
        }
    }
    t.Print();
}

void PathShow(const std::string& name) {
    StorageInfoImpl storage;
    auto p = Path(storage, name);
    HostCtlTool::Record r;
    r.Add("Runtime Name", p->GetRuntimeName());
    r.Add("UID", p->GetIdentifier());
    r.Add("Device", p->GetDeviceIdentifier());
    r.Add("Adapter", p->GetAdapterName());
    r.Add("Adapter Identifier", p->GetAdapterIdentifier());
    r.Add("Target Identifier", p->GetTargetIdentifier());
    r.Add("Channel", p->GetChannelNumber());
    r.Add("Target", p->GetTargetNumber());
    r.Add("LUN", p->GetLun());
    r.Add("State", p->GetStateString());
    r.Add("Plugin", p->GetMultipathPluginIdentifier());
    r.Add("Transport", p->GetTransportMapping());
    r.Add("Max IO Size", p->GetMaxIOSize());
    r.Add("Persistable Identifier", p->IsPersistableIdentifier());
    if (auto config = p->GetScsiPathConfig()) {
        auto info = config->GetPathInfo();
        r.Add("Group State", info.groupState);
        r.Add("Array Priority", info.priority);
        r.Add("SATP Path Config", info.satpConfig);
        r.Add("PSP Path Config", info.pspConfig);
    }
    r.Print();
}

void PathSet(const std::string& name, const std::string& state) {
    StorageInfoImpl storage;
    auto p = Path(storage, name);
    if (state != "on" && state != "off")
        throw HostCtlTool::CommandFailure{"Invalid state " + state + ": give on or off"};
    p->SetState(state == "on" ? ScsiPath::ACTIVE : ScsiPath::OFF);
    HostCtlTool::Message("Path " + p->GetRuntimeName() + " is " + p->GetStateString());
}

// ---- storage nmp device ---------------------------------------------------------------------

void NmpDeviceList() {
    StorageInfoImpl storage;
    HostCtlTool::Table t({"Device", "SATP", "SATP Options", "PSP", "PSP Options", "Working Paths"});
    for (auto& lun : storage.GetLuns(false, false)) {
        try {
            auto config = lun->GetDeviceConfig();
            if (!config)
                continue;
            auto policy = config->GetPathSelectionPolicyDeviceConfig();
            t.AddRow({lun->GetIdentifier(), config->GetStorageArrayTypeString(),
                      config->GetStorageArrayTypeOptionString(false), config->GetPathSelectionPolicyName(),
                      policy->GetConfigurationString(), Join(config->GetWorkingPathSetRuntimeNames())});
        } catch (const HostCtl::Lib::HostCtlException& e) {
            std::cerr << "Skipping device " << lun->GetIdentifier() << ": " << e.what() << "\n";
        }
    }
    t.Print();
}

void NmpDeviceShow(const std::string& name) {
    StorageInfoImpl storage;
    auto config = DeviceConfig(storage, name);
    auto policy = config->GetPathSelectionPolicyDeviceConfig();
    HostCtlTool::Record r;
    r.Add("Device", config->GetDeviceName());
    r.Add("SATP", config->GetStorageArrayTypeString());
    r.Add("SATP Options", config->GetStorageArrayTypeOptionString(false));
    r.Add("PSP", config->GetPathSelectionPolicyName());
    r.Add("PSP Options", policy->GetConfigurationString());
    if (auto* rr = dynamic_cast<HostCtl::Storage::Nmp::RoundRobinPathSelectionPolicyDeviceConfig*>(policy.get())) {
        r.Add("Round Robin Policy", rr->GetPathSwitchPolicy());
        r.Add("IOPS Limit", rr->GetPathSwitchIOsLimit());
        r.Add("Bytes Limit", static_cast<uint64_t>(rr->GetPathSwitchByteLimit()));
        r.Add("Use ANO Paths", rr->GetUseANOPaths());
    }
    if (auto* fixed = dynamic_cast<HostCtl::Storage::Nmp::FixedPathSelectionPolicyDeviceConfig*>(policy.get()))
        r.Add("Preferred Path", fixed->GetPreferredPathRuntimeName());
    r.Add("Working Paths", Join(config->GetWorkingPathSetRuntimeNames()));
    r.Print();
}

struct NmpSetArgs {
    std::string device, psp, satpOptions, pspOptions, preferredPath;
};

void NmpDeviceSet(const NmpSetArgs& a) {
    if (a.psp.empty() && a.satpOptions.empty() && a.pspOptions.empty() && a.preferredPath.empty())
        throw HostCtlTool::CommandFailure{"Nothing to set: give --psp, --satp-options, --psp-options or --preferred-path"};
    StorageInfoImpl storage;
    auto config = DeviceConfig(storage, a.device);
    if (!a.psp.empty())
        config->SetPathSelectionPolicy(a.psp);
    if (!a.satpOptions.empty())
        config->SetStorageArrayTypeOptionString(a.satpOptions, true);
    if (!a.pspOptions.empty())
        config->GetPathSelectionPolicyDeviceConfig()->SetConfigurationString(a.pspOptions);
    if (!a.preferredPath.empty()) {
        auto policy = config->GetPathSelectionPolicyDeviceConfig();
        auto* fixed = dynamic_cast<HostCtl::Storage::Nmp::FixedPathSelectionPolicyDeviceConfig*>(policy.get());
        if (!fixed)
            throw HostCtlTool::CommandFailure{"A preferred path needs the QUIL_PSP_FIXED policy; device " +
                                              config->GetDeviceName() + " uses " + policy->GetPolicyName()};
        fixed->SetPreferredPath(a.preferredPath);
    }
    HostCtlTool::Message("Device " + config->GetDeviceName() + " updated");
}

// ---- storage nmp satp / psp -----------------------------------------------------------------

void SatpList() {
    NmpPsaPluginImpl plugin;
    HostCtlTool::Table t({"Name", "Default PSP", "Description"});
    for (auto& satp : plugin.GetStorageArrayTypes())
        t.AddRow({satp->GetName(), satp->GetDefaultPathSelectionPolicyName(), satp->GetInfoString()});
    t.Print();
}

void PspList() {
    NmpPsaPluginImpl plugin;
    HostCtlTool::Table t({"Name", "Description"});
    for (auto& psp : plugin.GetPathSelectionPolicies())
        t.AddRow({psp->GetName(), psp->GetInfoString()});
    t.Print();
}

void RuleList(const std::string& only) {
    NmpPsaPluginImpl plugin;
    HostCtlTool::Table t({"SATP", "Device", "Vendor", "Model", "Driver", "Transport", "Options", "Claim Options",
                          "Default PSP", "PSP Options", "Description", "Rule Group"});
    for (auto& satp : plugin.GetStorageArrayTypes()) {
        if (!only.empty() && satp->GetName() != only)
            continue;
        for (const auto& r : satp->GetClaimRules(true, true))
            t.AddRow({r.satp, r.uid, r.vendor, r.model, r.driver, r.transport, r.options, r.claimOptions,
                      r.defaultPsp, r.pspOptions, r.description, r.ruleGroup});
    }
    t.Print();
}

void AddRuleOptions(CLI::App* cmd, SatpClaimRule& rule) {
    cmd->add_option("--satp", rule.satp, "The SATP the rule gives")->required();
    cmd->add_option("--device", rule.uid, "Device UID to match");
    cmd->add_option("--vendor", rule.vendor, "Vendor to match");
    cmd->add_option("--model", rule.model, "Model (prefix) to match");
    cmd->add_option("--driver", rule.driver, "Adapter driver to match");
    cmd->add_option("--transport", rule.transport, "Transport to match (fc, iscsi, sas, ...)");
    cmd->add_option("--options", rule.options, "NMP device options (enable_ssd, ...)");
    cmd->add_option("--claim-options", rule.claimOptions, "Claim options (tpgs_on, ...)");
    cmd->add_option("--psp", rule.defaultPsp, "PSP for matching devices");
    cmd->add_option("--psp-options", rule.pspOptions, "PSP options (key=value;...)");
    cmd->add_option("--description", rule.description, "Description");
}

void RuleAdd(const SatpClaimRule& rule, bool remove) {
    NmpPsaPluginImpl plugin;
    auto satp = plugin.GetStorageArrayTypeByName(rule.satp, true);
    if (remove)
        satp->DeleteClaimRule(rule);
    else
        satp->AddClaimRule(rule);
    HostCtlTool::Message(remove ? "Rule removed" : "Rule added");
}

HostCtlTool::CommandGroup gStoragePaths("storage.paths", 21, [](CLI::App& app) {
    auto* storage = app.get_subcommand("storage");

    auto* path = storage->add_subcommand("path", "Paths from adapters to devices");
    path->require_subcommand(1);
    static std::string listDevice;
    auto* list = path->add_subcommand("list", "List the paths");
    list->add_option("--device", listDevice, "Only the paths of this device");
    list->callback([] { PathList(listDevice); });
    static std::string showName;
    auto* show = path->add_subcommand("show", "Show one path");
    show->add_option("path", showName, "Runtime name or path UID")->required();
    show->callback([] { PathShow(showName); });
    static std::string setName, setState;
    auto* set = path->add_subcommand("set", "Change a path's state; survives reboots");
    set->add_option("path", setName, "Runtime name or path UID")->required();
    set->add_option("--state", setState, "on or off")->required()->check(CLI::IsMember({"on", "off"}));
    set->callback([] { PathSet(setName, setState); });

    auto* nmp = storage->add_subcommand("nmp", "The native multipathing plug-in");
    nmp->require_subcommand(1);
    auto* device = nmp->add_subcommand("device", "Devices' multipathing configuration");
    device->require_subcommand(1);
    device->add_subcommand("list", "List the NMP devices")->callback(NmpDeviceList);
    static std::string deviceShow;
    auto* dshow = device->add_subcommand("show", "Show one device's configuration");
    dshow->add_option("device", deviceShow, "Device UID (any of its UIDs)")->required();
    dshow->callback([] { NmpDeviceShow(deviceShow); });
    static NmpSetArgs dset;
    auto* ds = device->add_subcommand("set", "Change a device's configuration; survives reboots");
    ds->add_option("device", dset.device, "Device UID (any of its UIDs)")->required();
    ds->add_option("--psp", dset.psp, "Path selection policy (QUIL_PSP_FIXED, QUIL_PSP_RR, QUIL_PSP_MRU)");
    ds->add_option("--satp-options", dset.satpOptions, "SATP option string");
    ds->add_option("--psp-options", dset.pspOptions, "Policy settings, e.g. policy=iops;iops=10");
    ds->add_option("--preferred-path", dset.preferredPath, "Preferred path of the fixed policy");
    ds->callback([] { NmpDeviceSet(dset); });

    auto* satp = nmp->add_subcommand("satp", "Storage array type plug-ins");
    satp->require_subcommand(1);
    satp->add_subcommand("list", "List the SATPs")->callback(SatpList);
    static std::string satpName, defaultPsp;
    auto* sset = satp->add_subcommand("set", "Change an SATP's default PSP; survives reboots");
    sset->add_option("satp", satpName, "SATP name")->required();
    sset->add_option("--default-psp", defaultPsp, "Default PSP of the SATP's devices")->required();
    sset->callback([] {
        NmpPsaPluginImpl().GetStorageArrayTypeByName(satpName, true)->SetDefaultPathSelectionPolicyName(defaultPsp,
                                                                                                        true);
        HostCtlTool::Message("Default PSP of " + satpName + " is " + defaultPsp);
    });
    auto* rule = satp->add_subcommand("rule", "SATP claim rules");
    rule->require_subcommand(1);
    static std::string ruleSatp;
    auto* rlist = rule->add_subcommand("list", "List the SATP claim rules");
    rlist->add_option("--satp", ruleSatp, "Only this SATP's rules");
    rlist->callback([] { RuleList(ruleSatp); });
    static SatpClaimRule addRule, removeRule;
    auto* radd = rule->add_subcommand("add", "Add an SATP claim rule; survives reboots");
    AddRuleOptions(radd, addRule);
    radd->add_flag("--force", addRule.force, "Record the rule without validation checks");
    radd->callback([] { RuleAdd(addRule, false); });
    auto* rremove = rule->add_subcommand("remove", "Remove an SATP claim rule (give all its fields)");
    AddRuleOptions(rremove, removeRule);
    rremove->callback([] { RuleAdd(removeRule, true); });

    auto* psp = nmp->add_subcommand("psp", "Path selection plug-ins");
    psp->require_subcommand(1);
    psp->add_subcommand("list", "List the PSPs")->callback(PspList);
});

// After the sim group: adds the path actions to it.
HostCtlTool::CommandGroup gSimPaths("sim.paths", 91, [](CLI::App& app) {
    auto* sim = app.get_subcommand("sim");
    auto* path = sim->add_subcommand("path", "Pull or re-plug a path of the simulated fabric");
    path->require_subcommand(1);
    static std::string failName, restoreName;
    auto* fail = path->add_subcommand("fail", "Kill a path (state dead); I/O moves to another path");
    fail->add_option("path", failName, "Runtime name")->required();
    fail->callback([] {
        if (!TarnSim::StoragePaths::FailPath(failName))
            throw HostCtlTool::CommandFailure{"Unknown path " + failName};
        HostCtlTool::Message("Path " + failName + " is dead");
    });
    auto* restore = path->add_subcommand("restore", "Bring a path back to active");
    restore->add_option("path", restoreName, "Runtime name")->required();
    restore->callback([] {
        if (!TarnSim::StoragePaths::RestorePath(restoreName))
            throw HostCtlTool::CommandFailure{"Unknown path " + restoreName};
        HostCtlTool::Message("Path " + restoreName + " is active");
    });
});

}  // namespace
