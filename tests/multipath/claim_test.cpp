// Claiming and unclaiming paths: by location, plug-in and device, the
// framework's refusal texts, a device's own claim operations, registered
// plug-in names, and the boot-time scrub of entries recorded while their
// device was absent.
#include <gtest/gtest.h>

#include "hostctl/exception.h"
#include "ksi/storage.h"
#include "sim/kernel.h"
#include "storage/lun_impl.h"
#include "storage/nmp_device_config_impl.h"
#include "storage/scsi_path_impl.h"
#include "storage/storage_util.h"
#include "multipath_fixture.h"

namespace MultipathTest {
namespace {

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::SubObjectId;
using TarnCtl::Storage::ScsiPathImpl;

TEST_F(MultipathHostTest, UnclaimingADeviceReleasesEveryPathAndClaimingTakesThemBack) {
    storage.UnclaimPathsByDevice(kFixedLun);
    auto writes = TakeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].node, KSI_NODE_storage_scsifw_claimrule);
    EXPECT_EQ(writes[0].inputs, (std::vector<std::string>{"unclaim", "plugintype=MP", "format=deviceuid",
                                                          std::string("deviceuid=") + kFixedLun}));
    for (const char* p : {kFixedP0, kFixedP1, kFixedP2})
        EXPECT_EQ(ScsiPathImpl(p).GetMultipathPluginIdentifier(), "(unclaimed)");
    auto lun = storage.GetDeviceByName(kFixedLun, false);
    EXPECT_EQ(lun->GetMultipathPluginName(), "");
    EXPECT_FALSE(lun->GetDeviceConfig());
    // Other devices keep theirs.
    EXPECT_EQ(ScsiPathImpl("hbx1:C0:T0:L0").GetMultipathPluginIdentifier(), "NMP");

    storage.ClaimPaths(HostCtl::Storage::MP, "hbx2", 0, 2, 5);
    EXPECT_EQ(TakeWrites().at(0).inputs,
              (std::vector<std::string>{"claim", "plugintype=MP", "format=location", "adapter=hbx2", "channel=0",
                                        "target=2", "lun=5"}));
    EXPECT_EQ(ScsiPathImpl(kFixedP1).GetMultipathPluginIdentifier(), "NMP");
    EXPECT_EQ(ScsiPathImpl(kFixedP0).GetMultipathPluginIdentifier(), "(unclaimed)");
    auto config = storage.GetDeviceByName(kFixedLun, false)->GetDeviceConfig();
    ASSERT_TRUE(config);
    EXPECT_EQ(config->GetWorkingPathSetRuntimeNames(), std::vector<std::string>{kFixedP1});
}

TEST_F(MultipathHostTest, OnePathClaimsAndUnclaimsItself) {
    ScsiPathImpl path(kFixedP2);
    path.Unclaim();
    EXPECT_EQ(path.GetMultipathPluginIdentifier(), "(unclaimed)");
    EXPECT_FALSE(path.GetScsiPathConfig());
    EXPECT_FALSE(path.GetMultipathPlugin());
    EXPECT_EQ(storage.GetDeviceByName(kFixedLun, false)->GetMultipathPluginName(), "NMP");
    path.Claim();
    EXPECT_EQ(path.GetMultipathPluginIdentifier(), "NMP");
    EXPECT_EQ(path.GetScsiPathConfig()->GetNmpPathStateString(), "active");
}

TEST_F(MultipathHostTest, UnclaimRefusalsReadAsTheFrameworkWordsThem) {
    EXPECT_EQ(ErrorText([this] { storage.UnclaimPathsByDevice(kRrLun2); }),
              "Unable to unclaim paths.  Busy or in use devices detected.  See Tarnos logs for more information.");
    // A busy device anywhere in the selection keeps every path claimed.
    EXPECT_EQ(ErrorText([this] { storage.UnclaimPathsByPlugin("NMP"); }),
              "Unable to unclaim paths.  Busy or in use devices detected.  See Tarnos logs for more information.");
    EXPECT_EQ(ScsiPathImpl("hbx1:C0:T0:L0").GetMultipathPluginIdentifier(), "NMP");
    const std::pair<TARN_ReturnStatus, const char*> cases[] = {
        {TARN_BAD_PARAM, "Internal Error, Invalid parameters for claim"},
        {TARN_INVALID_STATE,
         "Invalid claim state found in the Tarnos.  Please check Tarnos log files for more information."},
        {TARN_TIMEOUT, "Unable to unclaim paths. Operation timed out.  See Tarnos logs for more information."},
    };
    for (const auto& [status, text] : cases) {
        TarnSim::InjectFault({"", KSI_NODE_storage_scsifw_claimrule, "", status, 1});
        EXPECT_EQ(ErrorText([this] { storage.UnclaimPathsByDevice(kFixedLun); }), text);
        EXPECT_EQ(ScsiPathImpl(kFixedP0).GetMultipathPluginIdentifier(), "NMP");
    }
}

