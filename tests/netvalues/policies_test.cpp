// Policies: defaults, setters with their side rules, and derivation from a
// parent over every combination of items set here and in the parent.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "hostctl/exception.h"
#include "hostctl/nettypes.h"
#include "platform/log.h"

using namespace HostCtl::Network;

namespace {

// One policy item: how the child (variant 0) and the parent (variant 1) set it.
template <typename P>
struct Item {
    const char* name;
    std::function<void(P&, int variant)> set;
};

// For every subset of items set in the child and in the parent, Derive must
// give exactly: the child's item where set, else the parent's, else unset.
template <typename P>
void CheckEveryCombination(const std::vector<Item<P>>& items) {
    const unsigned n = items.size();
    for (unsigned childSet = 0; childSet < (1u << n); ++childSet) {
        for (unsigned parentSet = 0; parentSet < (1u << n); ++parentSet) {
            P child, parent, expected;
            for (unsigned i = 0; i < n; ++i) {
                if (childSet & (1u << i)) items[i].set(child, 0);
                if (parentSet & (1u << i)) items[i].set(parent, 1);
                if (childSet & (1u << i))
                    items[i].set(expected, 0);
                else if (parentSet & (1u << i))
                    items[i].set(expected, 1);
            }
            const P parentBefore = parent;
            child.Derive(parent);
            ASSERT_TRUE(child == expected) << "child items " << childSet << ", parent items " << parentSet;
            ASSERT_TRUE(parent == parentBefore);
        }
    }
}

}  // namespace

TEST(PolicyDerivation, PortSecurityEveryCombination) {
    CheckEveryCombination<PortSecurityPolicy>({
        {"promiscuous", [](PortSecurityPolicy& p, int v) { p.SetAllowPromiscuous(v == 1); }},
        {"mac change", [](PortSecurityPolicy& p, int v) { p.SetAllowMacAddressChange(v == 0); }},
        {"forged", [](PortSecurityPolicy& p, int v) { p.SetAllowForgedTransmits(v == 1); }},
    });
}

TEST(PolicyDerivation, ShapingEveryCombination) {
    CheckEveryCombination<ShapingPolicy>({
        {"enabled", [](ShapingPolicy& p, int v) { p.SetEnabled(v == 1); }},
        {"peak", [](ShapingPolicy& p, int v) { p.SetPeakBps(v ? 2000000 : 1000); }},
        {"average", [](ShapingPolicy& p, int v) { p.SetAverageBps(v ? 1500000 : 700); }},
        {"burst", [](ShapingPolicy& p, int v) { p.SetBurstSize(v ? 102400 : 64); }},
    });
}

TEST(PolicyDerivation, LinkCriteriaEveryCombination) {
    // Percent error, duplex and beacon are items of their own; the ignore bit
    // travels with each (the parent's are all on, the child's all off).
    CheckEveryCombination<LinkCriteriaSelectionPolicy>({
        {"percent", [](LinkCriteriaSelectionPolicy& p, int v) { p.SetPercentError(v ? 40 : 5, v == 1); }},
        {"duplex", [](LinkCriteriaSelectionPolicy& p, int v) { p.SetDuplex(v == 0, v == 1); }},
        {"beacon", [](LinkCriteriaSelectionPolicy& p, int v) { p.SetBeacon(v == 1); }},
    });
}

TEST(PolicyDerivation, LinkCriteriaSpeedsAreOneGroup) {
    enum Speed { None, Min, Exact };
    auto apply = [](LinkCriteriaSelectionPolicy& p, Speed s, unsigned value, bool ignore) {
        if (s == Min) p.SetMinimumSpeed(value, ignore);
        if (s == Exact) p.SetExactSpeed(value, ignore);
    };
    for (Speed c : {None, Min, Exact}) {
        for (Speed par : {None, Min, Exact}) {
            LinkCriteriaSelectionPolicy child, parent, expected;
            apply(child, c, 100, false);
            apply(parent, par, 1000, true);
            if (c != None)
                apply(expected, c, 100, false);
            else
                apply(expected, par, 1000, true);
            child.Derive(parent);
            EXPECT_EQ(child.ToString(), expected.ToString()) << c << "/" << par;
        }
    }
}

