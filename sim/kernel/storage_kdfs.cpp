// The simulated disk file system. Volume headers live on partitions as media
// contents (area "disk.kdfs", which survives a reboot but not an init): each
// extent records its volume's UUID, logical-volume name, its index, how many
// extents the volume had when it was written and the device it was written on,
// so a LUN copy carries a header whose device is not its own (a snapshot).
// Mounting is kernel state that a reboot clears: the file-system switch
// records, the logical-volume driver's extent lists and /kdfs/volumes/<UUID>
// with its label link under the host root. The file-system library's entries
// are calls of a private module so that each is one atomic, injectable step.
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "hostctl/status.h"
#include "ksi/kdfs.h"
#include "ksi/storage.h"
#include "platform/hostroot.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "sim/kernel.h"
#include "storage_kdfs.h"

namespace TarnSim {

namespace {

using namespace Kdfs;
namespace fs = std::filesystem;

constexpr const char* kDisk = "disk.kdfs";  // media contents
constexpr const char* kArea = "kdfs";       // running state, cleared by a reboot
constexpr uint64_t kMinSectors = 2097152;   // 1 GiB of 512-byte sectors
constexpr const char* kDevPrefix = "/kdfs/devices/disks/";
constexpr const char* kVolPrefix = "/kdfs/volumes/";

struct Heartbeat {
    std::string host;
    uint32_t state = 0;
    int64_t stamp = 0;
};

struct Header {
    std::string uuid;  // 32 hex digits of the raw bytes
    std::string label, lvm, device, type;
    uint32_t index = 0, count = 1, major = 6, minor = 82;
    uint64_t blockSize = 1048576, used = 0;
    bool ats = false, clustered = false, iorm = false;
    // Light-weight counters a mount starts from: reads, writes, bytes read,
    // bytes written, open files.
    uint64_t stats[5] = {};
    uint32_t unmapGran = 1048576, unmapBw = 0;
    std::string unmapPrio = "low", unmapMethod = "priority";
    std::vector<Heartbeat> hb;
};

template <size_t N>
void Copy(char (&out)[N], const std::string& text) {
    std::memset(out, 0, N);
    std::memcpy(out, text.data(), std::min(text.size(), N - 1));
}

int64_t NowUS() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// ---- Header text ----------------------------------------------------------------

std::string ToJson(const Header& h) {
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    w.StartObject();
    auto str = [&](const char* k, const std::string& v) { w.Key(k); w.String(v.c_str()); };
    auto u64 = [&](const char* k, uint64_t v) { w.Key(k); w.Uint64(v); };
    str("uuid", h.uuid);
    str("label", h.label);
    str("lvm", h.lvm);
    str("device", h.device);
    str("type", h.type);
    u64("index", h.index);
    u64("count", h.count);
    u64("major", h.major);
    u64("minor", h.minor);
    u64("blockSize", h.blockSize);
    u64("used", h.used);
    w.Key("ats");
    w.Bool(h.ats);
    w.Key("clustered");
    w.Bool(h.clustered);
    w.Key("iorm");
    w.Bool(h.iorm);
    w.Key("stats");
    w.StartArray();
    for (uint64_t v : h.stats)
        w.Uint64(v);
    w.EndArray();
    u64("unmapGran", h.unmapGran);
    u64("unmapBw", h.unmapBw);
    str("unmapPrio", h.unmapPrio);
    str("unmapMethod", h.unmapMethod);
    w.Key("hb");
    w.StartArray();
    for (const auto& b : h.hb) {
        w.StartObject();
        str("host", b.host);
        u64("state", b.state);
        w.Key("stamp");
        w.Int64(b.stamp);
        w.EndObject();
    }
    w.EndArray();
    w.EndObject();
    return sb.GetString();
}

std::string Str(const rapidjson::Value& o, const char* k) {
    auto it = o.FindMember(k);
    return it != o.MemberEnd() && it->value.IsString() ? it->value.GetString() : "";
}
uint64_t U64(const rapidjson::Value& o, const char* k, uint64_t fallback = 0) {
    auto it = o.FindMember(k);
    return it != o.MemberEnd() && it->value.IsUint64() ? it->value.GetUint64() : fallback;
}
bool Bool(const rapidjson::Value& o, const char* k) {
    auto it = o.FindMember(k);
    return it != o.MemberEnd() && it->value.IsBool() && it->value.GetBool();
}

bool FromJson(const std::string& text, Header* h) {
    rapidjson::Document d;
    d.Parse(text.c_str());
    if (d.HasParseError() || !d.IsObject())
        return false;
    h->uuid = Str(d, "uuid");
    h->label = Str(d, "label");
    h->lvm = Str(d, "lvm");
    h->device = Str(d, "device");
    h->type = Str(d, "type");
    h->index = static_cast<uint32_t>(U64(d, "index"));
    h->count = static_cast<uint32_t>(U64(d, "count", 1));
    h->major = static_cast<uint32_t>(U64(d, "major"));
    h->minor = static_cast<uint32_t>(U64(d, "minor"));
    h->blockSize = U64(d, "blockSize");
    h->used = U64(d, "used");
    h->ats = Bool(d, "ats");
    h->clustered = Bool(d, "clustered");
    h->iorm = Bool(d, "iorm");
    if (auto it = d.FindMember("stats"); it != d.MemberEnd() && it->value.IsArray())
        for (rapidjson::SizeType i = 0; i < it->value.Size() && i < 5; ++i)
            h->stats[i] = it->value[i].IsUint64() ? it->value[i].GetUint64() : 0;
    h->unmapGran = static_cast<uint32_t>(U64(d, "unmapGran"));
    h->unmapBw = static_cast<uint32_t>(U64(d, "unmapBw"));
    h->unmapPrio = Str(d, "unmapPrio");
    h->unmapMethod = Str(d, "unmapMethod");
    h->hb.clear();
    if (auto it = d.FindMember("hb"); it != d.MemberEnd() && it->value.IsArray())
        for (const auto& b : it->value.GetArray())
            if (b.IsObject())
                h->hb.push_back({Str(b, "host"), static_cast<uint32_t>(U64(b, "state")),
                                 b.HasMember("stamp") && b["stamp"].IsInt64() ? b["stamp"].GetInt64() : 0});
    return !h->uuid.empty();
}

// ---- UUIDs ------------------------------------------------------------------------

std::string HexOf(const uint8_t* bytes, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i)
        out += HostCtl::Misc::StrPrintf("%02x", bytes[i]);
    return out;
}

bool BytesOf(const std::string& hex, uint8_t* out16) {
    if (hex.size() != 32)
        return false;
    for (size_t i = 0; i < 16; ++i) {
        unsigned v = 0;
        if (std::sscanf(hex.c_str() + 2 * i, "%2x", &v) != 1)
            return false;
        out16[i] = static_cast<uint8_t>(v);
    }
    return true;
}

// The volume's UUID as the kernel writes it: two 32-bit words, a 16-bit word
// (all in the machine's byte order) and six bytes.
std::string UuidText(const std::string& hex) {
    uint8_t b[16] = {};
    BytesOf(hex, b);
    uint32_t w0, w1;
    uint16_t h;
    std::memcpy(&w0, b, 4);
    std::memcpy(&w1, b + 4, 4);
    std::memcpy(&h, b + 8, 2);
    return HostCtl::Misc::StrPrintf("%08x-%08x-%04hx-%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx", w0, w1, h, b[10],
                                    b[11], b[12], b[13], b[14], b[15]);
}

// The raw bytes behind a UUID text (the profile names volumes that way).
std::string HexOfUuidText(const std::string& text) {
    unsigned w0 = 0, w1 = 0, h = 0;
    char tail[13] = {};
    if (std::sscanf(text.c_str(), "%8x-%8x-%4x-%12[0-9a-fA-F]", &w0, &w1, &h, tail) != 4 || std::strlen(tail) != 12)
        return "";
    uint8_t b[16];
    uint32_t a = w0, c = w1;
    uint16_t s = static_cast<uint16_t>(h);
    std::memcpy(b, &a, 4);
    std::memcpy(b + 4, &c, 4);
    std::memcpy(b + 8, &s, 2);
    for (int i = 0; i < 6; ++i) {
        unsigned v = 0;
        std::sscanf(tail + 2 * i, "%2x", &v);
        b[10 + i] = static_cast<uint8_t>(v);
    }
    return HexOf(b, 16);
}

std::string RandomHex(size_t bytes) {
    static std::random_device rd;
    static std::mt19937_64 gen(rd() ^ static_cast<uint64_t>(NowUS()));
    std::string out;
    while (out.size() < 2 * bytes)
        out += HostCtl::Misc::StrPrintf("%016llx", static_cast<unsigned long long>(gen()));
    return out.substr(0, 2 * bytes);
}

// Stable bytes for a seeded volume without a UUID in the profile.
std::string SeededHex(const std::string& seed) {
    std::string out;
    uint64_t h = 1469598103934665603ull;
    for (int round = 0; out.size() < 32; ++round) {
        for (char ch : seed + std::to_string(round))
            h = (h ^ static_cast<uint8_t>(ch)) * 1099511628211ull;
        out += HostCtl::Misc::StrPrintf("%016llx", static_cast<unsigned long long>(h));
    }
    return out.substr(0, 32);
}

std::string LvmNameFor(const std::string& hex) {
    return hex.substr(0, 8) + "-" + hex.substr(8, 8) + "-" + hex.substr(16, 4) + "-" + hex.substr(20, 12);
}

// ---- Media and kernel state -------------------------------------------------------

bool SplitKey(const std::string& key, std::string* device, uint32_t* partition) {
    auto colon = key.rfind(':');
    if (colon == std::string::npos || colon + 1 >= key.size())
        return false;
    char* end = nullptr;
    unsigned long n = std::strtoul(key.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || n == 0)
        return false;
    *device = key.substr(0, colon);
    *partition = static_cast<uint32_t>(n);
    return true;
}

bool KeyOfDevicePath(const std::string& path, std::string* key) {
    if (path.rfind(kDevPrefix, 0) != 0)
        return false;
    *key = path.substr(std::strlen(kDevPrefix));
    std::string d;
    uint32_t p;
    return SplitKey(*key, &d, &p);
}

bool LoadHeader(const KernelState& s, const std::string& key, Header* h) {
    if (!s.HasAreaValue(kDisk, key))
        return false;
    return FromJson(s.GetAreaValue(kDisk, key), h);
}

void SaveHeader(KernelState& s, const std::string& key, const Header& h) {
    s.SetAreaValue(kDisk, key, ToJson(h));
}

bool PartitionRange(const KernelState& s, const std::string& key, uint64_t* start, uint64_t* end) {
    std::string device;
    uint32_t n;
    if (!SplitKey(key, &device, &n))
        return false;
    KsiStoragePartitionInfo info{};
    if (!s.Read(KSI_NODE_storage_scsifw_devices_partitions_info, {device, std::to_string(n)}, &info))
        return false;
    *start = info.startSector;
    *end = info.endSector;
    return true;
}

// The UUID text of the mounted volume holding `key`, or "".
std::string MountedBy(const KernelState& s, const std::string& key) {
    return s.GetAreaValue(kArea, "extent:" + key);
}

bool IsMounted(const KernelState& s, const std::string& uuidText) {
    return s.Has("", KSI_NODE_system_fsSwitch_volumes, {uuidText});
}

std::vector<std::string> MountedExtents(const KernelState& s, const std::string& uuidText) {
    std::vector<std::string> out;
    for (const auto& i : s.Instances(KSI_LVM_MODULE, KSI_LVM_NODE_EXTENTS, {uuidText})) {
        KsiLvmExtent e{};
        if (s.Read(KSI_LVM_MODULE, KSI_LVM_NODE_EXTENTS, {uuidText, i}, &e))
            out.push_back(std::string(e.device) + ":" + std::to_string(e.partition));
    }
    return out;
}

// "/kdfs/volumes/<UUID or label>" of a mounted volume -> UUID text, or "".
std::string MountedVolumeOfPath(const KernelState& s, const std::string& path) {
    if (path.rfind(kVolPrefix, 0) != 0)
        return "";
    std::string name = path.substr(std::strlen(kVolPrefix));
    if (auto slash = name.find('/'); slash != std::string::npos)
        name.resize(slash);
    if (IsMounted(s, name))
        return name;
    KsiFsVolumeLabel l{};
    if (s.Read(KSI_NODE_system_fsSwitch_volumeLabels, {name}, &l))
        return l.uuid;
    return "";
}

std::string HostUuid(const KernelState& s) {
    return s.GetAreaValue("host", "uuid", "00000000-0000-0000-0000-000000000000");
}

// Makes /kdfs/volumes under the host root match the mounted volumes.
void SyncDirs(const KernelState& s) {
    std::error_code ec;
    const fs::path root = Platform::HostPath("/kdfs/volumes");
    fs::create_directories(root, ec);
    std::map<std::string, std::string> want;  // name -> "" (dir) or link target
    for (const auto& uuid : s.Instances("", KSI_NODE_system_fsSwitch_volumes))
        want[uuid] = "";
    for (const auto& label : s.Instances("", KSI_NODE_system_fsSwitch_volumeLabels)) {
        KsiFsVolumeLabel l{};
        if (s.Read(KSI_NODE_system_fsSwitch_volumeLabels, {label}, &l) && !want.count(label))
            want[label] = l.uuid;
    }
    for (const auto& entry : fs::directory_iterator(root, ec)) {
        const std::string name = entry.path().filename().string();
        auto it = want.find(name);
        bool keep = it != want.end() &&
                    (it->second.empty() ? entry.is_directory() && !entry.is_symlink()
                                        : entry.is_symlink() && fs::read_symlink(entry.path(), ec) == it->second);
        if (!keep)
            fs::remove_all(entry.path(), ec);
    }
    for (const auto& [name, target] : want) {
        if (fs::exists(fs::symlink_status(root / name, ec)))
            continue;
        if (target.empty())
            fs::create_directory(root / name, ec);
        else
            fs::create_directory_symlink(target, root / name, ec);
    }
}

// The file-system switch's type word for a create type.
const char* TypeWord(const std::string& createType) {
    if (createType == "kdfsl" || createType == "kdfs6l")
        return "KDFS-L";
    return createType == "kdfsos" ? "KDFSOS" : "KDFS";
}

// Rewrites the switch records of a mounted volume from its headers.
void Publish(KernelState& s, const std::string& uuidText) {
    KsiFsVolume v{};
    if (!s.Read(KSI_NODE_system_fsSwitch_volumes, {uuidText}, &v))
        return;
    const auto extents = MountedExtents(s, uuidText);
    Header head;
    if (extents.empty() || !LoadHeader(s, extents.front(), &head))
        return;
    uint64_t sectors = 0;
    for (const auto& key : extents) {
        uint64_t a = 0, b = 0;
        if (PartitionRange(s, key, &a, &b))
            sectors += b - a + 1;
    }
    const std::string oldLabel = v.label;
    Copy(v.label, head.label);
    Copy(v.lvmName, head.lvm);
    Copy(v.headExtent, extents.front());
    Copy(v.type, TypeWord(head.type));
    v.majorVersion = head.major;
    v.minorVersion = head.minor;
    v.blockSize = head.blockSize;
    v.totalBlocks = head.blockSize ? sectors * 512 / head.blockSize : 0;
    v.blocksUsed = std::min(head.used, v.totalBlocks);
    v.diskBlockSize = 512;
    v.physDiskBlockSize = 512;
    v.flags = (v.flags & (KSI_FS_READ_ONLY | KSI_FS_FORCE_MOUNTED)) | KSI_FS_ACCESSIBLE |
              (head.ats ? uint32_t{KSI_FS_ATS_ONLY} : 0u) | (head.major >= 6 ? uint32_t{KSI_FS_NATIVE_SNAPSHOT} : 0u) |
              (head.iorm ? uint32_t{KSI_FS_IORM_ENABLED} : 0u);
    v.extentCount = static_cast<uint32_t>(extents.size());
    s.Put(KSI_NODE_system_fsSwitch_volumes, {uuidText}, v);
    KsiFsVolumeLabel l{};
    if (oldLabel != head.label && s.Read(KSI_NODE_system_fsSwitch_volumeLabels, {oldLabel}, &l) &&
        uuidText == l.uuid)
        s.Remove("", KSI_NODE_system_fsSwitch_volumeLabels, {oldLabel});
    if (!head.label.empty() && !s.Has("", KSI_NODE_system_fsSwitch_volumeLabels, {head.label})) {
        KsiFsVolumeLabel mine{};
        Copy(mine.uuid, uuidText);
        s.Put(KSI_NODE_system_fsSwitch_volumeLabels, {head.label}, mine);
    }
}

void SetHeartbeat(Header& h, const std::string& host, uint32_t state) {
    for (auto& b : h.hb)
        if (b.host == host) {
            b.state = state;
            b.stamp = NowUS();
            return;
        }
    h.hb.push_back({host, state, NowUS()});
}

// Checks that `keys` are the whole extent set of one volume; the head first.
TARN_ReturnStatus CheckExtentSet(const KernelState& s, std::vector<std::string>& keys, std::vector<Header>& headers,
                                 std::string* error) {
    headers.clear();
    if (keys.empty()) {
        *error = "No extents given";
        return TARN_BAD_PARAM;
    }
    for (const auto& key : keys) {
        Header h;
        if (!LoadHeader(s, key, &h)) {
            *error = "No volume on " + key;
            return TARN_NOT_FOUND;
        }
        if (!MountedBy(s, key).empty()) {
            *error = "Extent " + key + " is in use by a mounted volume";
            return TARN_BUSY;
        }
        headers.push_back(std::move(h));
    }
    std::vector<size_t> order(keys.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return headers[a].index < headers[b].index; });
    std::vector<std::string> k2;
    std::vector<Header> h2;
    for (size_t i : order) {
        k2.push_back(keys[i]);
        h2.push_back(headers[i]);
    }
    keys.swap(k2);
    headers.swap(h2);
    const Header& head = headers.front();
    for (size_t i = 0; i < headers.size(); ++i) {
        if (headers[i].uuid != head.uuid || headers[i].lvm != head.lvm) {
            *error = "Extent " + keys[i] + " belongs to another volume";
            return TARN_BAD_PARAM;
        }
        if (headers[i].index != i || i >= head.count) {
            *error = "Extents of " + head.lvm + " are not complete";
            return TARN_NOT_FOUND;
        }
    }
    if (headers.size() != head.count) {
        *error = "Extents of " + head.lvm + " are not complete";
        return TARN_NOT_FOUND;
    }
    return TARN_OK;
}

