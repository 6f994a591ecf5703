// HardwareInfoImpl and the processor, memory and NUMA summaries. Firmware
// facts are read once per Refresh; the boot order is read and written whole
// through the firmware's "BootOrder" variable.
#include "hardware/hardware_info_impl.h"

#include <algorithm>
#include <cstring>

#include "hardware/pci_info_impl.h"
#include "hostctl/exception.h"
#include "platform/misc.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"
#include "system/kernel_opts.h"
#include "system/module_impl.h"

namespace TarnCtl::Hardware {

using namespace Ksi::Hardware;
using HostCtl::Lib::HostCtlException;

namespace {

std::string Text(const char* s, size_t n) { return std::string(s, strnlen(s, n)); }

template <typename T>
T ReadRecord(unsigned int node, const std::string& instance = "") {
    T rec{};
    TarnCtl::Util::Sysinfo si(node);
    if (!instance.empty()) si.SetInstance(instance);
    si.Get(&rec, sizeof rec);
    return rec;
}

const char* const kBootOrder = "BootOrder";

UefiBootOrder ReadBootOrder() {
    try {
        return ReadRecord<UefiBootOrder>(KSI_NODE_uefi_variable, kBootOrder);
    } catch (const HostCtlException&) {
        throw HostCtlException(
            "Hardware Query Error: Unable to get boot order from UEFI or operation not supported on this hardware. ");
    }
}

}  // namespace

// ---- CPU ------------------------------------------------------------------------------

HostCtl::Hardware::CpuSummary CpuInfoImpl::GetSummary() {
    Ksi::Hardware::CpuInfo ci = ReadRecord<Ksi::Hardware::CpuInfo>(KSI_NODE_hardware_cpu_cpuInfo);
    char model[256] = {};
    TarnCtl::Util::Sysinfo si(KSI_NODE_hardware_cpu_cpuModelName);
    si.SetThrowOnError(false);
    si.Get(model, sizeof model - 1);
    HostCtl::Hardware::CpuSummary s;
    s.numPackages = ci.numPackages;
    s.numCores = ci.numCores;
    s.numThreads = ci.numThreads;
    s.htActive = ci.htActive != 0;
    s.htSupported = ci.htSupported != 0;
    s.htEnabled = System::KernelOpts::GetRuntimeValueBool("hyperthreading");
    s.htMitigated = ci.htMitigated != 0;
    s.hvSupport = ci.hvSupport;
    s.modelName = Text(model, sizeof model);
    s.rawCpuid = HostCtl::Misc::StrPrintf("0x%08x,0x%08x,0x%08x,0x%08x", ci.cpuid[0], ci.cpuid[1], ci.cpuid[2], ci.cpuid[3]);
    return s;
}

void CpuInfoImpl::SetHyperthreadingEnabled(bool on) { System::KernelOpts::SetOption("hyperthreading", on); }

void CpuInfoImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    auto s = GetSummary();
    printer->SetType("CPU Info");
    printer->BeginObject();
    printer->Print("Num Packages", s.numPackages);
    printer->Print("Num Cores", s.numCores);
    printer->Print("Num Threads", s.numThreads);
    printer->Print("Hyperthreading Active", s.htActive);
    printer->Print("Hyperthreading Supported", s.htSupported);
    printer->Print("Hyperthreading Enabled", s.htEnabled);
    printer->Print("Hyperthreading Mitigated", s.htMitigated);
    printer->Print("HV Support", s.hvSupport);
    printer->Print("Raw CPUID Data", s.rawCpuid);
    printer->EndObject();
}

// ---- Memory ---------------------------------------------------------------------------

std::string MemoryInfoImpl::TieringTypeText(uint32_t type) {
    static const char* const names[] = {"noTiering", "hardwareTiering", "softwareTiering"};
    if (type < 3) return names[type];
    throw HostCtlException(HostCtl::Misc::StrPrintf("Invalid memory tiering type %u", type));
}

