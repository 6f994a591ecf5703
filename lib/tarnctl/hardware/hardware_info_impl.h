// The host's hardware inventory: firmware facts (DMI, UEFI boot order, power,
// timers, IPMI) and the doors to the PCI, processor, memory and NUMA
// summaries.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hostctl/hardware.h"
#include "ksi/hardware.h"
#include "lib/tarnctl_object.h"
#include "platform/sysinfo.h"

namespace TarnCtl::Hardware {

// A fact record the hardware may not have: all zero then.
template <typename T>
T ReadOptionalRecord(unsigned int node) {
    T rec{};
    TarnCtl::Util::Sysinfo si(node);
    si.SetThrowOnError(false);
    if (si.Get(&rec, sizeof rec) != TARN_OK) rec = T{};
    return rec;
}

class CpuInfoImpl : public virtual HostCtl::Hardware::CpuInfo, public TarnCtl::Lib::TarnCtlObject {
public:
    void Refresh() override {}
    std::string GetName() const override { return "CpuInfo"; }
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;
    HostCtl::Hardware::CpuSummary GetSummary() override;
    // Recorded for the next boot through the boot option "hyperthreading".
    void SetHyperthreadingEnabled(bool on) override;
};

class MemoryInfoImpl : public virtual HostCtl::Hardware::MemoryInfo, public TarnCtl::Lib::TarnCtlObject {
public:
    void Refresh() override {}
    std::string GetName() const override { return "MemoryInfo"; }
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;
    HostCtl::Hardware::MemorySummary GetSummary() override;
    static std::string TieringTypeText(uint32_t type);  // "Invalid memory tiering type %u" otherwise
    static std::string TierTypeText(uint32_t type);     // "Invalid memory tier type %u" otherwise
};

class NumaInfoImpl : public virtual HostCtl::Hardware::NumaInfo, public TarnCtl::Lib::TarnCtlObject {
public:
    void Refresh() override {}
    std::string GetName() const override { return "NumaInfo"; }
    std::vector<HostCtl::Hardware::NumaNodeSummary> GetNodes() override;
};

class HardwareInfoImpl : public virtual HostCtl::Hardware::HardwareInfo, public TarnCtl::Lib::TarnCtlObject {
public:
    HardwareInfoImpl() = default;
    void Refresh() override;
    std::string GetName() const override { return "HardwareInfoImpl"; }
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    // Refuses a device record whose instances in use exceed its maximum (skipped, logged).
    HostCtl::Hardware::DvxFacts GetDVXInfo() override;
    std::vector<HostCtl::Hardware::AssignableDevice> GetAssignableHardwareInfo() override;
    std::unique_ptr<HostCtl::Hardware::PciInfo> GetPciInfo() override;
    bool IsSmcPresent() override;
    std::unique_ptr<HostCtl::Hardware::MemoryInfo> GetMemoryInfo() override;
    std::unique_ptr<HostCtl::Hardware::CpuInfo> GetCpuInfo() override;
    // A reader whose USB ids do not fit 16 bits is skipped and logged.
    std::vector<HostCtl::Hardware::SmartCardReaderFacts> GetSmartCardInfo() override;
    // Throws "Invalid power policy %u" when the current policy is not one of
    // the kernel's, "Invalid power management hardware support 0x%x" for
    // bits it does not know.
    HostCtl::Hardware::PowerFacts GetPowerInfo() override;
    uint32_t GetPowerManagementCurrentPolicy() override;
    uint32_t GetPowerManagementHardwareSupport() override;
    std::unique_ptr<HostCtl::Hardware::NumaInfo> GetNumaInfo() override;
    std::string GetHardwareUuid() override;
    std::string GetProductName() override;
    std::string GetVendorName() override;
    std::string GetSerialNumber() override;
    uint64_t GetHardwareUptime() override;
    std::vector<HostCtl::Hardware::BootDevice> GetBootDevices() override;
    void SwapBootDeviceOrder(uint16_t a, uint16_t b) override;
    bool IsIPMISupported() override;
    std::string GetBiosInfo() override;
    std::string GetBMCVersion() override;
    // Throws "Invalid persistent memory size: ..." when the PMem tiers add up past 64 bits.
    HostCtl::Hardware::PMemFacts GetPMemInfo() override;
    HostCtl::Hardware::BmcFacts GetBmcInfo() override;
    void SetBmcOSInfo(const std::string& name, const std::string& version) override;
    void ReportToBmcHaldenHostname(const std::string& name) override;
    HostCtl::Hardware::NvdFacts GetNvdInfo() override;
    HostCtl::Hardware::SgxFacts GetSgxInfo() override;
    HostCtl::Hardware::SevFacts GetSevInfo() override;
    HostCtl::Hardware::TdxFacts GetTdxInfo() override;

private:
    void EnsureRead();
    bool _stale = true;
    Ksi::Hardware::DmiInfo _dmi{};
    uint32_t _ipmi = 0;
    uint32_t _powerSupport = 0;
    Ksi::Hardware::TimerInfo _timer{};
};

}  // namespace TarnCtl::Hardware
