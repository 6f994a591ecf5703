// Value types of the network domain: addresses, networks, interface IP
// settings, routes and switch policies. They are plain values, copied, compared,
// sorted and printed freely; every parse or validation failure throws
// HostCtl::Lib::HostCtlException and leaves the target unchanged.
// Two orderings are unusual on purpose and other code relies on them: see
// Ipv4Network::operator< and Ipv6Network::operator<.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace HostCtl::Network {

// The 16-byte IPv6 address in network order.
using Ipv6_addr = in6_addr;

// ---- Addresses ------------------------------------------------------------------

class IpAddress {
public:
    virtual std::string GetStringAddress() const = 0;
    virtual ~IpAddress();
    virtual bool IsValidAddress() const = 0;
    virtual bool IsLoopbackAddress() const = 0;
    virtual bool IsAllzeroAddress() const = 0;
    virtual bool IsValidNetmask() const = 0;
    virtual bool IsValidMulticastAddress() const = 0;
    // 0 for IPv4, 1 for IPv6.
    virtual unsigned int GetIpAddressType() const = 0;
};

class Ipv4Address : public virtual IpAddress {
public:
    Ipv4Address() = default;
    // `word` is in network byte order, as inet_pton stores it.
    explicit Ipv4Address(unsigned int word) : _addr(word) {}
    // Dotted decimal only; throws "Invalid IP Address <text>".
    explicit Ipv4Address(const std::string& text);
    Ipv4Address(const Ipv4Address&) = default;
    Ipv4Address& operator=(const Ipv4Address&) = default;
    ~Ipv4Address() override = default;

    static bool IsValidAddress(const std::string& text);
    // Parses without throwing; false (and *word untouched) when refused.
    static bool Parse(const char* text, size_t length, unsigned int* word);

    unsigned int GetBinaryAddress() const { return _addr; }
    void SetBinaryAddress(unsigned int word) { _addr = word; }

    std::string GetStringAddress() const override;
    bool IsValidAddress() const override;
    bool IsLoopbackAddress() const override;
    bool IsAllzeroAddress() const override { return _addr == 0; }
    bool IsValidNetmask() const override;
    bool IsValidMulticastAddress() const override;
    unsigned int GetIpAddressType() const override { return 0; }

    bool operator==(const Ipv4Address& o) const { return _addr == o._addr; }
    // Same weighting as Ipv4Network's ordering (first octet least significant).
    bool operator<(const Ipv4Address& o) const;

private:
    unsigned int _addr = 0;
};

class Ipv6Address : public virtual IpAddress {
public:
    Ipv6Address() : _text("::") {}
    // Canonicalises the address part and keeps a "%zone" suffix unchanged;
    // throws "Invalid IPv6 Address <text>".
    explicit Ipv6Address(const std::string& text);
    explicit Ipv6Address(const Ipv6_addr& bin);
    Ipv6Address(const Ipv6Address&) = default;
    Ipv6Address& operator=(const Ipv6Address&) = default;
    ~Ipv6Address() override = default;

    // At most 64 characters; an optional "%zone" (not empty) is cut off; the
    // rest must be accepted by inet_pton(AF_INET6).
    static bool IsValidAddress(const std::string& text);
    // Parses an address without zone (inet_pton rules, stops at a NUL).
    static bool Parse(const char* text, size_t length, Ipv6_addr* out);
    // inet_ntop(AF_INET6) text of `bin`.
    static std::string Format(const Ipv6_addr& bin);

    // Throws "Invalid IP Address <stored text>" if the stored text is not an address.
    Ipv6_addr GetBinaryAddress() const;
    // Replaces the whole value (any zone is dropped).
    void SetBinaryAddress(const Ipv6_addr& bin);

    std::string GetStringAddress() const override;
    std::string GetScopedStringAddress() const { return _text; }
    bool IsScopedAddress() const { return _text.find('%') != std::string::npos; }
    // The zone suffix, "%" included, or "".
    std::string GetZone() const;

    bool IsValidAddress() const override;
    bool IsLoopbackAddress() const override;
    bool IsAllzeroAddress() const override;
    bool IsValidNetmask() const override;
    bool IsValidMulticastAddress() const override;
    unsigned int GetIpAddressType() const override { return 1; }

