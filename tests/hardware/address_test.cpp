// PCI address texts: the four forms told apart by their field widths, the
// ambiguous short ones, the limits of every field, and the canonical form
// round-tripping.
#include <gtest/gtest.h>

#include "hostctl/exception.h"
#include "hostctl/hardware.h"

namespace {

using HostCtl::Hardware::GetSBDFString;
using HostCtl::Hardware::ParsePciString;

TEST(PciAddress, FourFormsByWidth) {
    struct Row {
        const char* text;
        const char* canonical;
    } rows[] = {
        {"0000:3b:00.1", "0000:3b:00.1"},    // canonical, hex
        {"00000:059:00.1", "0000:3b:00.1"},  // decimal with segment
        {"3b:00.1", "0000:3b:00.1"},         // hex without segment
        {"059:00.1", "0000:3b:00.1"},        // decimal without segment
        {"10:10.1", "0000:10:10.1"},         // hex: bus 0x10, slot 0x10
        {"000:16.0", "0000:00:10.0"},        // decimal: slot 16 is 0x10
        {"016:16.7", "0000:10:10.7"},
        {"ffff:ff:1f.7", "ffff:ff:1f.7"},    // every field at its top
        {"65535:255:31.7", "ffff:ff:1f.7"},
        {"00001:000:00.0", "0001:00:00.0"},
        {"FFFF:AB:1F.7", "ffff:ab:1f.7"},    // upper-case hex
    };
    for (const auto& r : rows) EXPECT_EQ(GetSBDFString(ParsePciString(r.text)), r.canonical) << r.text;
}

TEST(PciAddress, SameAddressInEveryForm) {
    auto a = ParsePciString("0000:d8:00.1");
    EXPECT_EQ(ParsePciString("d8:00.1"), a);
    EXPECT_EQ(ParsePciString("00000:216:00.1"), a);
    EXPECT_EQ(ParsePciString("216:00.1"), a);
    EXPECT_EQ(a.seg, 0);
    EXPECT_EQ(a.bus, 0xd8);
    EXPECT_EQ(a.slot, 0);
    EXPECT_EQ(a.func, 1);
}

TEST(PciAddress, Refusals) {
    const char* bad[] = {
        "",              "3b",           "0000:3b:00",    "0:3b:00.0",       "000:3b:00.0",  // segment widths 1, 3
        "000000:059:00.0", "0000:3b:0.0", "0000:3b:000.0", "0000:3b:00.10",  "0000:3b:00.8",  // function 8
        "0000:3b:20.0",  "00000:059:32.0", "00000:256:00.0", "65536:000:00.0", "256:00.0",     // over the top
        "3b:20.0",       "0g:00.0",      "059:0a.0",      "0000-3b:00.0",    "0000:3b:00.1 ",
        "0000:3b.00.1",  "3b:00:1",      " 3b:00.1",      "00000:59:00.1",   "0000:059:00.1",
    };
    for (const char* text : bad) {
        try {
            ParsePciString(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const HostCtl::Lib::HostCtlException& e) {
            EXPECT_EQ(std::string(e.what()), std::string("Invalid PCI address: ") + text);
        }
    }
}

TEST(PciAddress, LimitsBothSides) {
    EXPECT_EQ(ParsePciString("0000:00:1f.0").slot, 31);
    EXPECT_THROW(ParsePciString("0000:00:20.0"), HostCtl::Lib::HostCtlException);
    EXPECT_EQ(ParsePciString("000:31.0").slot, 31);
    EXPECT_THROW(ParsePciString("000:32.0"), HostCtl::Lib::HostCtlException);
    EXPECT_EQ(ParsePciString("255:00.0").bus, 255);
    EXPECT_THROW(ParsePciString("256:00.0"), HostCtl::Lib::HostCtlException);
    EXPECT_EQ(ParsePciString("00:00.7").func, 7);
    EXPECT_THROW(ParsePciString("00:00.8"), HostCtl::Lib::HostCtlException);
    EXPECT_EQ(ParsePciString("65535:000:00.0").seg, 65535);
    EXPECT_THROW(ParsePciString("65536:000:00.0"), HostCtl::Lib::HostCtlException);
}

TEST(PciAddress, CanonicalRoundTrip) {
    for (unsigned seg : {0u, 1u, 0xabcu, 0xffffu})
        for (unsigned bus : {0u, 0x3bu, 0xffu})
            for (unsigned slot : {0u, 0x10u, 0x1fu})
                for (unsigned fn : {0u, 7u}) {
                    HostCtl::Hardware::PciAddress a{static_cast<uint16_t>(seg), static_cast<uint8_t>(bus),
                                                    static_cast<uint8_t>(slot), static_cast<uint8_t>(fn)};
                    EXPECT_EQ(ParsePciString(GetSBDFString(a)), a);
                }
}

}  // namespace
