// DHCP clients of kernel NICs: PID files judged by their process, the exact
// client command lines, the configuration files written before a start, the
// resource-pool raise with its rollback, the bounded wait for the PID file and
// the cross-process DHCPv6 semaphore (a real System V semaphore).
#include "network/tarnnic_dhcp.h"

#include <sys/ipc.h>
#include <sys/sem.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "hostctl/exception.h"
#include "network/dns_config_impl.h"
#include "network/network_util.h"
#include "network/tarnnic_impl.h"
#include "platform/exec.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/sysinfo.h"

namespace TarnCtl::Network::Dhclient {

using HostCtl::Lib::HostCtlException;

namespace {

const char* kTag = "TarnNicImpl";

// Shortened only by tests; read and written on the caller's thread.
std::chrono::milliseconds gPidWait{15000};

std::string PreferredHostName() {
    try {
        return DnsConfigImpl(kDefaultNetstack).GetPreferredHostname();
    } catch (const HostCtlException& e) {
        TarnCtl_LogVerboseInt("%s: No host name for the DHCP client: %s\n", kTag, e.what());
        return "";
    }
}

bool WaitForPidFile(const std::string& ifName, bool v6) {
    auto deadline = std::chrono::steady_clock::now() + gPidWait;
    for (;;) {
        if (IsRunning(ifName, v6)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// Raises the pool before a start; the returned value is what to put back.
long RaisePool(const std::string& failurePrefix) {
    try {
        long before = GetPoolMemory();
        SetPoolMemory(before + kPoolMemoryRaiseMb);
        return before;
    } catch (const HostCtlException& e) {
        throw HostCtlException(failurePrefix + e.what());
    }
}

void RestorePool(long before) {
    try {
        SetPoolMemory(before);
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Unable to take back dhclient RP memory: %s\n", kTag, e.what());
    }
}

}  // namespace

SemaphoreLock::SemaphoreLock(int key) {
    _id = semget(key, TarnNicImpl::SEM_LOCK_ARRAY_SIZE, IPC_CREAT | TarnNicImpl::IPC_PERM);
    if (_id < 0) throw HostCtlException("Unable to get semaphore: " + std::string(std::strerror(errno)));
    // Wait until the semaphore is free, then take it; SEM_UNDO frees it if the process dies holding it.
    struct sembuf ops[2] = {{0, 0, 0}, {0, 1, SEM_UNDO}};
    while (semop(_id, ops, 2) < 0) {
        if (errno == EINTR) continue;
        throw HostCtlException("Unable to lock semaphore: " + std::string(std::strerror(errno)));
    }
}

SemaphoreLock::~SemaphoreLock() {
    struct sembuf op = {0, -1, SEM_UNDO};
    semop(_id, &op, 1);
}

std::string PidFile(const std::string& ifName, bool v6) {
    return std::string(v6 ? "/var/run/dhcp6-" : "/var/run/dhcp-") + ifName + ".pid";
}
std::string LeaseFile(const std::string& ifName, bool v6) {
    return std::string(v6 ? "/var/lib/dhcp/dhclient6-" : "/var/lib/dhcp/dhclient-") + ifName + ".leases";
}
std::string ConfigFile(const std::string& ifName, bool v6) {
    return std::string(v6 ? "/etc/dhclient6-" : "/etc/dhclient-") + ifName + ".conf";
}

namespace {
// The pid a PID file names ("PID\n"), or 0 when its text is not one.
int PidOf(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    long pid = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || errno == ERANGE || pid <= 0 || pid > INT32_MAX) return 0;
    if (text.find_first_not_of(" \t\n", static_cast<size_t>(end - text.c_str())) != std::string::npos) return 0;
    return static_cast<int>(pid);
}
}  // namespace

int RunningPid(const std::string& ifName, bool v6) {
    std::string text;
    if (!HostCtl::Misc::ReadHostFile(PidFile(ifName, v6), &text)) return 0;
    int pid = PidOf(text);
    // A PID file outlives a killed client: only a live process counts.
    return pid && Platform::Exec::Kill(pid, 0) == 0 ? pid : 0;
}

ClientState GetClientState(const std::string& ifName, bool v6) {
    const std::string path = PidFile(ifName, v6);
    if (!HostCtl::Misc::HostFileExists(path)) return ClientState::Stopped;
    std::string text;
    if (!HostCtl::Misc::ReadHostFile(path, &text)) return ClientState::Unknown;
    int pid = PidOf(text);
    if (!pid) return ClientState::Unknown;
    return Platform::Exec::Kill(pid, 0) == 0 ? ClientState::Running : ClientState::Stopped;
}

bool IsRunning(const std::string& ifName, bool v6) { return RunningPid(ifName, v6) != 0; }

std::string StartCommand(const std::string& ifName, const std::string& netstack, bool v6, bool stateless,
                         const std::string& hostName) {
    std::string cmd = std::string(kProgram) + " ++group=" + "dhclient" + ",netstack=" + netstack + " -pf " +
                      PidFile(ifName, v6) + " -rt " + std::to_string(TarnNicImpl::DHCP_RETRY_TIMEOUT);
    if (!v6) {
        cmd += " -lf " + LeaseFile(ifName, false) + " -cf " + ConfigFile(ifName, false);
        if (!hostName.empty()) cmd += " -hn " + hostName;
        return cmd + " -4 -nw -d " + ifName;
    }
    if (stateless) return cmd + " -cf " + ConfigFile(ifName, true) + " -6 -nw -d -S " + ifName;
    return cmd + " -lf " + LeaseFile(ifName, true) + " -cf " + ConfigFile(ifName, true) + " -6 -nw -d " + ifName;
}

std::string ReleaseCommand(const std::string& ifName, const std::string& netstack, bool v6) {
    return std::string(kProgram) + " ++group=" + "dhclientrelease" + ",netstack=" + netstack + " -pf " +
           PidFile(ifName, v6) + " -lf " + LeaseFile(ifName, v6) + " -cf " + ConfigFile(ifName, v6) +
           (v6 ? " -6" : " -4") + " -r -d " + ifName;
}

void WriteConfig(const std::string& ifName, bool v6, const std::string& hostName, bool requestDns) {
    HostCtl::Misc::TmpOfstreamWrapper out(ConfigFile(ifName, v6), 0644);
    if (!hostName.empty()) out << "send host-name \"" << hostName << "\";\n";
    if (v6) {
        out << "request dhcp6.name-servers, dhcp6.domain-search;\n";
        if (!requestDns) out << "ignore dhcp6.name-servers, dhcp6.domain-search;\n";
    } else {
        out << "request subnet-mask, broadcast-address, routers, domain-name, domain-name-servers, host-name;\n";
        if (!requestDns) out << "ignore domain-name, domain-name-servers;\n";
    }
    out.Commit();
}

void StartV4(const std::string& ifName, const std::string& netstack, bool requestDns) {
    if (!Platform::Exec::IsProgramExecutable(kProgram)) throw HostCtlException("Cannot run dhclient-uw");
    std::string hostName = PreferredHostName();
    WriteConfig(ifName, false, hostName, requestDns);
    std::string cmd = StartCommand(ifName, netstack, false, false, hostName);
    long before = RaisePool("Failure increasing dhclient RP memory: ");
    if (!Util::TarnCtl_Daemon("%s", cmd.c_str())) {
        TarnCtl_LogErrorInt("%s: Unable to start dhclient daemon\n\n", kTag);
        RestorePool(before);
        throw HostCtlException("Unable to start dhclient daemon " + cmd);
    }
    TarnCtl_LogInfoInt("%s: Started dhcp client with command: %s\n", kTag, cmd.c_str());
    if (!WaitForPidFile(ifName, false)) throw HostCtlException("no valid dhclient PID file found yet");
}

void StartV6(const std::string& ifName, const std::string& netstack, bool stateless, bool requestDns) {
    if (!Platform::Exec::IsProgramExecutable(kProgram)) throw HostCtlException("Cannot run dhclient-uw");
    std::string hostName = PreferredHostName();
    WriteConfig(ifName, true, hostName, requestDns);
    std::string cmd = StartCommand(ifName, netstack, true, stateless, "");
    SemaphoreLock lock(TarnNicImpl::SEMKEY_DHCPV6);
    long before = RaisePool("");
    if (!Util::TarnCtl_Daemon("%s", cmd.c_str())) {
        RestorePool(before);
        throw HostCtlException("Unable to start dhclient daemon " + cmd);
    }
    TarnCtl_LogInfoInt("%s: Started dhcpv6 client with command: %s\n\n", kTag, cmd.c_str());
    if (!WaitForPidFile(ifName, true)) throw HostCtlException("dhclient PID file not yet found");
}

void Stop(const std::string& ifName, const std::string& netstack, bool v6) {
    int pid = RunningPid(ifName, v6);
    if (!pid) return;
    std::string cmd = ReleaseCommand(ifName, netstack, v6);
    if (!Util::TarnCtl_Exec("%s", cmd.c_str()))
        TarnCtl_LogWarnInt("%s: Release of the lease failed: %s\n", kTag, cmd.c_str());
    TarnCtl_LogInfoInt("%s: Killed dhcp client with command: %s\n", kTag, cmd.c_str());
    Platform::Exec::Kill(pid, SIGTERM);
}

Lease ReadLease(const std::string& ifName) {
    Lease lease;
    std::string text;
    if (!HostCtl::Misc::ReadHostFile(LeaseFile(ifName, false), &text)) return lease;
    std::vector<std::string> lines;
    HostCtl::Misc::StringTokenize(text, lines, "\n");
    for (std::string line : lines) {
        size_t b = line.find_first_not_of(" \t");
        if (b == std::string::npos) continue;
        line = line.substr(b);
        if (!line.empty() && line.back() == ';') line.pop_back();
        if (HostCtl::Misc::StartsWith(line, "fixed-address ")) lease.bound = true;
        const std::string server = "option dhcp-server-identifier ";
        if (HostCtl::Misc::StartsWith(line, server)) lease.server = line.substr(server.size());
    }
    return lease;
}

std::chrono::milliseconds SetPidWait(std::chrono::milliseconds wait) {
    auto old = gPidWait;
    gPidWait = wait;
    return old;
}

long GetPoolMemory() {
    uint32_t mb = 0;
    KernelStep("Unable to read the memory of resource pool dhclient", [&] {
        Util::Sysinfo si(KSI_NODE_sched_groups_memAllocationInMB);
        si.SetInstance("dhclient");
        si.Get(&mb, sizeof mb);
    });
    return mb;
}

void SetPoolMemory(long mb) {
    KernelStep("Unable to set the memory of resource pool dhclient", [&] {
        Util::Sysinfo si(KSI_NODE_sched_groups_memAllocationInMB);
        si.SetInstance("dhclient");
        si.AddInput(mb);
        si.Set();
    });
}

}  // namespace TarnCtl::Network::Dhclient
