// What a physical NIC learned from its neighbour: the CDP summary the kernel
// collected, and the LLDP data unit, parsed here with every TLV bound checked.
#include <arpa/inet.h>

#include <cstring>

#include "hostctl/exception.h"
#include "network/network_util.h"
#include "network/pnic_impl.h"
#include "platform/misc.h"
#include "platform/sysinfo.h"

namespace TarnCtl::Network {

using namespace HostCtl::Network;
using HostCtl::Lib::HostCtlException;

namespace {

std::string Text(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

// LLDP TLV types.
enum : unsigned {
    kEnd = 0, kChassisId = 1, kPortId = 2, kTtl = 3, kPortDescription = 4, kSystemName = 5,
    kSystemDescription = 6, kCapabilities = 7, kManagementAddress = 8,
};

std::string IdText(const uint8_t* v, size_t n) {
    // Subtype 4 (chassis) / 3 (port) carries a MAC address; the others text.
    uint8_t subtype = v[0];
    if ((subtype == 4 || subtype == 3) && n == 7) return MacAddress(v + 1).GetStringAddress();
    return std::string(reinterpret_cast<const char*>(v + 1), n - 1);
}

}  // namespace

LldpInfo ParseLldpFrame(const uint8_t* data, size_t length) {
    LldpInfo info;
    size_t at = 0;
    while (at < length) {
        if (at + 2 > length) throw HostCtlException("TLV read over boundary.");
        unsigned header = (static_cast<unsigned>(data[at]) << 8) | data[at + 1];
        unsigned type = header >> 9;
        size_t n = header & 0x1ff;
        at += 2;
        if (n > length - at) throw HostCtlException("TLV length overflow.");
        const uint8_t* v = data + at;
        at += n;
        switch (type) {
        case kEnd:
            if (n != 0) throw HostCtlException("Invalid TLV.");
            return info;
        case kChassisId:
            if (n < 2) throw HostCtlException("Invalid TLV.");
            info.chassisId = IdText(v, n);
            break;
        case kPortId:
            if (n < 2) throw HostCtlException("Invalid TLV.");
            info.portId = IdText(v, n);
            break;
        case kTtl:
            if (n != 2) throw HostCtlException("Invalid TLV.");
            info.ttl = (static_cast<uint32_t>(v[0]) << 8) | v[1];
            break;
        case kPortDescription:
            info.portDescription.assign(reinterpret_cast<const char*>(v), n);
            break;
        case kSystemName:
            info.systemName.assign(reinterpret_cast<const char*>(v), n);
            break;
        case kSystemDescription:
            info.systemDescription.assign(reinterpret_cast<const char*>(v), n);
            break;
        case kCapabilities:
            if (n != 4) throw HostCtlException("Invalid TLV.");
            info.capabilities = (static_cast<uint32_t>(v[0]) << 8) | v[1];
            break;
        case kManagementAddress: {
            // Address string length (subtype and address), subtype, address, ...
            if (n < 2 || v[0] < 2 || v[0] + 1u > n) throw HostCtlException("Invalid TLV.");
            size_t addrLen = v[0] - 1u;
            if (v[1] == 1 && addrLen == 4) {
                char text[INET_ADDRSTRLEN] = {};
                inet_ntop(AF_INET, v + 2, text, sizeof text);
                info.managementAddress = text;
            } else if (v[1] == 2 && addrLen == 16) {
                char text[INET6_ADDRSTRLEN] = {};
                inet_ntop(AF_INET6, v + 2, text, sizeof text);
                info.managementAddress = text;
            }
            break;
        }
        default:
            break;  // organisation-specific and unknown TLVs are skipped
        }
    }
    return info;
}

LldpInfo PnicImpl::GetLldpInfo() {
    KsiPnicLldpFrame frame{};
    Util::Sysinfo si(KSI_NODE_net_pNics_lldpInfo);
    si.SetThrowOnError(false);
    si.SetInstance(_name);
    TARN_ReturnStatus st = si.Get(&frame, sizeof frame);
    if (st != TARN_OK)
        throw HostCtlException("Unable to collect LLDP data for this NIC: " + si.MessageFor(st));
    if (frame.length > KSI_PNIC_LLDP_MAX)
        throw HostCtlException("Unable to collect LLDP data for this NIC: TLV length overflow.");
    try {
        return ParseLldpFrame(frame.data, frame.length);
    } catch (const HostCtlException& e) {
        throw HostCtlException(std::string("Unable to collect LLDP data for this NIC: ") + e.what());
    }
}

CdpSummary PnicImpl::GetCdpInfo() {
    KsiPnicCdpInfo r{};
    Util::Sysinfo si(KSI_NODE_net_pNics_cdpInfo);
    si.SetThrowOnError(false);
    si.SetInstance(_name);
    if (si.Get(&r, sizeof r) != TARN_OK) throw HostCtlException("Unable to collect CDP data for this NIC.");
    CdpSummary c;
    c.cdpVersion = r.version;
    c.timeout = r.timeout;
    c.ttl = r.ttl;
    c.samples = r.samples;
    c.deviceId = Text(r.deviceId, sizeof r.deviceId);
    c.ipAddress = Ipv4Address(r.ipAddress);
    if (r.prefixLength <= 32)
        c.ipPrefix = Ipv4Network(Ipv4Address(r.prefixAddress), Ipv4Network::NetmaskFromNumber(r.prefixLength));
    c.portId = Text(r.portId, sizeof r.portId);
    c.capabilities = r.capabilities;
    c.version = Text(r.softwareVersion, sizeof r.softwareVersion);
    c.platform = Text(r.platform, sizeof r.platform);
    c.vlan = static_cast<uint16_t>(r.vlan);
    c.fullDuplex = r.fullDuplex != 0;
    c.mtu = r.mtu;
    c.systemName = Text(r.systemName, sizeof r.systemName);
    c.systemOid = Text(r.systemOid, sizeof r.systemOid);
    c.mgmtIpAddress = Ipv4Address(r.mgmtAddress);
    c.location = Text(r.location, sizeof r.location);
    return c;
}

}  // namespace TarnCtl::Network