    // Same 16 bytes and the same zone suffix (or none on both sides).
    bool operator==(const Ipv6Address& o) const;
    // By the stored (scoped) text; for containers.
    bool operator<(const Ipv6Address& o) const { return _text < o._text; }

private:
    std::string _text;
};

// ---- Networks -------------------------------------------------------------------

class Ipv4Network {
public:
    Ipv4Network() = default;
    // The netmask must be valid: "Invalid Netmask". The network is kept unmasked.
    Ipv4Network(const Ipv4Address& network, const Ipv4Address& netmask);
    Ipv4Network(unsigned int network, unsigned int netmask);
    // "a.b.c.d/prefix".
    explicit Ipv4Network(const std::string& text);
    Ipv4Network(const Ipv4Network&) = default;
    Ipv4Network& operator=(const Ipv4Network&) = default;
    virtual ~Ipv4Network();

    // 0..32 -> mask with that many top bits; above 32 throws.
    static Ipv4Address NetmaskFromNumber(unsigned int n);
    // Leading one bits; throws "Not a valid netmask".
    static unsigned int NumberFromNetmask(const Ipv4Address& mask);

    const Ipv4Address& GetNetwork() const { return _network; }
    void SetNetwork(const Ipv4Address& a) { _network = a; }
    const Ipv4Address& GetNetmask() const { return _netmask; }
    // Throws "Not a valid Netmask".
    void SetNetmask(const Ipv4Address& m);

    // "network/prefix".
    std::string GetStringAddress() const;
    bool IsValidNetworkAddress(const Ipv4Address& a) const;

    bool operator==(const Ipv4Network& o) const {
        return _network == o._network && _netmask == o._netmask;
    }
    // Network addresses only, each network-order word read as a little-endian
    // integer (the last octet weighs most); the netmask takes no part, so two
    // networks differing only in netmask are equivalent keys.
    bool operator<(const Ipv4Network& o) const { return _network < o._network; }

private:
    Ipv4Address _network;
    Ipv4Address _netmask;
};

// Kernel codes of how an IPv6 address was obtained.
enum Ipv6AddressType : uint32_t {
    IPV6_ADDRESS_STATIC = 0,
    IPV6_ADDRESS_AUTOCONF = 7,
    IPV6_ADDRESS_DHCP = 9,
    IPV6_ADDRESS_UNKNOWN = 11,
};
// Kernel codes of an IPv6 address's scope.
enum Ipv6Scope : uint32_t {
    IPV6_SCOPE_LINK_LOCAL = 1,
    IPV6_SCOPE_SITE_LOCAL = 2,
    IPV6_SCOPE_GLOBAL = 3,
    IPV6_SCOPE_UNKNOWN = 4,
};
// Kernel codes of an IPv6 address's state (kept in a word of the type's width).
enum Ipv6AddressStatus : uint32_t {
    IPV6_STATUS_TENTATIVE = 2,
    IPV6_STATUS_DUPLICATED = 3,
    IPV6_STATUS_DEPRECATED = 5,
    IPV6_STATUS_UNKNOWN = 11,
};

class Ipv6Network {
public:
    Ipv6Network() = default;
    // No check; type and status 11, scope 4.
    Ipv6Network(const Ipv6Address& address, unsigned int prefix);
    // "address/prefix" with exactly one "/".
    explicit Ipv6Network(const std::string& text);
    Ipv6Network(const Ipv6Network&) = default;
    Ipv6Network& operator=(const Ipv6Network&) = default;
    virtual ~Ipv6Network();

    static bool IsValidAddressAndNetmask(const std::string& text);
    // 0..128 -> address with that many leading one bits; above 128 throws.
    static Ipv6Address NetmaskFromNumber(unsigned int n);
    // Sum of the leading ones of the four 32-bit words; throws "Not a valid netmask".
    static unsigned int NumberFromNetmask(const Ipv6Address& mask);

    // Printed labels of the kernel codes ("Static", "Link Local", "PREFERRED", ...).
    static const char* Ipv6AddressTypeLabel(uint32_t type);
    static const char* Ipv6ScopeLabel(uint32_t scope);
    static const char* Ipv6AddressStatusLabel(uint32_t status);

