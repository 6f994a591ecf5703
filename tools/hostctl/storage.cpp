// hostctl storage ...: storage adapters and their rescans, SCSI devices with
// their display names, state and queue settings, partitions, and the purge of
// devices not seen for a while.
#include <CLI/CLI.hpp>

#include <iostream>
#include <optional>

#include "command.h"
#include "hostctl/exception.h"
#include "hostctl/host.h"
#include "hostctl/storage.h"
#include "output.h"
#include "storage/storage_info_impl.h"

namespace {

using HostCtl::Storage::DiskLun;
using HostCtl::Storage::Lun;
using HostCtl::Storage::ScsiInterface;
using TarnCtl::Storage::StorageInfoImpl;

std::string Bool(bool b) {
    return b ? "true" : "false";
}

std::string SizeMB(uint64_t bytes) {
    return std::to_string(bytes / (1024 * 1024));
}

// The device behind any of its UIDs; fails with the library's own text.
std::unique_ptr<Lun> Device(StorageInfoImpl& storage, const std::string& name) {
    auto lun = storage.GetDeviceByName(name, false);
    if (!lun)
        storage.ResolveRuntimeLunName(name);  // throws the reason
    if (!lun)
        throw HostCtlTool::CommandFailure{"Unknown device " + name};
    return lun;
}

void AdapterList() {
    StorageInfoImpl storage;
    HostCtlTool::Table t({"Adapter", "Driver", "Type", "UID", "Queue Depth", "Local", "Description"});
    t.SetKind("Queue Depth", HostCtlTool::Table::Kind::Number);
    t.SetKind("Local", HostCtlTool::Table::Kind::Bool);
    for (auto& a : storage.GetScsiInterfaces()) {
        try {
            t.AddRow({a->GetIdentifier(), a->GetDriver(), ScsiInterface::GetInterfaceTypeString(a->GetInterfaceType()),
                      a->GetAdapterUid(), std::to_string(a->GetQueueDepth()), Bool(a->IsLocalOnly()),
                      a->GetDescription()});
        } catch (const HostCtl::Lib::HostCtlException& e) {
            std::cerr << "Skipping adapter " << a->GetIdentifier() << ": " << e.what() << "\n";
        }
    }
    t.Print();
}

struct RescanArgs {
    std::string adapter;
    bool all = false;
    std::string type = "all";
    bool skipClaim = false;
};

void AdapterRescan(const RescanArgs& args) {
    if (args.all == !args.adapter.empty())
        throw HostCtlTool::CommandFailure{"Give either --adapter NAME or --all"};
    StorageInfoImpl storage;
    const std::string which = args.all ? "*" : args.adapter;
    size_t total = args.all ? storage.GetScsiInterfaces().size() : 1;
    std::optional<HostCtlTool::Progress> progress;
    if (total > 1) {
        progress.emplace("Rescanning adapters", total);
        storage.SetRescanProgress([&](const std::string& name) { progress->Step(name); });
    }
    std::string result = storage.RescanAdapters(which, args.type, args.skipClaim);
    progress.reset();
    const bool failed = result.find("Error while rescanning adapter") != std::string::npos;
    if (HostCtlTool::GlobalOptions().Json()) {
        HostCtlTool::Record r;
        r.Add("adapters", static_cast<uint64_t>(total));
        r.Add("type", args.type);
        r.Add("ok", !failed);
        r.Add("messages", result);
        r.Print();
    } else if (!result.empty()) {
        (failed ? std::cerr : std::cout) << result << (result.back() == '\n' ? "" : "\n");
    } else {
        HostCtlTool::Message("Rescan complete");
    }
    if (failed)
        throw HostCtlTool::CommandFailure{"Rescan finished with errors"};
}

void DeviceList(bool offline) {
    StorageInfoImpl storage;
    std::map<std::string, std::string> names;
    storage.GetConfiguredDisplayNames(names);
    HostCtlTool::Table t({"Device", "Display Name", "Type", "Size MB", "Status", "Local", "SSD", "Paths", "Offline"});
    t.SetKind("Size MB", HostCtlTool::Table::Kind::Number);
    t.SetKind("Paths", HostCtlTool::Table::Kind::Number);
    for (const char* b : {"Local", "SSD", "Offline"})
        t.SetKind(b, HostCtlTool::Table::Kind::Bool);
    for (auto& lun : storage.GetLuns(offline, false)) {
        try {
            if (lun->IsOffline()) {
                t.AddRow({lun->GetIdentifier(), lun->GetDisplayName(names), "", "0", "offline", "false", "false",
                          "0", "true"});
                continue;
            }
            t.AddRow({lun->GetIdentifier(), lun->GetDisplayName(names), lun->GetLunTypeString(),
                      SizeMB(lun->GetSize()), lun->GetStatusString(), Bool(lun->IsLocal()), Bool(lun->IsSSD()),
                      std::to_string(lun->GetPathNames().size()), "false"});
        } catch (const HostCtl::Lib::HostCtlException& e) {
            std::cerr << "Skipping device " << lun->GetIdentifier() << ": " << e.what() << "\n";
        }
    }
    t.Print();
}

void DeviceShow(const std::string& name) {
    StorageInfoImpl storage;
    auto lun = Device(storage, name);
    HostCtlTool::Record r;
    r.Add("Device", lun->GetIdentifier());
    r.Add("Display Name", lun->GetDisplayName());
    r.Add("Has Settable Display Name", lun->IsDisplayNameSettable());
    r.Add("Type", lun->GetLunTypeString());
    r.Add("Vendor", lun->GetVendor());
    r.Add("Model", lun->GetModel());
    r.Add("Revision", lun->GetRevision());
    r.Add("Size MB", lun->GetSize() / (1024 * 1024));
    r.Add("Block Size", lun->GetBlockSize());
    r.Add("Status", lun->GetStatusString());
    r.Add("Multipath Plugin", lun->GetMultipathPluginName());
    try {
        r.Add("Devfs Path", lun->GetDevfsPath());
    } catch (const HostCtl::Lib::HostCtlException&) {
        r.Add("Devfs Path", "");
    }
    r.Add("Is Local", lun->IsLocal());
    r.Add("Is SSD", lun->IsSSD());
    r.Add("Is Removable", lun->IsRemovableDevice());
    r.Add("Is Detached", lun->IsDetached());
    r.Add("Is Perennially Reserved", lun->IsPerenniallyReserved());
    r.Add("Is Not Shared", lun->IsNotShared());
    if (lun->GetLunType() == Lun::LUN_TYPE_DISK) {
        r.Add("Max Queue Depth", lun->GetMaxQueueDepth());
        r.Add("No of outstanding IOs with competing worlds", lun->GetNumReqOutstanding());
        r.Add("Queue Full Sample Size", lun->GetQueueFullSampleSize());
        r.Add("Queue Full Threshold", lun->GetQueueFullThreshold());
    }
    HostCtlTool::Table uids({"UID"});
    for (const auto& uid : lun->GetUids())
        uids.AddRow({uid});
    r.AddTable("Other UIDs", uids);
    HostCtlTool::Table paths({"Path", "Adapter", "State", "Plugin"});
    for (auto& p : lun->GetPaths())
        paths.AddRow({p->GetRuntimeName(), p->GetAdapterName(), p->GetStateString(), p->GetMultipathPluginIdentifier()});
    r.AddTable("Paths", paths);
    r.Print();
}

struct SetArgs {
    std::string device;
    std::optional<std::string> displayName;
    bool clearDisplayName = false;
    std::optional<std::string> state;
    std::optional<uint32_t> maxQueueDepth;
    std::optional<uint32_t> qfullThreshold;
    std::optional<uint32_t> qfullSampleSize;
    std::optional<uint32_t> numReqOutstanding;
    std::optional<std::string> perenniallyReserved;
    std::optional<std::string> notShared;
};

bool OnOff(const std::string& option, const std::string& value) {
    if (value == "true" || value == "yes" || value == "on")
        return true;
    if (value == "false" || value == "no" || value == "off")
        return false;
    throw HostCtlTool::CommandFailure{"Invalid value for " + option + ": " + value + " (true or false)"};
}

void DeviceSet(const SetArgs& a) {
    if (a.qfullThreshold.has_value() != a.qfullSampleSize.has_value())
        throw HostCtlTool::CommandFailure{
            "--queue-full-threshold and --queue-full-sample-size must be given together"};
    if (a.state && *a.state != "on" && *a.state != "off")
        throw HostCtlTool::CommandFailure{"Invalid value for --state: " + *a.state + " (on or off)"};
    std::optional<bool> reserved, notShared;
    if (a.perenniallyReserved)
        reserved = OnOff("--perennially-reserved", *a.perenniallyReserved);
    if (a.notShared)
        notShared = OnOff("--not-shared", *a.notShared);
    StorageInfoImpl storage;
    auto lun = Device(storage, a.device);
    bool any = false;
    if (a.displayName) {
        lun->SetDisplayName(*a.displayName, true);
        any = true;
    }
    if (a.clearDisplayName) {
        lun->SetDisplayName("", false);
        any = true;
    }
    if (a.state) {
        lun->SetStatus(*a.state == "off" ? Lun::LUN_OFF : Lun::LUN_ON, true);
        any = true;
    }
    if (a.maxQueueDepth) {
        lun->SetMaxQueueDepth(*a.maxQueueDepth);
        any = true;
    }
    if (a.qfullThreshold) {
        lun->SetQueueFullParameters(*a.qfullThreshold, *a.qfullSampleSize);
        any = true;
    }
    if (a.numReqOutstanding) {
        lun->SetNumReqOutstanding(*a.numReqOutstanding);
        any = true;
    }
    if (reserved) {
        lun->SetPerenniallyReserved(*reserved);
        any = true;
    }
    if (notShared) {
        lun->SetNotShared(*notShared);
        any = true;
    }
    if (!any)
        throw HostCtlTool::CommandFailure{"Nothing to set: give at least one setting"};
}

void PartitionList(const std::string& name) {
    StorageInfoImpl storage;
    auto lun = Device(storage, name);
    auto* disk = dynamic_cast<DiskLun*>(lun.get());
    if (!disk)
        throw HostCtlTool::CommandFailure{"Not a disk: " + lun->GetIdentifier()};
    HostCtlTool::Table t({"Partition", "Number", "Start Sector", "End Sector", "Type", "Devfs Path"});
    for (const char* n : {"Number", "Start Sector", "End Sector"})
        t.SetKind(n, HostCtlTool::Table::Kind::Number);
    for (auto& p : disk->GetPartitions())
        t.AddRow({p->GetName(), std::to_string(p->GetPartitionNumber()), std::to_string(p->GetStartSector()),
                  std::to_string(p->GetEndSector()),
                  HostCtl::Storage::DiskLunPartition::GetPartitionTypeString(p->GetPartitionType()),
                  p->GetDevfsPath()});
    t.Print();
}

HostCtlTool::CommandGroup gStorage("storage", 20, [](CLI::App& app) {
    auto* storage = app.add_subcommand("storage", "Storage adapters and devices");
    storage->require_subcommand(1);

    auto* adapter = storage->add_subcommand("adapter", "Storage adapters");
    adapter->require_subcommand(1);
    adapter->add_subcommand("list", "List the storage adapters")->callback(AdapterList);

    static RescanArgs rescan;
    auto* rs = adapter->add_subcommand("rescan", "Rescan adapters for new, removed and changed devices");
    rs->add_option("--adapter", rescan.adapter, "The adapter to rescan");
    rs->add_flag("--all", rescan.all, "Rescan every adapter");
    rs->add_option("--type", rescan.type, "What to scan for")
        ->check(CLI::IsMember({"add", "delete", "update", "all"}))
        ->capture_default_str();
    rs->add_flag("--skip-claim", rescan.skipClaim, "Do not run the claim rules afterwards");
    rs->callback([] { AdapterRescan(rescan); });

    auto* device = storage->add_subcommand("device", "SCSI devices");
    device->require_subcommand(1);
    static bool offline = false;
    auto* list = device->add_subcommand("list", "List the devices");
    list->add_flag("--offline", offline, "Also list devices known only from their persisted settings");
    list->callback([] { DeviceList(offline); });

    static std::string showName;
    auto* show = device->add_subcommand("show", "Show one device");
    show->add_option("device", showName, "Device UID (any of its UIDs)")->required();
    show->callback([] { DeviceShow(showName); });

    static SetArgs set;
    auto* s = device->add_subcommand("set", "Change a device's settings");
    s->add_option("device", set.device, "Device UID (any of its UIDs)")->required();
    s->add_option("--display-name", set.displayName, "Display name to store for the device");
    s->add_flag("--clear-display-name", set.clearDisplayName, "Remove the stored display name");
    s->add_option("--state", set.state, "on (attached) or off (detached); survives reboots");
    s->add_option("--max-queue-depth", set.maxQueueDepth, "Device queue depth (at least 4)");
    s->add_option("--queue-full-threshold", set.qfullThreshold, "Queue-full threshold (at most 16)");
    s->add_option("--queue-full-sample-size", set.qfullSampleSize, "Queue-full sample size");
    s->add_option("--num-req-outstanding", set.numReqOutstanding,
                  "Outstanding requests when several worlds compete");
    s->add_option("--perennially-reserved", set.perenniallyReserved, "true or false");
    s->add_option("--not-shared", set.notShared, "true or false");
    s->callback([] { DeviceSet(set); });

    auto* partition = device->add_subcommand("partition", "Partitions of a disk");
    partition->require_subcommand(1);
    static std::string partDevice;
    auto* plist = partition->add_subcommand("list", "List a disk's partitions");
    plist->add_option("device", partDevice, "Disk UID")->required();
    plist->callback([] { PartitionList(partDevice); });

    static unsigned days = 30;
    static bool force = false;
    auto* purge = device->add_subcommand("purge", "Forget the settings of devices not seen for a while");
    auto* daysOpt = purge->add_option("--days", days, "Purge devices not seen for this many days")->capture_default_str();
    purge->add_flag("--force", force, "Purge every device that is not present now, whatever its age")
        ->excludes(daysOpt);
    purge->callback([] {
        StorageInfoImpl storage;
        if (force)
            storage.PurgeStaleLunsForce();
        else
            storage.PurgeStaleLuns(days);
        HostCtlTool::Message("Purge complete");
    });
});

}  // namespace
