// Record layouts of the kernel's storage nodes (/storage/scsifw/...): plain
// structs shared by the library and the simulation. Strings are NUL-padded
// fixed arrays; a record read is always the whole struct.
#pragma once

#include <cstddef>
#include <cstdint>

// /storage/scsifw/adapters/info, instance: adapter name.
struct KsiStorageAdapterInfo {
    char name[32];
    char driver[64];
    char description[128];
    uint32_t transport;     // interface type; 0 = not reported
    uint32_t capabilities;  // bit mask
    uint32_t status;
    uint32_t hasPci;        // 1 when the PCI address below is valid
    uint16_t pciSegment;
    uint8_t pciBus;
    uint8_t pciSlot;
    uint8_t pciFunction;
    uint8_t reserved[3];
};
static_assert(offsetof(KsiStorageAdapterInfo, transport) == 224);

// /storage/scsifw/adapters/stats and /storage/scsifw/devices/stats.
struct KsiStorageStats {
    uint32_t queueDepth;
    uint32_t nvme;            // 1 when the adapter speaks NVMe
    uint64_t counters[25];    // StorageStatistics order
};
static_assert(offsetof(KsiStorageStats, counters) == 8);

// /storage/scsifw/adapters/uid, instance: adapter name.
struct KsiStorageAdapterUid {
    char uid[256];
    uint32_t protMask;
    uint32_t guardType;  // 1 CRC, 2 IP, 3 both
};

// Device flags of KsiStorageDeviceInfo::flags.
enum : uint32_t {
    KSI_DEVICE_LOCAL = 1u << 0,
    KSI_DEVICE_SSD = 1u << 1,
    KSI_DEVICE_REMOVABLE = 1u << 2,
    KSI_DEVICE_PSEUDO = 1u << 3,
    KSI_DEVICE_RDM_CAPABLE = 1u << 4,
    KSI_DEVICE_PROT_ENABLED = 1u << 5,
    KSI_DEVICE_NVME = 1u << 6,
    KSI_DEVICE_UID_PERSISTABLE = 1u << 7,
    KSI_DEVICE_PERENNIAL_RESVD = 1u << 8,
    KSI_DEVICE_WEAR_SUPPORTED = 1u << 9,
};

// Storage-offload primitive status values (KsiStorageSopiCacheData).
enum : uint32_t {
    KSI_SOPI_UNKNOWN = 0,
    KSI_SOPI_SUPPORTED = 1,
    KSI_SOPI_UNSUPPORTED = 2,
};

// /storage/scsifw/devices/sopiCacheData, instance: device UID.
struct KsiStorageSopiCacheData {
    uint32_t ats;
    uint32_t clone;
    uint32_t zero;
    uint32_t deleteStatus;
};

// Where the kernel registered a device in its device file system.
enum : uint32_t {
    KSI_DEVFS_NONE = 0,
    KSI_DEVFS_DISKS = 1,
    KSI_DEVFS_CDROM = 2,
    KSI_DEVFS_GENSCSI = 3,
};

// /storage/scsifw/devices/info, instance: device UID.
struct KsiStorageDeviceInfo {
    uint32_t type;    // SCSI peripheral type (10/11: IDE CD-ROM / device)
    uint32_t status;  // present status, Lun::LunStatus
    char vendor[16];
    char model[32];
    char revision[8];
    char typeString[32];  // the kernel's word for the type ("Direct-Access")
    char plugin[32];      // multipathing plug-in ("NMP")
    char consoleDevice[128];
    uint32_t scsiLevel;
    uint32_t blockSize;
    uint64_t numBlocks;
    uint32_t queueDepth;
    uint32_t flags;         // KSI_DEVICE_*
    uint32_t devfs;         // KSI_DEVFS_*
    uint32_t reserved;
};
static_assert(offsetof(KsiStorageDeviceInfo, numBlocks) % 8 == 0);

// /storage/scsifw/deviceUids/primaryUid, instance: any device UID.
struct KsiStorageUid {
    char uid[256];
};

// /storage/scsifw/persistDeviceAttrs/uids, instance: device UID.
struct KsiStoragePersistAttrs {
    uint32_t detached;
    uint32_t notShared;
    uint32_t perennialResvd;
};

// /storage/scsifw/devices/qfullconfigparams, instance: device UID.
struct KsiStorageQfullParams {
    uint32_t sampleSize;
    uint32_t threshold;
};

// /storage/scsifw/devices/maxQueueDepth, schedReqOutstanding,
// SchedulingLatencyThreshold, ignoreInquiryCache, protectionEnabled, markPDL,
// paths/state: one unsigned value.
struct KsiStorageValue {
    uint32_t value;
};

// /storage/scsifw/devices/displayName, instance: device UID.
struct KsiStorageDisplayName {
    char name[256];
};

// /storage/scsifw/devices/partitions/info, instance: device UID, number.
struct KsiStoragePartitionInfo {
    uint64_t startSector;
    uint64_t endSector;
    char typeGuid[40];
    char partitionGuid[40];
};

// /storage/scsifw/devices/inquirySTD and inquiryVPD/uncachedData.
struct KsiStorageInquiry {
    uint32_t length;
    uint8_t data[252];
};

// /storage/scsifw/paths/info, instance: path runtime name.
struct KsiStoragePathInfo {
    char adapter[32];
    char deviceUid[256];
    char plugin[32];  // "" when unclaimed
    char controller[64];
    uint32_t channel;
    uint32_t target;
    uint32_t lun;
    uint32_t nsId;
    uint32_t flags;  // 1 identifier unique, 2 identifier persistable
    uint32_t maxIOSize;
};

// /storage/scsifw/paths/pathUid, instance: path runtime name.
struct KsiStoragePathUid {
    char adapterUid[256];
    char targetUid[256];
    char deviceUid[256];
};

// /storage/scsifw/rescanOn.
struct KsiStorageRescanOn {
    uint32_t on;
    uint32_t pid;
};

// /storage/scsifw/delete, instance: adapter name: outcome of its last scan.
struct KsiStorageRescanResult {
    uint32_t devicesAdded;
    uint32_t devicesRemoved;
};