    bool IsValid() const;
    bool IsValidNetworkAddress(const Ipv6Address& a) const;
    // Placeholder entries for an address obtained by DHCPv6 / autoconfiguration.
    void SetUseDhcp();
    void SetUseRouterAdvertised();

    const Ipv6Address& GetAddress() const { return _address; }
    void SetAddress(const Ipv6Address& a) { _address = a; }
    unsigned int GetNetmask() const { return _prefix; }
    void SetNetmask(unsigned int prefix) { _prefix = prefix; }
    Ipv6AddressType GetIpv6AddressType() const { return _type; }
    void SetIpv6AddressType(Ipv6AddressType t) { _type = t; }
    Ipv6Scope GetIpv6Scope() const { return _scope; }
    void SetIpv6Scope(Ipv6Scope s) { _scope = s; }
    Ipv6AddressStatus GetIpv6AddressStatus() const { return _status; }
    void SetIpv6AddressStatus(Ipv6AddressStatus s) { _status = s; }
    uint32_t GetReserved() const { return _reserved; }
    void SetReserved(uint32_t v) { _reserved = v; }

    // "address/prefix", the address without zone.
    std::string GetStringAddress() const;

    // Address (with zone) and prefix; type, scope and status are not compared.
    bool operator==(const Ipv6Network& o) const {
        return _prefix == o._prefix && _address == o._address;
    }
    // Reversed: a < b when b's zone-less text is smaller, or the texts are equal
    // and b's prefix is smaller. Sorted lists come out in descending text order.
    bool operator<(const Ipv6Network& o) const;

private:
    Ipv6Address _address;
    unsigned int _prefix = 0;
    Ipv6AddressType _type = IPV6_ADDRESS_UNKNOWN;
    Ipv6Scope _scope = IPV6_SCOPE_UNKNOWN;
    Ipv6AddressStatus _status = IPV6_STATUS_UNKNOWN;
    uint32_t _reserved = 0;
};

// ---- MAC, host and port addresses --------------------------------------------------

class MacAddress {
public:
    MacAddress() = default;
    // "xx:xx:xx:xx:xx:xx" (sscanf "%2hhx" fields); throws "Invalid MAC address <text>".
    explicit MacAddress(const std::string& text);
    // Copy six bytes from `bytes`.
    explicit MacAddress(const unsigned char* bytes);
    explicit MacAddress(const unsigned int* bytes);

    // Not all zero and the group bit clear.
    bool IsValid() const { return IsValid(_bytes); }
    static bool IsValid(const unsigned char* bytes);
    static bool IsValid(const std::string& text);
    // Parses without throwing; false (and `out` untouched) when refused.
    static bool Parse(const std::string& text, unsigned char* out);

    std::string GetStringAddress() const;
    void GetBinaryAddress(unsigned char* out) const;
    const unsigned char* Bytes() const { return _bytes; }

    bool operator==(const MacAddress& o) const;
    bool operator<(const MacAddress& o) const;

private:
    unsigned char _bytes[6] = {0, 0, 0, 0, 0, 0};
};

class HostAddress {
public:
    enum Kind : uint32_t { IPV4 = 0, IPV6 = 1, HOSTNAME = 2 };
    HostAddress() = default;
    explicit HostAddress(const std::string& host);

    // Classifies the stored text; an IPv6 text becomes canonical without zone.
    void ResolveHostAddress();
    // The IPv4 address for kind 0, else 0.0.0.0.
    Ipv4Address GetIpv4Address() const;
    const std::string& GetHostName() const { return _host; }
    uint32_t GetHostAddressType() const { return _kind; }

    bool operator==(const HostAddress& o) const { return _host == o._host; }

private:
    std::string _host;
    uint32_t _kind = HOSTNAME;
};

class PortAddress {
public:
    PortAddress() = default;
    PortAddress(const std::string& address, unsigned short port);
    // Copies re-parse the source's address text.
    PortAddress(const PortAddress& o);
    PortAddress& operator=(const PortAddress& o);
    PortAddress(PortAddress&&) noexcept = default;
    PortAddress& operator=(PortAddress&&) noexcept = default;
    ~PortAddress();

