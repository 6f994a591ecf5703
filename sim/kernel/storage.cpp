// The simulated storage area: fills the kernel from the "storage" profile
// section, generates synthetic hosts for `hostctl sim generate`, and models
// the storage nodes that act: device state and tuning writes, persistent
// device attributes, the rescan steps (which compare the kernel with the
// host's current profile), the rescan-running mark and claiming.
#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include <rapidjson/document.h>

#include "hostctl/status.h"
#include "ksi/storage.h"
#include "platform/misc.h"
#include "sim/kernel.h"
#include "storage_model.h"

namespace TarnSim {

namespace {

using namespace StorageModel;

void InitStorage(KernelState& state, const rapidjson::Value* section) {
    LoadPersistentAttributes(state);
    Hardware hw = Parse(section);
    for (const auto& a : hw.adapters)
        AddAdapter(state, a);
    for (const auto& d : hw.devices)
        AddDevice(state, d);
}

// ---- Generator ------------------------------------------------------------------

using Alloc = rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>;

rapidjson::Value Text(const std::string& s, Alloc& alloc) {
    return rapidjson::Value(s.c_str(), static_cast<rapidjson::SizeType>(s.size()), alloc);
}

void Generate(rapidjson::Value& out, Alloc& alloc, const GenerateOptions& options) {
    const long adapterCount = std::max(2L, options.Get("storage-adapters", 4));
    const long deviceCount = std::max(0L, options.Get("storage-devices", 64));
    const long pathsPerDevice = std::max(1L, options.Get("paths-per-device", 4));
    out.SetObject();
    rapidjson::Value adapters(rapidjson::kArrayType);
    // One local SAS controller; the rest are Fibre Channel ports to an array.
    std::vector<std::string> fabric;
    for (long i = 0; i < adapterCount; ++i) {
        rapidjson::Value a(rapidjson::kObjectType);
        std::string name = "hbx" + std::to_string(i);
        bool local = i == 0;
        a.AddMember("name", Text(name, alloc), alloc);
        a.AddMember("driver", Text(local ? "mpt3_native" : "qla_native", alloc), alloc);
        a.AddMember("transport", Text(local ? "sas" : "fc", alloc), alloc);
        a.AddMember("description", Text(local ? "SAS3008 Fusion-MPT SAS-3" : "ISP2722 16Gb FC HBA", alloc), alloc);
        a.AddMember("uid", Text(HostCtl::Misc::StrPrintf(local ? "sas.500605b0%08lx" : "fc.20000024ff%06lx:21000024ff%06lx",
                                                         i, i), alloc), alloc);
        a.AddMember("pci", Text(HostCtl::Misc::StrPrintf("0000:%02lx:00.0", i + 3), alloc), alloc);
        adapters.PushBack(a, alloc);
        if (!local)
            fabric.push_back(name);
    }
    rapidjson::Value devices(rapidjson::kArrayType);
    for (long d = 0; d < deviceCount; ++d) {
        rapidjson::Value dev(rapidjson::kObjectType);
        std::string uid = HostCtl::Misc::StrPrintf("naa.60000970000197%010lx", d);
        dev.AddMember("uid", Text(uid, alloc), alloc);
        rapidjson::Value uids(rapidjson::kArrayType);
        uids.PushBack(Text(HostCtl::Misc::StrPrintf("vml.0200%010lx", d), alloc), alloc);
        dev.AddMember("uids", uids, alloc);
        dev.AddMember("type", "disk", alloc);
        dev.AddMember("vendor", "TARNARR", alloc);
        dev.AddMember("model", "SYMMETRIC-ARRAY", alloc);
        dev.AddMember("blocks", static_cast<uint64_t>(2147483648ull), alloc);
        rapidjson::Value paths(rapidjson::kArrayType);
        for (long p = 0; p < pathsPerDevice; ++p) {
            rapidjson::Value path(rapidjson::kObjectType);
            const std::string& adapter = fabric[static_cast<size_t>(p) % fabric.size()];
            path.AddMember("adapter", Text(adapter, alloc), alloc);
            path.AddMember("target", static_cast<uint64_t>(p / fabric.size()), alloc);
            path.AddMember("lun", static_cast<uint64_t>(d), alloc);
            paths.PushBack(path, alloc);
        }
        dev.AddMember("paths", paths, alloc);
        devices.PushBack(dev, alloc);
    }
    out.AddMember("adapters", adapters, alloc);
    out.AddMember("devices", devices, alloc);
}

const AreaRegistration storageArea({
    .name = "storage",
    .order = 20,
    .init = InitStorage,
    .generate = Generate,
    .options = {{"storage-adapters", "storage adapters (one SAS, the rest Fibre Channel)", 4},
                {"storage-devices", "array devices behind the Fibre Channel adapters", 64},
                {"paths-per-device", "paths of each array device", 4}},
});

// ---- Devices --------------------------------------------------------------------

bool DeviceKnown(const Call& c) {
    return c.instance.size() == 1 && c.state.Has("", KSI_NODE_storage_scsifw_devices, c.instance);
}

TARN_ReturnStatus SetState(Call& c) {
    int64_t value = 0;
    if (!DeviceKnown(c))
        return TARN_NOT_FOUND;
    if (!c.InputInt(0, &value) || (value != 0 && value != 1))
        return TARN_BAD_PARAM;
    DeviceFlags flags{};
    c.state.Read(kModule, kDeviceFlagsNode, c.instance, &flags);
    if (flags.stateStatus != TARN_OK) {
        RaiseEvent("Device " + c.instance[0] + " refused the state change");
        return flags.stateStatus;
    }
    KsiStorageDeviceInfo info{};
    c.state.Read(KSI_NODE_storage_scsifw_devices_info, c.instance, &info);
    if (info.status != 0 && info.status != 1) {
        RaiseEvent("Device " + c.instance[0] + " is not in a state that can be changed");
        return TARN_INVALID_STATE;
    }
    info.status = static_cast<uint32_t>(value);
    c.state.Put(KSI_NODE_storage_scsifw_devices_info, c.instance, info);
    return TARN_OK;
}

// A one-value device node written with one integer input within [lo, hi].
NodeHandler ValueNode(int64_t lo, int64_t hi) {
    NodeHandler h;
    h.set = [lo, hi](Call& c) -> TARN_ReturnStatus {
        int64_t value = 0;
        if (!DeviceKnown(c))
            return TARN_NOT_FOUND;
        if (!c.InputInt(0, &value) || value < lo || value > hi)
            return TARN_BAD_PARAM;
        c.state.Put(c.node, c.instance, KsiStorageValue{static_cast<uint32_t>(value)});
        return TARN_OK;
    };
    h.setStruct = [](Call&, const void*, unsigned int) { return TARN_NOT_SUPPORTED; };
    return h;
}

const NodeRegistration stateNode(KSI_NODE_storage_scsifw_devices_state, {.set = SetState});
const NodeRegistration maxQueueDepthNode(KSI_NODE_storage_scsifw_devices_maxQueueDepth, ValueNode(1, 4096));
const NodeRegistration snroNode(KSI_NODE_storage_scsifw_devices_schedReqOutstanding, ValueNode(1, 4096));
const NodeRegistration latencyNode(KSI_NODE_storage_scsifw_devices_SchedulingLatencyThreshold,
                                   ValueNode(0, 0xffffffffll));
const NodeRegistration inquiryCacheNode(KSI_NODE_storage_scsifw_devices_ignoreInquiryCache, ValueNode(0, 1));
const NodeRegistration markPdlNode(KSI_NODE_storage_scsifw_devices_markPDL, ValueNode(0, 1));

const NodeRegistration protectionNode(KSI_NODE_storage_scsifw_devices_protectionEnabled, {
    .set = [](Call& c) -> TARN_ReturnStatus {
        int64_t value = 0;
        if (!DeviceKnown(c))
            return TARN_NOT_FOUND;
        if (!c.InputInt(0, &value))
            return TARN_BAD_PARAM;
        KsiStorageDeviceInfo info{};
        c.state.Read(KSI_NODE_storage_scsifw_devices_info, c.instance, &info);
        info.flags = value ? (info.flags | KSI_DEVICE_PROT_ENABLED) : (info.flags & ~KSI_DEVICE_PROT_ENABLED);
        c.state.Put(KSI_NODE_storage_scsifw_devices_info, c.instance, info);
        return TARN_OK;
    },
});

const NodeRegistration qfullNode(KSI_NODE_storage_scsifw_devices_qfullconfigparams, {
    .setStruct = [](Call& c, const void* buffer, unsigned int length) -> TARN_ReturnStatus {
        if (!DeviceKnown(c))
            return TARN_NOT_FOUND;
        if (length < sizeof(KsiStorageQfullParams))
            return TARN_BAD_PARAM;
        KsiStorageQfullParams params{};
        std::memcpy(&params, buffer, sizeof(params));
        if (params.threshold > params.sampleSize || params.threshold > 16)
            return TARN_BAD_PARAM;
        c.state.Put(c.node, c.instance, params);
        return TARN_OK;
    },
});

const NodeRegistration displayNameNode(KSI_NODE_storage_scsifw_devices_displayName, {
    .set = [](Call& c) -> TARN_ReturnStatus {
        std::string name;
        if (!DeviceKnown(c))
            return TARN_NOT_FOUND;
        if (!c.InputText(0, &name) || name.size() >= sizeof(KsiStorageDisplayName::name))
            return TARN_BAD_PARAM;
        KsiStorageDisplayName record{};
        std::memcpy(record.name, name.data(), name.size());
        c.state.Put(c.node, c.instance, record);
        return TARN_OK;
    },
});

// ---- Persistent device attributes -------------------------------------------------

const NodeRegistration persistSetNode(KSI_NODE_storage_scsifw_persistDeviceAttrs_set, {
    .set = [](Call& c) -> TARN_ReturnStatus {
        std::string uid, assignment;
        if (!c.InputText(0, &uid) || !c.InputText(1, &assignment))
            return TARN_BAD_PARAM;
        KsiStoragePersistAttrs attrs{};
        bool known = c.state.Read(KSI_NODE_storage_scsifw_persistDeviceAttrs_uids, {uid}, &attrs);
        // Deleting what is not there succeeds: the device simply has nothing kept.
        if (!known && assignment == "deleted=true")
            return TARN_OK;
        if (!known && !c.state.Has("", KSI_NODE_storage_scsifw_devices, {uid})) {
            RaiseEvent("No device " + uid + " to set attributes on");
            return TARN_NOT_FOUND;
        }
        if (assignment == "deleted=true") {
            c.state.Remove("", KSI_NODE_storage_scsifw_persistDeviceAttrs_uids, {uid});
        } else {
            size_t eq = assignment.find('=');
            std::string key = assignment.substr(0, eq), value = eq == std::string::npos ? "" : assignment.substr(eq + 1);
            if (value != "yes" && value != "no")
                return TARN_BAD_PARAM;
            uint32_t on = value == "yes";
            if (key == "detached")
                attrs.detached = on;
            else if (key == "notShared")
                attrs.notShared = on;
            else if (key == "perennialResvd")
                attrs.perennialResvd = on;
            else
                return TARN_BAD_PARAM;
            c.state.Put(KSI_NODE_storage_scsifw_persistDeviceAttrs_uids, {uid}, attrs);
        }
        SavePersistentAttributes(c.state);
        return TARN_OK;
    },
});

// ---- Rescans ----------------------------------------------------------------------

// The adapter named by the first input, with its scan status; NOT_FOUND for
// an unknown adapter.
TARN_ReturnStatus ScanAdapter(Call& c, std::string* adapter) {
    if (!c.InputText(0, adapter) || !c.state.Has("", KSI_NODE_storage_scsifw_adapters, {*adapter})) {
        RaiseEvent("No adapter " + *adapter + " to scan");
        return TARN_NOT_FOUND;
    }
    AdapterFlags flags{};
    c.state.Read(kModule, kAdapterFlagsNode, {*adapter}, &flags);
    return flags.rescanStatus;
}

TARN_ReturnStatus Discover(Call& c) {
    std::string adapter;
    if (TARN_ReturnStatus st = ScanAdapter(c, &adapter); st != TARN_OK)
        return st;
    uint32_t added = 0;
    for (const auto& d : CurrentHardware().devices) {
        bool onAdapter = std::any_of(d.paths.begin(), d.paths.end(),
                                     [&](const PathSpec& p) { return p.adapter == adapter; });
        if (!onAdapter)
            continue;
        if (!c.state.Has("", KSI_NODE_storage_scsifw_devices, {d.uid})) {
            AddDevice(c.state, d);
            ++added;
            continue;
        }
        for (const auto& p : d.paths)
            if (p.adapter == adapter && !c.state.Has("", KSI_NODE_storage_scsifw_paths, {p.RuntimeName()}))
                AddPath(c.state, d, p);
    }
    KsiStorageRescanResult result{};
    c.state.Read(KSI_NODE_storage_scsifw_delete, {adapter}, &result);
    result.devicesAdded = added;
    c.state.Put(KSI_NODE_storage_scsifw_delete, {adapter}, result);
    return TARN_OK;
}

TARN_ReturnStatus RemoveDead(Call& c) {
    std::string adapter;
    if (TARN_ReturnStatus st = ScanAdapter(c, &adapter); st != TARN_OK)
        return st;
    std::set<std::string> present;  // "device|path" pairs the hardware still has
    for (const auto& d : CurrentHardware().devices)
        for (const auto& p : d.paths)
            if (p.adapter == adapter)
                present.insert(d.uid + "|" + p.RuntimeName());
    uint32_t removed = 0;
    for (const auto& path : c.state.Instances("", KSI_NODE_storage_scsifw_adapters_paths, {adapter})) {
        KsiStoragePathInfo info{};
        KsiStorageValue pathState{};
        c.state.Read(KSI_NODE_storage_scsifw_paths_info, {path}, &info);
        c.state.Read(KSI_NODE_storage_scsifw_paths_state, {path}, &pathState);
        const std::string device(info.deviceUid, strnlen(info.deviceUid, sizeof(info.deviceUid)));
        const std::string plugin(info.plugin, strnlen(info.plugin, sizeof(info.plugin)));
        // Hardware that left the profile goes; a dead path stays while a
        // multipathing plug-in other than the masking one still holds it.
        bool gone = !present.count(device + "|" + path);
        bool deadAndFree = pathState.value == 2 && (plugin.empty() || plugin == "MASK_PATH");
        if (!gone && !deadAndFree)
            continue;
        RemovePath(c.state, device, adapter, path);
        if (c.state.Instances("", KSI_NODE_storage_scsifw_devices_paths, {device}).empty()) {
            RemoveDevice(c.state, device);
            ++removed;
        }
    }
    KsiStorageRescanResult result{};
    c.state.Read(KSI_NODE_storage_scsifw_delete, {adapter}, &result);
    result.devicesRemoved = removed;
    c.state.Put(KSI_NODE_storage_scsifw_delete, {adapter}, result);
    return TARN_OK;
}

TARN_ReturnStatus UpdatePaths(Call& c) {
    std::string adapter;
    if (TARN_ReturnStatus st = ScanAdapter(c, &adapter); st != TARN_OK)
        return st;
    std::map<std::string, std::string> states;
    for (const auto& d : CurrentHardware().devices)
        for (const auto& p : d.paths)
            if (p.adapter == adapter)
                states[p.RuntimeName()] = p.state;
    for (const auto& path : c.state.Instances("", KSI_NODE_storage_scsifw_adapters_paths, {adapter})) {
        auto it = states.find(path);
        uint32_t value = 2;  // gone from the hardware: dead
        if (it != states.end())
            value = it->second == "off" ? 1 : it->second == "dead" ? 2 : it->second == "standby" ? 3 : 0;
        c.state.Put(KSI_NODE_storage_scsifw_paths_state, {path}, KsiStorageValue{value});
        PathStateChanged(c.state, path);
    }
    return TARN_OK;
}

const NodeRegistration addNode(KSI_NODE_storage_scsifw_add, {.set = Discover});
const NodeRegistration deleteNode(KSI_NODE_storage_scsifw_delete, {
    .set = RemoveDead,
    .setStruct = [](Call&, const void*, unsigned int) { return TARN_NOT_SUPPORTED; },
});
const NodeRegistration updateNode(KSI_NODE_storage_scsifw_update, {.set = UpdatePaths});

const NodeRegistration rescanOnNode(KSI_NODE_storage_scsifw_rescanOn, {
    .set = [](Call& c) -> TARN_ReturnStatus {
        int64_t on = 0, pid = 0;
        if (!c.InputInt(0, &on) || !c.InputInt(1, &pid))
            return TARN_BAD_PARAM;
        c.state.Put(c.node, {}, KsiStorageRescanOn{static_cast<uint32_t>(on != 0), static_cast<uint32_t>(pid)});
        return TARN_OK;
    },
});

// Claiming runs the loaded claim rules over the paths (counted, for tests);
// the multipathing model does the claiming and unclaiming.
const NodeRegistration claimNode(KSI_NODE_storage_scsifw_claimrule, {
    .set = [](Call& c) -> TARN_ReturnStatus {
        long runs = std::stol(c.state.GetAreaValue("storage", "claimRuns", "0"));
        c.state.SetAreaValue("storage", "claimRuns", std::to_string(runs + 1));
        return ClaimRuleCall(c);
    },
});

}  // namespace

}  // namespace TarnSim
