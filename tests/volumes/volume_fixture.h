// A small host for the volume tests: a local disk with a datastore, two array
// LUNs carrying one shared datastore, a LUN copy of the shared datastore's
// head taken before it was extended, blank LUNs and a LUN with free space
// after its only partition. Each test gets a fresh root made from it.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fixture.h"
#include "platform/configstore.h"
#include "platform/tarnfs.h"
#include "sim/profile.h"
#include "storage/storage_info_impl.h"
#include "storage/vm_file_system_impl.h"

namespace VolumeTest {

inline const char* kLocal = "naa.5000c50000000001";
inline const char* kArray1 = "naa.6006016000000001";
inline const char* kArray2 = "naa.6006016000000002";
inline const char* kCopy = "naa.6006016000000003";
inline const char* kBlank1 = "naa.6006016000000004";
inline const char* kBlank2 = "naa.6006016000000005";
inline const char* kSmall = "naa.6006016000000006";
inline const char* kRoomy = "naa.6006016000000007";
inline const char* kCdrom = "mpx.hbx0:C0:T7:L0";

inline const char* kLocalUuid = "5a000001-00000001-0001-000000000001";
inline const char* kSharedUuid = "5a000002-00000002-0002-000000000002";
inline const char* kOldUuid = "5a000003-00000003-0003-000000000003";
inline const char* kThisHost = "4c4c4544-0042-3510-8052-b4c04f4d3232";
inline const char* kOtherHost = "11111111-2222-3333-4444-555555555555";

// The profile; `kdfs` replaces the "kdfs" section when given.
std::string Profile(const std::string& kdfs = "");
// A "kdfs" section with the two datastores, an unmounted version 3 volume
// and these copies (JSON array elements) and heartbeats on the shared head.
std::string KdfsSection(const std::string& copies, const std::string& sharedHeartbeats = "");

class VolumeHostTest : public TarnTest::HostTest {
protected:
    void SetUp() override;
    void Init(const std::string& profile);
    // Reboot: kernel reset to the kept profile, boot steps run.
    void Reboot();
    std::shared_ptr<HaldenConfigStore::ConfigStore> Store();
    std::shared_ptr<HaldenConfigStore::ConfigStoreObject> Datastore(const std::string& uuid);
    // Lines of the file-system library's call record.
    std::vector<std::string> LibraryCalls();
    size_t CountCalls(const std::string& prefix);
    std::unique_ptr<TarnCtl::Storage::VmFileSystemImpl> Volume(const std::string& uuid);
    // Partition numbers of a disk (0 first).
    std::vector<std::string> Partitions(const std::string& disk);
    bool HostEntryExists(const std::string& hostPath);

    TarnCtl::Storage::StorageInfoImpl storage;
};

// Stands between the library and the simulated file-system library: fails
// chosen entries, remembers the create record.
class FaultyLibrary : public Platform::Tarnfs::BackendWrapper {
public:
    FaultyLibrary();
    ~FaultyLibrary() override;
    TARN_ReturnStatus CreateFS(const TarnfsCreateRecord& r, TarnfsCreateResult* o, char* e) override;
    TARN_ReturnStatus SpanFS(const std::string& v, const std::string& x) override;
    TARN_ReturnStatus UpgradeFS(const std::string& v) override;
    TARN_ReturnStatus CheckForExistingFS(const std::string& d, uint32_t f, std::vector<TarnfsHeartbeat>* h) override;
    TARN_ReturnStatus ReserveDisk(const std::string& d, const std::string& o) override;

    std::map<std::string, TARN_ReturnStatus> fail;  // entry name without prefix -> status
    bool createWithoutVolume = false;                // report success, make nothing
    TarnfsCreateRecord lastCreate;
    TarnfsCreateResult lastResult;

private:
    Platform::Tarnfs::Backend* _previous;
};

// The text of the HostCtlException `fn` throws, or "(no exception)".
std::string Message(const std::function<void()>& fn);

// The UUID text formed independently of the library: 32-bit little-endian
// words read byte by byte.
std::string IndependentUuidText(const uint8_t (&bytes)[16]);

}  // namespace VolumeTest