    // An IPv4 or IPv6 text replaces the held address; any other text keeps it.
    // The port is stored in every case.
    void Assign(const std::string& address, unsigned short port);
    // "address:port" (IPv6 unbracketed); "" without an address.
    std::string GetStringAddress() const;
    const IpAddress* GetAddress() const { return _address.get(); }
    unsigned short GetPort() const { return _port; }
    void SetPort(unsigned short port) { _port = port; }

private:
    std::unique_ptr<IpAddress> _address;
    unsigned short _port = 0;
};

// ---- Interface IP settings and routes ----------------------------------------------

class IpConfig {
public:
    // useIpv6 follows the kernel's IPv6 state.
    IpConfig();
    IpConfig(const IpConfig&) = default;
    IpConfig& operator=(const IpConfig&) = default;
    virtual ~IpConfig();

    void SetIpv4Address(const Ipv4Address& a);
    void SetIpv4Netmask(const Ipv4Address& m);
    void SetIpv4Broadcast(const Ipv4Address& b);
    void CalcBroadcast();
    void SetIpv4Gateway(const Ipv4Address& g);
    void SetIpv6Gateway(const Ipv6Address& g);
    void SetIpv4UseNone();
    void SetUseDhcp(bool on);
    void SetUseDhcp(bool on, bool clear);
    void SetDhcpDns(bool on);
    void SetIpv6DhcpDns(bool on);
    void EnableIpv6() { _useIpv6 = true; }
    void SetUseIpv6(bool on);
    void SetUseIpv6Dhcp(bool on);
    void SetUseIpv6RouterAdvertised(bool on) { _useIpv6RouterAdvertised = on; }
    void AddIpv6Network(const Ipv6Network& n);
    void RemoveIpv6Network(const Ipv6Network& n);

    bool IsUsingIpv6Dhcp() const;
    bool IsUsingDhcp() const;
    bool IsIpv4Valid() const;
    bool IsIpv6Valid() const;
    bool IsValid() const { return IsIpv4Valid() || IsIpv6Valid(); }
    bool ContainsAddress(const std::string& s) const;

    const Ipv4Address& GetIpv4Address() const { return _ipv4Address; }
    const Ipv4Address& GetIpv4Netmask() const { return _ipv4Netmask; }
    const Ipv4Address& GetIpv4Broadcast() const { return _ipv4Broadcast; }
    const Ipv4Address& GetIpv4Gateway() const { return _ipv4Gateway; }
    const Ipv6Address& GetIpv6Gateway() const { return _ipv6Gateway; }
    std::vector<Ipv6Network> GetIpv6Network() const { return _ipv6Networks; }
    bool GetUseDhcp() const { return _useDhcp; }
    bool GetDhcpDns() const { return _dhcpDns; }
    bool GetIpv6DhcpDns() const { return _ipv6DhcpDns; }
    bool GetIpv4UseNone() const { return _ipv4UseNone; }
    bool GetUseIpv6() const { return _useIpv6; }
    bool GetUseIpv6Dhcp() const { return _useIpv6Dhcp; }
    bool GetUseIpv6RouterAdvertised() const { return _useIpv6RouterAdvertised; }

private:
    Ipv4Address _ipv4Address;
    Ipv4Address _ipv4Netmask;
    Ipv4Address _ipv4Broadcast;
    Ipv4Address _ipv4Gateway;
    Ipv6Address _ipv6Gateway;
    std::vector<Ipv6Network> _ipv6Networks;
    bool _useDhcp = false;
    bool _dhcpDns = false;
    bool _ipv6DhcpDns = false;
    bool _ipv4UseNone = true;
    bool _useIpv6 = false;
    bool _useIpv6Dhcp = false;
    bool _useIpv6RouterAdvertised = false;
};

class IpRouting {
public:
    using RouteMap = std::map<Ipv4Network, Ipv4Address>;
    // 0.0.0.0/0.0.0.0: the key of the default gateway.
    static const Ipv4Network DEFAULT_IPV4_ROUTE;

