// The small storage host shared by the storage tests.
#include "storage_fixture.h"

#include <rapidjson/document.h>

#include "platform/misc.h"
#include "sim_edits.h"
#include "storage/storage_util.h"

namespace StorageTest {

std::string Profile(const std::string& extraDevices, const std::string& hbx1Extra) {
    return R"({"storage": {
  "adapters": [
    {"name": "hbx0", "driver": "mpt3_native", "transport": "sas", "description": "SAS3008", "uid": "sas.500605b0"},
    {"name": "hbx1", "driver": "qla_native", "transport": "fc", "description": "ISP2722", "uid": "fc.2000:2100")" +
           hbx1Extra + R"(},
    {"name": "hbx2", "driver": "qla_native", "transport": "fc", "description": "ISP2722", "uid": "fc.2001:2101"},
    {"name": "hbx3", "driver": "iscsi_tarn", "transport": "iscsi", "description": "iSCSI Software Adapter", "uid": "iqn.x"},
    {"name": "hbx4", "driver": "tarnusb", "transport": "usb", "description": "USB", "uid": "usb.hbx4"},
    {"name": "hbx5", "driver": "lpfc", "transport": "fc", "description": "LPe32002", "uid": "fc.2002:2102"}
  ],
  "devices": [
    {"uid": "naa.5000c500a1b2c3d4", "uids": ["t10.SEAGATE_ST1200MM0099_WFK0A1B2"], "type": "disk",
     "vendor": "SEAGATE ", "model": "ST1200MM0099", "blocks": 2344225968, "local": true,
     "paths": [{"adapter": "hbx0", "target": 0, "lun": 0}],
     "partitions": [{"number": 1, "start": 64, "end": 204863, "type": "efi"},
                    {"number": 8, "start": 268437504, "end": 2344225934, "type": "kdfs"}]},
    {"uid": "naa.600601601a2b3c00a1b2c3d4e5f60001", "uids": ["vml.0200000000600601601a2b3c00a1b2c3d4e5f60001"],
     "type": "disk", "vendor": "DGC", "model": "VRAID", "blocks": 4294967296,
     "paths": [{"adapter": "hbx1", "target": 0, "lun": 0}, {"adapter": "hbx2", "target": 0, "lun": 0}]},
    {"uid": "naa.600601601a2b3c00a1b2c3d4e5f60002", "type": "disk", "vendor": "DGC", "model": "VRAID",
     "blocks": 4294967296,
     "paths": [{"adapter": "hbx1", "target": 0, "lun": 1}, {"adapter": "hbx2", "target": 0, "lun": 1},
               {"adapter": "hbx3", "target": 0, "lun": 1}, {"adapter": "hbx5", "target": 0, "lun": 1}]},
    {"uid": "naa.600601601a2b3c00a1b2c3d4e5f60003", "type": "disk", "vendor": "DGC", "model": "VRAID",
     "blocks": 2147483648, "stateChange": "busy", "worlds": [1001],
     "paths": [{"adapter": "hbx1", "target": 0, "lun": 2}, {"adapter": "hbx2", "target": 1, "lun": 2, "state": "dead"}]},
    {"uid": "mpx.hbx4:C0:T0:L0", "type": "disk", "vendor": "SanDisk", "model": "Ultra Fit", "blocks": 60063744,
     "local": true, "removable": true, "persistable": false,
     "paths": [{"adapter": "hbx4", "target": 0, "lun": 0}]},
    {"uid": "mpx.hbx0:C0:T7:L0", "type": "cdrom", "vendor": "TSSTcorp", "model": "SN-208FB", "local": true,
     "removable": true, "persistable": false, "paths": [{"adapter": "hbx0", "target": 7, "lun": 0}]})" +
           extraDevices + R"(
  ]}})";
}

std::string ProfileWithout(const std::string& uid) {
    return TarnTest::EditProfile(Profile(), [&](rapidjson::Document& doc) {
        auto& devices = doc["storage"]["devices"];
        for (auto it = devices.Begin(); it != devices.End(); ++it) {
            if (uid == (*it)["uid"].GetString()) {
                devices.Erase(it);
                break;
            }
        }
    });
}

void StorageHostTest::SetUp() {
    TarnTest::HostTest::SetUp();
    TarnSim::Profile::InitHost(Profile());
}

void StorageHostTest::TearDown() {
    TarnCtl::Storage::StorageClock::SetSource(nullptr);
    TarnTest::HostTest::TearDown();
}

void StorageHostTest::ChangeHardware(const std::string& profile) {
    HostCtl::Misc::WriteHostFileAtomic("/var/lib/tarnsim/profile.json", profile);
}

std::shared_ptr<HaldenConfigStore::ConfigStore> StorageHostTest::Store() {
    return TarnCtl::Storage::Store();
}

std::shared_ptr<HaldenConfigStore::ConfigStoreObject> StorageHostTest::BlockDevice(const std::string& uid) {
    return Store()->Get(TarnCtl::Storage::BlockDeviceId(uid));
}

}  // namespace StorageTest
