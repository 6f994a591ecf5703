// Kernel NIC callbacks registered by the distributed-storage plug-in: told when
// a kernel NIC goes away or its service tags change.
#pragma once

#include <string>
#include <vector>

#include "hostctl/network_tarnnic.h"

namespace TarnCtl::Network {

class TarnNicImpl;

// The hook lists; the kernel NIC object (TarnNicImpl) calls them in order.
struct TarnNicHooks {
    using DestroyFn = void (*)(const std::string& nicName);
    using ReconfigTagFn = void (*)(const std::string& nicName, HostCtl::Network::TarnNicTagType, bool set);
    static std::vector<DestroyFn> _destroyCallbacks;
    static std::vector<ReconfigTagFn> _reconfigTagCallbacks;
    static void AddTarnNicDestroyCallback(DestroyFn fn) { _destroyCallbacks.push_back(fn); }
    static void AddTarnNicReconfigTagCallback(ReconfigTagFn fn) { _reconfigTagCallbacks.push_back(fn); }
};

// A small static facade over the kernel NICs for other programs.
class TarnosNicApi {
public:
    static void AddTarnosNicDestroyCallback(TarnNicHooks::DestroyFn fn);
    static void AddTarnosNicReconfigTagCallback(TarnNicHooks::ReconfigTagFn fn);
    // Names of every configured kernel NIC.
    static std::vector<std::string> GetTarnosNicNames();
    // "<connection type> <connection> <enabled|disabled>" of the NIC; throws
    // "Unable to find tarnnic <name>" for an unknown one.
    static std::string GetTarnosNicState(const std::string& name);
    // Brings the NIC in the kernel back in line with its configuration without
    // changing the configuration (a NIC recorded as enabled that the kernel lost
    // is plumbed again) and tells the reconfigure-tag callbacks about every tag
    // it carries, so listeners read it again. Throws "Unable to find tarnnic <name>".
    static void TouchTarnosNic(const std::string& name);
    static void AddTarnosNicTag(const std::string& name, HostCtl::Network::TarnNicTagType tag, bool notify);
    static void RemoveTarnosNicTag(const std::string& name, HostCtl::Network::TarnNicTagType tag);
    // The address distributed-storage peers should use to reach the NIC: its
    // IPv4 address when it has one, else its first IPv6 address that is not
    // link-local (`isIpv6` says which). Throws "Unable to find tarnnic <name>",
    // "Tarnnic <name> is not enabled" or "Tarnnic <name> has no usable address".
    static void GetPreferredVitNetworkAddressForTarnNic(const std::string& name, std::string& address,
                                                        bool& isIpv6);
};

}  // namespace TarnCtl::Network