    IpRouting() = default;
    IpRouting(const IpRouting&) = default;
    IpRouting& operator=(const IpRouting&) = default;
    virtual ~IpRouting();
    // Inserts, or overwrites the gateway of the equivalent key (keeping that key).
    virtual void AddIpv4Route(const Ipv4Network& net, const Ipv4Address& gw);
    virtual void RemoveIpv4Route(const Ipv4Network& net);
    virtual RouteMap GetIpv4Routes() const { return _routes; }
    virtual void SetIpv4Gateway(const Ipv4Address& gw);
    virtual void UnsetIpv4Gateway();
    virtual Ipv4Address GetIpv4Gateway();

private:
    RouteMap _routes;
};

// What a physical NIC learned from its neighbour by the Cisco Discovery Protocol.
struct CdpSummary {
    uint32_t cdpVersion = 0;
    uint32_t timeout = 0;
    uint32_t ttl = 0;
    uint32_t samples = 0;
    std::string deviceId;
    Ipv4Address ipAddress;
    Ipv4Network ipPrefix;
    std::string portId;
    uint32_t capabilities = 0;
    std::string version;
    std::string platform;
    uint16_t vlan = 0;
    bool fullDuplex = false;
    uint32_t mtu = 0;
    std::string systemName;
    std::string systemOid;
    Ipv4Address mgmtIpAddress;
    std::string location;

    // (label, value text) in field order: ("Cdp Version", "2"), ("Timeout", ...), ...
    std::vector<std::pair<std::string, std::string>> GetPrintFields() const;
};

// ---- Policies -------------------------------------------------------------------
// Every item has Set (stores, raises its flag), Unset (clears the flag, zeroes
// the value), Has and Get. Derive(parent) fills in the items unset here and set
// in the parent; items set here never change.

class LinkCriteriaSelectionPolicy {
public:
    enum : uint32_t { EXACT_SPEED = 1, MIN_SPEED = 2, PERCENT_ERROR = 4, DUPLEX = 8, BEACON = 16 };
    LinkCriteriaSelectionPolicy() = default;
    LinkCriteriaSelectionPolicy(const LinkCriteriaSelectionPolicy&) = default;
    LinkCriteriaSelectionPolicy& operator=(const LinkCriteriaSelectionPolicy&) = default;
    virtual ~LinkCriteriaSelectionPolicy();

    // Minimum and exact speed exclude each other: setting one unsets the other.
    void SetMinimumSpeed(unsigned int mbps, bool ignore);
    void UnsetMinimumSpeed();
    bool HasMinimumSpeed() const { return _flagSet & MIN_SPEED; }
    unsigned int GetMinimumSpeed() const { return _minSpeed; }
    void SetExactSpeed(unsigned int mbps, bool ignore);
    void UnsetExactSpeed();
    bool HasExactSpeed() const { return _flagSet & EXACT_SPEED; }
    unsigned int GetExactSpeed() const { return _exactSpeed; }
    void SetPercentError(unsigned int percent, bool ignore);
    void UnsetPercentError();
    bool HasPercentError() const { return _flagSet & PERCENT_ERROR; }
    unsigned int GetPercentError() const { return _percentError; }
    void SetDuplex(bool full, bool ignore);
    void UnsetDuplex();
    bool HasDuplex() const { return _flagSet & DUPLEX; }
    bool GetDuplex() const { return _fullDuplex; }
    // The argument is the ignore bit: true means beacon probing is off.
    void SetBeacon(bool ignore);
    void UnsetBeacon();
    bool HasBeacon() const { return _flagSet & BEACON; }
    bool GetBeacon() const { return _ignoreFlags & BEACON; }
    // Whether the criterion of `bit` is recorded but ignored.
    bool IsIgnored(uint32_t bit) const { return _ignoreFlags & bit; }

    uint32_t GetFlagSet() const { return _flagSet; }
    uint32_t GetIgnoreFlags() const { return _ignoreFlags; }
    void UnsetAll();

