// One TCP/IP stack instance (netstack): its record in the configuration group
// "halden/network/net_stacks" and its instance in the kernel. States: 1 absent,
// 2 configured but not running, 4660 running.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "configstore/configfileutil.h"
#include "hostctl/network.h"
#include "ksi/network.h"
#include "lib/tarnctl_object.h"

namespace TarnCtl::Network {

class NetstackInstanceImpl : public virtual HostCtl::Network::NetstackInstance, public TarnCtl::Lib::TarnCtlObject {
public:
    static constexpr unsigned int kDefaultMaxConnections = 11000;
    static constexpr unsigned int kMinMaxConnections = 2000;
    static constexpr unsigned int kMaxMaxConnections = 20000;
    static constexpr const char* kDefaultCongestionAlgo = "newreno";
    static constexpr const char* kDefaultEcnStatus = "enabled";
    // Where the records live in the configuration tree.
    static constexpr const char* kConfigArray = "/net/netstackinstance/child";

    // A new object with every default, in state 2; nothing is read.
    explicit NetstackInstanceImpl(const std::string& key);

    // ---- HostCtlObject
    void Refresh() override;
    std::string GetName() const override { return _key; }
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    // ---- NetstackInstance
    std::string GetKey() override { return _key; }
    void SetKey(const std::string& key) override;
    std::string GetInstanceName() override;
    void SetInstanceName(const std::string& name, bool persist) override;
    unsigned int GetMaxConnections() override;
    void SetMaxConnections(const unsigned int& n, bool persist) override;
    void UnsetMaxConnections() override;
    std::string GetCongestionControlAlgorithm() override;
    void SetCongestionControlAlgorithm(const std::string& name, bool persist) override;
    void UnsetCongestionControlAlgorithm() override;
    std::vector<std::string> GetTarnNicNames() override;
    bool GetCurrentIpv6Enabled() override;
    void SetIpv6Enabled(bool on, bool persist) override;
    bool GetIpv6Enabled() override;
    void SetEcnStatus(const std::string& text) override;
    std::string GetEcnStatus() override;
    uint32_t GetState() override;
    unsigned int GetCurrentMaxConnections() override;
    bool IsEnabled() override;
    void Enable() override;
    void Create() override;
    void Disable() override;
    void Destroy(bool write) override;
    std::vector<std::string> GetCongestionControlAlgorithmList() override;
    void UpdateDefaultNSCongestionControlAlgorithm(const std::string& name) override;

    // The record of this netstack; made (with "key") when absent and `create`,
    // else absent is "Unable to find netstack instance with key: ...".
    ConfigStoreUtil::ConfigBranchUtil GetConfigLocation(ConfigStoreUtil::ConfigFileUtil& config, bool create);

    // ---- Used by the network object while it builds instances.
    void SetState(uint32_t state) { _state = state; _stale = false; }
    void SetFields(const std::string& name, unsigned int maxConnections, const std::string& algo, bool ipv6,
                   const std::string& ecn);
    bool IsDefault() const;
    // Puts the instance's ECN status into the kernel without recording it (boot replay).
    void ApplyEcnStatus();

    // The running instance's kernel record; false when the kernel does not run it.
    static bool ReadKernelProperties(const std::string& key, KsiTcpipInstanceProps* out);
    // Kernel NICs bound to a netstack, as the kernel lists them.
    static std::vector<std::string> KernelNicNames(const std::string& key);

private:
    void RefreshIfStale();
    // Writes one value into the record when the netstack is configured (and
    // outside boot mode); `apply` sets it on the record.
    void RecordIfConfigured(bool persist, const std::function<void(ConfigStoreUtil::ConfigBranchUtil&)>& apply);
    // Removes a field of the netstack's store object in `extra`'s transaction.
    void RemoveStoreField(const std::string& field, const std::function<void()>& extra);
    void WriteResolverFile();

    std::string _key;
    std::string _name;
    unsigned int _maxConnections = kDefaultMaxConnections;
    std::string _ccAlgo = kDefaultCongestionAlgo;
    bool _ipv6Enabled = true;
    std::string _ecnStatus = kDefaultEcnStatus;
    uint32_t _state = HostCtl::Network::NETSTACK_CONFIGURED;
    bool _stale = false;
};

}  // namespace TarnCtl::Network
