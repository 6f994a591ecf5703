// The PCI name database: real ids named as an independent reading of the same
// pci.ids file names them, the fallbacks of a lookup, class names read only
// in the class section, the precedence of the pciids directories, filtering
// to present devices, and the rebuild when a directory changes.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "hardware/pci_names.h"
#include "hostctl/hardware.h"
#include "hw_fixture.h"
#include "platform/hostroot.h"
#include "platform/misc.h"

namespace {

using TarnCtl::Hardware::PciNameDb;

struct Named {
    uint16_t vendor, device, subVendor, subDevice;
    std::string vendorName, model;
};

// A plain reading of pci.ids: string slicing, no patterns. Takes every 97th
// device and every 53rd named subsystem.
std::vector<Named> OracleSample(const std::string& path) {
    std::ifstream in(path);
    std::map<uint16_t, std::string> vendors;
    std::vector<Named> sample;
    std::vector<std::tuple<uint16_t, uint16_t, uint16_t, uint16_t, std::string>> subs;
    std::string line, vendorName;
    long vendor = -1, device = -1, n = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line.rfind("C ", 0) == 0) break;  // the class section ends the devices
        if (line[0] != '\t') {
            vendor = std::stol(line.substr(0, 4), nullptr, 16);
            vendorName = line.substr(6);
            vendors[static_cast<uint16_t>(vendor)] = vendorName;
        } else if (line[1] != '\t') {
            device = std::stol(line.substr(1, 4), nullptr, 16);
            if (n++ % 97 == 0)
                sample.push_back({static_cast<uint16_t>(vendor), static_cast<uint16_t>(device), 0, 0, vendorName,
                                  line.substr(7)});
        } else if (line.size() > 13 && n % 53 == 0) {
            subs.emplace_back(vendor, device, std::stol(line.substr(2, 4), nullptr, 16),
                              std::stol(line.substr(7, 4), nullptr, 16), line.substr(13));
        }
    }
    for (auto& [v, d, sv, sd, name] : subs)
        if (!name.empty() && vendors.count(sv)) sample.push_back({v, d, sv, sd, vendors[sv], name});
    return sample;
}

class NamesTest : public HwTest::HardwareTest {
protected:
    void Write(const std::string& hostPath, const std::string& text) { HostCtl::Misc::WriteHostFileAtomic(hostPath, text); }
    std::pair<std::string, std::string> Name(uint16_t v, uint16_t d, uint16_t sv = 0, uint16_t sd = 0) {
        std::string vendor, model;
        HostCtl::Hardware::GetVendorModelFromPCI(vendor, model, v, d, sv, sd);
        return {vendor, model};
    }
};

TEST_F(NamesTest, RealIdsMatchAnIndependentReading) {
    std::vector<Named> sample = OracleSample("/usr/share/misc/pci.ids");
    ASSERT_GT(sample.size(), 300u);
    PciNameDb db;
    db.ScanFile(Platform::HostPath("/usr/share/hwdata/pci.ids"));
    size_t subsystems = 0;
    for (const auto& s : sample) {
        std::string vendor, model;
        db.Lookup(vendor, model, s.vendor, s.device, s.subVendor, s.subDevice);
        SCOPED_TRACE(HostCtl::Misc::StrPrintf("%04x:%04x:%04x:%04x", s.vendor, s.device, s.subVendor, s.subDevice));
        EXPECT_EQ(vendor, s.vendorName);
        EXPECT_EQ(model, s.model);
        subsystems += s.subVendor != 0;
    }
    EXPECT_GT(subsystems, 50u);
}

TEST_F(NamesTest, DefaultHostDevicesCarryTheirRealNames) {
    struct Row {
        const char* address;
        const char* vendor;
        const char* model;
    } rows[] = {
        {"0000:3b:00.0", "Intel Corporation", "Ethernet Converged Network Adapter X550-T2"},  // subsystem name
        {"0000:3b:00.1", "Intel Corporation", "Ethernet Server Adapter X520-2"},
        {"0000:03:00.0", "Broadcom / LSI", "SAS9300-8i"},
        {"0000:d8:00.0", "NVIDIA Corporation", "TU104 [GeForce RTX 2070 SUPER]"},  // unnamed subsystem
        {"0000:00:17.0", "Intel Corporation", "C620 Series Chipset Family SATA Controller [AHCI mode]"},
        {"0000:02:00.0", "ASPEED Technology, Inc.", "ASPEED Graphics Family (BMC console)"},  // OEM directory
        {"0000:00:1f.0", "Intel Corporation", "C622 Series Chipset LPC/eSPI Controller (platform)"},  // driver dir
    };
    for (const auto& r : rows) {
        auto d = Device(r.address);
        EXPECT_EQ(d.GetVendor(), r.vendor) << r.address;
        EXPECT_EQ(d.GetDevice(), r.model) << r.address;
    }
}