    static LinkCriteriaSelectionPolicy GetDefaultPolicy();
    void Derive(const LinkCriteriaSelectionPolicy& parent);
    std::string ToString() const;
    bool operator==(const LinkCriteriaSelectionPolicy& o) const;

private:
    void SetIgnore(uint32_t bit, bool ignore);
    uint32_t _flagSet = 0;
    uint32_t _ignoreFlags = 0;
    uint32_t _minSpeed = 0;
    uint32_t _exactSpeed = 0;
    uint32_t _percentError = 0;
    bool _fullDuplex = false;
};

class NicTeamingPolicy {
public:
    enum TeamPolicyType : uint32_t {
        NONE = 0,
        LOADBALANCE_IP = 1,
        LOADBALANCE_SRCMAC = 2,
        LOADBALANCE_SRCID = 3,
        FAILOVER_EXPLICIT = 4,
    };
    enum : uint32_t {
        TEAM_POLICY = 1, REVERSE_POLICY = 2, NOTIFY_SWITCH = 4, LINK_CRITERIA = 8,
        UPLINK_ORDER = 16, ROLLING = 32,
    };
    static constexpr int MAX_ACTIVE_LIMIT = 128;

    NicTeamingPolicy() = default;
    NicTeamingPolicy(const NicTeamingPolicy&) = default;
    NicTeamingPolicy& operator=(const NicTeamingPolicy&) = default;
    virtual ~NicTeamingPolicy();

    // Configuration-store names ("LOADBALANCE_SRCID") and text-format key words
    // ("lb_srcid"); null / false for unknown values.
    static const char* TeamPolicyTypeName(uint32_t t);
    static const char* TeamPolicyTypeKeyword(uint32_t t);
    static bool TeamPolicyTypeFromName(const std::string& name, TeamPolicyType* out);
    static bool TeamPolicyTypeFromKeyword(const std::string& keyword, TeamPolicyType* out);

    // 5 or more throws "Invalid teaming policy type: <n>".
    void SetTeamingPolicy(TeamPolicyType t);
    void UnsetTeamingPolicy();
    bool HasTeamingPolicy() const { return _flagsSet & TEAM_POLICY; }
    TeamPolicyType GetTeamingPolicy() const { return _team; }
    void SetReversePolicy(bool on);
    void UnsetReversePolicy();
    bool HasReversePolicy() const { return _flagsSet & REVERSE_POLICY; }
    bool GetReversePolicy() const { return _reversePolicy; }
    void SetNotifySwitch(bool on);
    void UnsetNotifySwitch();
    bool HasNotifySwitch() const { return _flagsSet & NOTIFY_SWITCH; }
    bool GetNotifySwitch() const { return _notifySwitch; }
    void SetRollingRestoration(bool on);
    void UnsetRollingRestoration();
    bool HasRollingRestoration() const { return _flagsSet & ROLLING; }
    bool GetRollingRestoration() const { return _rolling; }
    void SetLinkCriteria(const LinkCriteriaSelectionPolicy& c);
    void UnsetLinkCriteria();
    bool HasLinkCriteria() const { return _flagsSet & LINK_CRITERIA; }
    const LinkCriteriaSelectionPolicy& GetLinkCriteria() const { return _linkCriteria; }
    void SetUplinkOrder(const std::vector<std::string>& uplinks);
    // Also forgets maxActive, which travels with the order.
    void UnsetUplinkOrder();
    bool HasUplinkOrder() const { return _flagsSet & UPLINK_ORDER; }
    const std::vector<std::string>& GetUplinkOrder() const { return _uplinkOrder; }
    // 0..128 stored; above 128 stores 128 with a warning; negative stores 0.
    // Raises no flag.
    void SetMaxActiveUplinks(int n);
    int GetMaxActiveUplinks() const { return _maxActive; }

    uint32_t GetFlagsSet() const { return _flagsSet; }
    // Leaves the link criteria as they are.
    void UnsetAll();

    static NicTeamingPolicy GetDefaultPolicy();
    void Derive(const NicTeamingPolicy& parent);
    std::string ToString() const;
    bool operator==(const NicTeamingPolicy& o) const;

private:
    uint32_t _flagsSet = 0;
    TeamPolicyType _team = LOADBALANCE_SRCID;
    bool _reversePolicy = false;
    bool _notifySwitch = false;
    bool _rolling = false;
    LinkCriteriaSelectionPolicy _linkCriteria;
    std::vector<std::string> _uplinkOrder;
    int32_t _maxActive = -1;
};

