// The simulated storage hardware: parsing the "storage" profile section and
// writing adapters, devices, paths and partitions into the kernel's storage
// nodes, plus the file that keeps persistent device attributes across reboots.
#include "storage_model.h"

#include <cstring>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "ksi/storage.h"
#include "platform/misc.h"
#include "sim/profile.h"

namespace TarnSim::StorageModel {

namespace {

const char* kAttributesFile = "/var/lib/tarnsim/storage-attributes.json";

template <size_t N>
void Copy(char (&out)[N], const std::string& text) {
    std::memset(out, 0, N);
    std::memcpy(out, text.data(), std::min(text.size(), N - 1));
}

std::string Str(const rapidjson::Value& o, const char* key, const std::string& fallback = "") {
    auto it = o.FindMember(key);
    return it != o.MemberEnd() && it->value.IsString() ? it->value.GetString() : fallback;
}
uint64_t Uint(const rapidjson::Value& o, const char* key, uint64_t fallback = 0) {
    auto it = o.FindMember(key);
    return it != o.MemberEnd() && it->value.IsUint64() ? it->value.GetUint64() : fallback;
}
bool Bool(const rapidjson::Value& o, const char* key, bool fallback = false) {
    auto it = o.FindMember(key);
    return it != o.MemberEnd() && it->value.IsBool() ? it->value.GetBool() : fallback;
}
const rapidjson::Value* Array(const rapidjson::Value& o, const char* key) {
    auto it = o.FindMember(key);
    return it != o.MemberEnd() && it->value.IsArray() ? &it->value : nullptr;
}

// "sopi": {"ats"|"clone"|"zero"|"delete": "supported"|"unsupported"|"unknown"}.
// Without it an array disk supports every primitive, a local disk none, and
// other devices are unknown.
void ParseSopi(const rapidjson::Value& d, DeviceSpec* s) {
    const uint32_t fallback = s->type != 0 ? KSI_SOPI_UNKNOWN : s->local ? KSI_SOPI_UNSUPPORTED : KSI_SOPI_SUPPORTED;
    auto it = d.FindMember("sopi");
    const rapidjson::Value* sopi = it != d.MemberEnd() && it->value.IsObject() ? &it->value : nullptr;
    const char* const keys[] = {"ats", "clone", "zero", "delete"};
    for (int i = 0; i < 4; ++i) {
        const std::string word = sopi ? Str(*sopi, keys[i]) : "";
        s->sopi[i] = word == "supported"     ? KSI_SOPI_SUPPORTED
                     : word == "unsupported" ? KSI_SOPI_UNSUPPORTED
                     : word == "unknown"     ? KSI_SOPI_UNKNOWN
                                             : fallback;
    }
}

struct TypeRow {
    uint32_t type;
    const char* word;
    const char* kernelWord;
    uint32_t devfs;
};
const TypeRow kDeviceTypes[] = {
    {0, "disk", "Direct-Access", KSI_DEVFS_DISKS},     {1, "tape", "Sequential-Access", KSI_DEVFS_GENSCSI},
    {3, "processor", "Processor", KSI_DEVFS_GENSCSI},  {5, "cdrom", "CD-ROM", KSI_DEVFS_CDROM},
    {8, "changer", "Medium Changer", KSI_DEVFS_GENSCSI}, {10, "idecdrom", "CD-ROM", KSI_DEVFS_CDROM},
    {11, "ide", "IDE", KSI_DEVFS_GENSCSI},             {12, "raid", "RAID Ctlr", KSI_DEVFS_GENSCSI},
    {13, "enclosure", "Enclosure Svc Dev", KSI_DEVFS_GENSCSI},
};

const TypeRow* DeviceType(uint32_t type) {
    for (const auto& row : kDeviceTypes)
        if (row.type == type)
            return &row;
    return nullptr;
}

uint32_t PathState(const std::string& text) {
    if (text == "off") return 1;
    if (text == "dead") return 2;
    if (text == "standby") return 3;
    return 0;
}

uint32_t StatusFromText(const std::string& text) {
    if (text == "busy") return TARN_BUSY;
    if (text == "wrong-state") return TARN_INVALID_STATE;
    if (text == "failure") return TARN_FAILURE;
    return TARN_OK;
}

const struct {
    const char* word;
    const char* guid;
} kPartitionTypes[] = {
    {"efi", "c12a7328-f81f-11d2-ba4b-00a0c93ec93b"},   {"basic", "ebd0a0a2-b9e5-4433-87c0-68b6b72699c7"},
    {"linux", "0fc63daf-8483-4772-8e79-3d69d8477de4"}, {"kdfs", "6b646673-0000-4000-8000-00000000000b"},
    {"dump", "64756d70-0000-4000-8000-00000000000c"},  {"bootpart", "626f6f74-0000-4000-8000-00000000000d"},
    {"osdata", "6f736461-0000-4000-8000-00000000000e"},
};

std::string PartitionGuid(const std::string& type) {
    for (const auto& p : kPartitionTypes)
        if (type == p.word)
            return p.guid;
    return type;  // already a GUID
}

const KsiStorageValue kMarker{1};

}  // namespace

std::string PathSpec::RuntimeName() const {
    return adapter + ":C" + std::to_string(channel) + ":T" + std::to_string(target) + ":L" + std::to_string(lun);
}

uint32_t TransportFromText(const std::string& text) {
    static const char* const kWords[] = {"",     "block",    "fc",      "iscsi", "ide",
                                         "iscsivendor", "sas", "sata", "usb",   "parallel",
                                         "other", "fcoe",    "pcie",    "rdma",  "tcp"};
    for (uint32_t i = 0; i < sizeof(kWords) / sizeof(kWords[0]); ++i)
        if (text == kWords[i])
            return i;
    return text.empty() ? 0 : static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 0));
}