TARN_ReturnStatus MountSet(KernelState& s, std::vector<std::string> keys, const std::string& mode,
                           std::string* error, std::string* mountedUuid = nullptr) {
    std::vector<Header> headers;
    TARN_ReturnStatus st = CheckExtentSet(s, keys, headers, error);
    if (st != TARN_OK)
        return st;
    Header& head = headers.front();
    const std::string uuidText = UuidText(head.uuid);
    if (IsMounted(s, uuidText)) {
        *error = "A volume with UUID " + uuidText + " is already mounted";
        return TARN_EXISTS;
    }
    bool snapshot = false;
    for (size_t i = 0; i < keys.size(); ++i) {
        std::string device;
        uint32_t n;
        SplitKey(keys[i], &device, &n);
        snapshot |= headers[i].device != device;
        uint64_t a = 0, b = 0;
        PartitionRange(s, keys[i], &a, &b);
        KsiLvmExtent e{};
        Copy(e.device, device);
        e.partition = n;
        e.index = static_cast<uint32_t>(i);
        e.startSector = a;
        e.endSector = b;
        s.Put(KSI_LVM_MODULE, KSI_LVM_NODE_EXTENTS, {uuidText, std::to_string(i)}, e);
        s.SetAreaValue(kArea, "extent:" + keys[i], uuidText);
    }
    if (mode != "ro")
        SetHeartbeat(head, HostUuid(s), 1);
    SaveHeader(s, keys.front(), head);
    s.Put(KSI_LVM_MODULE, KSI_LVM_NODE_LIGHT_STATS, {uuidText},
          KsiLvmLightStats{head.stats[0], head.stats[1], head.stats[2], head.stats[3],
                           static_cast<uint32_t>(head.stats[4]), 0});
    KsiFsVolume v{};
    Copy(v.uuid, uuidText);
    v.flags = (mode == "ro" ? uint32_t{KSI_FS_READ_ONLY} : 0u) | (snapshot ? uint32_t{KSI_FS_FORCE_MOUNTED} : 0u);
    s.Put(KSI_NODE_system_fsSwitch_volumes, {uuidText}, v);
    Publish(s, uuidText);
    SyncDirs(s);
    if (mountedUuid)
        *mountedUuid = uuidText;
    return TARN_OK;
}

