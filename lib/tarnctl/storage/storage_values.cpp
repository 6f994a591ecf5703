// The storage value types and the fixed tables behind them: statistics and
// their text form, adapter interface-type strings, path-state, device-status
// and partition-type words.
#include <cstdio>
#include <string>

#include "hostctl/exception.h"
#include "hostctl/storage.h"

namespace HostCtl::Storage {

void StorageStatistics::SetValues(const uint64_t* v) {
    uint64_t* fields[kCounters] = {
        &commands,       &blocksRead,     &blocksWritten,   &aborts,          &resets,
        &readOps,        &writeOps,       &reserveUnitOps,  &reservationConflicts,
        &paeCommands,    &paeCopies,      &splitCommands,   &splitCopies,     &issueTime,
        &totalTime,      &readsIssueTime, &writesIssueTime, &readsTotalTime,  &writesTotalTime,
        &layerTime,      &layerTimeRead,  &layerTimeWrite,  &queueTime,       &queueTimeRead,
        &queueTimeWrite};
    for (unsigned i = 0; i < kCounters; ++i)
        *fields[i] = v[i];
}

std::string StorageStatistics::ToString() const {
    // Queue times are printed before layer times although stored after them.
    const std::pair<const char*, uint64_t> lines[] = {
        {"Commands: ", commands},
        {"Blocks Read: ", blocksRead},
        {"Blocks Written: ", blocksWritten},
        {"Aborts: ", aborts},
        {"Resets: ", resets},
        {"Read Operations: ", readOps},
        {"Write Operations: ", writeOps},
        {"Reserve Unit Operations: ", reserveUnitOps},
        {"Reservation Conflicts: ", reservationConflicts},
        {"PAE commands: ", paeCommands},
        {"PAE copies: ", paeCopies},
        {"Split commands: ", splitCommands},
        {"Split copies: ", splitCopies},
        {"Issue Time: ", issueTime},
        {"Total Time: ", totalTime},
        {"Reads Issue Time: ", readsIssueTime},
        {"Writes Issue Time: ", writesIssueTime},
        {"Reads Total Time: ", readsTotalTime},
        {"Writes Total Time: ", writesTotalTime},
        {"Queue Time: ", queueTime},
        {"Queue Time Read: ", queueTimeRead},
        {"Queue Time Write: ", queueTimeWrite},
        {"Layer Time: ", layerTime},
        {"Layer Time Read: ", layerTimeRead},
        {"Layer Time Write: ", layerTimeWrite},
    };
    std::string out;
    for (const auto& [label, value] : lines)
        out.append(label).append(std::to_string(value)).append("\n");
    return out;
}

void TaskManagementStats::SetValues(uint64_t abortTask, uint64_t abortTaskSet, uint64_t clearAca,
                                    uint64_t clearTaskSet, uint64_t lunReset, uint64_t targetReset) {
    abortTasks = abortTask;
    abortTaskSets = abortTaskSet;
    clearAcas = clearAca;
    clearTaskSets = clearTaskSet;
    lunResets = lunReset;
    targetResets = targetReset;
}

namespace {
struct TypeName {
    ScsiInterface::ScsiInterfaceType type;
    const char* name;
};
const TypeName kInterfaceTypes[] = {
    {ScsiInterface::SCSI_IFACE_TYPE_BLOCK, "block"},
    {ScsiInterface::SCSI_IFACE_TYPE_FC, "fc"},
    {ScsiInterface::SCSI_IFACE_TYPE_ISCSI, "iscsi"},
    {ScsiInterface::SCSI_IFACE_TYPE_IDE, "ide"},
    {ScsiInterface::SCSI_IFACE_TYPE_ISCSI_VENDOR, "iscsivendor"},
    {ScsiInterface::SCSI_IFACE_TYPE_SAS, "sas"},
    {ScsiInterface::SCSI_IFACE_TYPE_SATA, "sata"},
    {ScsiInterface::SCSI_IFACE_TYPE_USB, "usb"},
    {ScsiInterface::SCSI_IFACE_TYPE_PSCSI, "parallel"},
    {ScsiInterface::SCSI_IFACE_TYPE_FCOE, "fcoe"},
    {ScsiInterface::SCSI_IFACE_TYPE_PCIE, "pcie"},
    {ScsiInterface::SCSI_IFACE_TYPE_RDMA, "rdma"},
    {ScsiInterface::SCSI_IFACE_TYPE_TCP, "tcp"},
};
}  // namespace

std::string ScsiInterface::GetInterfaceTypeString(ScsiInterfaceType type) {
    for (const auto& t : kInterfaceTypes)
        if (t.type == type)
            return t.name;
    return "unknown";
}

ScsiInterface::ScsiInterfaceType ScsiInterface::GetValidInterfaceType(const std::string& type) {
    for (const auto& t : kInterfaceTypes)
        if (type == t.name)
            return t.type;
    throw HostCtl::Lib::HostCtlException("Unknown transport type " + type);
}

std::string ScsiPath::GetStateString(PathState state) {
    switch (state) {
    case ACTIVE: return "active";
    case OFF: return "off";
    case DEAD: return "dead";
    case STANDBY: return "standby";
    case CHANGED: return "changed";
    }
    return "unknown";
}

std::string Lun::GetStatusString(LunStatus status) {
    static const char* const kWords[] = {"on",      "off",           "dead",         "quiesced", "degraded",
                                         "not connected", "dead timeout", "unknown", "on"};
    return status < sizeof(kWords) / sizeof(kWords[0]) ? kWords[status] : "Unknown";
}

}  // namespace HostCtl::Storage