std::string MemoryInfoImpl::TierTypeText(uint32_t type) {
    static const char* const names[] = {"memoryTier", "persistentTier", "cachingTier", "unmappableTier",
                                        "vmOverheadTier"};
    if (type < 5) return names[type];
    throw HostCtlException(HostCtl::Misc::StrPrintf("Invalid memory tier type %u", type));
}

HostCtl::Hardware::MemorySummary MemoryInfoImpl::GetSummary() {
    MemInfo mi = ReadRecord<MemInfo>(KSI_NODE_memory_memInfo);
    HostCtl::Hardware::MemorySummary s;
    s.physicalBytes = mi.physicalBytes;
    s.reservedBytes = mi.reservedBytes;
    s.tieringType = TieringTypeText(ReadRecord<uint32_t>(KSI_NODE_memory_tieringType));
    std::vector<long> tiers;
    TarnCtl::Util::Sysinfo list(KSI_NODE_memory_tiers_info);
    list.SetThrowOnError(false);
    list.List(tiers);
    std::sort(tiers.begin(), tiers.end());
    for (long t : tiers) {
        MemoryTier tier = ReadRecord<MemoryTier>(KSI_NODE_memory_tiers_info, std::to_string(t));
        static const char* const media[] = {"DRAM", "PMem", "NVMe"};
        if (tier.media > 2) throw HostCtlException(HostCtl::Misc::StrPrintf("Invalid memory tier type %u", tier.media));
        s.tiers.push_back({TierTypeText(tier.type), media[tier.media], tier.bytes});
    }
    return s;
}

void MemoryInfoImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    auto s = GetSummary();
    printer->SetType("Memory Info");
    printer->BeginObject();
    printer->Print("Physical Memory", static_cast<uint64_t>(s.physicalBytes), false, "bytes");
    printer->Print("Reserved Memory", static_cast<uint64_t>(s.reservedBytes), false, "bytes");
    printer->Print("Tiering Type", s.tieringType);
    printer->EndObject();
}

std::vector<HostCtl::Hardware::NumaNodeSummary> NumaInfoImpl::GetNodes() {
    std::vector<long> ids;
    TarnCtl::Util::Sysinfo list(KSI_NODE_memory_nodeList);
    list.SetThrowOnError(false);
    list.List(ids);
    std::sort(ids.begin(), ids.end());
    std::vector<HostCtl::Hardware::NumaNodeSummary> out;
    for (long id : ids) {
        NumaNode n = ReadRecord<NumaNode>(KSI_NODE_memory_nodeList, std::to_string(id));
        out.push_back({n.id, n.bytes});
    }
    return out;
}

// ---- Hardware info --------------------------------------------------------------------

void HardwareInfoImpl::Refresh() {
    _dmi = ReadRecord<DmiInfo>(KSI_NODE_hardware_bios_dmiInfo);
    _ipmi = ReadRecord<uint32_t>(KSI_NODE_hardware_ipmiSupport);
    _powerSupport = ReadRecord<uint32_t>(KSI_NODE_power_hardwareSupport);
    _timer = ReadRecord<TimerInfo>(KSI_NODE_timer_info);
    _stale = false;
}

void HardwareInfoImpl::EnsureRead() {
    if (_stale) Refresh();
}

std::unique_ptr<HostCtl::Hardware::PciInfo> HardwareInfoImpl::GetPciInfo() { return std::make_unique<PciInfoImpl>(); }
std::unique_ptr<HostCtl::Hardware::MemoryInfo> HardwareInfoImpl::GetMemoryInfo() {
    return std::make_unique<MemoryInfoImpl>();
}
std::unique_ptr<HostCtl::Hardware::CpuInfo> HardwareInfoImpl::GetCpuInfo() { return std::make_unique<CpuInfoImpl>(); }
std::unique_ptr<HostCtl::Hardware::NumaInfo> HardwareInfoImpl::GetNumaInfo() { return std::make_unique<NumaInfoImpl>(); }