const char* TransportText(uint32_t transport) {
    switch (transport) {
    case 1: return "block";
    case 2: return "fc";
    case 3: return "iscsi";
    case 6: return "sas";
    case 8: return "usb";
    case 11: return "fcoe";
    default: return "parallel";
    }
}

Hardware Parse(const rapidjson::Value* section) {
    Hardware hw;
    if (!section || !section->IsObject())
        return hw;
    if (auto* adapters = Array(*section, "adapters")) {
        for (const auto& a : adapters->GetArray()) {
            if (!a.IsObject())
                continue;
            AdapterSpec s;
            s.name = Str(a, "name");
            s.driver = Str(a, "driver");
            s.description = Str(a, "description");
            s.uid = Str(a, "uid", "unknown." + s.name);
            auto t = a.FindMember("transport");
            if (t != a.MemberEnd())
                s.transport = t->value.IsUint() ? t->value.GetUint() : TransportFromText(Str(a, "transport"));
            s.queueDepth = static_cast<uint32_t>(Uint(a, "queueDepth", 128));
            s.nvme = Bool(a, "nvme");
            s.guardType = static_cast<uint32_t>(Uint(a, "guardType", 0));
            s.protMask = static_cast<uint32_t>(Uint(a, "protMask", 0));
            s.rescanStatus = StatusFromText(Str(a, "rescan"));
            std::string pci = Str(a, "pci");
            unsigned seg = 0, bus = 0, slot = 0, fn = 0;
            if (!pci.empty() && std::sscanf(pci.c_str(), "%x:%x:%x.%x", &seg, &bus, &slot, &fn) == 4) {
                s.pciSegment = static_cast<int>(seg);
                s.pciBus = static_cast<int>(bus);
                s.pciSlot = static_cast<int>(slot);
                s.pciFunction = static_cast<int>(fn);
            }
            if (!s.name.empty())
                hw.adapters.push_back(std::move(s));
        }
    }
    if (auto* devices = Array(*section, "devices")) {
        for (const auto& d : devices->GetArray()) {
            if (!d.IsObject())
                continue;
            DeviceSpec s;
            s.uid = Str(d, "uid");
            if (s.uid.empty())
                continue;
            if (auto* uids = Array(d, "uids"))
                for (const auto& u : uids->GetArray())
                    if (u.IsString())
                        s.otherUids.push_back(u.GetString());
            auto t = d.FindMember("type");
            if (t != d.MemberEnd() && t->value.IsUint()) {
                s.type = t->value.GetUint();
            } else {
                std::string word = Str(d, "type", "disk");
                for (const auto& row : kDeviceTypes)
                    if (word == row.word)
                        s.type = row.type;
            }
            const TypeRow* row = DeviceType(s.type);
            s.typeString = Str(d, "typeString", row ? row->kernelWord : "Unknown");
            s.vendor = Str(d, "vendor");
            s.model = Str(d, "model");
            s.revision = Str(d, "revision", "0001");
            s.blocks = Uint(d, "blocks", s.type == 0 ? 2097152 : 0);
            s.blockSize = static_cast<uint32_t>(Uint(d, "blockSize", 512));
            s.queueDepth = static_cast<uint32_t>(Uint(d, "queueDepth", 64));
            s.local = Bool(d, "local");
            s.ssd = Bool(d, "ssd");
            s.removable = Bool(d, "removable");
            s.nvme = Bool(d, "nvme");
            s.pseudo = Bool(d, "pseudo");
            s.persistable = Bool(d, "persistable", true);
            s.wear = Bool(d, "wear");
            ParseSopi(d, &s);
            s.status = Str(d, "status") == "dead" ? 2 : 0;
            s.stateStatus = StatusFromText(Str(d, "stateChange"));
            if (auto* paths = Array(d, "paths")) {
                for (const auto& p : paths->GetArray()) {
                    if (!p.IsObject())
                        continue;
                    PathSpec ps;
                    ps.adapter = Str(p, "adapter");
                    ps.channel = static_cast<uint32_t>(Uint(p, "channel"));
                    ps.target = static_cast<uint32_t>(Uint(p, "target"));
                    ps.lun = static_cast<uint32_t>(Uint(p, "lun"));
                    ps.state = Str(p, "state", "active");
                    ps.plugin = Str(p, "plugin", "NMP");
                    ps.targetUid = Str(p, "targetUid", "target." + ps.adapter + "." + std::to_string(ps.target));
                    ps.optimized = Str(p, "group", "optimized") != "unoptimized";
                    ps.priority = static_cast<uint32_t>(Uint(p, "priority"));
                    ps.stateStatus = StatusFromText(Str(p, "stateChange"));
                    s.paths.push_back(std::move(ps));
                }
            }
            if (auto* worlds = Array(d, "worlds"))
                for (const auto& w : worlds->GetArray())
                    if (w.IsUint64())
                        s.worlds.push_back(std::to_string(w.GetUint64()));
            if (auto* parts = Array(d, "partitions")) {
                for (const auto& p : parts->GetArray()) {
                    if (!p.IsObject())
                        continue;
                    PartitionSpec ps;
                    ps.number = static_cast<uint32_t>(Uint(p, "number"));
                    ps.start = Uint(p, "start");
                    ps.end = Uint(p, "end");
                    ps.typeGuid = PartitionGuid(Str(p, "type", "basic"));
                    ps.guid = Str(p, "guid");
                    s.partitions.push_back(std::move(ps));
                }
            }
            hw.devices.push_back(std::move(s));
        }
    }
    return hw;
}

