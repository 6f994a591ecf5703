// The simulated physical NICs' state, shared by the kernel nodes
// (network_pnics.cpp) and the legacy drivers' device-control channel
// (network_pnics_ethtool.cpp): both paths change the same model, so a setting
// made through one reads back through the other.
#pragma once

#include <cstdint>
#include <string>

#include "hostctl/status.h"
#include "ksi/network.h"
#include "sim/kernel.h"

namespace TarnSim::Network::Pnics {

bool Exists(const KernelState& s, const std::string& name);
bool IsLegacy(const KernelState& s, const std::string& name);
KsiPnicProperties Props(const KernelState& s, const std::string& name);
void PutProps(KernelState& s, const std::string& name, const KsiPnicProperties& p);
KsiPnicModes Modes(const KernelState& s, const std::string& name);
KsiPnicLinkStatus Link(const KernelState& s, const std::string& name);
uint32_t MaxMtu(const KernelState& s, const std::string& name);

// Link mode: speed 0 is automatic negotiation (duplex ignored). A mode the NIC
// does not offer is TARN_NOT_SUPPORTED.
TARN_ReturnStatus SetMode(KernelState& s, const std::string& name, uint32_t speed, uint32_t duplex);
void SetAdmin(KernelState& s, const std::string& name, bool up);
// 1280 up to the NIC's maximum, else TARN_BAD_PARAM.
TARN_ReturnStatus SetMtu(KernelState& s, const std::string& name, uint32_t mtu);
// Only modes among the supported bits, else TARN_NOT_SUPPORTED.
TARN_ReturnStatus SetWol(KernelState& s, const std::string& name, uint32_t modes);
// Each size up to its maximum, else TARN_BAD_PARAM.
TARN_ReturnStatus SetRings(KernelState& s, const std::string& name, uint32_t rx, uint32_t rxMini,
                           uint32_t rxJumbo, uint32_t tx);

}  // namespace TarnSim::Network::Pnics
