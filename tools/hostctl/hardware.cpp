// hostctl hardware ...: the PCI devices with their database names, their
// owners (passthrough), SR-IOV VF counts and labels, host drivers (unbind,
// rescan), port containment and attention indicators, name look-ups, the
// host's firmware, CPU and memory facts, and the UEFI boot order.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <functional>
#include <memory>

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

// A group of commands (`owner`, `vfs`, ...) of which one must be given.
CLI::App* AddGroup(CLI::App* parent, const char* name, const char* help) {
    auto* group = parent->add_subcommand(name, help);
    group->require_subcommand(1);
    return group;
}

// A command on one device, `verb ADDRESS [more]`: `act` runs on the device
// the address names. Further arguments are added to the returned command.
CLI::App* AddDeviceCommand(CLI::App* parent, const std::string& verb, const std::string& help,
                           std::function<void(PciDeviceImpl&)> act, const char* addressHelp = "PCI address") {
    auto address = std::make_shared<std::string>();
    auto* command = parent->add_subcommand(verb, help);
    command->add_option("address", *address, addressHelp)->required();
    command->callback([address, act] {
        PciDeviceImpl d(*address);
        act(d);
    });
    return command;
}

void AddPciCommands(CLI::App* hw) {
    auto* pci = AddGroup(hw, "pci", "PCI devices: names, owners, SR-IOV VFs, labels");

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

    AddDeviceCommand(pci, "show", "Show one PCI device", [](PciDeviceImpl& d) {
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

    auto owner = std::make_shared<std::string>();
    AddDeviceCommand(AddGroup(pci, "owner", "Who owns a device: the host or VM passthrough"), "set",
                     "Configure the owner of a device and its dependants",
                     [owner](PciDeviceImpl& d) {
                         d.SetConfiguredDeviceOwner(*owner == "passthru" ? PciDevice::OWNER_PASSTHRU
                                                                         : PciDevice::OWNER_TARNOS);
                     })
        ->add_option("owner", *owner, "passthru or host")
        ->required()
        ->check(CLI::IsMember({"passthru", "host"}));

    auto vfCount = std::make_shared<unsigned>(0);
    AddDeviceCommand(AddGroup(pci, "vfs", "SR-IOV virtual functions"), "set",
                     "Set the number of virtual functions of a device",
                     [vfCount](PciDeviceImpl& d) { d.SetConfiguredMaxVfs(*vfCount); })
        ->add_option("count", *vfCount, "Number of VFs")
        ->required();

    auto* label = AddGroup(pci, "label", "Hardware labels of passthrough devices");
    auto labelText = std::make_shared<std::string>();
    AddDeviceCommand(label, "set", "Set the hardware label of a passthrough device",
                     [labelText](PciDeviceImpl& d) { d.SetHardwareLabel(*labelText); })
        ->add_option("label", *labelText, "Label")
        ->required();
    AddDeviceCommand(label, "remove", "Remove the hardware label of a device",
                     [](PciDeviceImpl& d) { d.DeleteHardwareLabelFromCS(); });

    static std::vector<std::string> unbindAddresses;
    auto* unbind = pci->add_subcommand("unbind", "Unbind the host drivers of devices and their dependants");
    unbind->add_option("addresses", unbindAddresses, "PCI addresses")->required();
    unbind->callback([] { TarnCtl::Hardware::PciInfoImpl().UnbindDeviceList(unbindAddresses); });

    static int rescanSegment = -1;
    auto* rescan = pci->add_subcommand("rescan", "Bind drivers to the host's devices that have none");
    rescan->add_option("--segment", rescanSegment, "Only this PCI segment (default: every segment)");
    rescan->callback([] { TarnCtl::Hardware::PciInfoImpl().ScanAndBind(rescanSegment); });

    auto* dpc = AddGroup(pci, "dpc", "Downstream port containment of a PCI Express port");
    const char* port = "PCI address of the port";
    AddDeviceCommand(dpc, "enable", "enable containment", [](PciDeviceImpl& d) { d.EnableDPC(true); }, port);
    AddDeviceCommand(dpc, "disable", "disable containment", [](PciDeviceImpl& d) { d.EnableDPC(false); }, port);
    AddDeviceCommand(dpc, "trigger", "Trigger containment by software", [](PciDeviceImpl& d) { d.TriggerDPCSoft(); },
                     port);

    auto attention = std::make_shared<std::string>();
    AddDeviceCommand(AddGroup(pci, "attention", "The attention indicator of a hotplug slot"), "set",
                     "Switch the attention indicator on or off",
                     [attention](PciDeviceImpl& d) { d.SetAttnIndicator(*attention == "on"); },
                     "PCI address of the slot's port")
        ->add_option("state", *attention, "on or off")
        ->required()
        ->check(CLI::IsMember({"on", "off"}));

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
    auto* hw = AddGroup(&app, "hardware", "PCI devices, firmware, CPU and memory");
    AddPciCommands(hw);

    hw->add_subcommand("info", "DMI, CPU, memory, power, BMC, devices for VMs and platform security facts")->callback([] {
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
        auto pmem = info.GetPMemInfo();
        auto power = info.GetPowerInfo();
        std::string techniques;
        for (const auto& t : power.supportedTechniques) techniques += (techniques.empty() ? "" : ", ") + t;
        auto dvx = info.GetDVXInfo();
        r.Add("PMem Modules", pmem.modules)
            .Add("PMem Module Bytes", pmem.moduleBytes)
            .Add("PMem Tier Bytes", pmem.tierBytes)
            .Add("Power Policy", power.current.shortName)
            .Add("Power Policy Name", power.current.name)
            .Add("Power Hardware Support", techniques)
            .Add("DVX Supported", dvx.supported)
            .Add("DVX Enabled", dvx.enabled);
        Table numa({"Node", "Bytes"});
        numa.SetKind("Node", Table::Kind::Number).SetKind("Bytes", Table::Kind::Number);
        for (const auto& n : TarnCtl::Hardware::NumaInfoImpl().GetNodes())
            numa.AddRow({std::to_string(n.id), std::to_string(n.bytes)});
        r.AddTable("NUMA Nodes", numa);
        Table dvxDevices({"Address", "Driver", "Max Instances", "Used Instances"});
        dvxDevices.SetKind("Max Instances", Table::Kind::Number).SetKind("Used Instances", Table::Kind::Number);
        for (const auto& d : dvx.devices)
            dvxDevices.AddRow({d.sbdf, d.driver, std::to_string(d.maxInstances), std::to_string(d.usedInstances)});
        r.AddTable("DVX Devices", dvxDevices);
        Table assignable({"Address", "Vendor Name", "Device Name", "Hardware Label", "In Use By VM"});
        assignable.SetKind("In Use By VM", Table::Kind::Bool);
        for (const auto& d : info.GetAssignableHardwareInfo())
            assignable.AddRow({d.sbdf, d.vendorName, d.deviceName, d.hardwareLabel, d.inUseByVm ? "true" : "false"});
        r.AddTable("Assignable Devices", assignable);
        Table readers({"Name", "Vendor ID", "Product ID", "Card Present"});
        readers.SetKind("Card Present", Table::Kind::Bool);
        for (const auto& c : info.GetSmartCardInfo())
            readers.AddRow({c.name, Hex4(c.vendorId), Hex4(c.productId), c.cardPresent ? "true" : "false"});
        r.AddTable("Smart Card Readers", readers);
        r.Print();
    });

    auto* boot = AddGroup(hw, "bootorder", "The firmware's boot order");
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
