// HardwareInfoImpl's inventory facts beyond the firmware: device
// virtualization extensions, the devices a VM can be given now, smart card
// readers, power policies and persistent memory. Each is read from the kernel
// when asked; a list item the kernel describes impossibly (a number that does
// not fit) is logged and left out, a single fact that cannot be right throws.
#include <algorithm>
#include <cstring>
#include <limits>

#include "hardware/hardware_info_impl.h"
#include "hardware/pci_info_impl.h"
#include "hostctl/exception.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/sysinfo.h"

namespace TarnCtl::Hardware {

using namespace Ksi::Hardware;
using HostCtl::Lib::HostCtlException;

namespace {

const char* kTag = "HardwareInfo";

std::string Text(const char* s, size_t n) { return std::string(s, strnlen(s, n)); }

// The instance keys of a list node; a node the hardware lacks lists none.
std::vector<std::string> ListKeys(unsigned int node) {
    std::vector<std::string> keys;
    TarnCtl::Util::Sysinfo si(node);
    si.SetThrowOnError(false);
    if (si.List(keys) != TARN_OK) keys.clear();
    return keys;
}

template <typename T>
T ReadAt(unsigned int node, const std::string& instance, const char* message) {
    T rec{};
    TarnCtl::Util::Sysinfo si(node);
    if (!instance.empty()) si.SetInstance(instance);
    si.SetDefaultErrorMessage(message);
    si.Get(&rec, sizeof rec);
    return rec;
}

}  // namespace

HostCtl::Hardware::DvxFacts HardwareInfoImpl::GetDVXInfo() {
    DvxInfo info = ReadOptionalRecord<DvxInfo>(KSI_NODE_hardware_dvx_info);
    HostCtl::Hardware::DvxFacts facts{info.supported != 0, info.supported != 0 && info.enabled != 0, {}};
    if (!facts.supported) return facts;
    std::vector<std::string> keys = ListKeys(KSI_NODE_hardware_dvx_devices);
    std::sort(keys.begin(), keys.end());
    for (const auto& key : keys) {
        try {
            std::string sbdf = HostCtl::Hardware::GetSBDFString(HostCtl::Hardware::ParsePciString(key));
            DvxDevice d = ReadAt<DvxDevice>(KSI_NODE_hardware_dvx_devices, key, "Unable to get DVX device info");
            if (d.usedInstances > d.maxInstances)
                throw HostCtlException(HostCtl::Misc::StrPrintf("%u instances in use of %u", d.usedInstances,
                                                                d.maxInstances));
            facts.devices.push_back({sbdf, Text(d.driver, sizeof d.driver), d.maxInstances, d.usedInstances});
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Skipping DVX device %s: %s\n", kTag, key.c_str(), e.GetDetailedMessage().c_str());
        }
    }
    return facts;
}

std::vector<HostCtl::Hardware::AssignableDevice> HardwareInfoImpl::GetAssignableHardwareInfo() {
    std::vector<HostCtl::Hardware::AssignableDevice> out;
    for (auto& d : PciInfoImpl().GetPassthruPciDevices()) {
        try {
            out.push_back({d->GetSBDFString(), d->GetVendor(), d->GetDevice(), d->GetHardwareLabel(),
                           d->IsInPassthruUseByVM()});
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Skipping assignable device %s: %s\n", kTag, d->GetSBDFString().c_str(),
                               e.GetDetailedMessage().c_str());
        }
    }
    return out;
}

std::vector<HostCtl::Hardware::SmartCardReaderFacts> HardwareInfoImpl::GetSmartCardInfo() {
    std::vector<long> ids;
    for (const auto& key : ListKeys(KSI_NODE_hardware_smartCard_readers)) {
        char* end = nullptr;
        long id = std::strtol(key.c_str(), &end, 10);
        if (key.empty() || *end || id < 0) {
            TarnCtl_LogWarnInt("%s: Skipping smart card reader %s: not a reader index\n", kTag, key.c_str());
            continue;
        }
        ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    std::vector<HostCtl::Hardware::SmartCardReaderFacts> out;
    for (long id : ids) {
        std::string key = std::to_string(id);
        try {
            SmartCardReader r =
                ReadAt<SmartCardReader>(KSI_NODE_hardware_smartCard_readers, key, "Unable to get smart card reader info");
            if (r.vendorId > 0xffff || r.productId > 0xffff)
                throw HostCtlException(
                    HostCtl::Misc::StrPrintf("Invalid USB id %x:%x", r.vendorId, r.productId));
            out.push_back({Text(r.name, sizeof r.name), static_cast<uint16_t>(r.vendorId),
                           static_cast<uint16_t>(r.productId), r.cardPresent != 0});
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Skipping smart card reader %s: %s\n", kTag, key.c_str(),
                               e.GetDetailedMessage().c_str());
        }
    }
    return out;
}

HostCtl::Hardware::PowerFacts HardwareInfoImpl::GetPowerInfo() {
    HostCtl::Hardware::PowerFacts facts{};
    facts.hardwareSupport = GetPowerManagementHardwareSupport();
    if (facts.hardwareSupport & ~static_cast<uint32_t>(kPowerPStates | kPowerCStates))
        throw HostCtlException(
            HostCtl::Misc::StrPrintf("Invalid power management hardware support 0x%x", facts.hardwareSupport));
    if (facts.hardwareSupport & kPowerPStates) facts.supportedTechniques.push_back("ACPI P-states");
    if (facts.hardwareSupport & kPowerCStates) facts.supportedTechniques.push_back("ACPI C-states");
    for (const auto& key : ListKeys(KSI_NODE_power_policies)) {
        try {
            PowerPolicy p = ReadAt<PowerPolicy>(KSI_NODE_power_policies, key, "Unable to get power policy");
            facts.policies.push_back({p.id, Text(p.shortName, sizeof p.shortName), Text(p.name, sizeof p.name)});
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Skipping power policy %s: %s\n", kTag, key.c_str(), e.GetDetailedMessage().c_str());
        }
    }
    std::sort(facts.policies.begin(), facts.policies.end(),
              [](const auto& a, const auto& b) { return a.id < b.id; });
    uint32_t current = GetPowerManagementCurrentPolicy();
    auto it = std::find_if(facts.policies.begin(), facts.policies.end(),
                           [&](const auto& p) { return p.id == current; });
    if (it == facts.policies.end()) throw HostCtlException(HostCtl::Misc::StrPrintf("Invalid power policy %u", current));
    facts.current = *it;
    return facts;
}

HostCtl::Hardware::PMemFacts HardwareInfoImpl::GetPMemInfo() {
    NvdInfo nvd = ReadOptionalRecord<NvdInfo>(KSI_NODE_hardware_nvd_info);
    HostCtl::Hardware::PMemFacts facts{nvd.count, nvd.bytes, 0};
    for (const auto& tier : MemoryInfoImpl().GetSummary().tiers) {
        if (tier.media != "PMem") continue;
        if (tier.bytes > std::numeric_limits<uint64_t>::max() - facts.tierBytes)
            throw HostCtlException("Invalid persistent memory size: the PMem tiers exceed 18446744073709551615 bytes");
        facts.tierBytes += tier.bytes;
    }
    return facts;
}

}  // namespace TarnCtl::Hardware
