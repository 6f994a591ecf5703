// When devices were last seen: GetLuns stamps last_seen at most once a day
// unless forced, and purging forgets devices by age or by absence.
#include <gtest/gtest.h>

#include "hostctl/exception.h"
#include "ksi/storage.h"
#include "sim/kernel.h"
#include "storage/storage_util.h"
#include "storage_fixture.h"

namespace StorageTest {
namespace {

using HaldenConfigStore::ConfigStoreObject;
using TarnCtl::Storage::DeviceAccessId;

// The stamping time is process-wide; every test starts its clock far beyond
// the previous test's so that its first enumeration stamps.
time_t gNow = 0;
time_t FakeNow() {
    return gNow;
}

class StampingTest : public StorageHostTest {
protected:
    void SetUp() override {
        StorageHostTest::SetUp();
        static time_t base = 4000000000;  // beyond any real clock of earlier tests
        base += 100 * 86400;
        gNow = base;
        TarnCtl::Storage::StorageClock::SetSource(FakeNow);
    }

    long LastSeen(const std::string& uid) {
        auto object = Store()->Get(DeviceAccessId(uid));
        long value = -1;
        if (object)
            object->GetValue("last_seen", &value);
        return value;
    }

    void SeenAt(const std::string& uid, long when) {
        auto object = std::make_shared<ConfigStoreObject>(DeviceAccessId(uid));
        object->SetValue("device", uid);
        object->SetValue("last_seen", when);
        Store()->Write(object);
        auto settings = std::make_shared<ConfigStoreObject>(TarnCtl::Storage::BlockDeviceId(uid));
        settings->SetValue("display_name", "kept " + uid);
        Store()->Write(settings);
    }
};

TEST_F(StampingTest, GetLunsStampsOnceADayUnlessForced) {
    const time_t start = gNow;
    storage.GetLuns(false, false);
    EXPECT_EQ(LastSeen(kArrayLun), start);
    EXPECT_EQ(LastSeen(kCdrom), start);

    gNow = start + 3600;
    storage.GetLuns(false, false);
    EXPECT_EQ(LastSeen(kArrayLun), start);

    storage.GetLuns(false, true);
    EXPECT_EQ(LastSeen(kArrayLun), start + 3600);

    gNow = start + 3600 + 86400;
    storage.GetLuns(false, false);
    EXPECT_EQ(LastSeen(kArrayLun), start + 3600);  // exactly one day is not more than a day
    gNow += 1;
    storage.GetLuns(false, false);
    EXPECT_EQ(LastSeen(kArrayLun), start + 3600 + 86401);
}

TEST_F(StampingTest, PurgeByAgeForgetsOldDevicesOnly) {
    const long now = gNow;
    SeenAt("naa.old", now - 10 * 86400);
    SeenAt("naa.recent", now - 2 * 86400);
    SeenAt(kArrayLun, now - 8 * 86400);

    storage.PurgeStaleLuns(7);

    EXPECT_FALSE(BlockDevice("naa.old"));
    EXPECT_FALSE(BlockDevice(kArrayLun));
    EXPECT_TRUE(BlockDevice("naa.recent"));

    storage.PurgeStaleLuns(0);
    EXPECT_FALSE(BlockDevice("naa.recent"));
}

TEST_F(StampingTest, PurgeAgeCountsFromExactlyTheGivenDays) {
    const long now = gNow;
    SeenAt("naa.exactly7", now - 7 * 86400);
    SeenAt("naa.second-short", now - 7 * 86400 + 1);
    storage.PurgeStaleLuns(7);
    EXPECT_FALSE(BlockDevice("naa.exactly7"));
    EXPECT_TRUE(BlockDevice("naa.second-short"));
    // Seen this very second: zero days is old enough.
    SeenAt("naa.now", now);
    storage.PurgeStaleLuns(0);
    EXPECT_FALSE(BlockDevice("naa.now"));
}

TEST_F(StampingTest, PurgeDropsTheKernelsPersistedAttributes) {
    storage.GetDeviceByName(kArrayLun, false)->SetPerenniallyReserved(true);
    SeenAt(kArrayLun, gNow - 30 * 86400);
    storage.PurgeStaleLuns(7);
    EXPECT_FALSE(storage.GetDeviceByName(kArrayLun, false)->IsPerenniallyReserved());
}

TEST_F(StampingTest, ForcedPurgeForgetsOnlyAbsentDevices) {
    SeenAt("naa.gone", gNow);
    SeenAt(kArrayLun, gNow - 400 * 86400);
    storage.PurgeStaleLunsForce();
    EXPECT_FALSE(BlockDevice("naa.gone"));
    EXPECT_TRUE(BlockDevice(kArrayLun));
}

TEST_F(StampingTest, RefusedPurgeRecordsNothing) {
    SeenAt(kArrayLun, gNow - 30 * 86400);
    TarnSim::InjectFault({"", KSI_NODE_storage_scsifw_persistDeviceAttrs_set, "", TARN_FAILURE, 1});
    try {
        storage.PurgeStaleLuns(7);
        ADD_FAILURE() << "no exception";
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(), "Unable to delete persistent attributes. Please see Tarnos log");
    }
    EXPECT_TRUE(BlockDevice(kArrayLun));
}

}  // namespace
}  // namespace StorageTest