bool HardwareInfoImpl::IsSmcPresent() {
    try {
        return System::ModuleImpl("applesmc").IsLoaded();
    } catch (const HostCtlException&) {
        return false;
    }
}

uint32_t HardwareInfoImpl::GetPowerManagementCurrentPolicy() { return ReadRecord<uint32_t>(KSI_NODE_power_currentPolicy); }
uint32_t HardwareInfoImpl::GetPowerManagementHardwareSupport() {
    EnsureRead();
    return _powerSupport;
}

std::string HardwareInfoImpl::GetHardwareUuid() {
    EnsureRead();
    const uint8_t* u = _dmi.uuid;
    return HostCtl::Misc::StrPrintf("%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", u[0], u[1],
                                    u[2], u[3], u[4], u[5], u[6], u[7], u[8], u[9], u[10], u[11], u[12], u[13], u[14],
                                    u[15]);
}
std::string HardwareInfoImpl::GetProductName() {
    EnsureRead();
    return Text(_dmi.productName, sizeof _dmi.productName);
}
std::string HardwareInfoImpl::GetVendorName() {
    EnsureRead();
    return Text(_dmi.vendorName, sizeof _dmi.vendorName);
}
std::string HardwareInfoImpl::GetSerialNumber() {
    EnsureRead();
    return Text(_dmi.serialNumber, sizeof _dmi.serialNumber);
}
uint64_t HardwareInfoImpl::GetHardwareUptime() {
    EnsureRead();
    return _timer.uptimeMicros;
}
bool HardwareInfoImpl::IsIPMISupported() {
    EnsureRead();
    return _ipmi != 0;
}
std::string HardwareInfoImpl::GetBiosInfo() {
    EnsureRead();
    return Text(_dmi.biosVendor, sizeof _dmi.biosVendor) + " " + Text(_dmi.biosVersion, sizeof _dmi.biosVersion) +
           " " + Text(_dmi.biosReleaseDate, sizeof _dmi.biosReleaseDate);
}

std::vector<HostCtl::Hardware::BootDevice> HardwareInfoImpl::GetBootDevices() {
    UefiBootOrder order = ReadBootOrder();
    std::vector<HostCtl::Hardware::BootDevice> out;
    for (uint32_t i = 0; i < std::min(order.count, kMaxBootEntries); ++i) {
        UefiBootEntry e{};
        TarnCtl::Util::Sysinfo si(KSI_NODE_uefi_variable);
        si.SetThrowOnError(false);
        si.SetInstance(HostCtl::Misc::StrPrintf("Boot%04X", order.entries[i]));
        si.Get(&e, sizeof e);
        out.push_back({order.entries[i], Text(e.description, sizeof e.description)});
    }
    return out;
}

void HardwareInfoImpl::SwapBootDeviceOrder(uint16_t a, uint16_t b) {
    UefiBootOrder order = ReadBootOrder();
    uint32_t count = std::min(order.count, kMaxBootEntries);
    auto* end = order.entries + count;
    auto* ia = std::find(order.entries, end, a);
    auto* ib = std::find(order.entries, end, b);
    if (ia == end || ib == end) throw HostCtlException("Device ids not in boot order");
    if (ia == ib) return;
    std::swap(*ia, *ib);
    TarnCtl::Util::Sysinfo si(KSI_NODE_uefi_variable);
    si.SetInstance(kBootOrder);
    si.SetDefaultErrorMessage("Unable to set boot order or not supported by hardware");
    si.SetStruct(&order, sizeof order);
}

// ---- BMC and platform security facts ---------------------------------------------------

namespace {

constexpr size_t kMaxBmcOsText = 63;
constexpr size_t kMaxHostnameLength = 255;

BmcInfo ReadBmc() {
    BmcInfo b{};
    TarnCtl::Util::Sysinfo si(KSI_NODE_hardware_bmc_info);
    si.SetDefaultErrorMessage("Unable to get BMC info");
    si.Get(&b, sizeof b);
    if (!b.present) throw HostCtlException("Unable to get BMC info: the host has no BMC");
    return b;
}

bool Printable(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return c >= 0x20 && c < 0x7f; });
}

}  // namespace

