// A small multipathing host for the multipath tests: an array (vendor DGC,
// round robin by default) behind two Fibre Channel ports with four paths per
// device, an HP array on the fixed policy, a device of another vendor's
// SATP, a local SAS disk and a USB stick whose identifiers do not survive
// reboots. Every test gets a fresh host root made from this profile; kernel
// writes can be recorded.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "fixture.h"
#include "hostctl/storage.h"
#include "platform/configstore.h"
#include "platform/sysinfo.h"
#include "sim/profile.h"
#include "storage/storage_info_impl.h"

namespace MultipathTest {

inline const char* kRrLun = "naa.600601601a2b3c00a1b2c3d4e5f60001";   // DGC, 4 paths, one unoptimized
inline const char* kRrLun2 = "naa.600601601a2b3c00a1b2c3d4e5f60002";  // DGC, 2 paths, in use
inline const char* kFixedLun = "naa.600508b4000971fa0000a00001190000"; // HP HSV, 3 paths
inline const char* kVendorLun = "naa.624a93701c2d3e4f5a6b7c8d00011001"; // another vendor's SATP
inline const char* kLocalDisk = "naa.5000c500a1b2c3d4";
inline const char* kUsbStick = "mpx.hbx4:C0:T0:L0";

inline const char* kFixedP0 = "hbx1:C0:T2:L5";
inline const char* kFixedP1 = "hbx2:C0:T2:L5";
inline const char* kFixedP2 = "hbx2:C0:T3:L5";

std::string Profile();

// The text of the library exception `fn` throws, or "(no exception)".
std::string ErrorText(const std::function<void()>& fn);

// One kernel write as the library issued it.
struct KernelWrite {
    std::string module;
    uint32_t node;
    std::vector<std::string> instance;
    std::vector<std::string> inputs;
};

class MultipathHostTest : public TarnTest::HostTest {
protected:
    void SetUp() override;
    void TearDown() override;
    std::shared_ptr<HaldenConfigStore::ConfigStore> Store();
    std::shared_ptr<HaldenConfigStore::ConfigStoreObject> BlockDevice(const std::string& uid);
    std::shared_ptr<HaldenConfigStore::ConfigStoreObject> StoredPath(const std::string& pathUid);
    // Reset the kernel to the profile and run the boot sequence.
    void Reboot();
    // Kernel writes (Set calls) since the last call, oldest first.
    std::vector<KernelWrite> TakeWrites();
    // The kernel's path state value.
    uint32_t KernelPathState(const std::string& path);
    void SetKernelPathState(const std::string& path, uint32_t value);
    // Every store id (group storage) as "key/instance", for nothing-changed checks.
    std::vector<std::string> StoreIds();

    TarnCtl::Storage::StorageInfoImpl storage;

private:
    Platform::Kernel::Backend* _previous = nullptr;
};

}  // namespace MultipathTest