TEST_F(NamesTest, LookupFallbacks) {
    Write("/usr/share/hwdata/oem.pciids.d/t.ids",
          "1234  Acme Devices\n\t0001  Widget\n\t\t1234 0001  \n\t\t4321 0002  Special Widget\n"
          "\t0002  Gadget\n");
    Write("/usr/share/hwdata/pci.ids", "4321  Other Vendor\n");
    PciNameDb db;
    db.ScanDir(Platform::HostPath("/usr/share/hwdata/oem.pciids.d"));
    db.ScanFile(Platform::HostPath("/usr/share/hwdata/pci.ids"));
    struct Row {
        uint16_t v, d, sv, sd;
        const char* vendor;
        const char* model;
    } rows[] = {
        {0x1234, 0x0001, 0x0000, 0x0000, "Acme Devices", "Widget"},          // no subsystem asked
        {0x1234, 0x0001, 0x1234, 0x0001, "Acme Devices", "Widget"},          // empty subsystem name
        {0x1234, 0x0001, 0x4321, 0x0002, "Other Vendor", "Special Widget"},  // subsystem names both
        {0x1234, 0x0001, 0x4321, 0x0003, "Acme Devices", "Widget"},          // unknown subsystem
        {0x1234, 0x0003, 0x0000, 0x0000, "Acme Devices", "Unknown"},         // unknown device
        {0x9999, 0x0001, 0x0000, 0x0000, "Unknown", "Unknown"},              // unknown vendor
    };
    for (const auto& r : rows) {
        std::string vendor, model;
        db.Lookup(vendor, model, r.v, r.d, r.sv, r.sd);
        EXPECT_EQ(vendor, r.vendor) << r.v << ":" << r.d << ":" << r.sv << ":" << r.sd;
        EXPECT_EQ(model, r.model) << r.v << ":" << r.d << ":" << r.sv << ":" << r.sd;
    }
}

TEST_F(NamesTest, LinesOfOtherShapesAreIgnored) {
    Write("/usr/share/hwdata/pci.ids",
          "# comment\n1234  Acme\n\t0001 One space\n\t001  Three digits\n\t0002  Two\tTabbed\n"
          "\t\t1234 0005 One space sub\n\t0003  Three\n 5678  Indented vendor\n9abc  Tab\tVendor\n"
          "def0 One space vendor\n12345  Five digits\n");
    PciNameDb db;
    db.ScanFile(Platform::HostPath("/usr/share/hwdata/pci.ids"));
    EXPECT_EQ(db.DeviceCount(), 1u);  // only 0003
    EXPECT_EQ(db.VendorCount(), 1u);
    std::string vendor, model;
    db.Lookup(vendor, model, 0x1234, 0x0003, 0, 0);
    EXPECT_EQ(model, "Three");
}

TEST_F(NamesTest, SourcePrecedence) {
    // The same device in every source: the earlier directory wins, pci.ids last.
    const char* dirs[] = {"oem", "ihv", "default", "driver", "fallback"};
    for (const char* d : dirs)
        Write(std::string("/usr/share/hwdata/") + d + ".pciids.d/x.ids",
              std::string("8086  Intel ") + d + "\n\t1563  X550 from " + d + "\n\t10fb  82599 from " + d + "\n");
    // Files not ending in ".ids" are no source.
    Write("/usr/share/hwdata/oem.pciids.d/x.ids.bak", "8086  Wrong\n\t10fb  Wrong\n");
    TarnCtl::Hardware::ResetPciNameCache();
    EXPECT_EQ(Name(0x8086, 0x1563), std::make_pair(std::string("Intel oem"), std::string("X550 from oem")));
    // A subsystem of pci.ids under an OEM device still names it.
    EXPECT_EQ(Name(0x8086, 0x1563, 0x8086, 0x0001).second, "Ethernet Converged Network Adapter X550-T2");
    HostCtl::Misc::WriteHostFileAtomic("/usr/share/hwdata/oem.pciids.d/x.ids", "8086  Intel oem\n");
    TarnCtl::Hardware::RefreshPciNameCache();
    EXPECT_EQ(Name(0x8086, 0x1563).second, "X550 from ihv");
}

