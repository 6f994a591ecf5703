// Record layouts and node numbers of the native multipathing plug-in's own
// system-information tree (kernel module "nmp"). Shared by the library and the
// simulation. Node numbers are the module's; 5010, 5017, 5020 and 5021 are
// fixed by the plug-in, the listing nodes are this plug-in build's.
#pragma once

#include <cstdint>

inline constexpr const char* kNmpModule = "nmp";

enum : uint32_t {
    // Instances: SATP names. Get: KsiNmpSatpInfo. Set: "defaultpsp=NAME" alone
    // changes the default PSP; otherwise the inputs are one claim rule
    // ("uid=", "vendor=", ... "rulegroup="), deleted when "remove" is among them.
    KSI_NMP_NODE_SATPS = 5000,
    // Instances: PSP names. Get: KsiNmpPspInfo.
    KSI_NMP_NODE_PSPS = 5001,
    // Instances: SATP name / rule number. Get: KsiNmpSatpRule.
    KSI_NMP_NODE_SATP_RULES = 5002,
    // Instance: PSP name. Set: "device=UID" assigns the PSP; with "remove" the
    // device goes back to its SATP's default.
    KSI_NMP_NODE_PSP_DEVICE = 5010,
    // Instance: device UID. Get: KsiNmpDeviceInfo.
    KSI_NMP_NODE_DEVICE = 5011,
    // Instance: device UID; lists the runtime names of the working paths.
    KSI_NMP_NODE_WORKING_PATHS = 5012,
    // Instance: device UID. Set: "satpconfig", the option string.
    KSI_NMP_NODE_DEVICE_SATP_CONFIG = 5017,
    // Instances: device UID / path runtime name. Get: KsiNmpPathInfo.
    KSI_NMP_NODE_DEVICE_PATHS = 5020,
    // Instance: device UID, or device / path. Set: "pspconfig" or
    // "satpconfig" and a string; "pspconfig", "preferred" at a path makes it
    // the Fixed policy's preferred path.
    KSI_NMP_NODE_CONFIG = 5021,
};

// Round-robin switching policies of KsiNmpDeviceInfo::rrPolicy.
enum : uint32_t { KSI_NMP_RR_IOPS = 0, KSI_NMP_RR_BYTES = 1, KSI_NMP_RR_LATENCY = 2 };

struct KsiNmpSatpInfo {
    char name[64];
    char defaultPsp[64];
    char description[128];
    uint32_t deviceConfig;  // 1 when the SATP takes device option strings
    uint32_t pathConfig;    // 1 when the SATP takes path option strings
};

struct KsiNmpPspInfo {
    char name[64];
    char description[128];
    uint32_t pathConfig;  // 1 when the PSP takes path option strings
    uint32_t options;     // 1 when the PSP takes option strings in claim rules
};

struct KsiNmpSatpRule {
    char uid[256];
    char vendor[16];
    char model[32];
    char driver[64];
    char transport[32];
    char options[128];
    char claimOptions[128];
    char defaultPsp[64];
    char pspOptions[128];
    char description[128];
    char ruleGroup[16];  // "system" or "user"
};

struct KsiNmpDeviceInfo {
    char satp[64];
    char psp[64];
    char satpConfig[256];
    char pspConfig[256];   // the PSP's text of its device configuration
    char preferred[64];    // Fixed: preferred path runtime name, "" when none
    char current[64];      // most recently used / fixed failover path
    uint32_t pspExplicit;  // 1 when set for the device, 0 from the SATP default
    uint32_t rrPolicy;     // KSI_NMP_RR_*
    uint32_t iops;
    uint32_t useANO;
    uint64_t bytes;
    uint32_t latencyEvalTime;
    uint32_t samplingCycles;
    char thirdPartyConfig[128];  // another vendor's PSP: its settings as given
};

struct KsiNmpPathInfo {
    char groupState[32];  // "active", "active unoptimized", "standby", "dead", "off"
    uint32_t priority;    // array priority of the path's group
    uint32_t optimized;   // 1 for the array's optimized target port group
    char satpConfig[128];
    char pspConfig[128];
};