HostCtl::Hardware::BmcFacts HardwareInfoImpl::GetBmcInfo() {
    BmcInfo b = ReadBmc();
    return {Text(b.version, sizeof b.version), Text(b.osName, sizeof b.osName), Text(b.osVersion, sizeof b.osVersion),
            Text(b.hostname, sizeof b.hostname)};
}

std::string HardwareInfoImpl::GetBMCVersion() { return GetBmcInfo().version; }

void HardwareInfoImpl::SetBmcOSInfo(const std::string& name, const std::string& version) {
    for (const auto* t : {&name, &version})
        if (t->empty() || t->size() > kMaxBmcOsText || !Printable(*t))
            throw HostCtlException(HostCtl::Misc::StrPrintf("Invalid BMC OS info '%s': 1 to %zu printable characters",
                                                            t->c_str(), kMaxBmcOsText));
    ReadBmc();
    TarnCtl::Util::Sysinfo si(KSI_NODE_hardware_bmc_osInfo);
    si.SetDefaultErrorMessage("Unable to set BMC OS info");
    si.AddInput(name);
    si.AddInput(version);
    si.Set();
}

void HardwareInfoImpl::ReportToBmcHaldenHostname(const std::string& name) {
    if (name.empty() || name.size() > kMaxHostnameLength || !Printable(name))
        throw HostCtlException(HostCtl::Misc::StrPrintf("Invalid hostname '%s': 1 to %zu printable characters",
                                                        name.c_str(), kMaxHostnameLength));
    ReadBmc();
    TarnCtl::Util::Sysinfo si(KSI_NODE_hardware_bmc_hostname);
    si.SetDefaultErrorMessage("Unable to report the hostname to the BMC");
    si.AddInput(name);
    si.Set();
    // The controller answers the write at once but may keep serving its old cache.
    if (GetBmcInfo().hostname != name) throw HostCtlException("BMC did not update its cache for Halden hostname");
}

HostCtl::Hardware::NvdFacts HardwareInfoImpl::GetNvdInfo() {
    NvdInfo n = ReadOptionalRecord<NvdInfo>(KSI_NODE_hardware_nvd_info);
    return {n.count, n.bytes};
}
HostCtl::Hardware::SgxFacts HardwareInfoImpl::GetSgxInfo() {
    SgxInfo i = ReadOptionalRecord<SgxInfo>(KSI_NODE_hardware_cpu_sgxInfo);
    return {i.supported != 0, i.enabled != 0, i.flexibleLaunchControl != 0, i.epcBytes};
}
HostCtl::Hardware::SevFacts HardwareInfoImpl::GetSevInfo() {
    SevInfo i = ReadOptionalRecord<SevInfo>(KSI_NODE_hardware_cpu_sevInfo);
    return {i.supported != 0, i.enabled != 0, i.esSupported != 0, i.maxGuests};
}
HostCtl::Hardware::TdxFacts HardwareInfoImpl::GetTdxInfo() {
    TdxInfo i = ReadOptionalRecord<TdxInfo>(KSI_NODE_hardware_cpu_tdxInfo);
    return {i.supported != 0, i.enabled != 0, i.maxGuests};
}

void HardwareInfoImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("Hardware Info");
    printer->BeginObject();
    printer->Print("Name", std::string("hardware"));
    printer->Print("Vendor Name", GetVendorName());
    printer->Print("Product Name", GetProductName());
    printer->Print("Hardware Uuid", GetHardwareUuid());
    printer->Print("Serial Number", GetSerialNumber());
    printer->Print("IPMI Supported", IsIPMISupported());
    printer->EndObject();
}

}  // namespace TarnCtl::Hardware