TEST(PolicyDerivation, TeamingEveryCombination) {
    LinkCriteriaSelectionPolicy childCriteria, parentCriteria;
    childCriteria.SetPercentError(3, false);
    parentCriteria.SetMinimumSpeed(1000, true);
    parentCriteria.SetPercentError(50, true);
    parentCriteria.SetBeacon(false);
    std::vector<Item<NicTeamingPolicy>> items = {
        {"team", [](NicTeamingPolicy& p, int v) {
             p.SetTeamingPolicy(v ? NicTeamingPolicy::FAILOVER_EXPLICIT : NicTeamingPolicy::LOADBALANCE_IP);
         }},
        {"notify", [](NicTeamingPolicy& p, int v) { p.SetNotifySwitch(v == 1); }},
        {"reverse", [](NicTeamingPolicy& p, int v) { p.SetReversePolicy(v == 0); }},
        {"rolling", [](NicTeamingPolicy& p, int v) { p.SetRollingRestoration(v == 1); }},
        {"uplinks", [](NicTeamingPolicy& p, int v) {
             p.SetUplinkOrder(v ? std::vector<std::string>{"tarnnic0", "tarnnic1", "tarnnic2"}
                                : std::vector<std::string>{"tarnnic3"});
             p.SetMaxActiveUplinks(v ? 2 : 1);
         }},
    };
    CheckEveryCombination(items);

    // Link criteria: copied whole when unset here, merged item by item otherwise.
    NicTeamingPolicy neither, onlyParent, onlyChild, both, parent;
    parent.SetLinkCriteria(parentCriteria);
    neither.Derive(NicTeamingPolicy());
    EXPECT_FALSE(neither.HasLinkCriteria());
    onlyParent.Derive(parent);
    EXPECT_TRUE(onlyParent.HasLinkCriteria());
    EXPECT_TRUE(onlyParent.GetLinkCriteria() == parentCriteria);
    onlyChild.SetLinkCriteria(childCriteria);
    onlyChild.Derive(NicTeamingPolicy());
    EXPECT_TRUE(onlyChild.GetLinkCriteria() == childCriteria);
    both.SetLinkCriteria(childCriteria);
    both.Derive(parent);
    EXPECT_EQ(both.GetLinkCriteria().ToString(),
              "flagSet[22], ignoreFlags[2], minSpeed[1000], exactSpeed[0], percentError[3], fullDuplex[0]");
}

TEST(PolicyDerivation, CapabilitiesBitByBit) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 10000; ++i) {
        uint64_t cm = rng(), cf = rng() & cm, pm = rng(), pf = rng() & pm;
        NicCapabilities child(cf, cm);
        child.Derive(NicCapabilities(pf, pm));
        for (int b = 0; b < 64; ++b) {
            uint64_t bit = 1ull << b;
            bool expectHas = (cm | pm) & bit;
            bool expectValue = (cm & bit) ? (cf & bit) : (pf & bit);
            ASSERT_EQ(child.Has(bit), expectHas);
            ASSERT_EQ(child.Get(bit), expectValue);
        }
    }
    NicCapabilities c;
    c.SetSRIOV(false);
    c.Derive(NicCapabilities::GetDefaultPolicy());
    EXPECT_TRUE(c.HasSRIOV());
    EXPECT_FALSE(c.GetSRIOV());
    EXPECT_TRUE(c.GetVlanTag());
    EXPECT_FALSE(c.HasUPT());
}

TEST(PolicyDefaults, WhatAppliesWhenNothingIsConfigured) {
    EXPECT_EQ(NicTeamingPolicy::GetDefaultPolicy().ToString(),
              "flagsSet [63], team [3], reversePolicy [1], notifySwitch [1], rolling [0], "
              "linkCriteria [flagSet[30], ignoreFlags[28], minSpeed[10], exactSpeed[0], percentError[0], "
              "fullDuplex[0]], uplinkOrder [], maxActive [0]");
    PortSecurityPolicy sec = PortSecurityPolicy::GetDefaultPolicy();
    EXPECT_EQ(sec.GetFlags(), 7);
    EXPECT_FALSE(sec.GetAllowPromiscuous() || sec.GetAllowMacAddressChange() || sec.GetAllowForgedTransmits());
    ShapingPolicy sh = ShapingPolicy::GetDefaultPolicy();
    EXPECT_EQ(sh.GetFlags(), 8u);
    EXPECT_FALSE(sh.GetEnabled());
    NicCapabilities caps = NicCapabilities::GetDefaultPolicy();
    EXPECT_EQ(caps.GetMask(), 0x100003cbc032bull);
    EXPECT_EQ(caps.GetFlags(), 0x100003cbc032bull);
}

TEST(TeamingPolicy, SettersAndTheirSideRules) {
    NicTeamingPolicy p;
    EXPECT_EQ(p.GetTeamingPolicy(), 3u);
    EXPECT_EQ(p.GetMaxActiveUplinks(), -1);
    EXPECT_THROW(p.SetTeamingPolicy(NicTeamingPolicy::TeamPolicyType(5)), HostCtl::Lib::HostCtlException);
    EXPECT_FALSE(p.HasTeamingPolicy());
    p.SetTeamingPolicy(NicTeamingPolicy::NONE);
    p.UnsetTeamingPolicy();
    EXPECT_EQ(p.GetTeamingPolicy(), 3u);

    {
        Platform::Log::Capture log;
        p.SetMaxActiveUplinks(200);
        EXPECT_EQ(p.GetMaxActiveUplinks(), 128);
        EXPECT_TRUE(log.Contains(
            "Warning: Invalid max active uplinks specified, setting maxActive uplinks to 128.",
            Platform::Log::Level::Warning));
        log.Clear();
        p.SetMaxActiveUplinks(128);
        p.SetMaxActiveUplinks(-5);
        EXPECT_EQ(p.GetMaxActiveUplinks(), 0);
        EXPECT_TRUE(log.Lines().empty());
    }
    EXPECT_EQ(p.GetFlagsSet(), 0u);  // maxActive raises no flag

    p.SetUplinkOrder({"tarnnic0", "tarnnic1"});
    p.SetLinkCriteria(LinkCriteriaSelectionPolicy::GetDefaultPolicy());
    EXPECT_EQ(p.ToString(),
              "flagsSet [24], team [3], reversePolicy [0], notifySwitch [0], rolling [0], "
              "linkCriteria [flagSet[30], ignoreFlags[28], minSpeed[10], exactSpeed[0], percentError[0], "
              "fullDuplex[0]], uplinkOrder [tarnnic0,tarnnic1,], maxActive [0]");
    p.UnsetAll();
    EXPECT_EQ(p.GetFlagsSet(), 0u);
    EXPECT_TRUE(p.GetUplinkOrder().empty());
    EXPECT_EQ(p.GetMaxActiveUplinks(), -1);
    EXPECT_EQ(p.GetLinkCriteria().GetMinimumSpeed(), 10u);  // criteria left as they were
    p.UnsetLinkCriteria();
    EXPECT_EQ(p.GetLinkCriteria().GetFlagSet(), 0u);
}

