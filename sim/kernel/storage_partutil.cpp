// The host's partition tool, simulated: `partutil setptbl /dev/disks/DISK
// LABEL "N START END TYPEGUID ATTR" ...` replaces the disk's partition table in
// the kernel, refusing entries outside the disk or overlapping each other.
#include <algorithm>
#include <cstring>
#include <sstream>

#include "ksi/storage.h"
#include "platform/exec.h"
#include "sim/kernel.h"

namespace TarnSim {

namespace {

struct Entry {
    uint32_t number;
    uint64_t start, end;
    std::string guid;
};

Platform::Exec::Result Fail(const std::string& text) {
    return {1, "", "Error: " + text + "\n"};
}

Platform::Exec::Result SetPartitionTable(const Platform::Exec::Invocation& call) {
    const auto& argv = call.argv;
    if (argv.size() < 4 || argv[1] != "setptbl")
        return Fail("usage: partutil setptbl /dev/disks/DISK gpt|msdos [\"N START END GUID ATTR\" ...]");
    const std::string prefix = "/dev/disks/";
    if (argv[2].rfind(prefix, 0) != 0)
        return Fail("not a disk device: " + argv[2]);
    const std::string disk = argv[2].substr(prefix.size());
    if (argv[3] != "gpt" && argv[3] != "msdos")
        return Fail("unknown label " + argv[3]);
    std::vector<Entry> entries;
    for (size_t i = 4; i < argv.size(); ++i) {
        std::istringstream in(argv[i]);
        Entry e{};
        int attr = 0;
        if (!(in >> e.number >> e.start >> e.end >> e.guid >> attr) || e.number == 0 || e.end < e.start)
            return Fail("bad partition entry \"" + argv[i] + "\"");
        entries.push_back(e);
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.start < b.start; });
    for (size_t i = 1; i < entries.size(); ++i)
        if (entries[i].start <= entries[i - 1].end)
            return Fail("partitions " + std::to_string(entries[i - 1].number) + " and " +
                        std::to_string(entries[i].number) + " overlap");
    Platform::Exec::Result result{0, "", ""};
    WithState(
        [&](KernelState& s) {
            KsiStorageDeviceInfo info{};
            if (!s.Read(KSI_NODE_storage_scsifw_devices_info, {disk}, &info) || info.type != 0) {
                result = Fail("no disk " + disk);
                return;
            }
            for (const auto& e : entries)
                if (e.end >= info.numBlocks) {
                    result = Fail("partition " + std::to_string(e.number) + " ends beyond the disk");
                    return;
                }
            for (const auto& n : s.Instances("", KSI_NODE_storage_scsifw_devices_partitions, {disk}))
                if (n != "0") {
                    s.Remove("", KSI_NODE_storage_scsifw_devices_partitions, {disk, n});
                    s.Remove("", KSI_NODE_storage_scsifw_devices_partitions_info, {disk, n});
                }
            // The table is on the medium: it outlives a reboot (see the kdfs area).
            std::string media;
            for (const auto& e : entries)
                media += std::to_string(e.number) + " " + std::to_string(e.start) + " " + std::to_string(e.end) +
                         " " + e.guid + "\n";
            s.SetAreaValue("disk.partitions", disk, media);
            for (const auto& e : entries) {
                KsiStoragePartitionInfo p{};
                p.startSector = e.start;
                p.endSector = e.end;
                std::strncpy(p.typeGuid, e.guid.c_str(), sizeof(p.typeGuid) - 1);
                const std::string n = std::to_string(e.number);
                s.Put(KSI_NODE_storage_scsifw_devices_partitions, {disk, n}, KsiStorageValue{1});
                s.Put(KSI_NODE_storage_scsifw_devices_partitions_info, {disk, n}, p);
            }
        },
        true);
    return result;
}

const bool registered = [] {
    Platform::Exec::RegisterProgram("/bin/partutil", SetPartitionTable);
    return true;
}();

}  // namespace

}  // namespace TarnSim