class PortSecurityPolicy {
public:
    enum : uint8_t { PROMISCUOUS = 1, MAC_CHANGE = 2, FORGED_TRANSMITS = 4 };
    PortSecurityPolicy() = default;
    PortSecurityPolicy(const PortSecurityPolicy&) = default;
    PortSecurityPolicy& operator=(const PortSecurityPolicy&) = default;
    virtual ~PortSecurityPolicy();

    void SetAllowPromiscuous(bool on) { _allowPromiscuous = on; _flags |= PROMISCUOUS; }
    void UnsetAllowPromiscuous() { _allowPromiscuous = false; _flags &= ~PROMISCUOUS; }
    bool HasAllowPromiscuous() const { return _flags & PROMISCUOUS; }
    bool GetAllowPromiscuous() const { return _allowPromiscuous; }
    void SetAllowMacAddressChange(bool on) { _allowMacAddressChange = on; _flags |= MAC_CHANGE; }
    void UnsetAllowMacAddressChange() { _allowMacAddressChange = false; _flags &= ~MAC_CHANGE; }
    bool HasAllowMacAddressChange() const { return _flags & MAC_CHANGE; }
    bool GetAllowMacAddressChange() const { return _allowMacAddressChange; }
    void SetAllowForgedTransmits(bool on) { _allowForgedTransmits = on; _flags |= FORGED_TRANSMITS; }
    void UnsetAllowForgedTransmits() { _allowForgedTransmits = false; _flags &= ~FORGED_TRANSMITS; }
    bool HasAllowForgedTransmits() const { return _flags & FORGED_TRANSMITS; }
    bool GetAllowForgedTransmits() const { return _allowForgedTransmits; }

    uint8_t GetFlags() const { return _flags; }
    void UnsetAll();
    static PortSecurityPolicy GetDefaultPolicy();
    void Derive(const PortSecurityPolicy& parent);
    bool operator==(const PortSecurityPolicy& o) const;

private:
    uint8_t _flags = 0;
    bool _allowPromiscuous = false;
    bool _allowMacAddressChange = false;
    bool _allowForgedTransmits = false;
};

class ShapingPolicy {
public:
    enum : uint32_t { PEAK = 1, AVERAGE = 2, BURST_SIZE = 4, ENABLED = 8 };

    void SetEnabled(bool on) { _enabled = on; _flags |= ENABLED; }
    void UnsetEnabled() { _enabled = false; _flags &= ~ENABLED; }
    bool HasEnabled() const { return _flags & ENABLED; }
    bool GetEnabled() const { return _enabled; }
    void SetPeakBps(uint64_t bps) { _peakBps = bps; _flags |= PEAK; }
    void UnsetPeakBps() { _peakBps = 0; _flags &= ~PEAK; }
    bool HasPeakBps() const { return _flags & PEAK; }
    uint64_t GetPeakBps() const { return _peakBps; }
    void SetAverageBps(uint64_t bps) { _averageBps = bps; _flags |= AVERAGE; }
    void UnsetAverageBps() { _averageBps = 0; _flags &= ~AVERAGE; }
    bool HasAverageBps() const { return _flags & AVERAGE; }
    uint64_t GetAverageBps() const { return _averageBps; }
    void SetBurstSize(uint64_t bytes) { _burstSize = bytes; _flags |= BURST_SIZE; }
    void UnsetBurstSize() { _burstSize = 0; _flags &= ~BURST_SIZE; }
    bool HasBurstSize() const { return _flags & BURST_SIZE; }
    uint64_t GetBurstSize() const { return _burstSize; }

    uint32_t GetFlags() const { return _flags; }
    void UnsetAll();
    static ShapingPolicy GetDefaultPolicy();
    void Derive(const ShapingPolicy& parent);
    // Enabled must be set; when it is true, peak or average and the burst size too.
    bool IsValid() const;
    // A copy whose unset average/peak takes the other one (when enabled);
    // throws "Cannot fill values from invalid shaping policy".
    ShapingPolicy FillValues() const;
    bool operator==(const ShapingPolicy& o) const;

private:
    bool _enabled = false;
    uint64_t _peakBps = 0;
    uint64_t _averageBps = 0;
    uint64_t _burstSize = 0;
    uint32_t _flags = 0;
};

