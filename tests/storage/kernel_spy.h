// A kernel stand-in for the storage tests: forwards every call to the backend
// it replaces, records the changing calls (node and first instance key or
// input), and runs a test's probe just before a chosen node is changed, so a
// test can look at the host at that exact moment.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "forwarding_backend.h"
#include "platform/hostroot.h"
#include "platform/sysinfo.h"
#include "storage/storage_util.h"

namespace StorageTest {

class KernelSpy : public TarnTest::InstalledBackend {
public:
    struct Change {
        uint32_t node;
        std::string key;  // first instance key, else first input
    };

    // Runs `probe` before every change of `node` reaches the kernel.
    void Before(uint32_t node, std::function<void()> probe) {
        _probeNode = node;
        _probe = std::move(probe);
    }
    const std::vector<Change>& Changes() const { return _changes; }
    size_t ChangesOf(uint32_t node) const {
        size_t n = 0;
        for (const auto& c : _changes)
            n += c.node == node;
        return n;
    }
    void Clear() { _changes.clear(); }

    TARN_ReturnStatus Set(const char* m, uint32_t n, const std::vector<KSI_Param>& i,
                          const std::vector<KSI_Param>& in) override {
        Record(n, !i.empty() ? i[0].AsText() : !in.empty() ? in[0].AsText() : "");
        return Next().Set(m, n, i, in);
    }
    TARN_ReturnStatus SetStruct(const char* m, uint32_t n, const std::vector<KSI_Param>& i, const void* b,
                                unsigned l) override {
        Record(n, !i.empty() ? i[0].AsText() : "");
        return Next().SetStruct(m, n, i, b, l);
    }

private:
    void Record(uint32_t node, std::string key) {
        _changes.push_back({node, std::move(key)});
        if (_probe && node == _probeNode)
            _probe();
    }

    uint32_t _probeNode = 0;
    std::function<void()> _probe;
    std::vector<Change> _changes;
};

// Whether some holder has the storage lock file: tries to take it through an
// open file of its own, which conflicts with any other holder, this process's
// included.
inline bool StorageLockHeld() {
    const std::string path = Platform::HostPath(TarnCtl::Storage::kStorageLockFile);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

}  // namespace StorageTest
