// hostctl storage filesystem ...: disk file-system volumes (list, show,
// create, extend, grow, rename, mount, unmount, disable-iorm) and snapshot copies of them
// (list, resignature, mount under the old identity).
#include <CLI/CLI.hpp>

#include <iostream>

#include "command.h"
#include "hostctl/exception.h"
#include "hostctl/storage.h"
#include "output.h"
#include "storage/storage_info_extension_impl.h"
#include "storage/storage_info_impl.h"
#include "storage/unresolved_kdfs_volume_impl.h"
#include "storage/vm_file_system_impl.h"

namespace {

using HostCtl::Storage::UnresolvedKdfsVolume;
using HostCtl::Storage::VmFileSystem;
using TarnCtl::Storage::StorageInfoImpl;
using TarnCtl::Storage::VmFileSystemImpl;

std::string Bool(bool b) {
    return b ? "true" : "false";
}

std::string MB(uint64_t bytes) {
    return std::to_string(bytes / (1024 * 1024));
}

std::string Join(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& i : items)
        out += (out.empty() ? "" : ",") + i;
    return out;
}

// A volume by UUID or label.
std::unique_ptr<VmFileSystemImpl> Volume(const std::string& name) {
    auto fs = VmFileSystemImpl::GetKDFSFileSystemByUUID(name);
    if (!fs)
        fs = VmFileSystemImpl::GetKDFSFileSystemByLabel(name);
    if (!fs)
        throw HostCtlTool::CommandFailure{"Unknown volume " + name};
    return fs;
}

// A snapshot copy by UUID or label; refuses a name several copies share.
std::shared_ptr<UnresolvedKdfsVolume> Snapshot(StorageInfoImpl& storage, const std::string& name) {
    std::shared_ptr<UnresolvedKdfsVolume> found;
    for (auto& v : storage.GetUnresolvedVolumes()) {
        if (v->GetKdfsUuid() != name && v->GetKdfsLabel() != name)
            continue;
        if (found)
            throw HostCtlTool::CommandFailure{"Several snapshot volumes match " + name + "; name one by its UUID"};
        found = v;
    }
    if (!found)
        throw HostCtlTool::CommandFailure{"Unknown snapshot volume " + name};
    return found;
}

void List(const std::string& device) {
    StorageInfoImpl storage;
    HostCtl::Storage::StorageInfoScopedCache cache;
    HostCtlTool::Table t({"Volume Name", "UUID", "Mounted", "Type", "Version", "Size MB", "Free MB", "Extents",
                          "Console Path"});
    for (const char* n : {"Size MB", "Free MB", "Extents"})
        t.SetKind(n, HostCtlTool::Table::Kind::Number);
    t.SetKind("Mounted", HostCtlTool::Table::Kind::Bool);
    for (auto& fs : storage.GetKdfsFileSystems(device)) {
        const uint64_t free = fs->GetTotalBlocks() > fs->GetBlocksUsed()
                                  ? (fs->GetTotalBlocks() - fs->GetBlocksUsed()) * fs->GetBlockSize()
                                  : 0;
        t.AddRow({fs->GetVolumeName(), fs->GetUuid(), Bool(fs->IsMounted()), fs->GetType(),
                  std::to_string(fs->GetMajorVersion()) + "." + std::to_string(fs->GetMinorVersion()),
                  MB(fs->GetSize()), fs->IsMounted() ? MB(free) : "", std::to_string(fs->GetExtentCount()),
                  fs->GetConsolePath()});
    }
    t.Print();
}

