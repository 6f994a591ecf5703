// The volume tests' host and library seam.
#include "volume_fixture.h"

#include <sys/stat.h>

#include <cstdio>
#include <sstream>

#include "hostctl/exception.h"
#include "platform/boot.h"
#include "platform/misc.h"
#include "sim/kernel.h"
#include "storage/kdfs_util.h"
#include "storage/storage_util.h"

namespace VolumeTest {

namespace {
std::string Disk(const std::string& uid, uint64_t blocks, const std::string& adapter, int lun,
                 const std::string& partitions, bool local = false) {
    return R"({"uid": ")" + uid + R"(", "type": "disk", "vendor": "V", "model": "M", "blocks": )" +
           std::to_string(blocks) + (local ? R"(, "local": true)" : "") + R"(, "paths": [{"adapter": ")" + adapter +
           R"(", "target": 0, "lun": )" + std::to_string(lun) + "}]" +
           (partitions.empty() ? "" : R"(, "partitions": [)" + partitions + "]") + "}";
}
const char* kTenGiB = R"({"number": 1, "start": 2048, "end": 20971486, "type": "kdfs"})";
}  // namespace

std::string KdfsSection(const std::string& copies, const std::string& sharedHeartbeats) {
    return std::string(R"({"volumes": [
      {"label": "ds-local", "uuid": ")") + kLocalUuid + R"(", "extents": [")" + kLocal + R"(:1"], "usedPercent": 10},
      {"label": "shared", "uuid": ")" + kSharedUuid + R"(", "extents": [")" + kArray1 + R"(:1", ")" + kArray2 +
           R"(:1"], "usedPercent": 50, "heartbeats": [)" + sharedHeartbeats + R"(]},
      {"label": "old", "uuid": ")" + kOldUuid + R"(", "version": 3, "mounted": false, "extents": [")" + kRoomy +
           R"(:1"]}],
     "copies": [)" + copies + "]}";
}

std::string Profile(const std::string& kdfs) {
    const std::string section =
        kdfs.empty() ? KdfsSection(std::string(R"({"extent": ")") + kCopy + R"(:1", "of": ")" + kArray1 +
                                   R"(:1", "extents": 1})")
                     : kdfs;
    return std::string(R"({"storage": {"adapters": [
      {"name": "hbx0", "driver": "mpt3_native", "transport": "sas", "uid": "sas.1"},
      {"name": "hbx1", "driver": "qla_native", "transport": "fc", "uid": "fc.1"}],
     "devices": [)") +
           Disk(kLocal, 41943040, "hbx0", 0, kTenGiB, true) + "," + Disk(kArray1, 20971520, "hbx1", 1, kTenGiB) +
           "," + Disk(kArray2, 20971520, "hbx1", 2, kTenGiB) + "," + Disk(kCopy, 20971520, "hbx1", 3, kTenGiB) + "," +
           Disk(kBlank1, 20971520, "hbx1", 4, "") + "," + Disk(kBlank2, 20971520, "hbx1", 5, "") + "," +
           Disk(kSmall, 1048576, "hbx1", 6, "") + "," +
           Disk(kRoomy, 20971520, "hbx1", 7, R"({"number": 1, "start": 2048, "end": 4196351, "type": "kdfs"})") +
           R"(, {"uid": ")" + kCdrom + R"(", "type": "cdrom", "local": true, "paths": [{"adapter": "hbx0", "target": 7, "lun": 0}]}
     ]}, "kdfs": )" + section + "}";
}

void VolumeHostTest::SetUp() {
    TarnTest::HostTest::SetUp();
    Init(Profile());
}

void VolumeHostTest::Init(const std::string& profile) {
    TarnSim::Profile::InitHost(profile);
}

void VolumeHostTest::Reboot() {
    TarnSim::Profile::ResetKernel(TarnSim::Profile::CurrentProfile(), true);
    Platform::Boot::RunBoot();
}

std::shared_ptr<HaldenConfigStore::ConfigStore> VolumeHostTest::Store() {
    return TarnCtl::Storage::Store();
}

