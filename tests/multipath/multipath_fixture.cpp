// The multipath tests' host and the kernel-write recorder.
#include "multipath_fixture.h"

#include <mutex>

#include "forwarding_backend.h"
#include "hostctl/exception.h"
#include "ksi/storage.h"
#include "platform/boot.h"
#include "sim/kernel.h"
#include "sim/storage_paths.h"
#include "storage/storage_util.h"

namespace MultipathTest {

namespace {

// Forwards every call to the simulation and keeps the Set calls.
class RecordingBackend : public TarnTest::ForwardingBackend {
public:
    using ForwardingBackend::ForwardingBackend;
    TARN_ReturnStatus Set(const char* module, uint32_t node, const std::vector<KSI_Param>& instance,
                          const std::vector<KSI_Param>& inputs) override {
        KernelWrite w{module ? module : "", node, {}, {}};
        for (const auto& p : instance)
            w.instance.push_back(p.AsText());
        for (const auto& p : inputs)
            w.inputs.push_back(p.AsText());
        {
            std::lock_guard<std::mutex> lock(_mutex);
            _writes.push_back(std::move(w));
        }
        return Next().Set(module, node, instance, inputs);
    }
    std::vector<KernelWrite> Take() {
        std::lock_guard<std::mutex> lock(_mutex);
        return std::exchange(_writes, {});
    }

private:
    std::mutex _mutex;
    std::vector<KernelWrite> _writes;
};

RecordingBackend* gRecorder = nullptr;

}  // namespace

std::string Profile() {
    return R"({"storage": {
  "adapters": [
    {"name": "hbx0", "driver": "mpt3_native", "transport": "sas", "description": "SAS3008", "uid": "sas.500605b0"},
    {"name": "hbx1", "driver": "qla_native", "transport": "fc", "description": "ISP2722", "uid": "fc.2000:2100"},
    {"name": "hbx2", "driver": "qla_native", "transport": "fc", "description": "ISP2722", "uid": "fc.2001:2101"},
    {"name": "hbx4", "driver": "tarnusb", "transport": "usb", "description": "USB", "uid": "usb.hbx4"}
  ],
  "devices": [
    {"uid": "naa.5000c500a1b2c3d4", "type": "disk", "vendor": "SEAGATE ", "model": "ST1200MM0099", "local": true,
     "paths": [{"adapter": "hbx0", "target": 0, "lun": 0}]},
    {"uid": "naa.600601601a2b3c00a1b2c3d4e5f60001", "uids": ["vml.0200000000600601601a2b3c00a1b2c3d4e5f60001"],
     "type": "disk", "vendor": "DGC", "model": "VRAID",
     "paths": [{"adapter": "hbx1", "target": 0, "lun": 0, "priority": 50},
               {"adapter": "hbx1", "target": 1, "lun": 0, "group": "unoptimized", "priority": 10},
               {"adapter": "hbx2", "target": 0, "lun": 0, "priority": 50},
               {"adapter": "hbx2", "target": 1, "lun": 0, "stateChange": "busy", "priority": 50}]},
    {"uid": "naa.600601601a2b3c00a1b2c3d4e5f60002", "type": "disk", "vendor": "DGC", "model": "VRAID",
     "worlds": [1001],
     "paths": [{"adapter": "hbx1", "target": 0, "lun": 1}, {"adapter": "hbx2", "target": 0, "lun": 1}]},
    {"uid": "naa.600508b4000971fa0000a00001190000", "type": "disk", "vendor": "HP", "model": "HSV340",
     "paths": [{"adapter": "hbx1", "target": 2, "lun": 5}, {"adapter": "hbx2", "target": 2, "lun": 5},
               {"adapter": "hbx2", "target": 3, "lun": 5}]},
    {"uid": "naa.624a93701c2d3e4f5a6b7c8d00011001", "type": "disk", "vendor": "PURE", "model": "FlashArray",
     "paths": [{"adapter": "hbx1", "target": 4, "lun": 7}, {"adapter": "hbx2", "target": 4, "lun": 7}]},
    {"uid": "mpx.hbx4:C0:T0:L0", "type": "disk", "vendor": "SanDisk", "model": "Ultra Fit", "local": true,
     "removable": true, "persistable": false, "paths": [{"adapter": "hbx4", "target": 0, "lun": 0}]}
  ]},
 "nmp": {
  "satps": [{"name": "PURE_SATP_AA", "defaultPsp": "PURE_PSP_LB", "description": "Pure arrays",
             "deviceConfig": true, "pathConfig": true}],
  "psps": [{"name": "PURE_PSP_LB", "description": "Load balancing", "options": true, "pathConfig": true}],
  "rules": [{"satp": "PURE_SATP_AA", "vendor": "PURE", "description": "Pure arrays"}]
 }})";
}

std::string ErrorText(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const HostCtl::Lib::HostCtlException& e) {
        return e.what();
    }
    return "(no exception)";
}

void MultipathHostTest::SetUp() {
    TarnTest::HostTest::SetUp();
    TarnSim::Profile::InitHost(Profile());
    gRecorder = new RecordingBackend(&Platform::Kernel::GetBackend());
    _previous = Platform::Kernel::SetBackend(gRecorder);
}

void MultipathHostTest::TearDown() {
    Platform::Kernel::SetBackend(_previous);
    delete gRecorder;
    gRecorder = nullptr;
    TarnTest::HostTest::TearDown();
}

std::shared_ptr<HaldenConfigStore::ConfigStore> MultipathHostTest::Store() {
    return TarnCtl::Storage::Store();
}

std::shared_ptr<HaldenConfigStore::ConfigStoreObject> MultipathHostTest::BlockDevice(const std::string& uid) {
    return Store()->Get(TarnCtl::Storage::BlockDeviceId(uid));
}

std::shared_ptr<HaldenConfigStore::ConfigStoreObject> MultipathHostTest::StoredPath(const std::string& pathUid) {
    return Store()->Get(HaldenConfigStore::ConfigStoreObjectId("paths", "storage", "halden", pathUid));
}

void MultipathHostTest::Reboot() {
    TarnSim::Profile::ResetKernel(TarnSim::Profile::CurrentProfile(), true);
    Platform::Boot::RunBoot();
}

std::vector<KernelWrite> MultipathHostTest::TakeWrites() {
    return gRecorder->Take();
}

uint32_t MultipathHostTest::KernelPathState(const std::string& path) {
    KsiStorageValue v{99};
    TarnSim::WithState([&](TarnSim::KernelState& s) { s.Read(KSI_NODE_storage_scsifw_paths_state, {path}, &v); });
    return v.value;
}

void MultipathHostTest::SetKernelPathState(const std::string& path, uint32_t value) {
    ASSERT_TRUE(TarnSim::StoragePaths::SetPathState(path, value)) << path;
}

std::vector<std::string> MultipathHostTest::StoreIds() {
    std::vector<std::string> out;
    for (const auto& id : Store()->ListIds("storage")) {
        auto object = Store()->Get(id);
        out.push_back(id.GetKey() + "/" + id.GetInstanceId() + "=" + (object ? object->GetData() : ""));
    }
    return out;
}

}  // namespace MultipathTest