Hardware CurrentHardware() {
    rapidjson::Document doc;
    doc.Parse(Profile::CurrentProfile().c_str());
    if (doc.HasParseError() || !doc.IsObject())
        return {};
    auto it = doc.FindMember("storage");
    return Parse(it != doc.MemberEnd() ? &it->value : nullptr);
}

void AddAdapter(KernelState& state, const AdapterSpec& a) {
    KsiStorageAdapterInfo info{};
    Copy(info.name, a.name);
    Copy(info.driver, a.driver);
    Copy(info.description, a.description);
    info.transport = a.transport;
    info.capabilities = a.transport == 2 || a.transport == 11 ? 0x3 : 0x1;
    info.hasPci = a.pciSegment >= 0;
    if (info.hasPci) {
        info.pciSegment = static_cast<uint16_t>(a.pciSegment);
        info.pciBus = static_cast<uint8_t>(a.pciBus);
        info.pciSlot = static_cast<uint8_t>(a.pciSlot);
        info.pciFunction = static_cast<uint8_t>(a.pciFunction);
    }
    state.Put(KSI_NODE_storage_scsifw_adapters, {a.name}, kMarker);
    state.Put(KSI_NODE_storage_scsifw_adapters_info, {a.name}, info);
    KsiStorageStats stats{};
    stats.queueDepth = a.queueDepth;
    stats.nvme = a.nvme;
    state.Put(KSI_NODE_storage_scsifw_adapters_stats, {a.name}, stats);
    KsiStorageAdapterUid uid{};
    Copy(uid.uid, a.uid);
    uid.protMask = a.protMask;
    uid.guardType = a.guardType;
    state.Put(KSI_NODE_storage_scsifw_adapters_uid, {a.name}, uid);
    state.Put(kModule, kAdapterFlagsNode, {a.name}, AdapterFlags{a.rescanStatus});
}