TEST_F(NamesTest, OnlyPresentDevicesAreKept) {
    TarnCtl::Hardware::ResetPciNameCache();
    // 8086:1572 (X710) is in pci.ids but not on this host.
    EXPECT_EQ(Name(0x8086, 0x1572), std::make_pair(std::string("Intel Corporation"), std::string("Unknown")));
    EXPECT_EQ(Name(0x8086, 0x1563).second, "Ethernet Controller X550");
    PciNameDb all;
    all.ScanFile(Platform::HostPath("/usr/share/hwdata/pci.ids"));
    std::string vendor, model;
    all.Lookup(vendor, model, 0x8086, 0x1572, 0, 0);
    EXPECT_EQ(model, "Ethernet Controller X710 for 10GbE SFP+");
}

TEST_F(NamesTest, RebuildWhenADirectoryChanges) {
    EXPECT_EQ(Name(0x8086, 0x1563).second, "Ethernet Controller X550");
    EXPECT_FALSE(TarnCtl::Hardware::RefreshPciNameCache());  // nothing changed
    Write("/usr/share/hwdata/fallback.pciids.d/new.ids", "8086  Intel\n\t1563  Renamed X550\n");
    EXPECT_EQ(Name(0x8086, 0x1563).second, "Ethernet Controller X550");  // not asked yet
    EXPECT_TRUE(TarnCtl::Hardware::RefreshPciNameCache());
    EXPECT_EQ(Name(0x8086, 0x1563).second, "Renamed X550");
    EXPECT_FALSE(TarnCtl::Hardware::RefreshPciNameCache());
    // A change to pci.ids alone is not watched.
    Write("/usr/share/hwdata/pci.ids", "8086  Intel\n\t1563  Other\n");
    EXPECT_FALSE(TarnCtl::Hardware::RefreshPciNameCache());
}

TEST_F(NamesTest, UnreadableSources) {
    PciNameDb db;
    std::string missing = Platform::HostPath("/usr/share/hwdata/none.ids");
    try {
        db.ScanFile(missing);
        FAIL() << "no throw";
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(), ("Failed to scan pciid file " + missing).c_str());
    }
    EXPECT_NO_THROW(db.ScanDir(Platform::HostPath("/usr/share/hwdata/absent.pciids.d")));  // no source
    EXPECT_EQ(db.DeviceCount(), 0u);
}

TEST_F(NamesTest, ClassNamesOnlyFromTheClassSection) {
    EXPECT_EQ(HostCtl::Hardware::GetPCIClass(0x0200), "Ethernet controller");
    EXPECT_EQ(HostCtl::Hardware::GetPCIClass(0x0c03), "USB controller");
    EXPECT_EQ(HostCtl::Hardware::GetPCIClass(0x0604), "PCI bridge");
    EXPECT_EQ(HostCtl::Hardware::GetPCIClass(0xff42), "Unknown");
    // Device lines look like subclass lines ("\t0280  ..." reads as subclass 02);
    // a vendor line after a class ends the class section.
    std::string path = Platform::HostPath("/usr/share/hwdata/classes.ids");
    HostCtl::Misc::WriteHostFileAtomic("/usr/share/hwdata/classes.ids",
                                       "0280  Vendor before classes\n\t0201  Device one\n"
                                       "C 02  Network controller\n\t00  Ethernet controller\n\t\t01  Prog if\n"
                                       "\t80  Network controller\n"
                                       "1234  Vendor after classes\n\t0203  Device three\n"
                                       "C 03  Display controller\n\t00  VGA compatible controller\n");
    auto classes = TarnCtl::Hardware::ReadPciClasses(path);
    std::map<uint16_t, std::string> expected{
        {0x0200, "Ethernet controller"}, {0x0280, "Network controller"}, {0x0300, "VGA compatible controller"}};
    EXPECT_EQ(classes, expected);
}

}  // namespace