std::shared_ptr<HaldenConfigStore::ConfigStoreObject> VolumeHostTest::Datastore(const std::string& uuid) {
    return TarnCtl::Storage::Kdfs::GetDatastore(uuid);
}

std::vector<std::string> VolumeHostTest::LibraryCalls() {
    std::vector<std::string> out;
    std::istringstream in(TarnTest::ReadHost("/var/log/tarnfs.log"));
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

size_t VolumeHostTest::CountCalls(const std::string& prefix) {
    size_t n = 0;
    for (const auto& line : LibraryCalls())
        n += line.rfind(prefix, 0) == 0;
    return n;
}

std::unique_ptr<TarnCtl::Storage::VmFileSystemImpl> VolumeHostTest::Volume(const std::string& uuid) {
    return TarnCtl::Storage::VmFileSystemImpl::GetKDFSFileSystemByUUID(uuid);
}

std::vector<std::string> VolumeHostTest::Partitions(const std::string& disk) {
    return TarnCtl::Storage::KsiList(KSI_NODE_storage_scsifw_devices_partitions, {disk});
}

bool VolumeHostTest::HostEntryExists(const std::string& hostPath) {
    struct stat st {};
    return ::lstat((Root() + hostPath).c_str(), &st) == 0;
}

FaultyLibrary::FaultyLibrary() : BackendWrapper(&Platform::Tarnfs::GetBackend()) {
    _previous = Platform::Tarnfs::SetBackend(this);
}

FaultyLibrary::~FaultyLibrary() {
    Platform::Tarnfs::SetBackend(_previous);
}

TARN_ReturnStatus FaultyLibrary::CreateFS(const TarnfsCreateRecord& r, TarnfsCreateResult* o, char* e) {
    lastCreate = r;
    if (auto it = fail.find("CreateFS"); it != fail.end()) {
        std::snprintf(e, 512, "%s", "Device is write protected");
        return it->second;
    }
    if (createWithoutVolume) {
        for (uint8_t i = 0; i < 16; ++i)
            o->uuid[i] = static_cast<uint8_t>(0xa0 + i);
        return TARN_OK;
    }
    TARN_ReturnStatus st = _t->CreateFS(r, o, e);
    lastResult = *o;
    return st;
}

#define TARN_FAULTY(Entry, Call)                          \
    if (auto it = fail.find(Entry); it != fail.end())     \
        return it->second;                                \
    return Call;

TARN_ReturnStatus FaultyLibrary::SpanFS(const std::string& v, const std::string& x) {
    TARN_FAULTY("SpanFS", _t->SpanFS(v, x))
}
TARN_ReturnStatus FaultyLibrary::UpgradeFS(const std::string& v) {
    TARN_FAULTY("UpgradeFS", _t->UpgradeFS(v))
}
TARN_ReturnStatus FaultyLibrary::CheckForExistingFS(const std::string& d, uint32_t f,
                                                    std::vector<TarnfsHeartbeat>* h) {
    TARN_FAULTY("CheckForExistingFS", _t->CheckForExistingFS(d, f, h))
}
TARN_ReturnStatus FaultyLibrary::ReserveDisk(const std::string& d, const std::string& o) {
    TARN_FAULTY("ReserveDisk", _t->ReserveDisk(d, o))
}
#undef TARN_FAULTY

std::string IndependentUuidText(const uint8_t (&b)[16]) {
    auto word = [&](int at, int bytes) {
        unsigned long v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = (v << 8) | b[at + i];
        return v;
    };
    std::ostringstream out;
    out << std::hex;
    out.fill('0');
    out.width(8);
    out << word(0, 4) << "-";
    out.width(8);
    out << word(4, 4) << "-";
    out.width(4);
    out << word(8, 2) << "-";
    for (int i = 10; i < 16; ++i) {
        out.width(2);
        out << static_cast<unsigned>(b[i]);
    }
    return out.str();
}

std::string Message(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const HostCtl::Lib::HostCtlException& e) {
        return e.what();
    }
    return "(no exception)";
}

}  // namespace VolumeTest