void AddPath(KernelState& state, const DeviceSpec& d, const PathSpec& p) {
    if (!state.Has("", KSI_NODE_storage_scsifw_adapters, {p.adapter}))
        return;
    const std::string name = p.RuntimeName();
    KsiStorageAdapterUid adapterUid{};
    state.Read(KSI_NODE_storage_scsifw_adapters_uid, {p.adapter}, &adapterUid);
    KsiStoragePathInfo info{};
    Copy(info.adapter, p.adapter);
    Copy(info.deviceUid, d.uid);
    Copy(info.plugin, p.plugin);
    info.channel = p.channel;
    info.target = p.target;
    info.lun = p.lun;
    info.flags = d.persistable ? 3 : 1;
    info.maxIOSize = 32 * 1024 * 1024;
    KsiStoragePathUid uid{};
    std::memcpy(uid.adapterUid, adapterUid.uid, sizeof(uid.adapterUid));
    Copy(uid.targetUid, p.targetUid);
    Copy(uid.deviceUid, d.uid);
    state.Put(KSI_NODE_storage_scsifw_paths, {name}, kMarker);
    state.Put(KSI_NODE_storage_scsifw_paths_info, {name}, info);
    state.Put(KSI_NODE_storage_scsifw_paths_pathUid, {name}, uid);
    state.Put(KSI_NODE_storage_scsifw_paths_state, {name}, KsiStorageValue{PathState(p.state)});
    state.Put(KSI_NODE_storage_scsifw_adapters_paths, {p.adapter, name}, kMarker);
    state.Put(KSI_NODE_storage_scsifw_devices_paths, {d.uid, name}, kMarker);
    state.Put(KSI_NODE_storage_scsifw_devices_adapters, {d.uid, p.adapter}, kMarker);
    ClaimNewPath(state, d, p);
}