TEST(TeamingPolicy, NamesOfTeamTypes) {
    const char* names[] = {"NONE", "LOADBALANCE_IP", "LOADBALANCE_SRCMAC", "LOADBALANCE_SRCID", "FAILOVER_EXPLICIT"};
    const char* words[] = {"none", "lb_ip", "lb_srcmac", "lb_srcid", "fo_explicit"};
    for (uint32_t t = 0; t < 5; ++t) {
        EXPECT_STREQ(NicTeamingPolicy::TeamPolicyTypeName(t), names[t]);
        EXPECT_STREQ(NicTeamingPolicy::TeamPolicyTypeKeyword(t), words[t]);
        NicTeamingPolicy::TeamPolicyType back;
        ASSERT_TRUE(NicTeamingPolicy::TeamPolicyTypeFromKeyword(words[t], &back));
        EXPECT_EQ(back, t);
        ASSERT_TRUE(NicTeamingPolicy::TeamPolicyTypeFromName(names[t], &back));
        EXPECT_EQ(back, t);
    }
    EXPECT_EQ(NicTeamingPolicy::TeamPolicyTypeName(5), nullptr);
}

TEST(LinkCriteria, SpeedsExcludeEachOtherAndIgnoreBitsFollow) {
    LinkCriteriaSelectionPolicy p;
    p.SetMinimumSpeed(100, true);
    p.SetExactSpeed(1000, false);
    EXPECT_FALSE(p.HasMinimumSpeed());
    EXPECT_TRUE(p.HasExactSpeed());
    EXPECT_EQ(p.ToString(), "flagSet[1], ignoreFlags[0], minSpeed[0], exactSpeed[1000], percentError[0], fullDuplex[0]");
    p.SetBeacon(true);
    EXPECT_TRUE(p.GetBeacon());
    EXPECT_EQ(p.GetIgnoreFlags(), 16u);
    p.SetBeacon(false);
    EXPECT_EQ(p.GetFlagSet(), 17u);
    EXPECT_EQ(p.GetIgnoreFlags(), 0u);
    p.SetDuplex(true, true);
    p.UnsetDuplex();
    EXPECT_EQ(p.ToString(), "flagSet[17], ignoreFlags[0], minSpeed[0], exactSpeed[1000], percentError[0], fullDuplex[0]");
}

TEST(Shaping, ValidityAndFilledValues) {
    struct Row {
        int enabled;  // -1 unset
        bool peak, average, burst;
        bool valid;
    } rows[] = {
        {-1, true, true, true, false}, {0, false, false, false, true}, {1, false, false, true, false},
        {1, true, false, false, false}, {1, true, false, true, true},  {1, false, true, true, true},
        {1, true, true, true, true},
    };
    for (const Row& r : rows) {
        ShapingPolicy p;
        if (r.enabled >= 0) p.SetEnabled(r.enabled == 1);
        if (r.peak) p.SetPeakBps(800);
        if (r.average) p.SetAverageBps(500);
        if (r.burst) p.SetBurstSize(64);
        EXPECT_EQ(p.IsValid(), r.valid) << r.enabled << r.peak << r.average << r.burst;
    }
    ShapingPolicy onlyPeak;
    onlyPeak.SetEnabled(true);
    onlyPeak.SetPeakBps(800);
    onlyPeak.SetBurstSize(64);
    ShapingPolicy filled = onlyPeak.FillValues();
    EXPECT_TRUE(filled.HasAverageBps());
    EXPECT_EQ(filled.GetAverageBps(), 800u);
    EXPECT_FALSE(onlyPeak.HasAverageBps());
    ShapingPolicy onlyAverage;
    onlyAverage.SetEnabled(true);
    onlyAverage.SetAverageBps(300);
    onlyAverage.SetBurstSize(64);
    EXPECT_EQ(onlyAverage.FillValues().GetPeakBps(), 300u);
    ShapingPolicy off;
    off.SetEnabled(false);
    EXPECT_TRUE(off.FillValues() == off);
}
