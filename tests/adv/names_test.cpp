// The advanced-option name tables: the rows the host must keep, the branch
// table, and that every option the simulated kernel offers has a row.
#include "adv_fixture.h"

#include "adv/adv_names.h"
#include "adv/advanced_option_branch_impl.h"

namespace AdvTest {
namespace {

using namespace TarnCtl::Adv;

TEST(AdvNames, TellingRows) {
    struct Row {
        const char* branch;
        const char* option;
        const char* store;
    } rows[] = {
        {"Net", "DVFilterFakeSNic", "DV_filter_fakes_nic"},
        {"Mem", "CheckPagesRateMax", "check_pages_rate_max"},
        {"Migrate", "Enabled", "enabled"},
        {"Disk", "FailDiskRegistration", "fail_disk_registration"},
        {"User", "VEXWorlds", "VEX_worlds"},
        {"Misc", "OIDRCFEnable", "OID_RCF_enable"},
        {"PageRetire", "PageErrorCorrPeriod", "page_error_corr_period"},
        {"HBR", "WireChecksum", "wire_checksum"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(GetConfigstoreOptionName(r.branch, r.option), r.store) << r.branch << "/" << r.option;
        EXPECT_EQ(GetOptionFromConfigstoreName(r.branch, r.store), r.option) << r.store;
    }
}

TEST(AdvNames, BranchTable) {
    const char* halden[][2] = {
        {"Scsi", "scsi"}, {"User", "user"}, {"Hpp", "hpp"}, {"Mem", "mem"}, {"Cpu", "cpu"}, {"Net", "net"},
        {"Irq", "irq"}, {"Disk", "disk"}, {"Misc", "misc"}, {"Migrate", "migrate"}, {"Power", "power"},
        {"Digest", "digest"}, {"PMem", "pmem"}, {"Numa", "numa"}, {"Nmp", "nmp"}, {"World", "world"},
        {"LPage", "lpage"}, {"TProbes", "tprobes"}, {"MemFS", "memFS"}, {"UserMem", "userMem"},
        {"UserObj", "userObj"}, {"PageRetire", "page_retire"}, {"DataMover", "data_mover"},
        {"FileSystem", "file_system"}, {"BufferCache2", "buffer_cache2"}, {"DirentryCache", "direntry_cache"},
        {"VSCSIStats", "VSCSI_stats"}, {"SunRPC", "sunRPC"}, {"NFS", "NFSv3"}, {"NFS41", "NFSv41"},
        {"SVelmove", "svelmove"}, {"XVelmove", "xvelmove"}, {"TarnAccess", "tarnAccess"},
        {"LoadHALDEN", "loadHALDEN"}, {"HBR", "HBR"}, {"XFLASH", "XFLASH"}, {"FSS", "FSS"}, {"USB", "USB"},
        {"FT", "FT"}, {"ISCSI", "ISCSI"}, {"XVOL", "XVOL"}, {"TARNTRACING", "TARNTRACING"}, {"CBRC", "CBRC"},
        {"LVM", "LVM"}, {"RCU", "RCU"}, {"FDS", "FDS"}, {"KDFS3", "KDFS3"}, {"SE", "SE"}, {"COW", "COW"},
    };
    const char* morra[][2] = {
        {"MORRA-iSCSI", "MORRA_iSCSI"}, {"DIRSVC", "DIRSVC"}, {"MORRA", "MORRA"}, {"LSOM", "LSOM"},
        {"MORRA-DP", "MORRA_DP"}, {"Quarro", "quarro"}, {"UPIT", "UPIT"},
    };
    for (const auto& b : halden) {
        EXPECT_EQ(GetConfigstoreBranchName(b[0]), b[1]);
        EXPECT_EQ(GetBranchFromConfigstoreName(b[1]), b[0]);
        EXPECT_EQ(GetConfigstoreComponentName(b[0]), "halden") << b[0];
    }
    for (const auto& b : morra) {
        EXPECT_EQ(GetConfigstoreBranchName(b[0]), b[1]);
        EXPECT_EQ(GetConfigstoreComponentName(b[0]), "morra") << b[0];
    }
    EXPECT_EQ(std::size(halden) + std::size(morra), 56u);
    EXPECT_EQ(BranchTableSize(), 56u);
    EXPECT_EQ(GetCsObjId("MORRA").ToString(), "morra/advanced_options/MORRA");
}

TEST(AdvNames, RuleForOptionsOutsideTheTable) {
    struct Case {
        const char* option;
        const char* store;
    } cases[] = {
        {"TcpipHeapSize", "tcpip_heap_size"}, {"VEXWorlds", "VEX_worlds"}, {"UseHwTSO6", "use_hw_TSO6"},
        {"E1000IntrCoalesce", "e1000_intr_coalesce"}, {"arbitratorAutoStartDisabled", "arbitrator_auto_start_disabled"},
        {"SCSITimeout_ScanTime", "SCSI_timeout_scan_time"}, {"Enabled", "enabled"},
    };
    for (const auto& c : cases) EXPECT_EQ(StoreNameRule(c.option), c.store) << c.option;
    EXPECT_EQ(GetConfigstoreOptionName("Nowhere", "SomeNewOption"), "some_new_option");
}

class AdvNamesHost : public AdvHostTest {};

// Every option of the kernel has its own row, and no two options of a branch
// share a store name.
TEST_F(AdvNamesHost, EveryKernelOptionHasAUniqueRow) {
    size_t options = 0;
    for (const auto& branch : AdvancedOptionBranchImpl::GetKernelBranchNames()) {
        std::set<std::string> seen;
        for (const auto& o : AdvancedOptionBranchImpl(branch).GetOptions(true)) {
            std::string field = GetConfigstoreOptionName(branch, o->GetOptionName());
            EXPECT_TRUE(seen.insert(field).second) << branch << "/" << field;
            EXPECT_EQ(GetOptionFromConfigstoreName(branch, field), o->GetOptionName());
            ++options;
        }
    }
    EXPECT_EQ(AdvancedOptionBranchImpl::GetKernelBranchNames().size(), 56u);
    EXPECT_GE(options, 300u);
    EXPECT_EQ(OptionNameTableSize(), options);
    EXPECT_EQ(OptionNameReverseTableSize(), options);
}

}  // namespace
}  // namespace AdvTest