TARN_ReturnStatus Unmount(KernelState& s, const std::string& uuidText) {
    if (!IsMounted(s, uuidText))
        return TARN_NOT_FOUND;
    const auto extents = MountedExtents(s, uuidText);
    KsiFsVolume v{};
    s.Read(KSI_NODE_system_fsSwitch_volumes, {uuidText}, &v);
    Header head;
    if (!extents.empty() && LoadHeader(s, extents.front(), &head)) {
        SetHeartbeat(head, HostUuid(s), 0);
        SaveHeader(s, extents.front(), head);
    }
    KsiFsVolumeLabel l{};
    if (s.Read(KSI_NODE_system_fsSwitch_volumeLabels, {std::string(v.label)}, &l) && uuidText == l.uuid)
        s.Remove("", KSI_NODE_system_fsSwitch_volumeLabels, {std::string(v.label)});
    s.Remove("", KSI_NODE_system_fsSwitch_volumes, {uuidText});
    for (const auto& key : extents)
        s.RemoveAreaValue(kArea, "extent:" + key);
    s.RemoveBelow(KSI_LVM_MODULE, {uuidText});
    SyncDirs(s);
    return TARN_OK;
}

std::vector<std::string> InputTexts(const Call& c, size_t from) {
    std::vector<std::string> out;
    for (size_t i = from; i < c.InputCount(); ++i) {
        std::string t;
        if (c.InputText(i, &t))
            out.push_back(t);
    }
    return out;
}

