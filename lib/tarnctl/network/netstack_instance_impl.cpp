// Netstack instances: creation in the configuration, enabling in the kernel,
// and the settings that go to the kernel, the default netstack's advanced
// options and the record. The default netstack keeps its socket limit and
// congestion-control algorithm in advanced options as well, so both stay in step.
#include "network/netstack_instance_impl.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <unistd.h>

#include "hostctl/exception.h"
#include "ksi/network.h"
#include "network/network_info_impl.h"
#include "network/network_util.h"
#include "platform/hostroot.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"

namespace TarnCtl::Network {

using ConfigStoreUtil::ConfigBranchUtil;
using ConfigStoreUtil::ConfigFileUtil;
using ConfigStoreUtil::SynchronizedConfigFileUtil;
using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::ConfigStoreTransaction;
using HostCtl::Lib::HostCtlException;

namespace {

std::string ResolverFile(const std::string& key) { return "/etc/" + key + "-resolv.conf"; }

ConfigStoreObjectId StoreId(const std::string& key) {
    return ConfigStoreObjectId("net_stacks", kNetwork, kHalden, key);
}

std::string Text(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

}  // namespace

NetstackInstanceImpl::NetstackInstanceImpl(const std::string& key) : _key(key), _name(key) {}

bool NetstackInstanceImpl::IsDefault() const { return _key == kDefaultNetstack; }

void NetstackInstanceImpl::SetFields(const std::string& name, unsigned int maxConnections, const std::string& algo,
                                     bool ipv6, const std::string& ecn) {
    _name = name;
    _maxConnections = maxConnections;
    _ccAlgo = algo;
    _ipv6Enabled = ipv6;
    _ecnStatus = ecn;
}

bool NetstackInstanceImpl::ReadKernelProperties(const std::string& key, KsiTcpipInstanceProps* out) {
    Util::Sysinfo si(KSI_NODE_net_tcpip_instances_properties);
    si.SetThrowOnError(false);
    si.SetInstance(key);
    std::memset(out, 0, sizeof *out);
    return si.Get(out, sizeof *out) == TARN_OK && out->state == KSI_NETSTACK_RUNNING;
}

std::vector<std::string> NetstackInstanceImpl::KernelNicNames(const std::string& key) {
    Util::Sysinfo si(KSI_NODE_net_tcpip_instances_vNics_properties);
    si.SetInstance(key);
    std::vector<std::string> names;
    si.List(names);
    return names;
}

ConfigBranchUtil NetstackInstanceImpl::GetConfigLocation(ConfigFileUtil& config, bool create) {
    auto array = config.GetArray(kConfigArray);
    ConfigBranchUtil entry = array.FindInstanceWithValue("key", _key);
    if (entry) return entry;
    if (!create)
        throw HostCtlException("Unable to find netstack instance with key: " + _key + " at config location " +
                               "/net/netstackinstance");
    entry = array.NewInstance();
    entry.SetValue("key", _key);
    return entry;
}

// ---- Reading ------------------------------------------------------------------------

void NetstackInstanceImpl::RefreshIfStale() {
    if (_stale) Refresh();
}

void NetstackInstanceImpl::Refresh() {
    _stale = false;
    KsiTcpipInstanceProps props{};
    bool running = ReadKernelProperties(_key, &props);
    SynchronizedConfigFileUtil config({kNetstacksRoot});
    ConfigBranchUtil entry = config->GetArray(kConfigArray).FindInstanceWithValue("key", _key);
    if (!entry) {
        _state = running ? HostCtl::Network::NETSTACK_RUNNING : HostCtl::Network::NETSTACK_ABSENT;
        if (running) {
            _maxConnections = props.socketMax;
            _ccAlgo = Text(props.ccAlgo, sizeof props.ccAlgo);
            _ipv6Enabled = props.ipv6Enabled;
        }
        return;
    }
    bool enabled = false;
    entry.GetValue("enable", &enabled);
    if (enabled && !running && !IsBootMode()) {
        entry.SetValue("enable", false);
        config->Write();
        TarnCtl_LogWarnInt("%s: Updated netstack state in config to disabled: %s, since it does not exist in kernel\n",
                           "NetstackInstanceImpl::Refresh", _key.c_str());
    }
    _state = running ? HostCtl::Network::NETSTACK_RUNNING : HostCtl::Network::NETSTACK_CONFIGURED;
    unsigned int maxConnections = kDefaultMaxConnections;
    entry.GetValue("maxConnections", &maxConnections);
    _maxConnections = maxConnections;
    _ccAlgo = kDefaultCongestionAlgo;
    entry.GetValue("congestionAlgo", &_ccAlgo);
    _ipv6Enabled = true;
    entry.GetValue("ipv6Enabled", &_ipv6Enabled);
    _ecnStatus = kDefaultEcnStatus;
    entry.GetValue("ecnStatus", &_ecnStatus);
    _name = _key;
    entry.GetValue("name", &_name);
    if (running) {
        Util::Sysinfo si(KSI_NODE_net_tcpip_instances_defaultcc);
        si.SetThrowOnError(false);
        si.SetInstance(_key);
        KsiTcpipText cc{};
        if (si.Get(&cc, sizeof cc) == TARN_OK && Text(cc.text, sizeof cc.text) != _ccAlgo)
            throw HostCtlException("Inconsistent value of ccalgo for Netstack instance: " + _key);
    }
}

std::string NetstackInstanceImpl::GetInstanceName() {
    RefreshIfStale();
    return _name;
}

unsigned int NetstackInstanceImpl::GetMaxConnections() {
    RefreshIfStale();
    if (IsDefault()) {
        try {
            unsigned int adv = static_cast<unsigned int>(GetAdvInt("Net", "TcpipSocketMax"));
            if (adv != _maxConnections) {
                TarnCtl_LogInfoInt("%s: Syncing netstack max conn value to advanced config: %d -> %d\n",
                                   "NetstackInstanceImpl", static_cast<int>(_maxConnections), static_cast<int>(adv));
                _maxConnections = adv;
                RecordIfConfigured(true, [&](ConfigBranchUtil& e) { e.SetValue("maxConnections", adv); });
            }
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Failed to read advanced setting TcpipSocketMax, error: %s\n",
                               "NetstackInstanceImpl", e.GetDetailedMessage().c_str());
        }
    }
    return _maxConnections;
}

std::string NetstackInstanceImpl::GetCongestionControlAlgorithm() {
    RefreshIfStale();
    return _ccAlgo;
}

bool NetstackInstanceImpl::GetIpv6Enabled() {
    RefreshIfStale();
    return _ipv6Enabled;
}

std::string NetstackInstanceImpl::GetEcnStatus() {
    RefreshIfStale();
    return _ecnStatus;
}

uint32_t NetstackInstanceImpl::GetState() {
    RefreshIfStale();
    return _state;
}

bool NetstackInstanceImpl::IsEnabled() {
    KsiTcpipInstanceProps props{};
    return ReadKernelProperties(_key, &props);
}

unsigned int NetstackInstanceImpl::GetCurrentMaxConnections() {
    KsiTcpipInstanceProps props{};
    return ReadKernelProperties(_key, &props) ? props.socketMax : 0;
}

bool NetstackInstanceImpl::GetCurrentIpv6Enabled() {
    KsiTcpipInstanceProps props{};
    return ReadKernelProperties(_key, &props) && props.ipv6Enabled;
}

std::vector<std::string> NetstackInstanceImpl::GetTarnNicNames() { return KernelNicNames(_key); }

std::vector<std::string> NetstackInstanceImpl::GetCongestionControlAlgorithmList() {
    char list[KSI_TCPIP_AVAILABLECC_LEN + 1] = {};
    KernelStep("Unable to read the available congestion control algorithms", [&] {
        Util::Sysinfo si(KSI_NODE_net_tcpip_instances_availablecc);
        si.SetInstance(kDefaultNetstack);
        si.Get(list, KSI_TCPIP_AVAILABLECC_LEN);
    });
    std::vector<std::string> out;
    HostCtl::Misc::StringTokenize(list, out, ",");
    return out;
}

// ---- Recording ----------------------------------------------------------------------

void NetstackInstanceImpl::RecordIfConfigured(bool persist, const std::function<void(ConfigBranchUtil&)>& apply) {
    if (!persist || IsBootMode()) return;
    SynchronizedConfigFileUtil config({kNetstacksRoot});
    ConfigBranchUtil entry = config->GetArray(kConfigArray).FindInstanceWithValue("key", _key);
    if (!entry) return;
    apply(entry);
    config->Write();
}

void NetstackInstanceImpl::RemoveStoreField(const std::string& field, const std::function<void()>& extra) {
    auto store = NetStore();
    ConfigStoreTransaction t(store);
    extra();
    if (!IsBootMode()) {
        if (auto o = store->Get(StoreId(_key)); o && o->Remove(field)) store->Write(o);
    }
    t.Commit();
}

void NetstackInstanceImpl::SetKey(const std::string& key) {
    NetworkInfoImpl::IsNetworkObjectNameValid(key, true);
    _key = key;
    _stale = true;
}

void NetstackInstanceImpl::SetInstanceName(const std::string& name, bool persist) {
    NetworkInfoImpl::IsNetworkObjectNameValid(name, true);
    _name = name;
    RecordIfConfigured(persist, [&](ConfigBranchUtil& e) { e.SetValue("name", name); });
}

void NetstackInstanceImpl::SetMaxConnections(const unsigned int& n, bool persist) {
    if (n < kMinMaxConnections || n > kMaxMaxConnections)
        throw HostCtlException(HostCtl::Misc::StrPrintf("Unable to set max connections.  Valid values are %u-%u",
                                                        kMinMaxConnections, kMaxMaxConnections));
    if (IsDefault()) {
        try {
            SetAdvInt("Net", "TcpipSocketMax", n);
        } catch (const HostCtlException& e) {
            TarnCtl_LogErrorInt("%s: Failed to write advanced setting TcpipSocketMax, error: %s\n",
                                "NetstackInstanceImpl", e.GetDetailedMessage().c_str());
        }
    }
    _maxConnections = n;
    RecordIfConfigured(persist, [&](ConfigBranchUtil& e) { e.SetValue("maxConnections", n); });
}

void NetstackInstanceImpl::UnsetMaxConnections() {
    RemoveStoreField("max_connections", [&] {
        if (IsDefault()) SetAdvInt("Net", "TcpipSocketMax", kDefaultMaxConnections);
    });
    _maxConnections = kDefaultMaxConnections;
}

void NetstackInstanceImpl::UpdateDefaultNSCongestionControlAlgorithm(const std::string& name) {
    KernelStep("Unable to set the congestion control algorithm of netstack instance " + std::string(kDefaultNetstack),
               [&] {
                   Util::Sysinfo si(KSI_NODE_net_tcpip_instances_defaultcc);
                   si.SetInstance(kDefaultNetstack);
                   si.AddInput(name);
                   si.Set();
               });
    SetAdvString("Net", "TcpipDefaultStackCCAlgo", name);
}

void NetstackInstanceImpl::SetCongestionControlAlgorithm(const std::string& name, bool persist) {
    auto list = GetCongestionControlAlgorithmList();
    if (std::find(list.begin(), list.end(), name) == list.end())
        throw HostCtlException("Unsupported congestion control algorithm");
    TarnCtl_LogInfoInt("%s: congestion control algorithm: %s\n", "NetstackInstanceImpl", name.c_str());
    if (IsDefault()) UpdateDefaultNSCongestionControlAlgorithm(name);
    _ccAlgo = name;
    RecordIfConfigured(persist, [&](ConfigBranchUtil& e) { e.SetValue("congestionAlgo", name); });
}

void NetstackInstanceImpl::UnsetCongestionControlAlgorithm() {
    RemoveStoreField("congestion_control_algorithm", [&] {
        if (IsDefault()) UpdateDefaultNSCongestionControlAlgorithm(kDefaultCongestionAlgo);
    });
    _ccAlgo = kDefaultCongestionAlgo;
}

void NetstackInstanceImpl::SetIpv6Enabled(bool on, bool persist) {
    _ipv6Enabled = on;
    RecordIfConfigured(persist, [&](ConfigBranchUtil& e) { e.SetValue("ipv6Enabled", on); });
}

void NetstackInstanceImpl::ApplyEcnStatus() {
    KernelStep("Unable to set ECN status of netstack instance " + _key, [&] {
        Util::Sysinfo si(KSI_NODE_net_tcpip_instances_ecn);
        si.SetInstance(_key);
        si.AddInput(_ecnStatus);
        si.Set();
    });
}

void NetstackInstanceImpl::SetEcnStatus(const std::string& text) {
    if (text != "disabled" && text != "enabled" && text != "echo-only")
        throw HostCtlException("Invalid ECN status '" + text + "'; valid values are disabled, enabled, echo-only");
    KernelStep("Unable to set ECN status of netstack instance " + _key, [&] {
        Util::Sysinfo si(KSI_NODE_net_tcpip_instances_ecn);
        si.SetInstance(_key);
        si.AddInput(text);
        si.Set();
    });
    _ecnStatus = text;
    RecordIfConfigured(true, [&](ConfigBranchUtil& e) { e.SetValue("ecnStatus", text); });
}

// ---- Life cycle ---------------------------------------------------------------------

void NetstackInstanceImpl::WriteResolverFile() {
    std::string path = ResolverFile(_key);
    std::string real = Platform::HostPath(path);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(real).parent_path(), ec);
    int fd = ::open(real.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw HostCtlException("Failed to create dns file " + path + "for netstack instance " + _key +
                               " error: " + std::to_string(errno));
    ::close(fd);
}

void NetstackInstanceImpl::Create() {
    NetworkInfoImpl::IsNetworkObjectNameValid(_key, true);
    NetworkInfoImpl::IsNetworkObjectNameValid(_name, true);
    bool running = IsEnabled();
    {
        SynchronizedConfigFileUtil config({kNetstacksRoot});
        ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), true);
        entry.SetValue("name", _name);
        if (_maxConnections != kDefaultMaxConnections) entry.SetValue("maxConnections", _maxConnections);
        if (!_ipv6Enabled) entry.SetValue("ipv6Enabled", false);
        entry.SetValue("enable", running);
        if (_ccAlgo != kDefaultCongestionAlgo) entry.SetValue("congestionAlgo", _ccAlgo);
        if (_ecnStatus != kDefaultEcnStatus) entry.SetValue("ecnStatus", _ecnStatus);
        config->Write();
    }
    WriteResolverFile();
    _state = running ? HostCtl::Network::NETSTACK_RUNNING : HostCtl::Network::NETSTACK_CONFIGURED;
    TarnCtl_LogInfoInt("%s: Created netstack instance %s in configuration\n", "NetstackInstanceImpl", _key.c_str());
}