TEST_F(MultipathHostTest, DeviceClaimOperations) {
    auto lun = TarnCtl::Storage::StorageInfoImpl::GetLun(kFixedLun, false);
    lun->ClaimFilters();
    EXPECT_EQ(TakeWrites().at(0).inputs, (std::vector<std::string>{"claim", "plugintype=Filter", "format=deviceuid",
                                                                   std::string("deviceuid=") + kFixedLun}));
    EXPECT_TRUE(lun->GetDeviceConfig());
    EXPECT_TRUE(lun->GetDeviceConfig()->GetAttachedFilterNames().empty());
    TarnCtl::Storage::Nmp::NmpDeviceConfigImpl(kFixedLun).SetPathSelectionPolicy("QUIL_PSP_MRU");
    lun->UnclaimAllPaths();
    EXPECT_FALSE(TarnCtl::Storage::StorageInfoImpl::GetLun(kFixedLun, false)->GetDeviceConfig());
    ASSERT_TRUE(BlockDevice(kFixedLun)->GetSubObject(SubObjectId("psp")));
    lun->CleanPrevMppConfig();
    EXPECT_FALSE(BlockDevice(kFixedLun)->GetSubObject(SubObjectId("psp")));
    EXPECT_FALSE(BlockDevice(kFixedLun)->HasValue("plugin"));
    std::string device;
    EXPECT_TRUE(BlockDevice(kFixedLun)->GetValue("device", &device));
}

TEST_F(MultipathHostTest, RegisteredPluginNamesByKind) {
    const struct {
        const char* name;
        const char* kind;
        bool registered;
    } cases[] = {
        {"QUIL_SATP_ALUA", "SATP", true}, {"PURE_SATP_AA", "SATP", true}, {"QUIL_PSP_RR", "SATP", false},
        {"QUIL_PSP_RR", "PSP", true},     {"PURE_PSP_LB", "PSP", true},   {"QUIL_SATP_ALUA", "PSP", false},
        {"NMP", "MP", true},              {"HPP", "MP", false},           {"", "SATP", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(storage.IsRegisteredPsaPluginName(c.name, c.kind), c.registered) << c.name << " " << c.kind;
    EXPECT_TRUE(storage.GetNmpPsaPlugin());
    TarnSim::WithState([](TarnSim::KernelState& s) { s.Remove("", KSI_NODE_storage_scsifw_plugins, {"NMP"}); }, true);
    EXPECT_FALSE(storage.GetNmpPsaPlugin());
}

TEST_F(MultipathHostTest, ScrubFillsUnknownEntriesOfPresentDevicesAndDropsOthers) {
    auto write = [this](const std::string& uid) {
        auto object = std::make_shared<ConfigStoreObject>(TarnCtl::Storage::BlockDeviceId(uid));
        object->SetValue("device", uid);
        object->CreateSubObject(SubObjectId("satp"))->SetValue("type", "SATP_UNKNOWN");
        object->CreateSubObject(SubObjectId("psp"))->SetValue("type", "PSP_UNKNOWN");
        Store()->Write(object);
    };
    TarnCtl::Storage::Nmp::NmpDeviceConfigImpl(kRrLun).SetStorageArrayTypeOptionString("navireg_on", false);
    write(kRrLun);
    write(kFixedLun);
    write("naa.60000000000000000000000000000099");  // absent
    storage.UnclaimPathsByDevice(kFixedLun);
    storage.PsaPostBootScrub();

    auto rr = BlockDevice(kRrLun);
    std::string type;
    bool navi = false;
    rr->GetSubObject(SubObjectId("satp"))->GetValue("type", &type);
    EXPECT_EQ(type, "QUIL_SATP_ALUA_CX");
    EXPECT_TRUE(rr->GetSubObject(SubObjectId("satp"))->GetValue("navi_reg", &navi));
    EXPECT_TRUE(navi);
    auto psp = rr->GetSubObject(SubObjectId("psp"));
    psp->GetValue("type", &type);
    EXPECT_EQ(type, "QUIL_PSP_RR");
    long iops = 0;
    ASSERT_TRUE(psp->GetSubObject(SubObjectId("round_robin")));
    EXPECT_TRUE(psp->GetSubObject(SubObjectId("round_robin"))->GetValue("iops", &iops));
    EXPECT_EQ(iops, 1000);
    EXPECT_FALSE(BlockDevice(kFixedLun)->GetSubObject(SubObjectId("satp")));
    EXPECT_FALSE(BlockDevice(kFixedLun)->GetSubObject(SubObjectId("psp")));
    BlockDevice("naa.60000000000000000000000000000099")->GetSubObject(SubObjectId("psp"))->GetValue("type", &type);
    EXPECT_EQ(type, "PSP_UNKNOWN");
}

}  // namespace
}  // namespace MultipathTest
