// The board's management controller (version, the OS info and hostname the
// host hands it, kept by the controller across host reboots, a controller
// that never updates its hostname cache, limits of both texts on both sides)
// and the platform security and NVDIMM facts.
#include <gtest/gtest.h>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "hardware/hardware_info_impl.h"
#include "hostctl/exception.h"
#include "hw_fixture.h"
#include "sim/faults.h"
#include "sim/profile.h"
#include "sim_edits.h"

namespace {

using HwTest::Refusal;

using TarnCtl::Hardware::HardwareInfoImpl;

class FactsTest : public HwTest::HardwareTest {
protected:
    std::string Bmc() {
        auto b = HardwareInfoImpl().GetBmcInfo();
        return b.version + "|" + b.osName + "|" + b.osVersion + "|" + b.hostname;
    }
};

TEST_F(FactsTest, BmcKeepsWhatTheHostToldIt) {
    EXPECT_EQ(HardwareInfoImpl().GetBMCVersion(), "1.73.12");
    EXPECT_EQ(Bmc(), "1.73.12|||");
    HardwareInfoImpl().SetBmcOSInfo("Tarnos", "8.0.0");
    HardwareInfoImpl().ReportToBmcHaldenHostname("tarnhost01.example.com");
    EXPECT_EQ(Bmc(), "1.73.12|Tarnos|8.0.0|tarnhost01.example.com");
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Bmc(), "1.73.12|Tarnos|8.0.0|tarnhost01.example.com");
    InitHost(HwTest::Profile());
    EXPECT_EQ(Bmc(), "1.73.12|||");
}

TEST_F(FactsTest, TextLimitsBothSides) {
    std::string name63(63, 'n'), name64(64, 'n'), host255(255, 'h'), host256(256, 'h');
    EXPECT_EQ(Refusal([&] { HardwareInfoImpl().SetBmcOSInfo(name63, "1"); }), "");
    EXPECT_EQ(Refusal([&] { HardwareInfoImpl().SetBmcOSInfo(name64, "2"); }),
              "Invalid BMC OS info '" + name64 + "': 1 to 63 printable characters");
    EXPECT_EQ(Refusal([&] { HardwareInfoImpl().SetBmcOSInfo("Tarnos", ""); }),
              "Invalid BMC OS info '': 1 to 63 printable characters");
    EXPECT_EQ(Refusal([&] { HardwareInfoImpl().SetBmcOSInfo("Tar\tnos", "3"); }),
              "Invalid BMC OS info 'Tar\tnos': 1 to 63 printable characters");
    EXPECT_EQ(Refusal([&] { HardwareInfoImpl().ReportToBmcHaldenHostname(host255); }), "");
    EXPECT_EQ(Refusal([&] { HardwareInfoImpl().ReportToBmcHaldenHostname(host256); }),
              "Invalid hostname '" + host256 + "': 1 to 255 printable characters");
    EXPECT_EQ(Refusal([&] { HardwareInfoImpl().ReportToBmcHaldenHostname(""); }),
              "Invalid hostname '': 1 to 255 printable characters");
    EXPECT_EQ(Bmc(), "1.73.12|" + name63 + "|1|" + host255);  // the refusals wrote nothing
}

TEST_F(FactsTest, KernelRefusalsAndAStaleController) {
    TarnTest::FailKernel(KSI_NODE_hardware_bmc_osInfo, TARN_FAILURE, {.op = TarnSim::KernelOp::Set});
    EXPECT_EQ(Refusal([] { HardwareInfoImpl().SetBmcOSInfo("Tarnos", "8.0.0"); }), "Unable to set BMC OS info");
    TarnTest::FailKernel(KSI_NODE_hardware_bmc_hostname, TARN_FAILURE, {.op = TarnSim::KernelOp::Set});
    EXPECT_EQ(Refusal([] { HardwareInfoImpl().ReportToBmcHaldenHostname("a"); }),
              "Unable to report the hostname to the BMC");
    EXPECT_EQ(Bmc(), "1.73.12|||");
    InitWithHardware([](rapidjson::Value& hw, auto& alloc) { hw["bmc"].AddMember("staleHostnameCache", true, alloc); });
    EXPECT_EQ(Refusal([] { HardwareInfoImpl().ReportToBmcHaldenHostname("tarnhost02"); }),
              "BMC did not update its cache for Halden hostname");
    InitWithHardware([](rapidjson::Value& hw, auto&) { hw.RemoveMember("bmc"); });
    EXPECT_EQ(Refusal([] { HardwareInfoImpl().GetBMCVersion(); }), "Unable to get BMC info: the host has no BMC");
    EXPECT_EQ(Refusal([] { HardwareInfoImpl().ReportToBmcHaldenHostname("tarnhost02"); }),
              "Unable to get BMC info: the host has no BMC");
}

TEST_F(FactsTest, SecurityAndNvdimmFacts) {
    auto sgx = HardwareInfoImpl().GetSgxInfo();
    EXPECT_TRUE(sgx.supported);
    EXPECT_FALSE(sgx.enabled);
    EXPECT_TRUE(sgx.flexibleLaunchControl);
    EXPECT_FALSE(HardwareInfoImpl().GetSevInfo().supported);
    EXPECT_FALSE(HardwareInfoImpl().GetTdxInfo().supported);
    EXPECT_EQ(HardwareInfoImpl().GetNvdInfo().count, 0u);
    InitWithHardware([](rapidjson::Value& hw, auto& alloc) {
        rapidjson::Value sev(rapidjson::kObjectType), nvd(rapidjson::kObjectType);
        sev.AddMember("supported", true, alloc).AddMember("enabled", true, alloc).AddMember("es", true, alloc);
        sev.AddMember("maxGuests", 509, alloc);
        hw["cpu"]["sev"] = sev;
        hw["cpu"].RemoveMember("sgx");
        nvd.AddMember("count", 4, alloc).AddMember("bytes", int64_t{549755813888}, alloc);
        hw["nvd"] = nvd;
    });
    auto sev = HardwareInfoImpl().GetSevInfo();
    EXPECT_TRUE(sev.enabled);
    EXPECT_TRUE(sev.esSupported);
    EXPECT_EQ(sev.maxGuests, 509u);
    auto absent = HardwareInfoImpl().GetSgxInfo();  // no record: all zero
    EXPECT_FALSE(absent.supported);
    EXPECT_EQ(absent.epcBytes, 0u);
    EXPECT_EQ(HardwareInfoImpl().GetNvdInfo().count, 4u);
    EXPECT_EQ(HardwareInfoImpl().GetNvdInfo().bytes, 549755813888u);
}

TEST_F(FactsTest, InfoShowsTheFacts) {
    auto info = Hostctl({"--format", "json", "hardware", "info"});
    ASSERT_EQ(info.status, 0) << info.err;
    for (const char* field : {"\"bmc_version\": \"1.73.12\"", "\"sgx_supported\": true", "\"sgx_enabled\": false",
                              "\"sev_supported\": false", "\"tdx_enabled\": false", "\"nvdimm_count\": 0"})
        EXPECT_NE(info.out.find(field), std::string::npos) << field << "\n" << info.out;
    InitWithHardware([](rapidjson::Value& hw, auto&) { hw.RemoveMember("bmc"); });
    info = Hostctl({"--format", "json", "hardware", "info"});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("\"bmc_version\": \"\""), std::string::npos) << info.out;
}

}  // namespace