void NetstackInstanceImpl::Enable() {
    NetworkInfoImpl::IsNetworkObjectNameValid(_key, true);
    NetworkInfoImpl::IsNetworkObjectNameValid(_name, true);
    SynchronizedConfigFileUtil config({kNetstacksRoot});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    std::string ecn;
    bool hasEcn = entry.GetValue("ecnStatus", &ecn);
    KernelStep("Unable to create netstack instance " + _key, [&] {
        Util::Sysinfo si(KSI_NODE_net_tcpip_createNetstackInstance);
        si.AddInput("name=" + _key);
        si.AddInput("ccalgo=" + _ccAlgo);
        si.AddInput("socketmax=" + std::to_string(_maxConnections));
        si.Set();
    });
    try {
        if (hasEcn)
            KernelStep("Unable to set ECN status of netstack instance " + _key, [&] {
                Util::Sysinfo si(KSI_NODE_net_tcpip_instances_ecn);
                si.SetInstance(_key);
                si.AddInput(ecn);
                si.Set();
            });
        auto store = NetStore();
        if (store->IsBoot()) {
            ConfigStoreObjectId group("net_stacks", kNetwork, kHalden);
            if (!store->GetDesiredUserConfigInstances(group, 0).empty()) store->SetBootStatus(group, true);
        }
        entry.SetValue("enable", true);
        config->Write();
    } catch (...) {
        // The kernel instance came up for this call only: take it down again.
        Util::Sysinfo si(KSI_NODE_net_tcpip_instances_destroy);
        si.SetThrowOnError(false);
        si.SetInstance(_key);
        si.Set();
        throw;
    }
    _state = HostCtl::Network::NETSTACK_RUNNING;
    TarnCtl_LogInfoInt("%s: Enabled netstack instance %s\n", "NetstackInstanceImpl", _key.c_str());
}