void AddDevice(KernelState& state, const DeviceSpec& d) {
    const TypeRow* row = DeviceType(d.type);
    KsiStorageDeviceInfo info{};
    info.type = d.type;
    info.status = d.status;
    Copy(info.vendor, d.vendor);
    Copy(info.model, d.model);
    Copy(info.revision, d.revision);
    Copy(info.typeString, d.typeString);
    Copy(info.plugin, d.paths.empty() ? "" : d.paths.front().plugin);
    info.scsiLevel = 6;
    info.blockSize = d.blockSize;
    info.numBlocks = d.blocks;
    info.queueDepth = d.queueDepth;
    info.flags = (d.local ? KSI_DEVICE_LOCAL : 0) | (d.ssd ? KSI_DEVICE_SSD : 0) |
                 (d.removable ? KSI_DEVICE_REMOVABLE : 0) | (d.pseudo ? KSI_DEVICE_PSEUDO : 0) |
                 (d.rdmCapable && !d.local ? KSI_DEVICE_RDM_CAPABLE : 0) | (d.nvme ? KSI_DEVICE_NVME : 0) |
                 (d.persistable ? KSI_DEVICE_UID_PERSISTABLE : 0) | (d.wear ? KSI_DEVICE_WEAR_SUPPORTED : 0);
    info.devfs = row ? row->devfs : KSI_DEVFS_GENSCSI;
    const char* dir = info.devfs == KSI_DEVFS_DISKS ? "disks" : info.devfs == KSI_DEVFS_CDROM ? "cdrom" : "genscsi";
    Copy(info.consoleDevice, std::string("/kdfs/devices/") + dir + "/" + d.uid);
    // A device detached before the reboot comes up off.
    KsiStoragePersistAttrs attrs{};
    if (state.Read(KSI_NODE_storage_scsifw_persistDeviceAttrs_uids, {d.uid}, &attrs) && attrs.detached)
        info.status = 1;
    if (attrs.perennialResvd)
        info.flags |= KSI_DEVICE_PERENNIAL_RESVD;

    state.Put(KSI_NODE_storage_scsifw_devices, {d.uid}, kMarker);
    state.Put(KSI_NODE_storage_scsifw_devices_info, {d.uid}, info);
    state.Put(KSI_NODE_storage_scsifw_devices_stats, {d.uid}, KsiStorageStats{d.queueDepth, d.nvme, {}});
    state.Put(KSI_NODE_storage_scsifw_devices_maxQueueDepth, {d.uid}, KsiStorageValue{d.queueDepth});
    state.Put(KSI_NODE_storage_scsifw_devices_schedReqOutstanding, {d.uid}, KsiStorageValue{32});
    state.Put(KSI_NODE_storage_scsifw_devices_SchedulingLatencyThreshold, {d.uid}, KsiStorageValue{0});
    state.Put(KSI_NODE_storage_scsifw_devices_ignoreInquiryCache, {d.uid}, KsiStorageValue{0});
    state.Put(KSI_NODE_storage_scsifw_devices_qfullconfigparams, {d.uid}, KsiStorageQfullParams{0, 0});
    state.Put(KSI_NODE_storage_scsifw_devices_sopiCacheData, {d.uid},
              KsiStorageSopiCacheData{d.sopi[0], d.sopi[1], d.sopi[2], d.sopi[3]});
    state.Put(kModule, kDeviceFlagsNode, {d.uid}, DeviceFlags{d.stateStatus});
    for (const auto& world : d.worlds)
        state.Put(KSI_NODE_storage_scsifw_devices_worlds, {d.uid, world}, kMarker);

    KsiStorageInquiry std{};
    std.length = 36;
    std.data[0] = static_cast<uint8_t>(d.type & 0x1f);
    std.data[2] = 6;
    std::memcpy(std.data + 8, (d.vendor + std::string(8, ' ')).data(), 8);
    std::memcpy(std.data + 16, (d.model + std::string(16, ' ')).data(), 16);
    std::memcpy(std.data + 32, (d.revision + std::string(4, ' ')).data(), 4);
    state.Put(KSI_NODE_storage_scsifw_devices_inquirySTD, {d.uid}, std);
    KsiStorageInquiry vpd{};
    vpd.length = static_cast<uint32_t>(std::min<size_t>(d.uid.size() + 4, sizeof(vpd.data)));
    vpd.data[1] = 0x83;
    std::memcpy(vpd.data + 4, d.uid.data(), vpd.length - 4);
    state.Put(KSI_NODE_storage_scsifw_devices_inquiryVPD, {d.uid, "131"}, kMarker);
    state.Put(KSI_NODE_storage_scsifw_devices_inquiryVPD_uncachedData, {d.uid, "131"}, vpd);

    state.Put(KSI_NODE_storage_scsifw_deviceUids, {d.uid}, kMarker);
    KsiStorageUid primary{};
    Copy(primary.uid, d.uid);
    state.Put(KSI_NODE_storage_scsifw_deviceUids_primaryUid, {d.uid}, primary);
    state.Put(KSI_NODE_storage_scsifw_devices_uids, {d.uid, d.uid}, kMarker);
    for (const auto& other : d.otherUids) {
        state.Put(KSI_NODE_storage_scsifw_deviceUids, {other}, kMarker);
        state.Put(KSI_NODE_storage_scsifw_deviceUids_primaryUid, {other}, primary);
        state.Put(KSI_NODE_storage_scsifw_devices_uids, {d.uid, other}, kMarker);
    }

    if (d.type == 0) {
        // Partition 0 is the whole disk.
        KsiStoragePartitionInfo whole{};
        whole.endSector = d.blocks ? d.blocks - 1 : 0;
        state.Put(KSI_NODE_storage_scsifw_devices_partitions, {d.uid, "0"}, kMarker);
        state.Put(KSI_NODE_storage_scsifw_devices_partitions_info, {d.uid, "0"}, whole);
        for (const auto& p : d.partitions) {
            KsiStoragePartitionInfo info{};
            info.startSector = p.start;
            info.endSector = p.end;
            Copy(info.typeGuid, p.typeGuid);
            Copy(info.partitionGuid, p.guid);
            const std::string n = std::to_string(p.number);
            state.Put(KSI_NODE_storage_scsifw_devices_partitions, {d.uid, n}, kMarker);
            state.Put(KSI_NODE_storage_scsifw_devices_partitions_info, {d.uid, n}, info);
        }
    }
    for (const auto& p : d.paths)
        AddPath(state, d, p);
}

