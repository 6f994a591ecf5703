// The DHCP clients of kernel NICs: one "/bin/dhclient-uw" daemon per NIC and
// address family, known by its PID file, which counts only while the process
// it names is alive. Starting raises the "dhclient" resource pool's memory and
// takes it back when the start fails; DHCPv6 starts under a System V semaphore
// shared with every other process of the host.
#pragma once

#include <chrono>
#include <string>

namespace TarnCtl::Network::Dhclient {

inline constexpr const char* kProgram = "/bin/dhclient-uw";
inline constexpr int kPoolMemoryRaiseMb = 35;

// Holds one of the host-wide two-state System V semaphores of `key` (a set of
// two, mode 0600, created when missing) for its lifetime.
class SemaphoreLock {
public:
    explicit SemaphoreLock(int key);
    ~SemaphoreLock();
    SemaphoreLock(const SemaphoreLock&) = delete;
    SemaphoreLock& operator=(const SemaphoreLock&) = delete;

private:
    int _id = -1;
};

std::string PidFile(const std::string& ifName, bool v6);
std::string LeaseFile(const std::string& ifName, bool v6);
std::string ConfigFile(const std::string& ifName, bool v6);

// The pid in the NIC's PID file when that process runs, else 0.
int RunningPid(const std::string& ifName, bool v6);
bool IsRunning(const std::string& ifName, bool v6);

// Whether a client runs, as far as its PID file tells: unknown when the file
// is there but cannot be read or names no process id (half written, damaged).
enum class ClientState { Stopped, Running, Unknown };
ClientState GetClientState(const std::string& ifName, bool v6);

// The command lines the clients run with.
std::string StartCommand(const std::string& ifName, const std::string& netstack, bool v6, bool stateless,
                         const std::string& hostName);
std::string ReleaseCommand(const std::string& ifName, const std::string& netstack, bool v6);

// Writes the client's configuration file (host name, requested options).
void WriteConfig(const std::string& ifName, bool v6, const std::string& hostName, bool requestDns);

// Starts the client of `ifName`; throws HostCtlException with the failure.
void StartV4(const std::string& ifName, const std::string& netstack, bool requestDns);
void StartV6(const std::string& ifName, const std::string& netstack, bool stateless, bool requestDns);
// Releases the lease and ends the client (nothing when none runs).
void Stop(const std::string& ifName, const std::string& netstack, bool v6);

// What the lease file says: bound and the server that answered.
struct Lease {
    bool bound = false;
    std::string server;
};
Lease ReadLease(const std::string& ifName);

// How long a start waits for the PID file (15 seconds; tests shorten it).
std::chrono::milliseconds SetPidWait(std::chrono::milliseconds wait);

// The "dhclient" resource pool's memory in MB; setting throws on refusal.
long GetPoolMemory();
void SetPoolMemory(long mb);

}  // namespace TarnCtl::Network::Dhclient