// Records the disk's partition table as media contents (as the partition tool does).
void SaveTable(KernelState& s, const std::string& disk) {
    std::string media;
    for (const auto& n : s.Instances("", KSI_NODE_storage_scsifw_devices_partitions, {disk})) {
        KsiStoragePartitionInfo p{};
        if (n != "0" && s.Read(KSI_NODE_storage_scsifw_devices_partitions_info, {disk, n}, &p))
            media += n + " " + std::to_string(p.startSector) + " " + std::to_string(p.endSector) + " " +
                     std::string(p.typeGuid) + "\n";
    }
    s.SetAreaValue("disk.partitions", disk, media);
}

// ---- Logical-volume driver nodes ----------------------------------------------------

const NodeRegistration kMountNode(KSI_LVM_MODULE, KSI_LVM_NODE_MOUNT, {
    .set = [](Call& c) -> TARN_ReturnStatus {
        auto in = InputTexts(c, 0);
        if (in.size() < 3)
            return TARN_MISSING_PARAMETER;
        if (in[1] != "rw" && in[1] != "rwlite" && in[1] != "ro")
            return TARN_BAD_PARAM;
        std::vector<std::string> keys(in.begin() + 2, in.end());
        std::string error;
        Header h;
        if (!LoadHeader(c.state, keys.front(), &h) || h.lvm != in[0])
            return TARN_NOT_FOUND;
        TARN_ReturnStatus st = MountSet(c.state, keys, in[1], &error);
        if (st != TARN_OK)
            RaiseEvent(error);
        return st;
    },
});

const NodeRegistration kUnmountNode(KSI_LVM_MODULE, KSI_LVM_NODE_UNMOUNT, {
    .set = [](Call& c) -> TARN_ReturnStatus {
        std::string uuid;
        if (!c.InputText(0, &uuid))
            return TARN_MISSING_PARAMETER;
        return Unmount(c.state, uuid);
    },
});

// Switches I/O resource management of a mounted volume; kept on its head.
const NodeRegistration kIormNode(KSI_LVM_MODULE, KSI_LVM_NODE_IORM, {
    .set = [](Call& c) -> TARN_ReturnStatus {
        std::string uuid, value;
        if (!c.InputText(0, &uuid) || !c.InputText(1, &value))
            return TARN_MISSING_PARAMETER;
        if (value != "0" && value != "1")
            return TARN_BAD_PARAM;
        const auto extents = MountedExtents(c.state, uuid);
        Header head;
        if (!IsMounted(c.state, uuid) || extents.empty() || !LoadHeader(c.state, extents.front(), &head))
            return TARN_NOT_FOUND;
        head.iorm = value == "1";
        SaveHeader(c.state, extents.front(), head);
        Publish(c.state, uuid);
        return TARN_OK;
    },
});

// Gives a copy a new identity (UUID, logical-volume name, label, its own
// devices, no heartbeats) and mounts it.
const NodeRegistration kResignatureNode(KSI_LVM_MODULE, KSI_LVM_NODE_RESIGNATURE, {
    .set = [](Call& c) -> TARN_ReturnStatus {
        auto keys = InputTexts(c, 0);
        std::vector<Header> headers;
        std::string error;
        TARN_ReturnStatus st = CheckExtentSet(c.state, keys, headers, &error);
        if (st != TARN_OK) {
            RaiseEvent(error);
            return st;
        }
        const std::string hex = RandomHex(16);
        const std::string lvm = LvmNameFor(RandomHex(16));
        const std::string label = "snap-" + UuidText(hex).substr(0, 8) + "-" + headers.front().label;
        for (size_t i = 0; i < keys.size(); ++i) {
            Header h = headers[i];
            std::string device;
            uint32_t n;
            SplitKey(keys[i], &device, &n);
            h.uuid = hex;
            h.lvm = lvm;
            h.device = device;
            h.hb.clear();
            if (i == 0)
                h.label = label.substr(0, 128);
            SaveHeader(c.state, keys[i], h);
        }
        return MountSet(c.state, keys, "rw", &error);
    },
});

// ---- File-system library entries --------------------------------------------------------

TARN_ReturnStatus Reply(void* buffer, unsigned length, const std::string& json, TARN_ReturnStatus st = TARN_OK) {
    if (buffer && length) {
        size_t n = std::min<size_t>(json.size(), length - 1);
        std::memcpy(buffer, json.data(), n);
        static_cast<char*>(buffer)[n] = '\0';
    }
    return st;
}

TARN_ReturnStatus Fail(void* buffer, unsigned length, TARN_ReturnStatus st, const std::string& error) {
    return Reply(buffer, length, "{\"error\":" + HostCtl::Misc::JsonQuote(error) + "}", st);
}

using EntryFn = std::function<TARN_ReturnStatus(Call&, const std::vector<std::string>&, void*, unsigned)>;

void RegisterEntry(Entry entry, EntryFn fn) {
    RegisterNode(kLibModule, entry,
                 {.get =
                      [fn](Call& c, void* buffer, unsigned length) {
                          return fn(c, InputTexts(c, 0), buffer, length);
                      },
                  .getChangesState = true});
}

// The head extent key of the volume a library path names: a mounted volume by
// "/kdfs/volumes/<UUID or label>", an unmounted one by its UUID.
std::string HeadOfVolumePath(const KernelState& s, const std::string& path) {
    std::string uuid = MountedVolumeOfPath(s, path);
    if (!uuid.empty()) {
        auto extents = MountedExtents(s, uuid);
        return extents.empty() ? "" : extents.front();
    }
    if (path.rfind(kVolPrefix, 0) != 0)
        return "";
    const std::string name = path.substr(std::strlen(kVolPrefix));
    for (const auto& key : s.AreaKeys(kDisk)) {
        Header h;
        std::string device;
        uint32_t n;
        if (LoadHeader(s, key, &h) && h.index == 0 && UuidText(h.uuid) == name && SplitKey(key, &device, &n) &&
            h.device == device)
            return key;
    }
    return "";
}

