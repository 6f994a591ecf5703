// Switch and port-group policies: link criteria, teaming, security, traffic
// shaping and uplink capabilities, with their defaults and the derivation of
// unset items from a parent policy.
#include <cstring>

#include "hostctl/exception.h"
#include "hostctl/nettypes.h"
#include "platform/log.h"
#include "platform/misc.h"

using HostCtl::Lib::HostCtlException;

namespace HostCtl::Network {

// ---- LinkCriteriaSelectionPolicy ---------------------------------------------------

LinkCriteriaSelectionPolicy::~LinkCriteriaSelectionPolicy() = default;

void LinkCriteriaSelectionPolicy::SetIgnore(uint32_t bit, bool ignore) {
    _ignoreFlags = ignore ? (_ignoreFlags | bit) : (_ignoreFlags & ~bit);
}

void LinkCriteriaSelectionPolicy::SetMinimumSpeed(unsigned int mbps, bool ignore) {
    UnsetExactSpeed();
    _minSpeed = mbps;
    _flagSet |= MIN_SPEED;
    SetIgnore(MIN_SPEED, ignore);
}

void LinkCriteriaSelectionPolicy::UnsetMinimumSpeed() {
    _minSpeed = 0;
    _flagSet &= ~MIN_SPEED;
    SetIgnore(MIN_SPEED, false);
}

void LinkCriteriaSelectionPolicy::SetExactSpeed(unsigned int mbps, bool ignore) {
    UnsetMinimumSpeed();
    _exactSpeed = mbps;
    _flagSet |= EXACT_SPEED;
    SetIgnore(EXACT_SPEED, ignore);
}

void LinkCriteriaSelectionPolicy::UnsetExactSpeed() {
    _exactSpeed = 0;
    _flagSet &= ~EXACT_SPEED;
    SetIgnore(EXACT_SPEED, false);
}

void LinkCriteriaSelectionPolicy::SetPercentError(unsigned int percent, bool ignore) {
    _percentError = percent;
    _flagSet |= PERCENT_ERROR;
    SetIgnore(PERCENT_ERROR, ignore);
}

void LinkCriteriaSelectionPolicy::UnsetPercentError() {
    _percentError = 0;
    _flagSet &= ~PERCENT_ERROR;
    SetIgnore(PERCENT_ERROR, false);
}

void LinkCriteriaSelectionPolicy::SetDuplex(bool full, bool ignore) {
    _fullDuplex = full;
    _flagSet |= DUPLEX;
    SetIgnore(DUPLEX, ignore);
}

void LinkCriteriaSelectionPolicy::UnsetDuplex() {
    _fullDuplex = false;
    _flagSet &= ~DUPLEX;
    SetIgnore(DUPLEX, false);
}

void LinkCriteriaSelectionPolicy::SetBeacon(bool ignore) {
    _flagSet |= BEACON;
    SetIgnore(BEACON, ignore);
}

void LinkCriteriaSelectionPolicy::UnsetBeacon() {
    _flagSet &= ~BEACON;
    SetIgnore(BEACON, false);
}

void LinkCriteriaSelectionPolicy::UnsetAll() { *this = LinkCriteriaSelectionPolicy(); }

LinkCriteriaSelectionPolicy LinkCriteriaSelectionPolicy::GetDefaultPolicy() {
    LinkCriteriaSelectionPolicy p;
    p.SetMinimumSpeed(10, false);
    p.SetPercentError(0, true);
    p.SetDuplex(false, true);
    p.SetBeacon(true);  // beacon probing off
    return p;
}

void LinkCriteriaSelectionPolicy::Derive(const LinkCriteriaSelectionPolicy& parent) {
    if (!HasMinimumSpeed() && !HasExactSpeed()) {
        if (parent.HasMinimumSpeed()) SetMinimumSpeed(parent._minSpeed, parent.IsIgnored(MIN_SPEED));
        if (parent.HasExactSpeed()) SetExactSpeed(parent._exactSpeed, parent.IsIgnored(EXACT_SPEED));
    }
    if (!HasPercentError() && parent.HasPercentError())
        SetPercentError(parent._percentError, parent.IsIgnored(PERCENT_ERROR));
    if (!HasDuplex() && parent.HasDuplex()) SetDuplex(parent._fullDuplex, parent.IsIgnored(DUPLEX));
    if (!HasBeacon() && parent.HasBeacon()) SetBeacon(parent.IsIgnored(BEACON));
}

std::string LinkCriteriaSelectionPolicy::ToString() const {
    return Misc::StrPrintf(
        "flagSet[%d], ignoreFlags[%d], minSpeed[%d], exactSpeed[%d], percentError[%d], fullDuplex[%d]",
        static_cast<int>(_flagSet), static_cast<int>(_ignoreFlags), static_cast<int>(_minSpeed),
        static_cast<int>(_exactSpeed), static_cast<int>(_percentError), static_cast<int>(_fullDuplex));
}

bool LinkCriteriaSelectionPolicy::operator==(const LinkCriteriaSelectionPolicy& o) const {
    return _flagSet == o._flagSet && _ignoreFlags == o._ignoreFlags && _minSpeed == o._minSpeed &&
           _exactSpeed == o._exactSpeed && _percentError == o._percentError &&
           _fullDuplex == o._fullDuplex;
}

// ---- NicTeamingPolicy --------------------------------------------------------------

namespace {
struct TeamName {
    const char* name;
    const char* keyword;
};
constexpr TeamName kTeamNames[] = {
    {"NONE", "none"},
    {"LOADBALANCE_IP", "lb_ip"},
    {"LOADBALANCE_SRCMAC", "lb_srcmac"},
    {"LOADBALANCE_SRCID", "lb_srcid"},
    {"FAILOVER_EXPLICIT", "fo_explicit"},
};
constexpr uint32_t kTeamCount = sizeof kTeamNames / sizeof kTeamNames[0];
}  // namespace

NicTeamingPolicy::~NicTeamingPolicy() = default;

const char* NicTeamingPolicy::TeamPolicyTypeName(uint32_t t) {
    return t < kTeamCount ? kTeamNames[t].name : nullptr;
}

const char* NicTeamingPolicy::TeamPolicyTypeKeyword(uint32_t t) {
    return t < kTeamCount ? kTeamNames[t].keyword : nullptr;
}

bool NicTeamingPolicy::TeamPolicyTypeFromName(const std::string& name, TeamPolicyType* out) {
    for (uint32_t i = 0; i < kTeamCount; ++i)
        if (name == kTeamNames[i].name) {
            *out = static_cast<TeamPolicyType>(i);
            return true;
        }
    return false;
}

bool NicTeamingPolicy::TeamPolicyTypeFromKeyword(const std::string& keyword, TeamPolicyType* out) {
    for (uint32_t i = 0; i < kTeamCount; ++i)
        if (keyword == kTeamNames[i].keyword) {
            *out = static_cast<TeamPolicyType>(i);
            return true;
        }
    return false;
}

void NicTeamingPolicy::SetTeamingPolicy(TeamPolicyType t) {
    if (static_cast<uint32_t>(t) >= kTeamCount)
        throw HostCtlException(Misc::StrPrintf("Invalid teaming policy type: %d", static_cast<int>(t)));
    _team = t;
    _flagsSet |= TEAM_POLICY;
}

void NicTeamingPolicy::UnsetTeamingPolicy() {
    _team = LOADBALANCE_SRCID;
    _flagsSet &= ~TEAM_POLICY;
}

void NicTeamingPolicy::SetReversePolicy(bool on) {
    _reversePolicy = on;
    _flagsSet |= REVERSE_POLICY;
}

void NicTeamingPolicy::UnsetReversePolicy() {
    _reversePolicy = false;
    _flagsSet &= ~REVERSE_POLICY;
}

void NicTeamingPolicy::SetNotifySwitch(bool on) {
    _notifySwitch = on;
    _flagsSet |= NOTIFY_SWITCH;
}

void NicTeamingPolicy::UnsetNotifySwitch() {
    _notifySwitch = false;
    _flagsSet &= ~NOTIFY_SWITCH;
}

void NicTeamingPolicy::SetRollingRestoration(bool on) {
    _rolling = on;
    _flagsSet |= ROLLING;
}

void NicTeamingPolicy::UnsetRollingRestoration() {
    _rolling = false;
    _flagsSet &= ~ROLLING;
}

void NicTeamingPolicy::SetLinkCriteria(const LinkCriteriaSelectionPolicy& c) {
    _linkCriteria = c;
    _flagsSet |= LINK_CRITERIA;
}

void NicTeamingPolicy::UnsetLinkCriteria() {
    _linkCriteria = LinkCriteriaSelectionPolicy();
    _flagsSet &= ~LINK_CRITERIA;
}

void NicTeamingPolicy::SetUplinkOrder(const std::vector<std::string>& uplinks) {
    _uplinkOrder = uplinks;
    _flagsSet |= UPLINK_ORDER;
}

void NicTeamingPolicy::UnsetUplinkOrder() {
    _uplinkOrder.clear();
    _maxActive = -1;
    _flagsSet &= ~UPLINK_ORDER;
}

void NicTeamingPolicy::SetMaxActiveUplinks(int n) {
    if (n > MAX_ACTIVE_LIMIT) {
        TarnCtl_LogWarnInt(
            "%s: Warning: Invalid max active uplinks specified, setting maxActive uplinks to 128.\n",
            "NicTeamingPolicy");
        n = MAX_ACTIVE_LIMIT;
    } else if (n < 0) {
        n = 0;
    }
    _maxActive = n;
}

void NicTeamingPolicy::UnsetAll() {
    _flagsSet = 0;
    _team = LOADBALANCE_SRCID;
    _reversePolicy = _notifySwitch = _rolling = false;
    _uplinkOrder.clear();
    _maxActive = -1;
}

NicTeamingPolicy NicTeamingPolicy::GetDefaultPolicy() {
    NicTeamingPolicy p;
    p.SetTeamingPolicy(LOADBALANCE_SRCID);
    p.SetNotifySwitch(true);
    p.SetReversePolicy(true);
    p.SetRollingRestoration(false);
    p.SetUplinkOrder({});
    p.SetMaxActiveUplinks(0);
    p.SetLinkCriteria(LinkCriteriaSelectionPolicy::GetDefaultPolicy());
    return p;
}

void NicTeamingPolicy::Derive(const NicTeamingPolicy& parent) {
    if (!HasTeamingPolicy() && parent.HasTeamingPolicy()) SetTeamingPolicy(parent._team);
    if (!HasNotifySwitch() && parent.HasNotifySwitch()) SetNotifySwitch(parent._notifySwitch);
    if (!HasReversePolicy() && parent.HasReversePolicy()) SetReversePolicy(parent._reversePolicy);
    if (!HasRollingRestoration() && parent.HasRollingRestoration())
        SetRollingRestoration(parent._rolling);
    if (parent.HasLinkCriteria()) {
        if (!HasLinkCriteria())
            SetLinkCriteria(parent._linkCriteria);
        else
            _linkCriteria.Derive(parent._linkCriteria);
    }
    if (!HasUplinkOrder() && parent.HasUplinkOrder()) {
        SetUplinkOrder(parent._uplinkOrder);
        SetMaxActiveUplinks(parent._maxActive);
    }
}

std::string NicTeamingPolicy::ToString() const {
    std::string order;
    for (const std::string& u : _uplinkOrder) order.append(u).append(",");
    return Misc::StrPrintf(
        "flagsSet [%d], team [%d], reversePolicy [%d], notifySwitch [%d], rolling [%d], "
        "linkCriteria [%s], uplinkOrder [%s], maxActive [%d]",
        static_cast<int>(_flagsSet), static_cast<int>(_team), static_cast<int>(_reversePolicy),
        static_cast<int>(_notifySwitch), static_cast<int>(_rolling), _linkCriteria.ToString().c_str(),
        order.c_str(), static_cast<int>(_maxActive));
}

bool NicTeamingPolicy::operator==(const NicTeamingPolicy& o) const {
    return _flagsSet == o._flagsSet && _team == o._team && _reversePolicy == o._reversePolicy &&
           _notifySwitch == o._notifySwitch && _rolling == o._rolling &&
           _linkCriteria == o._linkCriteria && _uplinkOrder == o._uplinkOrder &&
           _maxActive == o._maxActive;
}

// ---- PortSecurityPolicy ------------------------------------------------------------

PortSecurityPolicy::~PortSecurityPolicy() = default;

void PortSecurityPolicy::UnsetAll() { *this = PortSecurityPolicy(); }

PortSecurityPolicy PortSecurityPolicy::GetDefaultPolicy() {
    PortSecurityPolicy p;
    p.SetAllowPromiscuous(false);
    p.SetAllowMacAddressChange(false);
    p.SetAllowForgedTransmits(false);
    return p;
}

void PortSecurityPolicy::Derive(const PortSecurityPolicy& parent) {
    if (!HasAllowPromiscuous() && parent.HasAllowPromiscuous())
        SetAllowPromiscuous(parent._allowPromiscuous);
    if (!HasAllowMacAddressChange() && parent.HasAllowMacAddressChange())
        SetAllowMacAddressChange(parent._allowMacAddressChange);
    if (!HasAllowForgedTransmits() && parent.HasAllowForgedTransmits())
        SetAllowForgedTransmits(parent._allowForgedTransmits);
}

bool PortSecurityPolicy::operator==(const PortSecurityPolicy& o) const {
    return _flags == o._flags && _allowPromiscuous == o._allowPromiscuous &&
           _allowMacAddressChange == o._allowMacAddressChange &&
           _allowForgedTransmits == o._allowForgedTransmits;
}

// ---- ShapingPolicy -----------------------------------------------------------------

void ShapingPolicy::UnsetAll() { *this = ShapingPolicy(); }

ShapingPolicy ShapingPolicy::GetDefaultPolicy() {
    ShapingPolicy p;
    p.SetEnabled(false);
    return p;
}

void ShapingPolicy::Derive(const ShapingPolicy& parent) {
    if (!HasEnabled() && parent.HasEnabled()) SetEnabled(parent._enabled);
    if (!HasPeakBps() && parent.HasPeakBps()) SetPeakBps(parent._peakBps);
    if (!HasAverageBps() && parent.HasAverageBps()) SetAverageBps(parent._averageBps);
    if (!HasBurstSize() && parent.HasBurstSize()) SetBurstSize(parent._burstSize);
}

bool ShapingPolicy::IsValid() const {
    if (!HasEnabled()) return false;
    if (!_enabled) return true;
    return (HasPeakBps() || HasAverageBps()) && HasBurstSize();
}

ShapingPolicy ShapingPolicy::FillValues() const {
    if (!IsValid()) throw HostCtlException("Cannot fill values from invalid shaping policy");
    ShapingPolicy p = *this;
    if (_enabled) {
        if (!HasAverageBps()) p.SetAverageBps(_peakBps);
        if (!HasPeakBps()) p.SetPeakBps(_averageBps);
    }
    return p;
}

bool ShapingPolicy::operator==(const ShapingPolicy& o) const {
    return _flags == o._flags && _enabled == o._enabled && _peakBps == o._peakBps &&
           _averageBps == o._averageBps && _burstSize == o._burstSize;
}

// ---- NicCapabilities ---------------------------------------------------------------

const std::vector<NicCapabilities::Capability>& NicCapabilities::Capabilities() {
#define TARN_CAP_ROW(name, bit, dflt) {#name, bit, dflt},
    static const std::vector<Capability> table = {TARN_NIC_CAPABILITIES(TARN_CAP_ROW)};
#undef TARN_CAP_ROW
    return table;
}

NicCapabilities NicCapabilities::GetDefaultPolicy() {
    uint64_t bits = 0;
    for (const Capability& c : Capabilities())
        if (c.inDefault) bits |= c.bit;
    return NicCapabilities(bits, bits);
}

void NicCapabilities::Derive(const NicCapabilities& parent) {
    uint64_t take = parent._mask & ~_mask;
    _flags = (_flags & ~take) | (parent._flags & take);
    _mask |= parent._mask;
}

}  // namespace HostCtl::Network
