// hostctl hardware ...: the PCI devices with their database names, their
// owners (passthrough), SR-IOV VF counts and labels, host drivers (unbind,
// rescan), port containment and attention indicators, name look-ups, the
// host's firmware, CPU and memory facts, and the UEFI boot order.
#include <CLI/CLI.hpp>

#include <algorithm>

#include "command.h"
#include "hardware/hardware_info_impl.h"
#include "hardware/pci_config.h"
#include "hardware/pci_device_impl.h"
#include "hardware/pci_info_impl.h"
#include "hardware/pci_names.h"
#include "hostctl/exception.h"
#include "output.h"
#include "platform/hostroot.h"
#include "platform/misc.h"

namespace {

using HostCtl::Hardware::PciDevice;
using TarnCtl::Hardware::PciDeviceImpl;
using HostCtlTool::Table;

std::string Hex4(unsigned v) { return HostCtl::Misc::StrPrintf("%04x", v); }

std::string ConfiguredOwner(PciDevice& d) {
    return d.HasConfiguredDeviceOwner() ? PciDeviceImpl::OwnerText(d.GetConfiguredDeviceOwner()) : "";
}

// "8086", "8086:1563" or "8086:1563:8086:0001".
std::vector<uint16_t> ParseIds(const std::string& text) {
    std::vector<std::string> parts;
    HostCtl::Misc::StringTokenize(text, parts, ":");
    bool ok = (parts.size() == 1 || parts.size() == 2 || parts.size() == 4) &&
              std::count(text.begin(), text.end(), ':') + 1 == static_cast<long>(parts.size());
    std::vector<uint16_t> ids;
    for (const auto& p : parts) {
        ok = ok && !p.empty() && p.size() <= 4 && p.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
        if (ok) ids.push_back(static_cast<uint16_t>(std::stoul(p, nullptr, 16)));
    }
    if (!ok) throw HostCtlTool::CommandFailure{"Invalid PCI id: " + text + " (VENDOR[:DEVICE[:SUBVENDOR:SUBDEVICE]], hex)"};
    ids.resize(4, 0);
    return ids;
}

void AddPciCommands(CLI::App* hw) {
    auto* pci = hw->add_subcommand("pci", "PCI devices: names, owners, SR-IOV VFs, labels");
    pci->require_subcommand(1);

    pci->add_subcommand("list", "List every PCI device")->callback([] {
        Table t({"Address", "Vendor ID", "Device ID", "Vendor Name", "Device Name", "Class", "Tarnos Name",
                 "Owner", "Configured Owner", "Physical Function", "Label", "Driver"});
        for (auto& d : TarnCtl::Hardware::PciInfoImpl().GetAllPciDevices())
            t.AddRow({d->GetSBDFString(), Hex4(d->GetVendorId()), Hex4(d->GetDeviceId()), d->GetVendor(), d->GetDevice(),
                      d->GetDeviceClassName(), d->GetTarnosDeviceName(),
                      PciDeviceImpl::OwnerText(d->GetRuntimeDeviceOwner()), ConfiguredOwner(*d), d->GetPfSbdfString(),
                      d->GetHardwareLabel(), d->GetBoundDriver()});
        t.Print();
    });

    static std::string showAddress;
    auto* show = pci->add_subcommand("show", "Show one PCI device");
    show->add_option("address", showAddress, "PCI address")->required();
    show->callback([] {
        PciDeviceImpl d(showAddress);
        HostCtlTool::Record r;
        r.Add("Address", d.GetSBDFString())
            .Add("Vendor ID", Hex4(d.GetVendorId()))
            .Add("Device ID", Hex4(d.GetDeviceId()))
            .Add("SubVendor ID", Hex4(d.GetSubVendorId()))
            .Add("SubDevice ID", Hex4(d.GetSubDeviceId()))
            .Add("Vendor Name", d.GetVendor())
            .Add("Device Name", d.GetDevice())
            .Add("Class", Hex4(d.GetDeviceClass()))
            .Add("Class Name", d.GetDeviceClassName())
            .Add("Revision", static_cast<unsigned>(d.GetRevisionId()))
            .Add("Tarnos Name", d.GetTarnosDeviceName())
            .Add("Module Name", d.GetModuleName())
            .Add("Driver", d.GetDeviceDriver())
            .Add("Numa Node", static_cast<int64_t>(d.GetNumaNode()))
            .Add("Physical Slot", d.GetPhysicalSlot())
            .Add("Slot Description", d.GetSlotDescription());
        auto parent = d.GetParentDevice();
        r.Add("Parent", parent ? parent->GetSBDFString() : "");
        std::string deps;
        for (auto& dep : d.GetDependantDevice()) deps += (deps.empty() ? "" : ",") + dep->GetSBDFString();
        r.Add("Dependants", deps)
            .Add("Passthru Capable", d.IsPassthruCapable())
            .Add("Boot Device", d.IsBootDevice())
            .Add("Reserved", d.IsHaldenioReservedDevice())
            .Add("Owner", PciDeviceImpl::OwnerText(d.GetRuntimeDeviceOwner()))
            .Add("Configured Owner", ConfiguredOwner(d))
            .Add("Hardware Label", d.GetHardwareLabel())
            .Add("Reset Method", d.GetResetMethodString())
            .Add("Bound Driver", d.GetBoundDriver())
            .Add("Driver VM Mode", d.IsInDriverVMMode())
            .Add("Virtual Function", d.IsVirtualFunction());
        if (d.IsVirtualFunction()) r.Add("Physical Function", d.GetPfSbdfString()).Add("VF ID", d.GetVfId());
        bool sriov = d.IsSriovCapable();
        r.Add("SRIOV Capable", sriov);
        if (sriov)
            r.Add("Supported VFs", d.GetSupportedNumVfs())
                .Add("Current VFs", d.GetCurrentNumVfs())
                .Add("Configured VFs", d.HasConfiguredMaxVfs() ? std::to_string(d.GetConfiguredMaxVfs()) : "");
        if (d.HasCapability(TarnCtl::Hardware::kExtCapDpc, true))
            r.Add("DPC Enabled", d.GetDPC()).Add("DPC Containment Done", d.IsDPCContainmentDone());
        if (d.IsHotplugSlot()) {
            auto slot = d.GetHotplugSlotInfo();
            r.Add("Hotplug Slot", slot.slotNumber)
                .Add("Hotplug Adapter Present", slot.adapterPresent)
                .Add("Hotplug Adapter", slot.adapterPresent ? d.GetHotplugSlotAdapterSBDFString() : "")
                .Add("Hotplug Surprise", slot.surpriseEnabled)
                .Add("Attention Button", slot.attnButtonPresent)
                .Add("Attention Indicator", d.GetAttnIndicator());
        }
        auto cxl = d.GetCxlInfo();
        if (cxl.isCxl)
            r.Add("CXL Version", cxl.version).Add("CXL Cache", cxl.cache).Add("CXL Memory", cxl.mem).Add(
                "CXL Memory Bytes", cxl.memBytes);
        Table caps({"ID", "Offset", "Extended"});
        caps.SetKind("Extended", Table::Kind::Bool);
        for (const auto& c : d.GetCapabilities())
            caps.AddRow({HostCtl::Misc::StrPrintf("0x%02x", c.id), HostCtl::Misc::StrPrintf("0x%03x", c.offset),
                         c.extended ? "true" : "false"});
        r.AddTable("Capabilities", caps);
        r.Print();
    });

    auto* owner = pci->add_subcommand("owner", "Who owns a device: the host or VM passthrough");
    owner->require_subcommand(1);
    static std::string ownerAddress, ownerValue;
    auto* ownerSet = owner->add_subcommand("set", "Configure the owner of a device and its dependants");
    ownerSet->add_option("address", ownerAddress, "PCI address")->required();
    ownerSet->add_option("owner", ownerValue, "passthru or host")->required()->check(CLI::IsMember({"passthru", "host"}));
    ownerSet->callback([] {
        PciDeviceImpl(ownerAddress)
            .SetConfiguredDeviceOwner(ownerValue == "passthru" ? PciDevice::OWNER_PASSTHRU : PciDevice::OWNER_TARNOS);
    });

    auto* vfs = pci->add_subcommand("vfs", "SR-IOV virtual functions");
    vfs->require_subcommand(1);
    static std::string vfAddress;
    static unsigned vfCount = 0;
    auto* vfSet = vfs->add_subcommand("set", "Set the number of virtual functions of a device");
    vfSet->add_option("address", vfAddress, "PCI address")->required();
    vfSet->add_option("count", vfCount, "Number of VFs")->required();
    vfSet->callback([] { PciDeviceImpl(vfAddress).SetConfiguredMaxVfs(vfCount); });

    auto* label = pci->add_subcommand("label", "Hardware labels of passthrough devices");
    label->require_subcommand(1);
    static std::string labelAddress, labelText;
    auto* labelSet = label->add_subcommand("set", "Set the hardware label of a passthrough device");
    labelSet->add_option("address", labelAddress, "PCI address")->required();
    labelSet->add_option("label", labelText, "Label")->required();
    labelSet->callback([] { PciDeviceImpl(labelAddress).SetHardwareLabel(labelText); });
    auto* labelRemove = label->add_subcommand("remove", "Remove the hardware label of a device");
    labelRemove->add_option("address", labelAddress, "PCI address")->required();
    labelRemove->callback([] { PciDeviceImpl(labelAddress).DeleteHardwareLabelFromCS(); });

    static std::vector<std::string> unbindAddresses;
    auto* unbind = pci->add_subcommand("unbind", "Unbind the host drivers of devices and their dependants");
    unbind->add_option("addresses", unbindAddresses, "PCI addresses")->required();
    unbind->callback([] { TarnCtl::Hardware::PciInfoImpl().UnbindDeviceList(unbindAddresses); });

    static int rescanSegment = -1;
    auto* rescan = pci->add_subcommand("rescan", "Bind drivers to the host's devices that have none");
    rescan->add_option("--segment", rescanSegment, "Only this PCI segment (default: every segment)");
    rescan->callback([] { TarnCtl::Hardware::PciInfoImpl().ScanAndBind(rescanSegment); });

    auto* dpc = pci->add_subcommand("dpc", "Downstream port containment of a PCI Express port");
    dpc->require_subcommand(1);
    static std::string dpcAddress;
    for (const char* verb : {"enable", "disable", "trigger"}) {
        auto* c = dpc->add_subcommand(verb, std::string(verb) == "trigger" ? "Trigger containment by software"
                                                                            : std::string(verb) + " containment");
        c->add_option("address", dpcAddress, "PCI address of the port")->required();
        std::string v = verb;
        c->callback([v] {
            PciDeviceImpl d(dpcAddress);
            if (v == "trigger")
                d.TriggerDPCSoft();
            else
                d.EnableDPC(v == "enable");
        });
    }

    auto* attn = pci->add_subcommand("attention", "The attention indicator of a hotplug slot");
    attn->require_subcommand(1);
    static std::string attnAddress, attnValue;
    auto* attnSet = attn->add_subcommand("set", "Switch the attention indicator on or off");
    attnSet->add_option("address", attnAddress, "PCI address of the slot's port")->required();
    attnSet->add_option("state", attnValue, "on or off")->required()->check(CLI::IsMember({"on", "off"}));
    attnSet->callback([] { PciDeviceImpl(attnAddress).SetAttnIndicator(attnValue == "on"); });

    static std::string lookupIds;
    auto* lookup = pci->add_subcommand("lookup", "The names the PCI id database gives an id");
    lookup->add_option("ids", lookupIds, "VENDOR[:DEVICE[:SUBVENDOR:SUBDEVICE]] in hex")->required();
    lookup->callback([] {
        std::vector<uint16_t> ids = ParseIds(lookupIds);
        // Names of any id, not only present ones: look it up in a full table.
        TarnCtl::Hardware::PciNameDb db;
        for (const char* dir : TarnCtl::Hardware::kPciidDirs) db.ScanDir(Platform::HostPath(dir));
        db.ScanFile(Platform::HostPath(TarnCtl::Hardware::kPciIdsFile));
        std::string vendor, model;
        db.Lookup(vendor, model, ids[0], ids[1], ids[2], ids[3]);
        HostCtlTool::Record r;
        r.Add("Vendor Name", vendor).Add("Device Name", model);
        r.Print();
    });
}

void AddHardwareCommands(CLI::App& app) {
    auto* hw = app.add_subcommand("hardware", "PCI devices, firmware, CPU and memory");
    hw->require_subcommand(1);
    AddPciCommands(hw);

    hw->add_subcommand("info", "DMI, CPU, memory, BMC and platform security facts")->callback([] {
        TarnCtl::Hardware::HardwareInfoImpl info;
        auto cpu = TarnCtl::Hardware::CpuInfoImpl().GetSummary();
        auto mem = TarnCtl::Hardware::MemoryInfoImpl().GetSummary();
        HostCtlTool::Record r;
        r.Add("Vendor Name", info.GetVendorName())
            .Add("Product Name", info.GetProductName())
            .Add("Serial Number", info.GetSerialNumber())
            .Add("Hardware UUID", info.GetHardwareUuid())
            .Add("BIOS", info.GetBiosInfo())
            .Add("IPMI Supported", info.IsIPMISupported())
            .Add("Uptime Micros", info.GetHardwareUptime())
            .Add("CPU Model", cpu.modelName)
            .Add("CPU Packages", cpu.numPackages)
            .Add("CPU Cores", cpu.numCores)
            .Add("CPU Threads", cpu.numThreads)
            .Add("Hyperthreading Active", cpu.htActive)
            .Add("Hyperthreading Enabled", cpu.htEnabled)
            .Add("Raw CPUID Data", cpu.rawCpuid)
            .Add("Physical Memory", mem.physicalBytes)
            .Add("Reserved Memory", mem.reservedBytes)
            .Add("Memory Tiering", mem.tieringType);
        std::string bmcVersion;
        try {
            bmcVersion = info.GetBMCVersion();
        } catch (const HostCtl::Lib::HostCtlException&) {
            // No BMC on this host: the field stays empty.
        }
        auto sgx = info.GetSgxInfo();
        auto sev = info.GetSevInfo();
        auto tdx = info.GetTdxInfo();
        auto nvd = info.GetNvdInfo();
        r.Add("BMC Version", bmcVersion)
            .Add("SGX Supported", sgx.supported)
            .Add("SGX Enabled", sgx.enabled)
            .Add("SEV Supported", sev.supported)
            .Add("SEV Enabled", sev.enabled)
            .Add("TDX Supported", tdx.supported)
            .Add("TDX Enabled", tdx.enabled)
            .Add("NVDIMM Count", nvd.count)
            .Add("NVDIMM Bytes", nvd.bytes);
        Table numa({"Node", "Bytes"});
        numa.SetKind("Node", Table::Kind::Number).SetKind("Bytes", Table::Kind::Number);
        for (const auto& n : TarnCtl::Hardware::NumaInfoImpl().GetNodes())
            numa.AddRow({std::to_string(n.id), std::to_string(n.bytes)});
        r.AddTable("NUMA Nodes", numa);
        r.Print();
    });

    auto* boot = hw->add_subcommand("bootorder", "The firmware's boot order");
    boot->require_subcommand(1);
    boot->add_subcommand("list", "List the boot entries in order")->callback([] {
        Table t({"Position", "ID", "Description"});
        t.SetKind("Position", Table::Kind::Number).SetKind("ID", Table::Kind::Number);
        int i = 1;
        for (const auto& b : TarnCtl::Hardware::HardwareInfoImpl().GetBootDevices())
            t.AddRow({std::to_string(i++), std::to_string(b.id), b.description});
        t.Print();
    });
    static uint16_t swapA = 0, swapB = 0;
    auto* swap = boot->add_subcommand("swap", "Exchange two entries of the boot order");
    swap->add_option("first", swapA, "Boot entry id")->required();
    swap->add_option("second", swapB, "Boot entry id")->required();
    swap->callback([] { TarnCtl::Hardware::HardwareInfoImpl().SwapBootDeviceOrder(swapA, swapB); });
}

const HostCtlTool::CommandGroup kGroup("hardware", 60, AddHardwareCommands);

}  // namespace