uint64_t SectorsOf(const KernelState& s, const std::vector<std::string>& keys) {
    uint64_t total = 0;
    for (const auto& k : keys) {
        uint64_t a = 0, b = 0;
        if (PartitionRange(s, k, &a, &b))
            total += b - a + 1;
    }
    return total;
}

const bool kEntries = [] {
    RegisterEntry(kInit, [](Call&, const auto&, void* b, unsigned l) { return Reply(b, l, "{}"); });

    RegisterEntry(kCreateFS, [](Call& c, const auto& in, void* b, unsigned l) -> TARN_ReturnStatus {
        // devicePath, createType, label, blockSize, count, options, unmapGranularity, unmapPriority
        if (in.size() < 8)
            return Fail(b, l, TARN_MISSING_PARAMETER, "Incomplete create request");
        std::string key;
        if (!KeyOfDevicePath(in[0], &key))
            return Fail(b, l, TARN_BAD_PARAM, "Invalid device path " + in[0]);
        uint64_t start = 0, end = 0;
        if (!PartitionRange(c.state, key, &start, &end))
            return Fail(b, l, TARN_NOT_FOUND, "Could not open device " + in[0]);
        if (!MountedBy(c.state, key).empty())
            return Fail(b, l, TARN_BUSY, "Device " + in[0] + " is in use by a mounted volume");
        if (end - start + 1 < kMinSectors)
            return Fail(b, l, TARN_LIMIT_EXCEEDED, "Partition " + key + " is too small for a volume (at least 1 GiB)");
        static const std::map<std::string, std::pair<uint32_t, uint32_t>> kVersions = {
            {"kdfs3", {3, 61}}, {"kdfs5", {5, 82}}, {"kdfs6", {6, 82}}, {"kdfsl", {5, 82}}, {"kdfs6l", {6, 82}}};
        auto v = kVersions.find(in[1]);
        if (v == kVersions.end())
            return Fail(b, l, TARN_NOT_SUPPORTED, "Unknown file system type " + in[1]);
        Header h;
        h.uuid = RandomHex(16);
        h.lvm = LvmNameFor(RandomHex(16));
        h.label = in[2];
        SplitKey(key, &h.device, &h.index);
        h.index = 0;
        h.count = 1;
        h.type = in[1];
        h.major = v->second.first;
        h.minor = v->second.second;
        h.blockSize = std::strtoull(in[3].c_str(), nullptr, 10);
        h.used = 1 + (h.blockSize ? (end - start + 1) * 512 / h.blockSize / 64 : 0);  // metadata
        if (std::strtoul(in[6].c_str(), nullptr, 10))
            h.unmapGran = static_cast<uint32_t>(std::strtoul(in[6].c_str(), nullptr, 10));
        static const char* const kPrio[] = {"none", "low", "medium", "high"};
        unsigned prio = static_cast<unsigned>(std::strtoul(in[7].c_str(), nullptr, 10));
        if (prio < 4 && (std::strtoul(in[6].c_str(), nullptr, 10) || prio))
            h.unmapPrio = kPrio[prio];
        if (!h.label.empty() && c.state.Has("", KSI_NODE_system_fsSwitch_volumeLabels, {h.label}))
            return Fail(b, l, TARN_EXISTS, "A volume labelled " + h.label + " is already mounted");
        SaveHeader(c.state, key, h);
        std::string error, uuid;
        TARN_ReturnStatus st = MountSet(c.state, {key}, "rw", &error, &uuid);
        if (st != TARN_OK)
            return Fail(b, l, st, error);
        return Reply(b, l, "{\"uuid\":\"" + h.uuid + "\"}");
    });

    RegisterEntry(kSpanFS, [](Call& c, const auto& in, void* b, unsigned l) -> TARN_ReturnStatus {
        if (in.size() < 2)
            return Fail(b, l, TARN_MISSING_PARAMETER, "Incomplete span request");
        const std::string uuid = MountedVolumeOfPath(c.state, in[0]);
        if (uuid.empty())
            return Fail(b, l, TARN_NOT_FOUND, "No mounted volume " + in[0]);
        std::string key;
        uint64_t start = 0, end = 0;
        if (!KeyOfDevicePath(in[1], &key) || !PartitionRange(c.state, key, &start, &end))
            return Fail(b, l, TARN_NOT_FOUND, "Could not open device " + in[1]);
        if (!MountedBy(c.state, key).empty())
            return Fail(b, l, TARN_BUSY, "Device " + in[1] + " is in use by a mounted volume");
        auto extents = MountedExtents(c.state, uuid);
        if (extents.size() >= 32)
            return Fail(b, l, TARN_LIMIT_EXCEEDED, "A volume has at most 32 extents");
        Header head;
        LoadHeader(c.state, extents.front(), &head);
        const uint32_t count = static_cast<uint32_t>(extents.size()) + 1;
        for (const auto& k : extents) {
            Header h;
            LoadHeader(c.state, k, &h);
            h.count = count;
            if (k == extents.front())
                head = h;
            SaveHeader(c.state, k, h);
        }
        Header ext;
        ext.uuid = head.uuid;
        ext.lvm = head.lvm;
        SplitKey(key, &ext.device, &ext.index);
        ext.index = count - 1;
        ext.count = count;
        ext.type = head.type;
        ext.major = head.major;
        ext.minor = head.minor;
        ext.blockSize = head.blockSize;
        SaveHeader(c.state, key, ext);
        std::string device;
        uint32_t n;
        SplitKey(key, &device, &n);
        KsiLvmExtent e{};
        Copy(e.device, device);
        e.partition = n;
        e.index = count - 1;
        e.startSector = start;
        e.endSector = end;
        c.state.Put(KSI_LVM_MODULE, KSI_LVM_NODE_EXTENTS, {uuid, std::to_string(count - 1)}, e);
        c.state.SetAreaValue(kArea, "extent:" + key, uuid);
        Publish(c.state, uuid);
        return Reply(b, l, "{}");
    });

    // Grows an extent's partition over the free space that follows it.
    RegisterEntry(kGrowFS, [](Call& c, const auto& in, void* b, unsigned l) -> TARN_ReturnStatus {
        if (in.size() < 2)
            return Fail(b, l, TARN_MISSING_PARAMETER, "Incomplete grow request");
        const std::string uuid = MountedVolumeOfPath(c.state, in[0]);
        std::string key;
        if (uuid.empty())
            return Fail(b, l, TARN_NOT_FOUND, "No mounted volume " + in[0]);
        if (!KeyOfDevicePath(in[1], &key) || MountedBy(c.state, key) != uuid)
            return Fail(b, l, TARN_BAD_PARAM, in[1] + " is not an extent of the volume");
        std::string device;
        uint32_t n;
        SplitKey(key, &device, &n);
        KsiStorageDeviceInfo info{};
        c.state.Read(KSI_NODE_storage_scsifw_devices_info, {device}, &info);
        uint64_t start = 0, end = 0;
        PartitionRange(c.state, key, &start, &end);
        uint64_t limit = info.numBlocks ? info.numBlocks - 34 : 0;  // keep the backup table
        for (const auto& other : c.state.Instances("", KSI_NODE_storage_scsifw_devices_partitions, {device})) {
            KsiStoragePartitionInfo p{};
            if (other != "0" && other != std::to_string(n) &&
                c.state.Read(KSI_NODE_storage_scsifw_devices_partitions_info, {device, other}, &p) &&
                p.startSector > end && p.startSector - 1 < limit)
                limit = p.startSector - 1;
        }
        if (limit <= end)
            return Fail(b, l, TARN_LIMIT_EXCEEDED, "No free space after extent " + key);
        KsiStoragePartitionInfo p{};
        c.state.Read(KSI_NODE_storage_scsifw_devices_partitions_info, {device, std::to_string(n)}, &p);
        p.endSector = limit;
        c.state.Put(KSI_NODE_storage_scsifw_devices_partitions_info, {device, std::to_string(n)}, p);
        SaveTable(c.state, device);
        for (const auto& i : c.state.Instances(KSI_LVM_MODULE, KSI_LVM_NODE_EXTENTS, {uuid})) {
            KsiLvmExtent e{};
            if (c.state.Read(KSI_LVM_MODULE, KSI_LVM_NODE_EXTENTS, {uuid, i}, &e) && device == e.device &&
                e.partition == n) {
                e.endSector = limit;
                c.state.Put(KSI_LVM_MODULE, KSI_LVM_NODE_EXTENTS, {uuid, i}, e);
            }
        }
        Publish(c.state, uuid);
        return Reply(b, l, "{}");
    });

    RegisterEntry(kSetFSName, [](Call& c, const auto& in, void* b, unsigned l) -> TARN_ReturnStatus {
        if (in.size() < 2)
            return Fail(b, l, TARN_MISSING_PARAMETER, "Incomplete rename request");
        const std::string uuid = MountedVolumeOfPath(c.state, in[0]);
        if (uuid.empty())
            return Fail(b, l, TARN_NOT_FOUND, "No mounted volume " + in[0]);
        KsiFsVolumeLabel other{};
        if (!in[1].empty() && c.state.Read(KSI_NODE_system_fsSwitch_volumeLabels, {in[1]}, &other) &&
            uuid != other.uuid)
            return Fail(b, l, TARN_EXISTS, "A volume labelled " + in[1] + " is already mounted");
        if (in[1].size() > 128)
            return Fail(b, l, TARN_BAD_PARAM, "Label too long");
        const auto extents = MountedExtents(c.state, uuid);
        Header head;
        LoadHeader(c.state, extents.front(), &head);
        head.label = in[1];
        SaveHeader(c.state, extents.front(), head);
        Publish(c.state, uuid);
        SyncDirs(c.state);
        return Reply(b, l, "{}");
    });

    RegisterEntry(kUpgradeFS, [](Call& c, const auto& in, void* b, unsigned l) -> TARN_ReturnStatus {
        const std::string key = in.empty() ? "" : HeadOfVolumePath(c.state, in[0]);
        Header h;
        if (key.empty() || !LoadHeader(c.state, key, &h))
            return Fail(b, l, TARN_NOT_FOUND, "No volume " + (in.empty() ? std::string() : in[0]));
        if (h.major != 3)
            return Fail(b, l, TARN_INVALID_STATE, "Volume is not a version 3 volume");
        h.major = 5;
        h.minor = 82;
        h.type = "kdfs5";
        SaveHeader(c.state, key, h);
        if (!MountedBy(c.state, key).empty())
            Publish(c.state, MountedBy(c.state, key));
        return Reply(b, l, "{}");
    });

    RegisterEntry(kConfigATSOnly, [](Call& c, const auto& in, void* b, unsigned l) -> TARN_ReturnStatus {
        std::string key;
        Header h;
        if (in.size() < 2 || !KeyOfDevicePath(in[0], &key) || !LoadHeader(c.state, key, &h) || h.index != 0)
            return Fail(b, l, TARN_NOT_FOUND, "No volume head on " + (in.empty() ? std::string() : in[0]));
        h.ats = in[1] == "1";
        SaveHeader(c.state, key, h);
        if (!MountedBy(c.state, key).empty())
            Publish(c.state, MountedBy(c.state, key));
        return Reply(b, l, "{}");
    });

    RegisterEntry(kGetFSUnmapProperty, [](Call& c, const auto& in, void* b, unsigned l) -> TARN_ReturnStatus {
        std::string key;
        Header h;
        if (in.empty() || !KeyOfDevicePath(in[0], &key) || !LoadHeader(c.state, key, &h))
            return Fail(b, l, TARN_NOT_FOUND, "No volume head");
        return Reply(b, l,
                     HostCtl::Misc::StrPrintf("{\"granularity\":%u,\"priority\":%s,\"method\":%s,\"bandwidth\":%u}",
                                              h.unmapGran, HostCtl::Misc::JsonQuote(h.unmapPrio).c_str(),
                                              HostCtl::Misc::JsonQuote(h.unmapMethod).c_str(), h.unmapBw));
    });

    RegisterEntry(kSetFSUnmapProperty, [](Call& c, const auto& in, void* b, unsigned l) -> TARN_ReturnStatus {
        // headPath, granularity, priority, method, bandwidth
        std::string key;
        Header h;
        if (in.size() < 5 || !KeyOfDevicePath(in[0], &key) || !LoadHeader(c.state, key, &h))
            return Fail(b, l, TARN_NOT_FOUND, "No volume head");
        static const std::set<std::string> kPrio = {"none", "low", "medium", "high"};
        if ((in[3] != "priority" && in[3] != "fixed") || (in[3] == "priority" && !kPrio.count(in[2])))
            return Fail(b, l, TARN_BAD_PARAM, "Invalid unmap property");
        h.unmapGran = static_cast<uint32_t>(std::strtoul(in[1].c_str(), nullptr, 10));
        h.unmapPrio = in[2];
        h.unmapMethod = in[3];
        h.unmapBw = static_cast<uint32_t>(std::strtoul(in[4].c_str(), nullptr, 10));
        SaveHeader(c.state, key, h);
        return Reply(b, l, "{}");
    });

    RegisterEntry(kGetVolUnmapCapability, [](Call& c, const auto& in, void* b, unsigned l) -> TARN_ReturnStatus {
        const std::string uuid = in.empty() ? "" : MountedVolumeOfPath(c.state, in[0]);
        if (uuid.empty())
            return Fail(b, l, TARN_NOT_FOUND, "No mounted volume");
        bool all = true;
        for (const auto& key : MountedExtents(c.state, uuid)) {
            std::string device;
            uint32_t n;
            SplitKey(key, &device, &n);
            KsiStorageDeviceInfo info{};
            c.state.Read(KSI_NODE_storage_scsifw_devices_info, {device}, &info);
            // Local spinning disks cannot unmap.
            if ((info.flags & KSI_DEVICE_LOCAL) && !(info.flags & KSI_DEVICE_SSD))
                all = false;
        }
        return Reply(b, l, std::string("{\"all\":") + (all ? "true" : "false") + "}");
    });

    RegisterEntry(kInitAsyncUnmap, [](Call& c, const auto& in, void* b, unsigned l) -> TARN_ReturnStatus {
        const std::string uuid = in.empty() ? "" : MountedVolumeOfPath(c.state, in[0]);
        if (uuid.empty() || in.size() < 2)
            return Fail(b, l, TARN_NOT_FOUND, "No mounted volume");
        const uint64_t handle = std::strtoull(c.state.GetAreaValue(kArea, "unmapNext", "1").c_str(), nullptr, 10);
        c.state.SetAreaValue(kArea, "unmapNext", std::to_string(handle + 1));
        c.state.SetAreaValue(kArea, "unmap:" + std::to_string(handle), uuid + " " + in[1]);
        return Reply(b, l, "{\"handle\":" + std::to_string(handle) + "}");
    });

    RegisterEntry(kPerformAsyncUnmap, [](Call& c, const auto& in, void* b, unsigned l) -> TARN_ReturnStatus {
        const std::string job = in.empty() ? "" : c.state.GetAreaValue(kArea, "unmap:" + in[0]);
        if (job.empty())
            return Fail(b, l, TARN_NOT_FOUND, "No unmap in progress");
        KsiFsVolume v{};
        c.state.Read(KSI_NODE_system_fsSwitch_volumes, {job.substr(0, job.find(' '))}, &v);
        return Reply(b, l, "{\"reclaimed\":" + std::to_string(v.totalBlocks - v.blocksUsed) + "}");
    });

    RegisterEntry(kEndAsyncUnmap, [](Call& c, const auto& in, void* b, unsigned l) -> TARN_ReturnStatus {
        if (in.empty() || !c.state.RemoveAreaValue(kArea, "unmap:" + in[0]))
            return Fail(b, l, TARN_NOT_FOUND, "No unmap in progress");
        return Reply(b, l, "{}");
    });

    RegisterEntry(kCheckForExistingFS, [](Call& c, const auto& in, void* b, unsigned l) -> TARN_ReturnStatus {
        std::string key;
        Header h;
        if (in.empty() || !KeyOfDevicePath(in[0], &key) || !LoadHeader(c.state, key, &h))
            return Fail(b, l, TARN_NOT_FOUND, "No volume on " + (in.empty() ? std::string() : in[0]));
        std::string out = "{\"hb\":[";
        for (size_t i = 0; i < h.hb.size(); ++i)
            out += (i ? "," : "") + HostCtl::Misc::StrPrintf("{\"host\":%s,\"state\":%u,\"stamp\":%lld}",
                                                             HostCtl::Misc::JsonQuote(h.hb[i].host).c_str(),
                                                             h.hb[i].state, static_cast<long long>(h.hb[i].stamp));
        return Reply(b, l, out + "]}");
    });

    RegisterEntry(kScanAdapter, [](Call& c, const auto& in, void* b, unsigned l) -> TARN_ReturnStatus {
        if (!in.empty() && !in[0].empty() && !c.state.Has("", KSI_NODE_storage_scsifw_adapters, {in[0]}))
            return Fail(b, l, TARN_NOT_FOUND, "No adapter " + in[0]);
        SyncDirs(c.state);
        return Reply(b, l, "{}");
    });

    RegisterEntry(kRescanDevices, [](Call& c, const auto&, void* b, unsigned l) -> TARN_ReturnStatus {
        SyncDirs(c.state);
        return Reply(b, l, "{}");
    });

    RegisterEntry(kReserveDisk, [](Call& c, const auto& in, void* b, unsigned l) -> TARN_ReturnStatus {
        KsiStorageDeviceInfo info{};
        if (in.size() < 2 || !c.state.Read(KSI_NODE_storage_scsifw_devices_info, {in[0]}, &info))
            return Fail(b, l, TARN_NOT_FOUND, "No device " + (in.empty() ? std::string() : in[0]));
        if (info.type != 0)
            return Fail(b, l, TARN_NOT_SUPPORTED, "Not a disk");
        if (in[1] == "reserve")
            c.state.SetAreaValue(kArea, "reserved:" + in[0], "1");
        else if (in[1] == "lunreset")
            c.state.RemoveAreaValue(kArea, "reserved:" + in[0]);
        else
            return Fail(b, l, TARN_BAD_PARAM, "Unknown operation " + in[1]);
        return Reply(b, l, "{}");
    });

    RegisterEntry(kGetKDFSVersion, [](Call& c, const auto& in, void* b, unsigned l) -> TARN_ReturnStatus {
        const std::string key = in.empty() ? "" : HeadOfVolumePath(c.state, in[0]);
        Header h;
        if (key.empty() || !LoadHeader(c.state, key, &h))
            return Fail(b, l, TARN_NOT_FOUND, "No volume");
        return Reply(b, l, HostCtl::Misc::StrPrintf("{\"major\":%u,\"minor\":%u}", h.major, h.minor));
    });

    RegisterEntry(kGetDeviceProperties, [](Call& c, const auto& in, void* b, unsigned l) -> TARN_ReturnStatus {
        std::string key;
        uint64_t start = 0, end = 0;
        if (in.empty() || !KeyOfDevicePath(in[0], &key) || !PartitionRange(c.state, key, &start, &end))
            return Fail(b, l, TARN_NOT_FOUND, "Could not open device " + (in.empty() ? std::string() : in[0]));
        Header h;
        if (!LoadHeader(c.state, key, &h))
            return Reply(b, l, "{\"kdfs\":false}");
        // The label and version live on the head; other extents name the volume only.
        Header head = h;
        for (const auto& other : c.state.AreaKeys(kDisk)) {
            Header o;
            if (h.index != 0 && LoadHeader(c.state, other, &o) && o.index == 0 && o.lvm == h.lvm &&
                o.uuid == h.uuid) {
                head = o;
                break;
            }
        }
        return Reply(b, l,
                     HostCtl::Misc::StrPrintf(
                         "{\"kdfs\":true,\"uuid\":\"%s\",\"label\":%s,\"lvm\":%s,\"index\":%u,\"count\":%u,"
                         "\"device\":%s,\"start\":%llu,\"end\":%llu,\"type\":%s,\"major\":%u,\"minor\":%u,"
                         "\"blockSize\":%llu}",
                         h.uuid.c_str(), HostCtl::Misc::JsonQuote(head.label).c_str(),
                         HostCtl::Misc::JsonQuote(h.lvm).c_str(), h.index, h.count,
                         HostCtl::Misc::JsonQuote(h.device).c_str(), static_cast<unsigned long long>(start),
                         static_cast<unsigned long long>(end), HostCtl::Misc::JsonQuote(head.type).c_str(),
                         head.major, head.minor, static_cast<unsigned long long>(head.blockSize)));
    });

    RegisterEntry(kGetKDFSHostUUID, [](Call& c, const auto&, void* b, unsigned l) -> TARN_ReturnStatus {
        return Reply(b, l, "{\"uuid\":" + HostCtl::Misc::JsonQuote(HostUuid(c.state)) + "}");
    });

    auto clustered = [](Call& c, const std::vector<std::string>& in, void* b, unsigned l, int set) {
        const std::string key = in.empty() ? "" : HeadOfVolumePath(c.state, in[0]);
        Header h;
        if (key.empty() || !LoadHeader(c.state, key, &h))
            return Fail(b, l, TARN_NOT_FOUND, "No volume");
        if (set >= 0) {
            h.clustered = set == 1;
            SaveHeader(c.state, key, h);
        }
        return Reply(b, l, std::string("{\"enabled\":") + (h.clustered ? "true" : "false") + "}");
    };
    RegisterEntry(kGetClusteredVMDKVol,
                  [clustered](Call& c, const auto& in, void* b, unsigned l) { return clustered(c, in, b, l, -1); });
    RegisterEntry(kSetClusteredVMDKVol, [clustered](Call& c, const auto& in, void* b, unsigned l) {
        return clustered(c, in, b, l, in.size() > 1 && in[1] == "1" ? 1 : 0);
    });
    RegisterEntry(kSetClusteredVMDKState, [](Call& c, const auto& in, void* b, unsigned l) -> TARN_ReturnStatus {
        const std::string uuid = in.empty() ? "" : MountedVolumeOfPath(c.state, in[0]);
        if (uuid.empty())
            return Fail(b, l, TARN_NOT_FOUND, "No mounted volume");
        return Reply(b, l, "{}");
    });
    return true;
}();