void Show(const std::string& name) {
    auto fs = Volume(name);
    HostCtlTool::Record r;
    r.Add("volume_name", fs->GetVolumeName());
    r.Add("uuid", fs->GetUuid());
    r.Add("mounted", fs->IsMounted());
    r.Add("type", fs->GetType());
    r.Add("major_version", fs->GetMajorVersion());
    r.Add("minor_version", fs->GetMinorVersion());
    r.Add("block_size", static_cast<uint64_t>(fs->GetBlockSize()));
    r.Add("total_blocks", static_cast<uint64_t>(fs->GetTotalBlocks()));
    r.Add("blocks_used", static_cast<uint64_t>(fs->GetBlocksUsed()));
    r.Add("size", static_cast<uint64_t>(fs->GetSize()));
    r.Add("lvm_name", fs->GetLvmName());
    r.Add("head_extent", fs->GetHeadExtentName());
    r.Add("console_path", fs->GetConsolePath());
    r.Add("force_mounted", fs->IsForceMounted());
    r.Add("read_only", fs->IsReadOnly());
    r.Add("lock_mode", VmFileSystem::GetLockModeString(fs->GetLockMode()));
    r.Add("automount", fs->IsAutomountEligible());
    r.Add("iorm_enabled", fs->IsIormEnabled());
    r.Add("offload_support", VmFileSystem::GetSopiStatusString(fs->GetSOPIState()));
    r.Add("ats_support", VmFileSystem::GetSopiStatusString(fs->GetSOPIAtsStatus()));
    r.Add("wear_supported", fs->IsWearSupported());
    if (fs->IsMounted()) {
        const auto stats = fs->GetKdfsLightStats();
        r.Add("read_ops", stats.readOps);
        r.Add("write_ops", stats.writeOps);
        r.Add("read_bytes", stats.readBytes);
        r.Add("write_bytes", stats.writeBytes);
        r.Add("open_files", stats.openFiles);
    }
    HostCtlTool::Table users({"Host", "Live", "This Host", "Stamp US"});
    users.SetKind("Live", HostCtlTool::Table::Kind::Bool);
    users.SetKind("This Host", HostCtlTool::Table::Kind::Bool);
    users.SetKind("Stamp US", HostCtlTool::Table::Kind::Number);
    for (const auto& u : fs->GetKdfsUserInfo(VmFileSystem::LIVENESS_ALL_SLOTS))
        users.AddRow({u.hostUuid, Bool(u.state != 0), Bool(u.thisHost), std::to_string(u.stampUS)});
    r.AddTable("heartbeats", users);
    HostCtlTool::Table extents({"Index", "Extent"});
    extents.SetKind("Index", HostCtlTool::Table::Kind::Number);
    const auto names = fs->GetExtents();
    for (size_t i = 0; i < names.size(); ++i)
        extents.AddRow({std::to_string(i), names[i]});
    r.AddTable("extents", extents);
    r.Print();
}

struct CreateArgs {
    std::string target, label;
    int version = 6;
    uint64_t blockSize = 0;
};

void Create(const CreateArgs& a) {
    StorageInfoImpl storage;
    HostCtlTool::Progress progress("Creating volume " + a.label, 1);
    progress.Step(a.target);
    const std::string uuid = storage.Extension().CreateFileSystemOn(a.target, a.label, a.version, a.blockSize);
    if (HostCtlTool::GlobalOptions().Json())
        HostCtlTool::Record().Add("uuid", uuid).Add("volume_name", a.label).Print();
    else
        std::cout << "Created volume " << a.label << " (" << uuid << ")\n";
}

void SnapshotList() {
    StorageInfoImpl storage;
    HostCtl::Storage::StorageInfoScopedCache cache;
    HostCtlTool::Table t({"Volume Name", "UUID", "Extents", "Extent Status", "Size MB", "Can Resignature",
                          "Can Mount", "Reason"});
    t.SetKind("Size MB", HostCtlTool::Table::Kind::Number);
    t.SetKind("Can Resignature", HostCtlTool::Table::Kind::Bool);
    t.SetKind("Can Mount", HostCtlTool::Table::Kind::Bool);
    for (auto& v : storage.GetUnresolvedVolumes()) {
        UnresolvedKdfsVolume::ResolveError resignature = UnresolvedKdfsVolume::RESOLVE_OK;
        UnresolvedKdfsVolume::ResolveError mount = UnresolvedKdfsVolume::RESOLVE_OK;
        v->CanResolve(false, true, &resignature);
        // Keeping the identity needs the original offline.
        v->CanResolve(true, true, &mount);
        std::vector<std::string> extents;
        for (auto& e : v->GetExtents())
            extents.push_back(e->GetName());
        t.AddRow({v->GetKdfsLabel(), v->GetKdfsUuid(), Join(extents), v->GetExtentStatus(),
                  MB(v->GetTotalSize()), Bool(resignature == 0), Bool(mount == 0),
                  UnresolvedKdfsVolume::ResolveErrorToString(mount)});
    }
    t.Print();
}

void SnapshotResignature(const std::string& name) {
    StorageInfoImpl storage;
    auto snap = Snapshot(storage, name);
    HostCtlTool::Progress progress("Resignaturing " + name, 1);
    progress.Step(snap->GetHeadExtent());
    const std::string uuid = snap->ResolveVolume();
    auto fs = VmFileSystemImpl::GetKDFSFileSystemByUUID(uuid);
    const std::string label = fs ? fs->GetVolumeName() : "";
    if (HostCtlTool::GlobalOptions().Json())
        HostCtlTool::Record().Add("uuid", uuid).Add("volume_name", label).Print();
    else
        std::cout << "Resignatured as " << label << " (" << uuid << ")\n";
}

