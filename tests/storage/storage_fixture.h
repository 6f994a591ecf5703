// A small storage host for the storage tests: a local SAS disk, two Fibre
// Channel ports and a software iSCSI adapter to an array, a USB stick and a
// CD-ROM, each test on a fresh host root made from this profile.
#pragma once

#include <string>

#include "fixture.h"
#include "hostctl/storage.h"
#include "platform/configstore.h"
#include "sim/profile.h"
#include "storage/storage_info_impl.h"

namespace StorageTest {

inline const char* kLocalDisk = "naa.5000c500a1b2c3d4";
inline const char* kLocalDiskT10 = "t10.SEAGATE_ST1200MM0099_WFK0A1B2";
inline const char* kArrayLun = "naa.600601601a2b3c00a1b2c3d4e5f60001";
inline const char* kArrayLunVml = "vml.0200000000600601601a2b3c00a1b2c3d4e5f60001";
inline const char* kMixedLun = "naa.600601601a2b3c00a1b2c3d4e5f60002";
inline const char* kBusyLun = "naa.600601601a2b3c00a1b2c3d4e5f60003";
inline const char* kUsbStick = "mpx.hbx4:C0:T0:L0";
inline const char* kCdrom = "mpx.hbx0:C0:T7:L0";

// The profile's "devices" entries after the fixed adapters; `extraDevices`
// is appended (a JSON fragment starting with a comma, or empty).
std::string Profile(const std::string& extraDevices = "", const std::string& hbx1Extra = "");

// The profile without one device.
std::string ProfileWithout(const std::string& uid);

class StorageHostTest : public TarnTest::HostTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Replaces the host's kept profile, as an operator changing the hardware would.
    void ChangeHardware(const std::string& profile);
    std::shared_ptr<HaldenConfigStore::ConfigStore> Store();
    // The stored block_devices object of a device (empty when none).
    std::shared_ptr<HaldenConfigStore::ConfigStoreObject> BlockDevice(const std::string& uid);

    TarnCtl::Storage::StorageInfoImpl storage;
};

}  // namespace StorageTest
