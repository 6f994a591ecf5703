// Shared helpers of the network implementation (see network_util.h).
#include "network/network_util.h"

#include <atomic>
#include <vector>

#include "hostctl/adv.h"
#include "hostctl/exception.h"
#include "hostctl/host.h"
#include "platform/misc.h"
#include "system/domains.h"
#include "system/kernel_opt_impl.h"
#include "system/kernel_opts.h"

namespace TarnCtl::Network {

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::ConfigStoreTransaction;

void ThrowNotAvailable(const std::string& operation) {
    throw HostCtl::Lib::HostCtlException(operation + " is not available yet");
}

std::shared_ptr<HaldenConfigStore::ConfigStore> NetStore() {
    return HaldenConfigStore::ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
}

bool IsBootMode() { return NetStore()->IsBoot(); }

namespace {

std::unique_ptr<HostCtl::Adv::AdvancedOption> Option(const std::string& branch, const std::string& option) {
    return HostCtl::HostFactory::GetHost()->GetAdvancedOptions()->GetBranchByName(branch)->GetOptionByName(option);
}

template <typename T>
T* As(const std::unique_ptr<HostCtl::Adv::AdvancedOption>& o, const std::string& branch, const std::string& option) {
    auto* typed = dynamic_cast<T*>(o.get());
    if (!typed)
        throw HostCtl::Lib::HostCtlException("Advanced option /" + branch + "/" + option + " has another type");
    return typed;
}

}  // namespace

int64_t GetAdvInt(const std::string& branch, const std::string& option) {
    auto o = Option(branch, option);
    return As<HostCtl::Adv::AdvancedIntegerOption>(o, branch, option)->GetValue();
}

void SetAdvInt(const std::string& branch, const std::string& option, int64_t value) {
    auto o = Option(branch, option);
    As<HostCtl::Adv::AdvancedIntegerOption>(o, branch, option)->SetValue(static_cast<long>(value));
}

std::string GetAdvString(const std::string& branch, const std::string& option) {
    auto o = Option(branch, option);
    return As<HostCtl::Adv::AdvancedStringOption>(o, branch, option)->GetValue();
}

void SetAdvString(const std::string& branch, const std::string& option, const std::string& value) {
    auto o = Option(branch, option);
    As<HostCtl::Adv::AdvancedStringOption>(o, branch, option)->SetValue(value);
}

// ---- Boot option and module option -------------------------------------------------

namespace {
const char* const kNetNumPortsets = "netNumPortsets";
const ConfigStoreObjectId kTcpip4Settings("module_settings", "tarnos", kHalden, "tcpip4");
}  // namespace

uint32_t GetBootOptionNetNumPortsets() {
    auto option = TarnCtl::System::KernelOpts::GetOption(kNetNumPortsets);
    auto* typed = dynamic_cast<HostCtl::System::KernelTypedOption<uint32_t>*>(option.get());
    return typed ? typed->GetValue() : 0;
}

void SetBootOptionNetNumPortsets(uint32_t n) {
    TarnCtl::System::KernelOpts::SetOption(kNetNumPortsets, static_cast<long>(n));
}

namespace {
std::vector<std::string> OptionWords(const std::string& options) {
    std::vector<std::string> words;
    HostCtl::Misc::StringTokenize(options, words, " \t");
    return words;
}
}  // namespace

bool GetTcpip4Ipv6Option() {
    std::string options;
    if (auto o = NetStore()->Get(kTcpip4Settings)) o->GetValue("options", &options);
    bool on = true;
    for (const std::string& w : OptionWords(options))
        if (w.rfind("ipv6=", 0) == 0 || w == "ipv6") on = w != "ipv6=0";
    return on;
}

void SetTcpip4Ipv6Option(bool on) {
    auto store = NetStore();
    ConfigStoreTransaction t(store);
    auto o = store->Get(kTcpip4Settings);
    if (!o) o = std::make_shared<ConfigStoreObject>(kTcpip4Settings);
    std::string options;
    o->GetValue("options", &options);
    // The option string keeps its other options in their order.
    std::string out;
    bool replaced = false;
    for (const std::string& w : OptionWords(options)) {
        std::string word = w;
        if (w.rfind("ipv6=", 0) == 0 || w == "ipv6") {
            if (replaced) continue;
            word = on ? "ipv6=1" : "ipv6=0";
            replaced = true;
        }
        out += (out.empty() ? "" : " ") + word;
    }
    if (!replaced) out += std::string(out.empty() ? "" : " ") + (on ? "ipv6=1" : "ipv6=0");
    o->SetValue("options", out);
    store->Write(o);
    t.Commit();
}

namespace {
std::atomic<bool (*)()> gDpuProbe{nullptr};
}

bool HostHasDpu() {
    if (bool (*probe)() = gDpuProbe.load()) return probe();
    return TarnCtl::Dpu::DpuInfoImpl().HasDpuDevice();
}

void SetDpuProbe(bool (*probe)()) { gDpuProbe.store(probe); }

}  // namespace TarnCtl::Network

namespace TarnCtl::Network {

void KernelStep(const std::string& what, const std::function<void()>& step) {
    try {
        step();
    } catch (const TarnCtl::Lib::SysinfoException& e) {
        throw TarnCtl::Lib::SysinfoException(what + HostCtl::Lib::StatusTail(e.GetStatus()), e.GetStatus(),
                                             e.GetKevtMessage());
    }
}

}  // namespace TarnCtl::Network
