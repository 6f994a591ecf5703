// hostctl hardware as a new user would try it: every device listed with its
// real names, an SR-IOV NIC set to 4 VFs, a device with a dependant handed to
// passthrough, the boot controller refused, a reboot keeping it all; exit
// statuses 0, 1 and 2; JSON listings.
#include <gtest/gtest.h>

#include "hw_fixture.h"

namespace {

class ToolTest : public HwTest::HardwareTest {
protected:
    std::string Line(const std::string& out, const std::string& start) {
        size_t p = out.find("\n" + start);
        if (p == std::string::npos) return "";
        size_t e = out.find('\n', p + 1);
        return out.substr(p + 1, e - p - 1);
    }
};

TEST_F(ToolTest, NewUserScenario) {
    auto list = Hostctl({"hardware", "pci", "list"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_NE(Line(list.out, "0000:5e:00.0").find("Mellanox Technologies"), std::string::npos);
    EXPECT_NE(Line(list.out, "0000:3b:00.0").find("Ethernet Converged Network Adapter X550-T2"), std::string::npos);

    EXPECT_EQ(Hostctl({"hardware", "pci", "vfs", "set", "0000:5e:00.0", "4"}).status, 0);
    list = Hostctl({"hardware", "pci", "list"});
    std::string vf = Line(list.out, "0000:5e:00.5");
    EXPECT_NE(vf.find("ConnectX-4 Lx Virtual Function"), std::string::npos) << list.out;
    EXPECT_NE(vf.find("0000:5e:00.0"), std::string::npos);

    EXPECT_EQ(Hostctl({"hardware", "pci", "owner", "set", "d8:00.0", "passthru"}).status, 0);
    list = Hostctl({"hardware", "pci", "list"});
    EXPECT_NE(Line(list.out, "0000:d8:00.1").find("VM passthru  VM passthru"), std::string::npos) << list.out;

    auto boot = Hostctl({"hardware", "pci", "owner", "set", "0000:03:00.0", "passthru"});
    EXPECT_EQ(boot.status, 1);
    EXPECT_EQ(boot.err, "hostctl: Cannot configure passthru on boot device.\n");

    ASSERT_EQ(Hostctl({"sim", "reboot"}).status, 0);
    list = Hostctl({"hardware", "pci", "list"});
    EXPECT_NE(Line(list.out, "0000:d8:00.0").find("VM passthru  VM passthru"), std::string::npos) << list.out;
    EXPECT_NE(Line(list.out, "0000:5e:00.5").find("Virtual Function"), std::string::npos);
    EXPECT_EQ(Line(list.out, "0000:5e:00.6"), "");
}

TEST_F(ToolTest, UsageAndFailures) {
    EXPECT_EQ(Hostctl({"hardware", "pci", "owner", "set", "0000:d8:00.0", "vm"}).status, 2);
    EXPECT_EQ(Hostctl({"hardware", "pci", "vfs", "set", "0000:5e:00.0"}).status, 2);
    auto bad = Hostctl({"hardware", "pci", "show", "0000:3b:00"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "hostctl: Invalid PCI address: 0000:3b:00\n");
    auto lookupBad = Hostctl({"hardware", "pci", "lookup", "8086:1563:8086"});
    EXPECT_EQ(lookupBad.status, 1);
    EXPECT_EQ(lookupBad.err,
              "hostctl: Invalid PCI id: 8086:1563:8086 (VENDOR[:DEVICE[:SUBVENDOR:SUBDEVICE]], hex)\n");
}

TEST_F(ToolTest, LookupNamesAnyId) {
    auto absent = Hostctl({"hardware", "pci", "lookup", "8086:1572"});  // not on this host
    ASSERT_EQ(absent.status, 0) << absent.err;
    EXPECT_EQ(absent.out, "Vendor Name: Intel Corporation\nDevice Name: Ethernet Controller X710 for 10GbE SFP+\n");
    auto sub = Hostctl({"--format", "json", "hardware", "pci", "lookup", "8086:1563:8086:0001"});
    EXPECT_NE(sub.out.find("Ethernet Converged Network Adapter X550-T2"), std::string::npos) << sub.out;
    auto vendor = Hostctl({"hardware", "pci", "lookup", "10de"});
    EXPECT_EQ(vendor.out, "Vendor Name: NVIDIA Corporation\nDevice Name: Unknown\n");
}

TEST_F(ToolTest, JsonListingAndBootOrder) {
    auto json = Hostctl({"--format", "json", "hardware", "bootorder", "list"});
    ASSERT_EQ(json.status, 0) << json.err;
    // The first entry's id as a JSON number, whichever case the key is printed in.
    bool idAsNumber = json.out.find("\"ID\": 3,") != std::string::npos || json.out.find("\"id\": 3,") != std::string::npos;
    EXPECT_TRUE(idAsNumber) << json.out;
    EXPECT_EQ(Hostctl({"hardware", "bootorder", "swap", "3", "7"}).status, 0);
    auto list = Hostctl({"hardware", "bootorder", "list"});
    EXPECT_NE(Line(list.out, "1 ").find("UEFI: Built-in EFI Shell"), std::string::npos) << list.out;
    auto refused = Hostctl({"hardware", "bootorder", "swap", "3", "4"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "hostctl: Device ids not in boot order\n");
}

// Drivers, containment and the boot order across a reboot, as a user sees
// them: the driver column, show's facts and JSON booleans, refusals with
// status 1 and their reason.
TEST_F(ToolTest, DriversContainmentAndBootOrderAfterReboot) {
    auto list = Hostctl({"hardware", "pci", "list"});
    EXPECT_NE(Line(list.out, "0000:d8:00.1").find("hdaudio"), std::string::npos) << list.out;
    EXPECT_EQ(Hostctl({"hardware", "pci", "unbind", "0000:d8:00.0"}).status, 0);
    list = Hostctl({"hardware", "pci", "list"});
    EXPECT_EQ(Line(list.out, "0000:d8:00.1").find("hdaudio"), std::string::npos) << list.out;
    EXPECT_EQ(Hostctl({"hardware", "pci", "rescan", "--segment", "0"}).status, 0);
    list = Hostctl({"hardware", "pci", "list"});
    EXPECT_NE(Line(list.out, "0000:d8:00.1").find("hdaudio"), std::string::npos) << list.out;

    EXPECT_EQ(Hostctl({"hardware", "pci", "dpc", "trigger", "0000:d7:00.0"}).status, 0);
    auto show = Hostctl({"--format", "json", "hardware", "pci", "show", "0000:d7:00.0"});
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_NE(show.out.find("\"dpc_containment_done\": true"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("\"hotplug_slot\": 6"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("\"hotplug_adapter\": \"0000:d8:00.0\""), std::string::npos) << show.out;
    auto again = Hostctl({"hardware", "pci", "dpc", "trigger", "0000:d7:00.0"});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, "hostctl: DPC containment is already done on device 0000:d7:00.0\n");
    auto noDpc = Hostctl({"hardware", "pci", "dpc", "enable", "0000:3a:00.0"});
    EXPECT_EQ(noDpc.status, 1);
    EXPECT_EQ(noDpc.err, "hostctl: Device 0000:3a:00.0 does not support DPC\n");
    EXPECT_EQ(Hostctl({"hardware", "pci", "dpc", "pause", "0000:d7:00.0"}).status, 2);
    EXPECT_EQ(Hostctl({"hardware", "pci", "rescan", "--segment", "x"}).status, 2);

    EXPECT_EQ(Hostctl({"hardware", "bootorder", "swap", "3", "1"}).status, 0);
    ASSERT_EQ(Hostctl({"sim", "reboot"}).status, 0);
    list = Hostctl({"hardware", "bootorder", "list"});
    EXPECT_NE(Line(list.out, "1 ").find("UEFI: PXE IPv4"), std::string::npos) << list.out;
    show = Hostctl({"--format", "json", "hardware", "pci", "show", "0000:d7:00.0"});
    EXPECT_NE(show.out.find("\"dpc_containment_done\": false"), std::string::npos) << show.out;
}

// `sim generate --pci-devices N`: N functions besides the generated NICs and
// storage adapters and a root port for every bus of 256.
TEST_F(ToolTest, GeneratedHostOfNFunctions) {
    auto gen = Hostctl({"sim", "generate", "--pci-devices", "257", "--pnics", "2", "--storage-adapters", "2"});
    ASSERT_EQ(gen.status, 0) << gen.err;
    InitHost(gen.out);
    std::vector<std::string> all = Addresses();
    EXPECT_EQ(all.size(), 257u + 2 + 2 + 2);
    EXPECT_EQ(all.front(), "0000:00:08.0");
    EXPECT_EQ(all.back(), "0000:81:00.0");
    EXPECT_EQ(Device("0000:81:00.0").GetParentDevice()->GetSBDFString(), "0000:00:08.1");
    EXPECT_EQ(Device("0000:80:1f.7").GetParentDevice()->GetSBDFString(), "0000:00:08.0");
    EXPECT_EQ(Device("0000:3b:00.1").GetTarnosDeviceName(), "pnx1");
    auto none = Hostctl({"sim", "generate", "--pci-devices", "0", "--pnics", "0", "--storage-adapters", "0"});
    InitHost(none.out);
    EXPECT_EQ(Addresses().size(), 2u);  // the storage area keeps two adapters at least
}

}  // namespace
