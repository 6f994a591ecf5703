// The simulated PCI tree, filled from the "pci" profile section:
//
//   {"devices": [{"address": "0000:3b:00.0", "vendor": "8086", "device": "1563",
//     "subVendor": "8086", "subDevice": "0001", "class": "0200", "revision": 1,
//     "module": "ixgbe_native", "numa": 0, "express": true, "bridgeTo": 4,
//     "sriov": {"totalVfs": 64, "vfDevice": "1565", "offset": 128, "stride": 1},
//     "dependant": "0000:d8:00.1", "boot": true, "reserved": true, "iommu": true,
//     "acs": true, "hotplugSlot": 3, "dpc": true, "resetMethod": "flr",
//     "owner": "passthru", "inUseByVm": true, "driverVm": true,
//     "hotplug": {"adapterPresent": true, "surprise": false, "attnButton": true},
//     "cxl": {"version": 2, "cache": true, "mem": true, "memBytes": n},
//     "bars": [[addr, size, flags]], "patch": [[offset, byte], ...]}]}
//
// Parents come from the bridges' secondary buses; the configuration space is
// generated from the facts (power management, MSI-X, PCI Express, AER, ACS,
// SR-IOV, DPC) and "patch" overwrites single bytes of it, so a profile can
// describe a broken capability list. The kernel device names of the NICs and
// storage adapters are taken from the network and storage areas' records, so
// there is one model of each device. Setting a function's maximum of virtual
// functions (device-tree node) makes its VFs appear or go.
//
// Host drivers: a function the host owns starts bound to its module; it can
// be unbound and bound again one by one, and a rescan binds every host-owned
// function left without one. Devices of a driver VM or handed to passthrough
// never get a host driver, and a function goes to passthrough only once its
// host driver has let it go (the library unbinds it first). Downstream port containment (DPC): a capable
// port's containment is switched on and off and triggered by software; a
// triggered port reports it in its DPC status register, its link is down and
// the functions below it lose their drivers until the next reboot.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include <rapidjson/document.h>

#include "hostctl/status.h"
#include "ksi/hardware.h"
#include "ksi/network.h"
#include "ksi/storage.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "sim/kernel.h"
#include "sim/profile.h"
#include "hardware_json.h"