void NetstackInstanceImpl::Disable() {
    KernelStep("Unable to destroy netstack instance " + _key + " in the kernel", [&] {
        Util::Sysinfo si(KSI_NODE_net_tcpip_instances_destroy);
        si.SetInstance(_key);
        si.Set();
    });
    SynchronizedConfigFileUtil config({kNetstacksRoot});
    ConfigBranchUtil entry = config->GetArray(kConfigArray).FindInstanceWithValue("key", _key);
    if (entry) {
        entry.SetValue("enable", false);
        config->Write();
    }
    _state = entry ? HostCtl::Network::NETSTACK_CONFIGURED : HostCtl::Network::NETSTACK_ABSENT;
    TarnCtl_LogInfoInt("%s: Disabled netstack instance %s\n", "NetstackInstanceImpl", _key.c_str());
}

void NetstackInstanceImpl::Destroy(bool write) {
    // Routing lives in the netstack's record; its owner clears its own state first.
    try {
        NetworkInfoImpl().GetRoutingInfo(_key)->RemoveConfig(false);
    } catch (const HostCtlException& e) {
        TarnCtl_LogVerboseInt("%s: Routing configuration of netstack %s not removed: %s\n", "NetstackInstanceImpl",
                              _key.c_str(), e.what());
    }
    {
        SynchronizedConfigFileUtil config({kNetstacksRoot});
        auto array = config->GetArray(kConfigArray);
        ConfigBranchUtil entry = array.FindInstanceWithValue("key", _key);
        if (entry) {
            entry.HaldenConfToConfigStoreDelete();
            array.RemoveInstance("key", _key);
            if (write) config->Write();
        }
    }
    TarnCtl_LogInfoInt("%s: Destroyed netstack instance %s\n", "NetstackInstanceImpl", _key.c_str());
    std::string real = Platform::HostPath(ResolverFile(_key));
    ::unlink(real.c_str());
    _state = IsEnabled() ? HostCtl::Network::NETSTACK_RUNNING : HostCtl::Network::NETSTACK_ABSENT;
}

void NetstackInstanceImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("Netstack Instance");
    printer->BeginObject();
    printer->Print("Key", _key);
    printer->Print("Name", GetInstanceName());
    printer->Print("State", GetState());
    printer->Print("Max Connections", static_cast<uint32_t>(_maxConnections));
    printer->Print("Congestion Control Algorithm", _ccAlgo);
    printer->Print("IPv6 Enabled", _ipv6Enabled);
    printer->Print("ECN Status", _ecnStatus);
    printer->EndObject();
}

}  // namespace TarnCtl::Network