HostCtlTool::CommandGroup gFileSystems("storage-filesystem", 21, [](CLI::App& app) {
    auto* storage = app.get_subcommand("storage");
    auto* fsCmd = storage->add_subcommand("filesystem", "Disk file-system volumes");
    fsCmd->require_subcommand(1);

    static std::string listDevice;
    auto* list = fsCmd->add_subcommand("list", "List mounted and unmounted volumes");
    list->add_option("--device", listDevice, "Only volumes with an extent on this device");
    list->callback([] { List(listDevice); });

    static std::string showName;
    auto* show = fsCmd->add_subcommand("show", "Show one volume");
    show->add_option("volume", showName, "Volume UUID or label")->required();
    show->callback([] { Show(showName); });

    static CreateArgs create;
    auto* c = fsCmd->add_subcommand("create", "Create a volume on a partition or a blank disk");
    c->add_option("target", create.target, "DEVICE:PARTITION, or a blank DEVICE (one partition is laid over it)")
        ->required();
    c->add_option("--label", create.label, "Volume name (at most 128 characters)")->required();
    c->add_option("--version", create.version, "3, 5, 6, 51 (KDFS-L) or 52")->capture_default_str();
    c->add_option("--block-size", create.blockSize, "Bytes, a power of two from 1 MiB to 256 MiB (0: 1 MiB)");
    c->callback([] { Create(create); });

    static std::string extendName, extendTarget;
    auto* e = fsCmd->add_subcommand("extend", "Span a volume onto another device's partition");
    e->add_option("volume", extendName, "Volume UUID or label")->required();
    e->add_option("target", extendTarget, "DEVICE:PARTITION, or a blank DEVICE")->required();
    e->callback([] {
        auto fs = Volume(extendName);
        StorageInfoImpl().Extension().ExtendFileSystemOnto(*fs, extendTarget);
        HostCtlTool::Message("Extended " + extendName + " onto " + extendTarget);
    });

    static std::string growName, growExtent;
    auto* g = fsCmd->add_subcommand("grow", "Grow an extent into the free space after it");
    g->add_option("volume", growName, "Volume UUID or label")->required();
    g->add_option("extent", growExtent, "DEVICE:PARTITION of one of its extents")->required();
    g->callback([] {
        Volume(growName)->GrowExtent(growExtent);
        HostCtlTool::Message("Grew " + growName);
    });

    static std::string renameName, renameLabel;
    auto* r = fsCmd->add_subcommand("rename", "Rename a mounted volume");
    r->add_option("volume", renameName, "Volume UUID or label")->required();
    r->add_option("label", renameLabel, "New volume name")->required();
    r->callback([] {
        Volume(renameName)->SetVolumeName(renameLabel);
        HostCtlTool::Message("Renamed " + renameName + " to " + renameLabel);
    });

    static std::string mountName;
    static bool skipUpgrade = false;
    auto* m = fsCmd->add_subcommand("mount", "Mount an unmounted volume");
    m->add_option("volume", mountName, "Volume UUID or label")->required();
    m->add_flag("--skip-upgrade", skipUpgrade, "Mount a version 3 volume without upgrading it");
    m->callback([] {
        Volume(mountName)->Mount(skipUpgrade ? VmFileSystem::MOUNT_SKIP_UPGRADE : VmFileSystem::MOUNT_DEFAULT);
        HostCtlTool::Message("Mounted " + mountName);
    });

    static std::string unmountName;
    static bool transient = false;
    auto* u = fsCmd->add_subcommand("unmount", "Unmount a volume; it stays unmounted after a reboot");
    u->add_option("volume", unmountName, "Volume UUID or label")->required();
    u->add_flag("--transient", transient, "Mount it again at the next boot");
    u->callback([] {
        Volume(unmountName)->Unmount(transient ? VmFileSystem::UNMOUNT_TRANSIENT : VmFileSystem::UNMOUNT_PERSISTENT);
        HostCtlTool::Message("Unmounted " + unmountName);
    });

    static std::string iormName;
    auto* io = fsCmd->add_subcommand("disable-iorm", "Turn I/O resource management off on a mounted volume");
    io->add_option("volume", iormName, "Volume UUID or label")->required();
    io->callback([] {
        Volume(iormName)->DisableIORM();
        HostCtlTool::Message("I/O resource management is off on " + iormName);
    });

    auto* snap = fsCmd->add_subcommand("snapshot", "Snapshot copies of volumes found on other devices");
    snap->require_subcommand(1);
    snap->add_subcommand("list", "List snapshot volumes and whether they can be resolved")->callback(SnapshotList);

    static std::string resigName;
    auto* rs = snap->add_subcommand("resignature", "Give a snapshot volume a new identity and mount it");
    rs->add_option("volume", resigName, "Snapshot UUID or label")->required();
    rs->callback([] { SnapshotResignature(resigName); });

    static std::string snapMountName;
    static bool noPersist = false, readOnly = false;
    auto* sm = snap->add_subcommand("mount", "Mount a snapshot volume under its old identity");
    sm->add_option("volume", snapMountName, "Snapshot UUID or label")->required();
    sm->add_flag("--no-persist", noPersist, "Do not mount it again at the next boot");
    sm->add_flag("--read-only", readOnly, "Mount it read-only");
    sm->callback([] {
        StorageInfoImpl storage;
        Snapshot(storage, snapMountName)->ForceMountKdfs(!noPersist, readOnly);
        HostCtlTool::Message("Mounted snapshot " + snapMountName);
    });
});

}  // namespace
