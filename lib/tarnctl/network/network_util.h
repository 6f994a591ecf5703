// Shared pieces of the network implementation: store and configuration names,
// the "not available yet" refusal of areas not built, boot mode, and the few
// host settings kept outside the network domain (advanced options, the boot
// option and module option behind the host-wide network settings).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/configstore.h"

namespace TarnCtl::Network {

inline constexpr const char* kDefaultNetstack = "defaultTcpipStack";

// Component and group names of the network domain's store objects.
inline constexpr const char* kHalden = "halden";
inline constexpr const char* kNetwork = "network";
inline constexpr const char* kNetworkSystem = "network_system";
inline constexpr const char* kNetworkVss = "network_vss";
inline constexpr const char* kNetworkVds = "network_vds";
inline constexpr const char* kSwitches = "switches";
inline constexpr const char* kTarnnics = "tarnnics";
inline constexpr const char* kFirewall = "firewall";

// Store roots of the configuration tree, in the order the library keeps them.
inline constexpr const char* kVssRoot = "halden/network_vss/switches";
inline constexpr const char* kTarnnicsRoot = "halden/network/tarnnics";
inline constexpr const char* kNetstacksRoot = "halden/network/net_stacks";
inline constexpr const char* kNicsRoot = "halden/network/nics";

// Throws HostCtlException "<operation> is not available yet": the refusal of
// operations whose area is not built on this host.
[[noreturn]] void ThrowNotAvailable(const std::string& operation);

std::shared_ptr<HaldenConfigStore::ConfigStore> NetStore();
// True while the host's boot sequence replays configuration.
bool IsBootMode();

// Advanced options ("Net", "TcpipSocketMax"). Getters throw HostCtlException
// when the option is missing; setters go through the option object (kernel,
// store and audit).
int64_t GetAdvInt(const std::string& branch, const std::string& option);
void SetAdvInt(const std::string& branch, const std::string& option, int64_t value);
std::string GetAdvString(const std::string& branch, const std::string& option);
void SetAdvString(const std::string& branch, const std::string& option, const std::string& value);

// The kernel boot option "netNumPortsets" through the boot-option table: the
// value configured for the next boot (the option's default when none is), and
// recording one (store, boot configuration and audit, as every boot option).
uint32_t GetBootOptionNetNumPortsets();
void SetBootOptionNetNumPortsets(uint32_t n);

// The "ipv6" option of kernel module "tcpip4": absent means on, "0" off.
// Kept here alone until the module objects of the system domain take it over.
bool GetTcpip4Ipv6Option();
void SetTcpip4Ipv6Option(bool on);

// True when the smart-NIC inventory lists a device. Tests stand in for the
// inventory with SetDpuProbe (null restores it).
bool HostHasDpu();
void SetDpuProbe(bool (*probe)());

}  // namespace TarnCtl::Network

namespace TarnCtl::Network {

// Runs a kernel step; a kernel refusal is rethrown as SysinfoException
// "<what>; Status(0x...)= <status text>" with the kernel's events.
void KernelStep(const std::string& what, const std::function<void()>& step);

}  // namespace TarnCtl::Network