void RemovePath(KernelState& state, const std::string& deviceUid, const std::string& adapter,
                const std::string& name) {
    ForgetPath(state, deviceUid, name);
    for (uint32_t node : {KSI_NODE_storage_scsifw_paths, KSI_NODE_storage_scsifw_paths_info,
                          KSI_NODE_storage_scsifw_paths_pathUid, KSI_NODE_storage_scsifw_paths_state})
        state.Remove("", node, {name});
    state.Remove("", KSI_NODE_storage_scsifw_adapters_paths, {adapter, name});
    state.Remove("", KSI_NODE_storage_scsifw_devices_paths, {deviceUid, name});
    // The device keeps the adapter while another of its paths goes through it.
    bool other = false;
    for (const auto& p : state.Instances("", KSI_NODE_storage_scsifw_devices_paths, {deviceUid}))
        if (p.rfind(adapter + ":", 0) == 0)
            other = true;
    if (!other)
        state.Remove("", KSI_NODE_storage_scsifw_devices_adapters, {deviceUid, adapter});
}

void RemoveDevice(KernelState& state, const std::string& uid) {
    for (const auto& path : state.Instances("", KSI_NODE_storage_scsifw_devices_paths, {uid})) {
        std::string adapter = path.substr(0, path.find(':'));
        RemovePath(state, uid, adapter, path);
    }
    for (const auto& other : state.Instances("", KSI_NODE_storage_scsifw_devices_uids, {uid})) {
        state.Remove("", KSI_NODE_storage_scsifw_deviceUids, {other});
        state.Remove("", KSI_NODE_storage_scsifw_deviceUids_primaryUid, {other});
    }
    // Persisted attributes live under their own node with the UID as the
    // only key; keep them so that the device is known offline.
    KsiStoragePersistAttrs attrs{};
    bool hadAttrs = state.Read(KSI_NODE_storage_scsifw_persistDeviceAttrs_uids, {uid}, &attrs);
    state.RemoveBelow("", {uid});
    state.RemoveBelow(kModule, {uid});
    if (hadAttrs)
        state.Put(KSI_NODE_storage_scsifw_persistDeviceAttrs_uids, {uid}, attrs);
}

void LoadPersistentAttributes(KernelState& state) {
    std::string text;
    if (!HostCtl::Misc::ReadHostFile(kAttributesFile, &text) || text.empty())
        return;
    rapidjson::Document doc;
    doc.Parse(text.c_str());
    if (doc.HasParseError() || !doc.IsObject())
        return;
    for (auto it = doc.MemberBegin(); it != doc.MemberEnd(); ++it) {
        if (!it->value.IsObject())
            continue;
        KsiStoragePersistAttrs attrs{};
        attrs.detached = Bool(it->value, "detached");
        attrs.notShared = Bool(it->value, "notShared");
        attrs.perennialResvd = Bool(it->value, "perennialResvd");
        state.Put(KSI_NODE_storage_scsifw_persistDeviceAttrs_uids, {it->name.GetString()}, attrs);
    }
}

void SavePersistentAttributes(const KernelState& state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    for (const auto& uid : state.Instances("", KSI_NODE_storage_scsifw_persistDeviceAttrs_uids)) {
        KsiStoragePersistAttrs attrs{};
        state.Read(KSI_NODE_storage_scsifw_persistDeviceAttrs_uids, {uid}, &attrs);
        w.Key(uid.c_str());
        w.StartObject();
        w.Key("detached");
        w.Bool(attrs.detached);
        w.Key("notShared");
        w.Bool(attrs.notShared);
        w.Key("perennialResvd");
        w.Bool(attrs.perennialResvd);
        w.EndObject();
    }
    w.EndObject();
    HostCtl::Misc::WriteHostFileAtomic(kAttributesFile, buffer.GetString());
}

}  // namespace TarnSim::StorageModel
