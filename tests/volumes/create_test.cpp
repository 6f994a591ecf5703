// Creating volumes: the validation order and texts, the version and block-size
// rules, what reaches the file-system library, the UUID text, the post-check,
// and the partition laid on a blank disk taken away again when the format fails.
#include <gtest/gtest.h>

#include "hostctl/exception.h"
#include "platform/log.h"
#include "storage/kdfs_util.h"
#include "storage/storage_info_extension_impl.h"
#include "volume_fixture.h"

namespace VolumeTest {
namespace {

using TarnCtl::Storage::VmFileSystemImpl;

std::string Create(const std::string& partition, const std::string& label, int version, uint64_t blockSize,
                   uint32_t count = 0, bool flag = false) {
    return VmFileSystemImpl::CreateFileSystem(partition, label, version, blockSize, count, nullptr, flag, 0);
}

const std::string kFreeExtent = std::string(kRoomy) + ":1";  // holds the unmounted "old" volume
const std::string kLabel129(129, 'x');

struct OrderCase {
    const char* name;
    std::string partition, label;
    int version;
    uint64_t blockSize;
    std::string message;
};

class CreateOrder : public VolumeHostTest, public ::testing::WithParamInterface<OrderCase> {};

// Each row breaks the rule it names and every rule after it, so the row's
// message shows that the earlier rule is checked first.
TEST_P(CreateOrder, FirstBrokenRuleIsReportedAndNothingReachesTheLibrary) {
    const auto& c = GetParam();
    const size_t before = CountCalls("TarnfsLib_CreateFS");
    EXPECT_EQ(Message([&] { Create(c.partition, c.label, c.version, c.blockSize); }), c.message);
    EXPECT_EQ(CountCalls("TarnfsLib_CreateFS"), before);
    EXPECT_EQ(storage.GetKdfsFileSystems("").size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, CreateOrder,
    ::testing::Values(
        OrderCase{"UnknownPartition", "naa.nothere:1", kLabel129, 4, 3 << 20, "Unknown disk parition naa.nothere:1"},
        OrderCase{"WholeDiskIsNoPartition", kBlank1, kLabel129, 4, 3 << 20,
                  std::string("Unknown disk parition ") + kBlank1},
        OrderCase{"Version4", kFreeExtent, kLabel129, 4, 3 << 20, "Unsupported KDFS version requested"},
        OrderCase{"BlockSize3MiB", kFreeExtent, kLabel129, 6, 3 << 20,
                  "Block size must be an integer bewtween 1M and 256M in powers of 2.  ie blockSize = x^2"},
        OrderCase{"Label129", kFreeExtent, kLabel129, 6, 0,
                  "Label name too long, must be limited to 128 characters"}),
    [](const auto& info) { return std::string(info.param.name); });

struct VersionCase {
    int version;
    const char* createType;  // "" when refused
};

class CreateVersion : public VolumeHostTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(CreateVersion, VersionSelectsTheCreateType) {
    FaultyLibrary library;
    const auto& c = GetParam();
    if (std::string(c.createType).empty()) {
        EXPECT_EQ(Message([&] { Create(kFreeExtent, "v", c.version, 0); }), "Unsupported KDFS version requested");
        EXPECT_EQ(library.lastCreate.createType, "");
        return;
    }
    const std::string uuid = Create(kFreeExtent, "v", c.version, 0);
    EXPECT_EQ(library.lastCreate.createType, c.createType);
    EXPECT_EQ(Volume(uuid)->GetType(), c.version >= 51 ? "KDFS-L" : "KDFS");
}

INSTANTIATE_TEST_SUITE_P(Volumes, CreateVersion,
                         ::testing::Values(VersionCase{3, "kdfs3"}, VersionCase{5, "kdfs5"}, VersionCase{6, "kdfs6"},
                                           VersionCase{51, "kdfsl"}, VersionCase{52, "kdfs6l"}, VersionCase{2, ""},
                                           VersionCase{4, ""}, VersionCase{7, ""}, VersionCase{50, ""},
                                           VersionCase{53, ""}),
                         [](const auto& info) { return "Version" + std::to_string(info.param.version); });

struct BlockCase {
    uint64_t requested;
    uint64_t passed;  // 0 when refused
};

class CreateBlockSize : public VolumeHostTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(CreateBlockSize, BoundsAndPowersOfTwo) {
    FaultyLibrary library;
    const auto& c = GetParam();
    if (c.passed == 0) {
        EXPECT_EQ(Message([&] { Create(kFreeExtent, "b", 6, c.requested); }),
                  "Block size must be an integer bewtween 1M and 256M in powers of 2.  ie blockSize = x^2");
        EXPECT_EQ(library.lastCreate.blockSize, 0u);
        return;
    }
    const std::string uuid = Create(kFreeExtent, "b", 6, c.requested);
    EXPECT_EQ(library.lastCreate.blockSize, c.passed);
    EXPECT_EQ(Volume(uuid)->GetBlockSize(), c.passed);
}

INSTANTIATE_TEST_SUITE_P(Volumes, CreateBlockSize,
                         ::testing::Values(BlockCase{0, 1u << 20}, BlockCase{1u << 20, 1u << 20},
                                           BlockCase{8u << 20, 8u << 20}, BlockCase{256u << 20, 256u << 20},
                                           BlockCase{(1u << 20) - 1, 0}, BlockCase{512u << 10, 0},
                                           BlockCase{3u << 20, 0}, BlockCase{(1u << 20) + 1, 0},
                                           BlockCase{512u << 20, 0}, BlockCase{(256u << 20) + (1u << 20), 0}),
                         [](const auto& info) { return "Bytes" + std::to_string(info.param.requested); });

TEST_F(VolumeHostTest, LabelOf128CharactersIsTheLongestAccepted) {
    const std::string uuid = Create(kFreeExtent, std::string(128, 'L'), 6, 0);
    EXPECT_EQ(Volume(uuid)->GetVolumeName(), std::string(128, 'L'));
    EXPECT_TRUE(HostEntryExists("/kdfs/volumes/" + std::string(128, 'L')));
}

TEST_F(VolumeHostTest, CreateRecordCarriesCountFlagAndUnmapSettings) {
    FaultyLibrary library;
    HostCtl::Storage::VolumeUnmapProperty unmap;
    unmap.granularity = 65536;
    unmap.priority = "medium";
    VmFileSystemImpl::CreateFileSystem(kFreeExtent, "rec", 6, 0, 0, &unmap, true, 4);
    EXPECT_EQ(library.lastCreate.devicePath, "/kdfs/devices/disks/" + kFreeExtent);
    EXPECT_EQ(library.lastCreate.count, 256u);
    EXPECT_EQ(library.lastCreate.options, 32u | 4u);
    EXPECT_TRUE(library.lastCreate.hasUnmap);
    EXPECT_EQ(library.lastCreate.unmapGranularity, 65536u);
    EXPECT_EQ(library.lastCreate.unmapPriority, 2u);

    // Refused by the library (in use), but the record reached it.
    EXPECT_THROW(Create(std::string(kLocal) + ":1", "", 6, 0, 17), HostCtl::Lib::HostCtlException);
    EXPECT_EQ(library.lastCreate.count, 17u);
    EXPECT_EQ(library.lastCreate.options, 0u);
    EXPECT_FALSE(library.lastCreate.hasUnmap);
}

TEST_F(VolumeHostTest, UuidTextIsFormedFromTheRawBytesAsTheLibraryGaveThem) {
    FaultyLibrary library;
    const std::string uuid = Create(kFreeExtent, "u", 6, 0);
    EXPECT_EQ(uuid, IndependentUuidText(library.lastResult.uuid));
    EXPECT_TRUE(Volume(uuid)->IsMounted());
    EXPECT_TRUE(HostEntryExists("/kdfs/volumes/" + uuid));
}

TEST(VolumeUuidText, WordsInMachineOrderThenSixBytes) {
    const uint8_t patterns[][16] = {
        {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x10},
        {0xff, 0xee, 0xdd, 0xcc, 0xbb, 0xaa, 0x99, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00},
        {0x80, 0, 0, 0, 0, 0, 0, 0x80, 0x80, 0, 0, 0, 0, 0, 0, 0x80},
        {},
    };
    for (const auto& p : patterns)
        EXPECT_EQ(TarnCtl::Storage::Kdfs::FormatUuid(p), IndependentUuidText(p));
    EXPECT_EQ(TarnCtl::Storage::Kdfs::FormatUuid(patterns[0]), "04030201-08070605-0a09-0b0c0d0e0f10");
}

TEST_F(VolumeHostTest, LibraryFailureIsLoggedAndReported) {
    FaultyLibrary library;
    library.fail["CreateFS"] = TARN_FAILURE;
    Platform::Log::Capture log;
    EXPECT_EQ(Message([&] { Create(kFreeExtent, "f", 6, 0); }),
              " Unable to create Filesystem, please see Tarnos log for more details: Device is write protected");
    EXPECT_TRUE(log.Contains("VmFileSystemImpl: Device is write protected"));
}

TEST_F(VolumeHostTest, SimulatedLibraryRefusesATooSmallPartitionAndOneInUse) {
    EXPECT_EQ(Message([&] { Create(std::string(kLocal) + ":1", "x", 6, 0); }),
              std::string(" Unable to create Filesystem, please see Tarnos log for more details: Device "
                          "/kdfs/devices/disks/") +
                  kLocal + ":1 is in use by a mounted volume");
    EXPECT_EQ(Volume(kLocalUuid)->GetVolumeName(), "ds-local");
}

TEST_F(VolumeHostTest, PostCheckFailsWhenNoVolumeAppears) {
    FaultyLibrary library;
    library.createWithoutVolume = true;
    EXPECT_EQ(Message([&] { Create(kFreeExtent, "ghost", 6, 0); }),
              "Unable to find filesystem for partition " + kFreeExtent + " or unable to get UUID for filesystem");
}

TEST_F(VolumeHostTest, BlankDiskGetsOnePartitionAndLosesItWhenTheFormatFails) {
    {
        FaultyLibrary library;
        library.fail["CreateFS"] = TARN_FAILURE;
        EXPECT_THROW(storage.Extension().CreateFileSystemOn(kBlank1, "new", 6, 0), HostCtl::Lib::HostCtlException);
        EXPECT_EQ(library.lastCreate.devicePath, "/kdfs/devices/disks/" + std::string(kBlank1) + ":1");
        EXPECT_EQ(Partitions(kBlank1), std::vector<std::string>{"0"});
    }
    EXPECT_THROW(storage.Extension().CreateFileSystemOn(kSmall, "small", 6, 0), HostCtl::Lib::HostCtlException);
    EXPECT_EQ(Partitions(kSmall), std::vector<std::string>{"0"});

    const std::string uuid = storage.Extension().CreateFileSystemOn(kBlank1, "new", 6, 0);
    EXPECT_EQ(Partitions(kBlank1), (std::vector<std::string>{"0", "1"}));
    auto fs = Volume(uuid);
    EXPECT_EQ(fs->GetExtents(), std::vector<std::string>{std::string(kBlank1) + ":1"});
    EXPECT_EQ(fs->GetSize(), (20971520ull - 34 - 2048 + 1) * 512 / (1 << 20) * (1 << 20));
}

}  // namespace
}  // namespace VolumeTest