// ---- The area -----------------------------------------------------------------------------

// Profile section "kdfs": {"volumes": [{"label", "uuid"?, "version"?, "blockSize"?,
// "extents": ["device:partition", ...], "usedPercent"?, "mounted"?, "type"?: "osdata",
// "iorm"?, "stats"?: {"reads", "writes", "readBytes", "writeBytes", "openFiles"}, "heartbeats"?:
// [{"host", "state"}]}], "copies": [{"extent": "device:partition", "of":
// "device:partition", "extents"?: n}]}. Written to the media once, at init.
void Seed(KernelState& s, const rapidjson::Value& section) {
    if (auto it = section.FindMember("volumes"); it != section.MemberEnd() && it->value.IsArray()) {
        for (const auto& v : it->value.GetArray()) {
            if (!v.IsObject() || !v.HasMember("extents") || !v["extents"].IsArray())
                continue;
            std::vector<std::string> keys;
            for (const auto& e : v["extents"].GetArray())
                if (e.IsString())
                    keys.push_back(e.GetString());
            if (keys.empty())
                continue;
            const std::string label = Str(v, "label");
            std::string hex = HexOfUuidText(Str(v, "uuid"));
            if (hex.empty())
                hex = SeededHex("volume:" + label + keys.front());
            const uint64_t version = U64(v, "version", 6);
            Header head;
            head.uuid = hex;
            head.lvm = LvmNameFor(SeededHex("lvm:" + hex));
            head.label = label;
            head.count = static_cast<uint32_t>(keys.size());
            head.major = static_cast<uint32_t>(version);
            head.minor = version == 3 ? 61 : 82;
            head.type = Str(v, "type") == "osdata" ? "kdfsos" : "kdfs" + std::to_string(version);
            head.iorm = Bool(v, "iorm");
            if (auto st = v.FindMember("stats"); st != v.MemberEnd() && st->value.IsObject()) {
                const char* const keys5[] = {"reads", "writes", "readBytes", "writeBytes", "openFiles"};
                for (int i = 0; i < 5; ++i)
                    head.stats[i] = U64(st->value, keys5[i]);
            }
            head.blockSize = U64(v, "blockSize", 1048576);
            const uint64_t sectors = SectorsOf(s, keys);
            head.used = head.blockSize ? sectors * 512 / head.blockSize * U64(v, "usedPercent", 10) / 100 : 0;
            if (auto hb = v.FindMember("heartbeats"); hb != v.MemberEnd() && hb->value.IsArray())
                for (const auto& h : hb->value.GetArray())
                    if (h.IsObject())
                        head.hb.push_back({Str(h, "host"), static_cast<uint32_t>(U64(h, "state")), NowUS()});
            for (size_t i = 0; i < keys.size(); ++i) {
                Header h = i == 0 ? head : Header{};
                if (i != 0) {
                    h.uuid = head.uuid;
                    h.lvm = head.lvm;
                    h.count = head.count;
                    h.type = head.type;
                    h.major = head.major;
                    h.minor = head.minor;
                    h.blockSize = head.blockSize;
                    h.used = 0;
                }
                uint32_t n;
                SplitKey(keys[i], &h.device, &n);
                h.index = static_cast<uint32_t>(i);
                SaveHeader(s, keys[i], h);
            }
            if (!v.HasMember("mounted") || Bool(v, "mounted")) {
                std::string error;
                if (MountSet(s, keys, "rw", &error) != TARN_OK)
                    TarnCtl_LogWarnInt("%s: Volume %s not mounted: %s\n", "TarnSim", label.c_str(), error.c_str());
            }
        }
    }
    if (auto it = section.FindMember("copies"); it != section.MemberEnd() && it->value.IsArray()) {
        for (const auto& c : it->value.GetArray()) {
            Header h;
            if (!c.IsObject() || !LoadHeader(s, Str(c, "of"), &h))
                continue;
            h.count = static_cast<uint32_t>(U64(c, "extents", h.count));
            SaveHeader(s, Str(c, "extent"), h);
        }
    }
}