namespace TarnSim {

namespace {

using Value = rapidjson::Value;
using namespace Ksi::Hardware;

const char* kArea = "pci";

using namespace HardwareJson;

uint16_t Hex16(const Value* o, const char* key) {
    return static_cast<uint16_t>(std::strtoul(Str(o, key, "0").c_str(), nullptr, 16));
}

struct Sbdf {
    unsigned seg = 0, bus = 0, slot = 0, fn = 0;
    InstancePath Path() const {
        return {std::to_string(seg), std::to_string(bus), std::to_string(slot), std::to_string(fn)};
    }
    std::string Text() const { return HostCtl::Misc::StrPrintf("%04x:%02x:%02x.%x", seg, bus, slot, fn); }
    unsigned Rid() const { return bus << 8 | slot << 3 | fn; }
};

bool ParseSbdf(const std::string& text, Sbdf* out) {
    char tail = 0;
    return std::sscanf(text.c_str(), "%x:%x:%x.%x%c", &out->seg, &out->bus, &out->slot, &out->fn, &tail) == 4 &&
           out->bus < 256 && out->slot < 32 && out->fn < 8 && out->seg < 65536;
}

Sbdf FromPath(const InstancePath& p) {
    Sbdf a;
    if (p.size() >= 4) {
        a.seg = static_cast<unsigned>(std::stoul(p[0]));
        a.bus = static_cast<unsigned>(std::stoul(p[1]));
        a.slot = static_cast<unsigned>(std::stoul(p[2]));
        a.fn = static_cast<unsigned>(std::stoul(p[3]));
    }
    return a;
}

uint32_t ResetWord(const std::string& w) {
    if (w == "none") return kResetNone;
    if (w == "flr" || w == "function") return kResetFunction;
    if (w == "d3d0") return kResetPowerState;
    if (w == "link") return kResetLink;
    if (w == "bridge") return kResetBridge;
    return kResetDefault;
}

void Put16(PciConfigSpace& cs, uint32_t off, uint16_t v) {
    cs.data[off] = static_cast<uint8_t>(v);
    cs.data[off + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(PciConfigSpace& cs, uint32_t off, uint32_t v) {
    Put16(cs, off, static_cast<uint16_t>(v));
    Put16(cs, off + 2, static_cast<uint16_t>(v >> 16));
}

constexpr uint32_t kSriovOffset = 0x160;
constexpr uint32_t kDpcOffset = 0x1a0;
constexpr uint16_t kDpcTriggerEnable = 0x0001;  // control: contain on uncorrectable fatal errors
constexpr uint16_t kDpcSoftwareTriggered = 0x0027;  // status: triggered, reason "software trigger"

struct SriovFacts {
    uint16_t total = 0, offset = 1, stride = 1, vfDevice = 0;
};

// The configuration space of a function from its header and facts.
PciConfigSpace MakeConfigSpace(const PciConfigHeader& h, bool express, int portType, const SriovFacts* sriov,
                               bool dpc, uint16_t numVfs) {
    PciConfigSpace cs{};
    cs.length = express ? kPciConfigSpaceMax : 256;
    Put16(cs, 0x00, h.vendorId);
    Put16(cs, 0x02, h.deviceId);
    Put16(cs, 0x06, 0x0010);  // capability list present
    cs.data[0x08] = h.revision;
    cs.data[0x09] = h.progIf;
    Put16(cs, 0x0a, h.classCode);
    cs.data[0x0e] = h.headerType;
    if (h.headerType == 1) cs.data[0x19] = h.spawnedBus;
    Put16(cs, 0x2c, h.subVendorId);
    Put16(cs, 0x2e, h.subDeviceId);
    cs.data[0x34] = 0x40;
    cs.data[0x3c] = h.interruptLine;
    cs.data[0x3d] = h.pin;
    // Power management -> MSI-X -> PCI Express.
    cs.data[0x40] = 0x01;
    cs.data[0x41] = 0x50;
    cs.data[0x50] = 0x11;
    cs.data[0x51] = express ? 0x70 : 0x00;
    if (express) {
        cs.data[0x70] = 0x10;
        cs.data[0x71] = 0x00;
        Put16(cs, 0x72, static_cast<uint16_t>(0x2 | portType << 4));
        // AER -> ACS -> SR-IOV -> DPC, each pointing at the next present one.
        uint32_t next = sriov ? kSriovOffset : dpc ? kDpcOffset : 0;
        Put32(cs, 0x100, 0x0001 | 1u << 16 | 0x148u << 20);
        Put32(cs, 0x148, 0x000d | 1u << 16 | next << 20);
        if (sriov) {
            Put32(cs, kSriovOffset, 0x0010 | 1u << 16 | (dpc ? kDpcOffset : 0u) << 20);
            Put16(cs, kSriovOffset + 0x0c, sriov->total);
            Put16(cs, kSriovOffset + 0x0e, sriov->total);
            Put16(cs, kSriovOffset + 0x10, numVfs);
            Put16(cs, kSriovOffset + 0x14, sriov->offset);
            Put16(cs, kSriovOffset + 0x16, sriov->stride);
            Put16(cs, kSriovOffset + 0x1a, sriov->vfDevice);
        }
        if (dpc) {
            Put32(cs, kDpcOffset, 0x001d | 1u << 16);
            Put16(cs, kDpcOffset + 0x06, kDpcTriggerEnable);
        }
    }
    return cs;
}

void PutU32(KernelState& s, uint32_t node, const InstancePath& p, uint32_t v) { s.Put(node, p, v); }

void PutAddress(KernelState& s, uint32_t node, const InstancePath& p, const std::string& sbdf) {
    PciAddressText t{};
    CopyText(t.sbdf, sizeof t.sbdf, sbdf);
    s.Put(node, p, t);
}

// Marks a child key below a device (list nodes: children, passthruDependent).
void AddListKey(KernelState& s, uint32_t node, const Sbdf& a, const std::string& key) {
    InstancePath p = a.Path();
    p.push_back(key);
    PutU32(s, node, p, 1);
}

void PutDriver(KernelState& s, const InstancePath& p, const std::string& name) {
    PciDriverBinding b{};
    CopyText(b.name, sizeof b.name, name);
    s.Put(KSI_NODE_hardware_pci_seg_bus_slot_func_driver, p, b);
}

std::string DlKey(uint64_t dl) { return HostCtl::Misc::StrPrintf("dl:0x%llx", static_cast<unsigned long long>(dl)); }

// Writes every record of one function.
void AddFunction(KernelState& s, const Sbdf& a, const PciConfigHeader& h, const PciConfigSpace& cs) {
    InstancePath p = a.Path();
    PutU32(s, KSI_NODE_hardware_pci_seg_bus_slot_func, p, 1);
    s.Put(KSI_NODE_hardware_pci_seg_bus_slot_func_pciConfigHeader, p, h);
    s.Put(KSI_NODE_hardware_pci_seg_bus_slot_func_pciConfigSpace, p, cs);
    s.SetAreaValue(kArea, DlKey(h.dlBusAddress), a.Text());
}

// The VFs of a physical function: `n` functions from its routing id on.
TARN_ReturnStatus SetVfs(KernelState& s, const Sbdf& pf, uint32_t n) {
    std::string facts = s.GetAreaValue(kArea, "sriov:" + pf.Text());
    if (facts.empty()) return TARN_NOT_SUPPORTED;
    SriovFacts f;
    unsigned total = 0, offset = 0, stride = 0, vfDevice = 0;
    std::sscanf(facts.c_str(), "%u %u %u %u", &total, &offset, &stride, &vfDevice);
    f.total = static_cast<uint16_t>(total);
    f.offset = static_cast<uint16_t>(offset);
    f.stride = static_cast<uint16_t>(stride);
    f.vfDevice = static_cast<uint16_t>(vfDevice);
    if (n > f.total) return TARN_BAD_PARAM;
    PciConfigHeader pfHeader{};
    InstancePath pp = pf.Path();
    if (!s.Read(KSI_NODE_hardware_pci_seg_bus_slot_func_pciConfigHeader, pp, &pfHeader)) return TARN_NOT_FOUND;
    uint32_t current = 0;
    s.Read(KSI_NODE_hardware_pci_seg_bus_slot_func_currentNumVfs, pp, &current);
    auto vfAddress = [&](uint32_t i) {
        unsigned rid = pf.Rid() + f.offset + i * f.stride;
        Sbdf v{pf.seg, (rid >> 8) & 0xff, (rid >> 3) & 0x1f, rid & 7};
        return v;
    };
    // A new count tears every VF down first: not while a running VM holds one.
    if (n != current) {
        for (uint32_t i = 0; i < current; ++i) {
            PciOwnerState st{};
            if (s.Read(KSI_NODE_hardware_pci_seg_bus_slot_func_owner, vfAddress(i).Path(), &st) && st.inUseByVm)
                return TARN_BUSY;
        }
    }
    for (uint32_t i = 0; i < current; ++i) {
        Sbdf v = vfAddress(i);
        PciConfigHeader vh{};
        if (s.Read(KSI_NODE_hardware_pci_seg_bus_slot_func_pciConfigHeader, v.Path(), &vh))
            s.RemoveAreaValue(kArea, DlKey(vh.dlBusAddress));
        s.RemoveBelow("", v.Path());
    }
    std::string parent;
    PciAddressText pt{};
    if (s.Read(KSI_NODE_hardware_pci_seg_bus_slot_func_parent, pp, &pt)) parent = pt.sbdf;
    uint32_t iommu = 0, acs = 0;
    s.Read(KSI_NODE_hardware_pci_seg_bus_slot_func_inIommuScope, pp, &iommu);
    s.Read(KSI_NODE_hardware_pci_seg_bus_slot_func_meetsPassthruAcsReq, pp, &acs);
    for (uint32_t i = 0; i < n; ++i) {
        Sbdf v = vfAddress(i);
        PciConfigHeader vh{};
        vh.vendorId = pfHeader.vendorId;
        vh.deviceId = f.vfDevice;
        vh.subVendorId = pfHeader.subVendorId;
        vh.subDeviceId = pfHeader.subDeviceId;
        vh.classCode = pfHeader.classCode;
        vh.revision = pfHeader.revision;
        vh.numaNode = pfHeader.numaNode;
        vh.flags = kPciFlagPciExpress;
        vh.dlBusAddress = pfHeader.dlBusAddress + 1 + i;
        CopyText(vh.moduleName, sizeof vh.moduleName, pfHeader.moduleName);
        PciConfigSpace cs = MakeConfigSpace(vh, true, 0, nullptr, false, 0);
        AddFunction(s, v, vh, cs);
        InstancePath vp = v.Path();
        PutU32(s, KSI_NODE_hardware_pci_seg_bus_slot_func_isVF, vp, 1);
        PutU32(s, KSI_NODE_hardware_pci_seg_bus_slot_func_vfId, vp, i);
        PutAddress(s, KSI_NODE_hardware_pci_seg_bus_slot_func_vfProperties, vp, pf.Text());
        PutAddress(s, KSI_NODE_hardware_pci_seg_bus_slot_func_parent, vp, parent);
        PutU32(s, KSI_NODE_hardware_pci_seg_bus_slot_func_inIommuScope, vp, iommu);
        PutU32(s, KSI_NODE_hardware_pci_seg_bus_slot_func_meetsPassthruAcsReq, vp, acs);
        s.Put(KSI_NODE_hardware_pci_seg_bus_slot_func_owner, vp, PciOwnerState{kOwnerTarnos, 0, 0});
        PutDriver(s, vp, pfHeader.moduleName);
        PutU32(s, KSI_NODE_hardware_pci_seg_bus_slot_func_resetMethod, vp, kResetFunction);
        PutU32(s, KSI_NODE_hardware_pci_seg_bus_slot_func_fptShareable, vp, 1);
    }
    PutU32(s, KSI_NODE_hardware_pci_seg_bus_slot_func_currentNumVfs, pp, n);
    // The PF's SR-IOV capability reports the new count.
    PciConfigSpace cs{};
    if (s.Read(KSI_NODE_hardware_pci_seg_bus_slot_func_pciConfigSpace, pp, &cs)) {
        Put16(cs, kSriovOffset + 0x10, static_cast<uint16_t>(n));
        s.Put(KSI_NODE_hardware_pci_seg_bus_slot_func_pciConfigSpace, pp, cs);
    }
    return TARN_OK;
}

// The kernel device names of the NICs and storage adapters, by PCI address.
std::map<std::string, std::string> KernelDeviceNames(KernelState& s) {
    std::map<std::string, std::string> names;
    for (const auto& nic : s.Instances("", KSI_NODE_net_pNics_properties)) {
        KsiPnicProperties p{};
        if (s.Read(KSI_NODE_net_pNics_properties, {nic}, &p) && p.pciAddress[0])
            names[std::string(p.pciAddress, strnlen(p.pciAddress, sizeof p.pciAddress))] = nic;
    }
    for (const auto& hba : s.Instances("", KSI_NODE_storage_scsifw_adapters_info)) {
        KsiStorageAdapterInfo a{};
        if (s.Read(KSI_NODE_storage_scsifw_adapters_info, {hba}, &a) && a.hasPci)
            names[HostCtl::Misc::StrPrintf("%04x:%02x:%02x.%x", a.pciSegment, a.pciBus, a.pciSlot, a.pciFunction)] =
                hba;
    }
    return names;
}

void InitPci(KernelState& s, const Value* section) {
    const Value* devices = Sub(section, "devices");
    if (!devices || !devices->IsArray()) return;
    std::map<std::string, std::string> names = KernelDeviceNames(s);
    // Secondary bus -> bridge, to find each device's parent.
    std::map<std::pair<unsigned, unsigned>, std::string> bridges;
    for (const auto& d : devices->GetArray()) {
        Sbdf a;
        if (ParseSbdf(Str(&d, "address"), &a) && Int(&d, "bridgeTo", -1) >= 0)
            bridges[{a.seg, static_cast<unsigned>(Int(&d, "bridgeTo"))}] = a.Text();
    }
    uint64_t dl = 0x1000;
    for (const auto& d : devices->GetArray()) {
        Sbdf a;
        if (!ParseSbdf(Str(&d, "address"), &a)) {
            TarnCtl_LogWarnInt("%s: Skipping PCI device with address '%s'\n", "TarnSim", Str(&d, "address").c_str());
            continue;
        }
        InstancePath p = a.Path();
        PciConfigHeader h{};
        h.vendorId = Hex16(&d, "vendor");
        h.deviceId = Hex16(&d, "device");
        h.subVendorId = Hex16(&d, "subVendor");
        h.subDeviceId = Hex16(&d, "subDevice");
        h.classCode = Hex16(&d, "class");
        h.progIf = static_cast<uint8_t>(Int(&d, "progIf"));
        h.revision = static_cast<uint8_t>(Int(&d, "revision"));
        int64_t bridgeTo = Int(&d, "bridgeTo", -1);
        h.headerType = bridgeTo >= 0 ? 1 : 0;
        h.spawnedBus = bridgeTo >= 0 ? static_cast<uint8_t>(bridgeTo) : 0;
        h.interruptLine = static_cast<uint8_t>(Int(&d, "interruptLine", 11));
        h.pin = static_cast<uint8_t>(Int(&d, "pin", 1));
        h.irq = static_cast<uint32_t>(Int(&d, "irq", 0));
        h.vector = static_cast<uint32_t>(Int(&d, "vector", 0));
        bool express = Bool(&d, "express", true);
        h.flags = (Bool(&d, "boot") ? kPciFlagBootDevice : 0) | (Bool(&d, "reserved") ? kPciFlagReserved : 0) |
                  (Int(&d, "hotplugSlot", -1) >= 0 ? kPciFlagHotplugSlot : 0) | (express ? kPciFlagPciExpress : 0);
        h.moduleId = static_cast<uint32_t>(Int(&d, "moduleId", 0));
        h.chassis = static_cast<uint32_t>(Int(&d, "chassis", 0));
        h.physicalSlot = static_cast<uint32_t>(Int(&d, "physicalSlot", 0));
        h.numaNode = static_cast<int32_t>(Int(&d, "numa", 0));
        h.dlBusAddress = dl;
        dl += 0x100;
        auto name = names.find(a.Text());
        CopyText(h.deviceName, sizeof h.deviceName, name != names.end() ? name->second : Str(&d, "name"));
        CopyText(h.moduleName, sizeof h.moduleName, Str(&d, "module"));
        CopyText(h.slotDescription, sizeof h.slotDescription, Str(&d, "slot"));

        const Value* sr = Sub(&d, "sriov");
        SriovFacts sriov;
        if (sr) {
            sriov.total = static_cast<uint16_t>(Int(sr, "totalVfs"));
            sriov.offset = static_cast<uint16_t>(Int(sr, "offset", 1));
            sriov.stride = static_cast<uint16_t>(Int(sr, "stride", 1));
            sriov.vfDevice = Hex16(sr, "vfDevice");
            s.SetAreaValue(kArea, "sriov:" + a.Text(),
                           HostCtl::Misc::StrPrintf("%u %u %u %u", sriov.total, sriov.offset, sriov.stride,
                                                    sriov.vfDevice));
            PutU32(s, KSI_NODE_hardware_pci_seg_bus_slot_func_maxNumVFs, p, sriov.total);
            PutU32(s, KSI_NODE_hardware_pci_seg_bus_slot_func_currentNumVfs, p, 0);
        }
        int portType = static_cast<int>(Int(&d, "portType", bridgeTo >= 0 ? 4 : 0));
        PciConfigSpace cs = MakeConfigSpace(h, express, portType, sr ? &sriov : nullptr, Bool(&d, "dpc"), 0);
        if (const Value* patch = Sub(&d, "patch"); patch && patch->IsArray())
            for (const auto& pb : patch->GetArray())
                if (pb.IsArray() && pb.Size() == 2 && pb[0].IsUint() && pb[1].IsUint()) {
                    if (pb[0].GetUint() == 0xffff)  // [65535, n]: the space is n bytes long
                        cs.length = std::min<uint32_t>(pb[1].GetUint(), sizeof cs.data);
                    else if (pb[0].GetUint() < sizeof cs.data)
                        cs.data[pb[0].GetUint()] = static_cast<uint8_t>(pb[1].GetUint());
                }
        AddFunction(s, a, h, cs);

        auto parent = bridges.find({a.seg, a.bus});
        std::string parentText = a.bus != 0 && parent != bridges.end() ? parent->second : "";
        PutAddress(s, KSI_NODE_hardware_pci_seg_bus_slot_func_parent, p, parentText);
        if (!parentText.empty()) {
            Sbdf pa;
            ParseSbdf(parentText, &pa);
            AddListKey(s, KSI_NODE_hardware_pci_seg_bus_slot_func_children, pa, a.Text());
        }
        std::string dependant = Str(&d, "dependant");
        if (!dependant.empty()) AddListKey(s, KSI_NODE_hardware_pci_seg_bus_slot_func_passthruDependent, a, dependant);
        PutU32(s, KSI_NODE_hardware_pci_seg_bus_slot_func_p2pBridge, p, bridgeTo >= 0);
        PutU32(s, KSI_NODE_hardware_pci_seg_bus_slot_func_isVF, p, 0);
        PutU32(s, KSI_NODE_hardware_pci_seg_bus_slot_func_inIommuScope, p, Bool(&d, "iommu", true));
        PutU32(s, KSI_NODE_hardware_pci_seg_bus_slot_func_meetsPassthruAcsReq, p, Bool(&d, "acs", true));
        uint32_t owner = Str(&d, "owner") == "passthru" ? kOwnerPassthru : kOwnerTarnos;
        bool driverVm = Bool(&d, "driverVm");
        s.Put(KSI_NODE_hardware_pci_seg_bus_slot_func_owner, p,
              PciOwnerState{owner, static_cast<uint32_t>(Bool(&d, "inUseByVm")), static_cast<uint32_t>(driverVm)});
        PutDriver(s, p, owner == kOwnerTarnos && !driverVm ? Str(&d, "module") : "");
        if (bridgeTo >= 0) PutU32(s, KSI_NODE_hardware_pci_seg_bus_slot_func_pciePortOperationStatus, p, kPortLinkUp);
        if (const Value* cxl = Sub(&d, "cxl"))
            s.Put(KSI_NODE_hardware_pci_seg_bus_slot_func_cxlInfo, p,
                  PciCxlInfo{static_cast<uint32_t>(Int(cxl, "version", 2)), static_cast<uint32_t>(Bool(cxl, "cache")),
                             static_cast<uint32_t>(Bool(cxl, "mem")), static_cast<uint64_t>(Int(cxl, "memBytes"))});
        PutU32(s, KSI_NODE_hardware_pci_seg_bus_slot_func_resetMethod, p, ResetWord(Str(&d, "resetMethod", "default")));
        PutU32(s, KSI_NODE_hardware_pci_seg_bus_slot_func_fptShareable, p, 1);
        if (Int(&d, "hotplugSlot", -1) >= 0) {
            const Value* hp = Sub(&d, "hotplug");
            s.Put(KSI_NODE_hardware_pci_seg_bus_slot_func_hotplugSlotInfo, p,
                  PciHotplugSlot{static_cast<uint32_t>(Int(&d, "hotplugSlot")),
                                 static_cast<uint32_t>(Bool(hp, "adapterPresent", true)),
                                 static_cast<uint32_t>(Bool(hp, "surprise")),
                                 static_cast<uint32_t>(Bool(hp, "attnButton", true))});
            PutU32(s, KSI_NODE_hardware_pci_seg_bus_slot_func_attnIndicator, p, 0);
        }
        s.Put(KSI_NODE_hardware_pci_seg_bus_slot_func_DPC, p,
              PciDpc{static_cast<uint32_t>(Bool(&d, "dpc")), static_cast<uint32_t>(Bool(&d, "dpc")), 0, 0});
        PciBarInfo bars{};
        if (const Value* b = Sub(&d, "bars"); b && b->IsArray())
            for (const auto& bar : b->GetArray()) {
                if (bars.count >= kMaxBars || !bar.IsArray() || bar.Size() != 3) break;
                bars.bars[bars.count++] = PciBar{bar[0].GetUint64(), bar[1].GetUint64(), bar[2].GetUint()};
            }
        s.Put(KSI_NODE_hardware_pci_seg_bus_slot_func_BARInfo, p, bars);
    }
}

// Lists one enumeration level from the function records.
NodeHandler LevelNode() {
    NodeHandler h;
    h.list = [](Call& c, std::vector<std::string>* out) {
        *out = c.state.Instances("", KSI_NODE_hardware_pci_seg_bus_slot_func, c.instance);
        return TARN_OK;
    };
    return h;
}

bool IsFunction(Call& c) {
    return c.instance.size() == 4 && c.state.Has("", KSI_NODE_hardware_pci_seg_bus_slot_func, c.instance);
}

// A 0/1 switch of a present function.
NodeHandler SwitchNode() {
    NodeHandler h;
    h.set = [](Call& c) {
        int64_t v = 0;
        if (!IsFunction(c) || !c.state.Has("", c.node, c.instance)) return TARN_NOT_FOUND;
        if (!c.InputInt(0, &v)) return TARN_MISSING_PARAMETER;
        if (v < 0 || v > 1) return TARN_BAD_PARAM;
        c.state.Put(c.node, c.instance, static_cast<uint32_t>(v));
        return TARN_OK;
    };
    return h;
}

const NodeRegistration rSeg(KSI_NODE_hardware_pci_seg, LevelNode());
const NodeRegistration rBus(KSI_NODE_hardware_pci_seg_bus, LevelNode());
const NodeRegistration rSlot(KSI_NODE_hardware_pci_seg_bus_slot, LevelNode());
const NodeRegistration rFptShareable(KSI_NODE_hardware_pci_seg_bus_slot_func_fptShareable, SwitchNode());
const NodeRegistration rAttn(KSI_NODE_hardware_pci_seg_bus_slot_func_attnIndicator, SwitchNode());

const NodeRegistration rReset(KSI_NODE_hardware_pci_seg_bus_slot_func_resetMethod, [] {
    NodeHandler h;
    h.set = [](Call& c) {
        int64_t v = 0;
        if (!IsFunction(c)) return TARN_NOT_FOUND;
        if (!c.InputInt(0, &v)) return TARN_MISSING_PARAMETER;
        if (v < kResetNone || v > kResetSoftware) return TARN_BAD_PARAM;
        c.state.Put(c.node, c.instance, static_cast<uint32_t>(v));
        return TARN_OK;
    };
    return h;
}());

bool Bound(const KernelState& s, const InstancePath& p) {
    PciDriverBinding b{};
    return s.Read(KSI_NODE_hardware_pci_seg_bus_slot_func_driver, p, &b) && b.name[0];
}

// The run-time owner; a device a running VM holds cannot change hands, and
// one a host driver still drives cannot go to passthrough.
const NodeRegistration rOwner(KSI_NODE_hardware_pci_seg_bus_slot_func_owner, [] {
    NodeHandler h;
    h.set = [](Call& c) {
        int64_t v = 0;
        PciOwnerState st{};
        if (!IsFunction(c) || !c.state.Read(c.node, c.instance, &st)) return TARN_NOT_FOUND;
        if (!c.InputInt(0, &v)) return TARN_MISSING_PARAMETER;
        if (v != kOwnerTarnos && v != kOwnerPassthru) return TARN_BAD_PARAM;
        if (st.inUseByVm && static_cast<uint32_t>(v) != st.owner) return TARN_BUSY;
        if (v == kOwnerPassthru && Bound(c.state, c.instance)) return TARN_BUSY;
        st.owner = static_cast<uint32_t>(v);
        c.state.Put(c.node, c.instance, st);
        return TARN_OK;
    };
    return h;
}());

bool ReadSbdf(const KernelState& s, uint32_t node, const InstancePath& p, Sbdf* out) {
    PciAddressText t{};
    return s.Read(node, p, &t) && ParseSbdf(std::string(t.sbdf, strnlen(t.sbdf, sizeof t.sbdf)), out);
}

// True when the port above the function holds its link contained.
bool BelowContainedPort(const KernelState& s, const InstancePath& p) {
    Sbdf parent;
    uint32_t status = kPortLinkUp;
    return ReadSbdf(s, KSI_NODE_hardware_pci_seg_bus_slot_func_parent, p, &parent) &&
           s.Read(KSI_NODE_hardware_pci_seg_bus_slot_func_pciePortOperationStatus, parent.Path(), &status) &&
           status == kPortContained;
}

// Whether a host driver may drive the function: the host owns it, no driver
// VM does, and its link is up.
TARN_ReturnStatus MayBind(const KernelState& s, const InstancePath& p) {
    PciOwnerState st{};
    if (!s.Read(KSI_NODE_hardware_pci_seg_bus_slot_func_owner, p, &st)) return TARN_NOT_FOUND;
    if (st.owner != kOwnerTarnos || st.driverVm || BelowContainedPort(s, p)) return TARN_BUSY;
    return TARN_OK;
}

std::string Module(const KernelState& s, const InstancePath& p) {
    PciConfigHeader h{};
    s.Read(KSI_NODE_hardware_pci_seg_bus_slot_func_pciConfigHeader, p, &h);
    return std::string(h.moduleName, strnlen(h.moduleName, sizeof h.moduleName));
}

// One function's host driver: "" unbinds, its own module binds.
const NodeRegistration rDriver(KSI_NODE_hardware_pci_seg_bus_slot_func_driver, [] {
    NodeHandler h;
    h.set = [](Call& c) -> TARN_ReturnStatus {
        std::string name;
        if (!IsFunction(c)) return TARN_NOT_FOUND;
        if (!c.InputText(0, &name)) return TARN_MISSING_PARAMETER;
        if (!name.empty()) {
            if (name != Module(c.state, c.instance)) return TARN_BAD_PARAM;
            if (TARN_ReturnStatus st = MayBind(c.state, c.instance); st != TARN_OK) return st;
        }
        PutDriver(c.state, c.instance, name);
        return TARN_OK;
    };
    return h;
}());

// Binds every function of a segment (or of all, -1) that may have a host
// driver and has none.
const NodeRegistration rRescan(KSI_NODE_hardware_pci_rescan, [] {
    NodeHandler h;
    h.set = [](Call& c) -> TARN_ReturnStatus {
        int64_t seg = 0;
        if (!c.InputInt(0, &seg)) return TARN_MISSING_PARAMETER;
        if (seg < -1 || seg > 0xffff) return TARN_BAD_PARAM;
        for (const auto& p : c.state.AllInstances("", KSI_NODE_hardware_pci_seg_bus_slot_func)) {
            if (p.size() != 4 || (seg >= 0 && p[0] != std::to_string(seg))) continue;
            std::string module = Module(c.state, p);
            if (!module.empty() && !Bound(c.state, p) && MayBind(c.state, p) == TARN_OK) PutDriver(c.state, p, module);
        }
        return TARN_OK;
    };
    return h;
}());

// Writes the DPC control or status register of a port's configuration space.
void PutDpcRegister(KernelState& s, const InstancePath& p, uint32_t offset, uint16_t value) {
    PciConfigSpace cs{};
    if (!s.Read(KSI_NODE_hardware_pci_seg_bus_slot_func_pciConfigSpace, p, &cs)) return;
    Put16(cs, kDpcOffset + offset, value);
    s.Put(KSI_NODE_hardware_pci_seg_bus_slot_func_pciConfigSpace, p, cs);
}

const NodeRegistration rDpc(KSI_NODE_hardware_pci_seg_bus_slot_func_DPC, [] {
    NodeHandler h;
    h.set = [](Call& c) -> TARN_ReturnStatus {
        int64_t v = 0;
        PciDpc d{};
        if (!IsFunction(c)) return TARN_NOT_FOUND;
        if (!c.InputInt(0, &v)) return TARN_MISSING_PARAMETER;
        if (v < 0 || v > 1) return TARN_BAD_PARAM;
        if (!c.state.Read(c.node, c.instance, &d) || !d.capable) return TARN_NOT_SUPPORTED;
        if (d.containmentDone && v == 0) return TARN_BUSY;  // a contained port stays armed
        d.enabled = static_cast<uint32_t>(v);
        c.state.Put(c.node, c.instance, d);
        PutDpcRegister(c.state, c.instance, 0x06, v ? kDpcTriggerEnable : 0);
        return TARN_OK;
    };
    return h;
}());

const NodeRegistration rDpcTrigger(KSI_NODE_hardware_pci_seg_bus_slot_func_softTriggerDPC, [] {
    NodeHandler h;
    h.set = [](Call& c) -> TARN_ReturnStatus {
        PciDpc d{};
        if (!IsFunction(c)) return TARN_NOT_FOUND;
        if (!c.state.Read(KSI_NODE_hardware_pci_seg_bus_slot_func_DPC, c.instance, &d) || !d.capable)
            return TARN_NOT_SUPPORTED;
        if (!d.enabled) return TARN_BAD_PARAM;
        if (d.containmentDone) return TARN_BUSY;
        d.containmentDone = 1;
        c.state.Put(KSI_NODE_hardware_pci_seg_bus_slot_func_DPC, c.instance, d);
        PutDpcRegister(c.state, c.instance, 0x08, kDpcSoftwareTriggered);
        PutU32(c.state, KSI_NODE_hardware_pci_seg_bus_slot_func_pciePortOperationStatus, c.instance, kPortContained);
        // The link is down: the functions below lose their drivers.
        for (const auto& child : c.state.Instances("", KSI_NODE_hardware_pci_seg_bus_slot_func_children, c.instance)) {
            Sbdf a;
            if (ParseSbdf(child, &a) && Bound(c.state, a.Path())) PutDriver(c.state, a.Path(), "");
        }
        return TARN_OK;
    };
    return h;
}());

// Instance: the device-tree address "0x..." of a physical function.
const NodeRegistration rMaxVfs(KSI_NODE_system_devicetree_devices_maxVfs, [] {
    NodeHandler h;
    auto pfOf = [](Call& c, Sbdf* pf) {
        if (c.instance.size() != 1) return false;
        uint64_t dl = std::strtoull(c.instance[0].c_str(), nullptr, 16);
        std::string text = c.state.GetAreaValue(kArea, DlKey(dl));
        return !text.empty() && ParseSbdf(text, pf);
    };
    h.get = [pfOf](Call& c, void* buffer, unsigned int length) -> TARN_ReturnStatus {
        Sbdf pf;
        if (!pfOf(c, &pf)) return TARN_NOT_FOUND;
        uint32_t n = 0;
        if (!c.state.Read(KSI_NODE_hardware_pci_seg_bus_slot_func_currentNumVfs, pf.Path(), &n))
            return TARN_NOT_SUPPORTED;
        std::memcpy(buffer, &n, std::min<size_t>(length, sizeof n));
        return TARN_OK;
    };
    h.set = [pfOf](Call& c) -> TARN_ReturnStatus {
        Sbdf pf;
        int64_t n = 0;
        if (!pfOf(c, &pf)) return TARN_NOT_FOUND;
        if (!c.InputInt(0, &n)) return TARN_MISSING_PARAMETER;
        if (n < 0 || n > 0xffff) return TARN_BAD_PARAM;
        return SetVfs(c.state, pf, static_cast<uint32_t>(n));
    };
    return h;
}());

// Real functions of servers, cycled over a generated host's PCI functions.
struct GeneratedModel {
    const char *vendor, *device, *subVendor, *subDevice, *cls, *module;
};
const GeneratedModel kGeneratedModels[] = {
    {"8086", "1563", "8086", "0001", "0200", "ixgbe_native"},     {"15b3", "1015", "15b3", "0003", "0200", "mlx5_native"},
    {"1077", "2261", "1077", "029a", "0c04", "qla_native"}, {"1000", "0097", "1000", "30e0", "0107", "mpt3_native"},
    {"144d", "a808", "144d", "a801", "0108", "nvme_pcie"},  {"14e4", "16d7", "14e4", "1402", "0200", "bnxtnet"},
    {"10de", "1eb8", "10de", "12a2", "0302", ""},           {"8086", "0a54", "8086", "4802", "0108", "nvme_pcie"},
};

// Buses 0x80 to 0xff, 256 functions each.
constexpr long kMaxGeneratedFunctions = 128 * 256;

// `--pci-devices N`: N functions (at most 32768), eight to a device, each bus of 256 below
// a root port of its own, from bus 0x80 on; without the flag the default host's tree.
void GeneratePci(rapidjson::Value& out, rapidjson::Document::AllocatorType& alloc, const GenerateOptions& options) {
    long count = options.Get("pci-devices", -1);
    if (count < 0) {
        rapidjson::Document base;
        base.Parse(Profile::DefaultProfile().c_str());
        out.CopyFrom(base["pci"], alloc);
        return;
    }
    count = std::min(count, kMaxGeneratedFunctions);
    auto text = [&](const std::string& t) { return rapidjson::Value(t.c_str(), alloc); };
    rapidjson::Value devices(rapidjson::kArrayType);
    // The generated NICs and storage adapters are PCI functions too, at the
    // addresses their areas give them.
    auto addFunction = [&](const std::string& address, const GeneratedModel& m) {
        rapidjson::Value d(rapidjson::kObjectType);
        d.AddMember("address", text(address), alloc);
        d.AddMember("vendor", text(m.vendor), alloc).AddMember("device", text(m.device), alloc);
        d.AddMember("subVendor", text(m.subVendor), alloc).AddMember("subDevice", text(m.subDevice), alloc);
        d.AddMember("class", text(m.cls), alloc).AddMember("module", text(m.module), alloc);
        devices.PushBack(d, alloc);
    };
    std::set<std::string> taken;
    // The storage area makes two adapters at least.
    for (long i = 0; i < std::max(2L, options.Get("storage-adapters", 4)); ++i)
        if (taken.insert(HostCtl::Misc::StrPrintf("0000:%02lx:00.0", i + 3)).second)
            addFunction(HostCtl::Misc::StrPrintf("0000:%02lx:00.0", i + 3), kGeneratedModels[i == 0 ? 3 : 2]);
    for (long i = 0; i < options.Get("pnics", 4); ++i) {
        std::string a = HostCtl::Misc::StrPrintf("0000:%02lx:00.%ld", 0x3b + i / 2, i % 2);
        if (taken.insert(a).second) addFunction(a, kGeneratedModels[i % 2]);
    }
    for (long i = 0; i < count; ++i) {
        unsigned bus = 0x80 + static_cast<unsigned>(i / 256), slot = (i / 8) % 32, fn = i % 8;
        if (i % 256 == 0) {  // the root port of the next bus
            unsigned k = static_cast<unsigned>(i / 256);
            rapidjson::Value port(rapidjson::kObjectType);
            port.AddMember("address", text(HostCtl::Misc::StrPrintf("0000:00:%02x.%x", 8 + k / 8, k % 8)), alloc);
            port.AddMember("vendor", "8086", alloc).AddMember("device", "2030", alloc).AddMember("class", "0604", alloc);
            port.AddMember("bridgeTo", static_cast<int>(bus), alloc).AddMember("iommu", false, alloc);
            port.AddMember("module", "pciBridge", alloc);
            devices.PushBack(port, alloc);
        }
        addFunction(HostCtl::Misc::StrPrintf("0000:%02x:%02x.%x", bus, slot, fn),
                   kGeneratedModels[static_cast<size_t>(i) % std::size(kGeneratedModels)]);
    }
    out.SetObject();
    out.AddMember("devices", devices, alloc);
}

const AreaRegistration area({.name = "pci",
                             .order = 40,
                             .init = InitPci,
                             .generate = GeneratePci,
                             .options = {{"pci-devices", "PCI functions of a generated host (without it: the default host's tree)", -1}}});

}  // namespace

}  // namespace TarnSim
