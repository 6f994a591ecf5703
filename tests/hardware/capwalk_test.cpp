// The capability walk over a raw configuration space: normal lists, a loop
// and a capability reaching past the space refused, the exact edges of the
// space, invalid ids skipped, and the same refusals through a simulated
// device whose space a profile patches.
#include <gtest/gtest.h>

#include <cstring>

#include "hardware/pci_config.h"
#include "hostctl/exception.h"
#include "hw_fixture.h"

namespace {

using TarnCtl::Hardware::WalkCapabilities;

struct Space {
    uint8_t data[4096] = {};
    uint32_t length = 256;
    Space() { data[0x06] = 0x10; }  // capability list present
    void Cap(uint32_t off, uint8_t id, uint8_t next) {
        data[off] = id;
        data[off + 1] = next;
    }
    void Ext(uint32_t off, uint16_t id, uint32_t next) {
        uint32_t h = id | 1u << 16 | next << 20;
        std::memcpy(data + off, &h, 4);
    }
    std::vector<HostCtl::Hardware::PciCapability> Walk() { return WalkCapabilities(data, length, "0000:01:00.0"); }
    std::string Error() {
        try {
            Walk();
        } catch (const HostCtl::Lib::HostCtlException& e) {
            return e.what();
        }
        return "(none)";
    }
};

const char* kOutside = "Capability data extends outside of config space";

TEST(CapabilityWalk, StandardAndExtendedLists) {
    Space s;
    s.length = 4096;
    s.data[0x34] = 0x40;
    s.Cap(0x40, 0x01, 0x50);
    s.Cap(0x50, 0x11, 0x70);
    s.Cap(0x70, 0x10, 0x00);
    s.Ext(0x100, 0x0001, 0x148);
    s.Ext(0x148, 0x0010, 0x000);
    auto caps = s.Walk();
    ASSERT_EQ(caps.size(), 5u);
    EXPECT_EQ(caps[0].id, 0x01u);
    EXPECT_EQ(caps[2].offset, 0x70u);
    EXPECT_FALSE(caps[2].extended);
    EXPECT_EQ(caps[4].id, 0x10u);
    EXPECT_EQ(caps[4].offset, 0x148u);
    EXPECT_TRUE(caps[4].extended);
}

TEST(CapabilityWalk, NoListWithoutTheStatusBit) {
    Space s;
    s.data[0x06] = 0;
    s.data[0x34] = 0x40;
    s.Cap(0x40, 0x01, 0x40);  // would loop if followed
    EXPECT_TRUE(s.Walk().empty());
}

TEST(CapabilityWalk, LoopsAreRefused) {
    Space s;
    s.data[0x34] = 0x40;
    s.Cap(0x40, 0x01, 0x50);
    s.Cap(0x50, 0x05, 0x40);
    EXPECT_EQ(s.Error(), "Capability list of 0000:01:00.0 loops at offset 0x40");
    Space self;
    self.data[0x34] = 0x60;
    self.Cap(0x60, 0x09, 0x60);
    EXPECT_EQ(self.Error(), "Capability list of 0000:01:00.0 loops at offset 0x60");
    Space ext;
    ext.length = 4096;
    ext.Ext(0x100, 0x0001, 0x148);
    ext.Ext(0x148, 0x000d, 0x100);
    EXPECT_EQ(ext.Error(), "Capability list of 0000:01:00.0 loops at offset 0x100");
}

TEST(CapabilityWalk, DataOutsideTheSpaceIsRefused) {
    // A PCI Express capability is 0x3c bytes: at 0xc4 it ends exactly at 0x100.
    Space fits;
    fits.data[0x34] = 0xc4;
    fits.Cap(0xc4, 0x10, 0x00);
    EXPECT_EQ(fits.Walk().size(), 1u);
    Space over;
    over.data[0x34] = 0xc8;
    over.Cap(0xc8, 0x10, 0x00);
    EXPECT_EQ(over.Error(), kOutside);
    // A pointer into the header.
    Space header;
    header.data[0x34] = 0x3c;
    EXPECT_EQ(header.Error(), kOutside);
    // An SR-IOV capability (0x40 bytes) at the end of the extended space.
    Space ext;
    ext.length = 4096;
    ext.Ext(0x100, 0x0001, 0xfc0);
    ext.Ext(0xfc0, 0x0010, 0);
    EXPECT_EQ(ext.Walk().size(), 2u);
    ext.Ext(0x100, 0x0001, 0xfc4);
    ext.Ext(0xfc4, 0x0010, 0);
    EXPECT_EQ(ext.Error(), kOutside);
    // A space shorter than its header.
    Space tiny;
    tiny.length = 0x3f;
    EXPECT_EQ(tiny.Error(), kOutside);
}

TEST(CapabilityWalk, ConventionalSpaceHasNoExtendedList) {
    Space s;
    s.Ext(0x100, 0x0010, 0);  // beyond a 256-byte space: never read
    EXPECT_TRUE(s.Walk().empty());
}

TEST(CapabilityWalk, InvalidIdsAreSkipped) {
    Space s;
    s.length = 4096;
    s.data[0x34] = 0x40;
    s.Cap(0x40, 0x16, 0x50);  // one past the last known id
    s.Cap(0x50, 0x15, 0x00);
    s.Ext(0x100, 0x0030, 0x110);
    s.Ext(0x110, 0x002f, 0);
    auto caps = s.Walk();
    ASSERT_EQ(caps.size(), 2u);
    EXPECT_EQ(caps[0].id, 0x15u);
    EXPECT_EQ(caps[1].id, 0x2fu);
}

class CapabilityDeviceTest : public HwTest::HardwareTest {};

TEST_F(CapabilityDeviceTest, BrokenListsOfASimulatedDevice) {
    InitHost(HwTest::Profile(R"([
        {"address": "0000:00:01.0", "vendor": "8086", "device": "2030", "class": "0604", "bridgeTo": 1},
        {"address": "0000:01:00.0", "vendor": "8086", "device": "1563", "class": "0200", "patch": [[81, 64]]},
        {"address": "0000:01:00.1", "vendor": "8086", "device": "1563", "class": "0200", "patch": [[65535, 256]]},
        {"address": "0000:01:00.2", "vendor": "8086", "device": "1563", "class": "0200"}])"));
    // MSI-X (0x50) points back at power management (0x40).
    auto looping = Device("0000:01:00.0");
    EXPECT_EQ(looping.GetVendor(), "Intel Corporation");  // the header still reads
    try {
        looping.GetCapabilities();
        FAIL();
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(), "Capability list of 0000:01:00.0 loops at offset 0x40");
    }
    // A PCI Express capability at 0x70 fits a 256-byte space; so the cut space
    // still walks its standard list, and has no extended one.
    auto cut = Device("0000:01:00.1");
    EXPECT_EQ(cut.GetCapabilities().size(), 3u);
    EXPECT_FALSE(cut.HasCapability(0x10, true));
    EXPECT_EQ(Device("0000:01:00.2").GetCapabilityIndex(0x0d, true), 0x148);
    EXPECT_EQ(Device("0000:01:00.2").GetPciExpressPortType(), 0);
    EXPECT_EQ(Device("0000:00:01.0").GetPciExpressPortType(), 4);  // root port
}

}  // namespace