// Partition tables written since the host was made are media contents: put
// them back over the profile's after a reboot.
void RestorePartitionTables(KernelState& s) {
    for (const auto& disk : s.AreaKeys("disk.partitions")) {
        if (!s.Has("", KSI_NODE_storage_scsifw_devices_partitions, {disk, "0"}))
            continue;
        for (const auto& n : s.Instances("", KSI_NODE_storage_scsifw_devices_partitions, {disk}))
            if (n != "0") {
                s.Remove("", KSI_NODE_storage_scsifw_devices_partitions, {disk, n});
                s.Remove("", KSI_NODE_storage_scsifw_devices_partitions_info, {disk, n});
            }
        std::istringstream in(s.GetAreaValue("disk.partitions", disk));
        uint32_t number;
        KsiStoragePartitionInfo p{};
        std::string guid;
        while (in >> number >> p.startSector >> p.endSector >> guid) {
            Copy(p.typeGuid, guid);
            s.Put(KSI_NODE_storage_scsifw_devices_partitions, {disk, std::to_string(number)}, KsiStorageValue{1});
            s.Put(KSI_NODE_storage_scsifw_devices_partitions_info, {disk, std::to_string(number)}, p);
        }
    }
}

const AreaRegistration kArea_({
    .name = "kdfs",
    .order = 30,
    .init =
        [](KernelState& s, const rapidjson::Value* section) {
            RestorePartitionTables(s);
            if (!s.HasAreaValue(kDisk, "#seeded")) {
                s.SetAreaValue(kDisk, "#seeded", "1");
                if (section && section->IsObject())
                    Seed(s, *section);
            }
            SyncDirs(s);
        },
});

}  // namespace

}  // namespace TarnSim
