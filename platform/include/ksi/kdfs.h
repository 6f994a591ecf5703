// Record layouts of the kernel's file-system switch (/system/fsSwitch/...)
// and of the logical-volume driver module "lvmdriver", shared by the library
// and the simulation. Strings are NUL-padded fixed arrays.
#pragma once

#include <cstdint>

// The logical-volume driver's module and its nodes (module-private numbers).
inline constexpr const char* KSI_LVM_MODULE = "lvmdriver";
enum : uint32_t {
    // Set inputs: the extents ("device:partition") to give a new identity.
    KSI_LVM_NODE_RESIGNATURE = 5016,
    // Set inputs: logical-volume name, mode ("rw", "rwlite", "ro"), extents.
    KSI_LVM_NODE_MOUNT = 5017,
    // Set inputs: volume UUID.
    KSI_LVM_NODE_UNMOUNT = 5018,
    // Records, instance: volume UUID, extent index -> KsiLvmExtent.
    KSI_LVM_NODE_EXTENTS = 5019,
    // Set inputs: volume UUID, "0" (I/O resource management off) or "1".
    KSI_LVM_NODE_IORM = 5020,
    // Records, instance: volume UUID -> KsiLvmLightStats (mounted volumes).
    KSI_LVM_NODE_LIGHT_STATS = 5021,
};

// Flags of KsiFsVolume::flags.
enum : uint32_t {
    KSI_FS_READ_ONLY = 1u << 0,
    KSI_FS_ATS_ONLY = 1u << 1,
    KSI_FS_SOMETHING_OFFLINE = 1u << 2,
    KSI_FS_NATIVE_SNAPSHOT = 1u << 3,
    KSI_FS_FORCE_MOUNTED = 1u << 4,
    KSI_FS_EMULATED_512 = 1u << 5,
    KSI_FS_HIDDEN = 1u << 6,
    KSI_FS_ACCESSIBLE = 1u << 7,
    KSI_FS_IORM_ENABLED = 1u << 8,
};

// /system/fsSwitch/volumes, instance: volume UUID text (mounted volumes only).
struct KsiFsVolume {
    char uuid[40];
    char label[132];
    char lvmName[64];
    char headExtent[272];  // device:partition
    char type[16];         // "KDFS"
    uint32_t majorVersion;
    uint32_t minorVersion;
    uint64_t blockSize;
    uint64_t totalBlocks;
    uint64_t blocksUsed;
    uint32_t diskBlockSize;
    uint32_t physDiskBlockSize;
    uint32_t flags;  // KSI_FS_*
    uint32_t extentCount;
    uint32_t activeUsers;
    uint32_t reserved;
};

// /system/fsSwitch/volumeLabels, instance: label.
struct KsiFsVolumeLabel {
    char uuid[40];
};

// lvmdriver KSI_LVM_NODE_EXTENTS.
struct KsiLvmExtent {
    char device[256];
    uint32_t partition;
    uint32_t index;
    uint64_t startSector;
    uint64_t endSector;
};

// lvmdriver KSI_LVM_NODE_LIGHT_STATS: counters since the volume was mounted.
struct KsiLvmLightStats {
    uint64_t readOps;
    uint64_t writeOps;
    uint64_t readBytes;
    uint64_t writeBytes;
    uint32_t openFiles;
    uint32_t reserved;
};

// /system/dumpFile (no instance): the active diagnostic (core-dump) file,
// "" when none is active.
struct KsiDumpFile {
    char path[512];
};