// The uplink capabilities: name, kernel bit, whether the default policy sets it (to true).
#define TARN_NIC_CAPABILITIES(X)                                   \
    X(ScatterGatherTx, 0x1ull, true)                               \
    X(ChecksumOffload, 0x2ull, true)                               \
    X(HighDMA, 0x8ull, true)                                       \
    X(TcpSegmentationOffload, 0x20ull, true)                       \
    X(VlanTag, 0x100ull, true)                                     \
    X(VlanUntag, 0x200ull, true)                                   \
    X(ScatterGatherSpanPagesTx, 0x40000ull, true)                  \
    X(ChecksumOffloadIPv6, 0x80000ull, true)                       \
    X(TcpSegmentationOffloadIPv6, 0x100000ull, true)               \
    X(TcpSegmentationOffload256k, 0x200000ull, true)               \
    X(UPT, 0x400000ull, false)                                     \
    X(UplinkReadOnlyInetHeaders, 0x800000ull, true)                \
    X(ENCAP, 0x1000000ull, false)                                  \
    X(DCB, 0x2000000ull, false)                                    \
    X(OffsetBasedOffload, 0x4000000ull, true)                      \
    X(GeneveOffload, 0x8000000ull, true)                           \
    X(ChecksumOffloadIPv6ExtHdrs, 0x10000000ull, true)             \
    X(TcpSegmentationOffloadIPv6ExtHdrs, 0x20000000ull, true)      \
    X(Sched, 0x40000000ull, false)                                 \
    X(SRIOV, 0x80000000ull, false)                                 \
    X(PreferredMgmtNic, 0x100000000ull, false)                     \
    X(AdjustHeaderAlignment, 0x1000000000000ull, true)             \
    X(GenericOffload, 0x2000000000000ull, false)                   \
    X(HW_DCB, 0x100000000000000ull, false)                         \
    X(SwLRO, 0x200000000000000ull, false)                          \
    X(BMC_NIC, 0x1000000000000000ull, false)                       \
    X(K2K_NIC, 0x4000000000000000ull, false)

class NicCapabilities {
public:
#define TARN_CAP_BIT(name, bit, dflt) CAP_##name = bit,
    enum : uint64_t { TARN_NIC_CAPABILITIES(TARN_CAP_BIT) };
#undef TARN_CAP_BIT

    struct Capability {
        const char* name;
        uint64_t bit;
        bool inDefault;
    };
    // Every capability in kernel bit order.
    static const std::vector<Capability>& Capabilities();

    NicCapabilities() = default;
    NicCapabilities(uint64_t flags, uint64_t mask) : _mask(mask), _flags(flags) {}

    uint64_t GetFlags() const { return _flags; }
    uint64_t GetMask() const { return _mask; }

    // By bit (or several bits at once).
    void Set(uint64_t bits, bool on) {
        _mask |= bits;
        _flags = on ? (_flags | bits) : (_flags & ~bits);
    }
    void Unset(uint64_t bits) { _mask &= ~bits; _flags &= ~bits; }
    bool Has(uint64_t bit) const { return (_mask & bit) == bit; }
    bool Get(uint64_t bit) const { return (_flags & bit) == bit; }

#define TARN_CAP_OPS(name, bit, dflt)                        \
    void Set##name(bool on) { Set(bit, on); }               \
    void Unset##name() { Unset(bit); }                       \
    bool Has##name() const { return Has(bit); }              \
    bool Get##name() const { return Get(bit); }
    TARN_NIC_CAPABILITIES(TARN_CAP_OPS)
#undef TARN_CAP_OPS

    void UnsetAll() { _mask = 0; _flags = 0; }
    static NicCapabilities GetDefaultPolicy();
    void Derive(const NicCapabilities& parent);
    bool operator==(const NicCapabilities& o) const {
        return _mask == o._mask && _flags == o._flags;
    }

private:
    uint64_t _mask = 0;
    uint64_t _flags = 0;
};

}  // namespace HostCtl::Network
