// The simulated kernel's core: node and area registries, the backend behind
// the KSI_* calls, fault injection, and the persistence that lets every
// process under one host root see one running kernel.
//
// The state lives in /var/lib/tarnsim/kernel.state. A small shared counter
// (kernel.gen, mapped into every process) holds the generation of the newest
// state file, so a read only costs a memory load to learn that its copy is
// current; a process reloads only after another one changed the kernel.
// Changes run under an exclusive flock on kernel.lock and are written with
// temp file + rename before the counter moves.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "core_internal.h"
#include "hostctl/exception.h"
#include "platform/hostroot.h"
#include "platform/kevt.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "sim/profile.h"

namespace TarnSim {

// ---- Registries ----------------------------------------------------------------------

namespace {

struct NodeEntry {
    std::string module;
    NodeHandler handler;
};

struct Registry {
    std::mutex mu;
    std::unordered_map<uint32_t, std::vector<NodeEntry>> nodes;
    std::vector<std::unique_ptr<Area>> areas;
};

Registry& Reg() {
    static Registry* r = new Registry;  // never destroyed: statics of other files use it
    return *r;
}

const NodeHandler* FindHandler(std::string_view module, uint32_t node) {
    Registry& r = Reg();
    auto it = r.nodes.find(node);
    if (it == r.nodes.end())
        return nullptr;
    for (const auto& e : it->second)
        if (e.module == module)
            return &e.handler;
    return nullptr;
}

}  // namespace

void RegisterNode(std::string module, uint32_t node, NodeHandler handler) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> g(r.mu);
    auto& v = r.nodes[node];
    for (auto& e : v)
        if (e.module == module) {
            e.handler = std::move(handler);
            return;
        }
    v.push_back({std::move(module), std::move(handler)});
}

void RegisterArea(Area area) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> g(r.mu);
    for (auto& a : r.areas)
        if (a->name == area.name) {
            *a = std::move(area);
            return;
        }
    r.areas.push_back(std::make_unique<Area>(std::move(area)));
}

std::vector<const Area*> Areas() {
    Registry& r = Reg();
    std::lock_guard<std::mutex> g(r.mu);
    std::vector<const Area*> out;
    for (auto& a : r.areas)
        out.push_back(a.get());
    std::stable_sort(out.begin(), out.end(), [](const Area* a, const Area* b) {
        return a->order != b->order ? a->order < b->order : a->name < b->name;
    });
    return out;
}

void RaiseEvent(const std::string& text) {
    TarnCtl::Lib::RaiseKernelEvent(text);
}

std::string NodeName(uint32_t node) {
    if (const KsiNodeEntry* e = KsiNodeById(node))
        return e->name;
    return HostCtl::Misc::StrPrintf("0x%x", node);
}

bool ResolveNode(const std::string& text, uint32_t* node) {
    unsigned count = 0;
    const KsiNodeEntry* table = KsiNodeTable(&count);
    for (unsigned i = 0; i < count; ++i)
        if (text == table[i].name || text == table[i].path) {
            *node = table[i].id;
            return true;
        }
    std::string t = text;
    if (HostCtl::Misc::StartsWith(t, "KSI_NODE_"))
        return ResolveNode(t.substr(9), node);
    if (!t.empty() && std::isdigit(static_cast<unsigned char>(t[0]))) {
        char* end = nullptr;
        unsigned long v = std::strtoul(t.c_str(), &end, 0);
        if (*end == '\0' && v <= 0xffffffffUL) {
            *node = static_cast<uint32_t>(v);
            return true;
        }
    }
    return false;
}

// ---- The running kernel of this process ------------------------------------------------

namespace {

std::atomic<bool> gForked{false};

class Kernel {
public:
    Kernel() {
        pthread_atfork(nullptr, nullptr, [] { gForked.store(true); });
    }

    std::mutex mu;
    KernelState::Data data;
    KernelState state{&data};

    // Makes the files of the current root ready and the in-memory copy
    // current. Called with `mu` held.
    void Sync() {
        Open();
        if (loaded_ && Generation() == data.generation)
            return;
        Lock(LOCK_SH);
        bool ok = RefreshLocked();
        Unlock();
        if (!ok) {
            // No kernel yet under this root: boot it from the host's profile.
            Lock(LOCK_EX);
            if (!RefreshLocked()) {
                data.journaling = false;
                InitFromProfile(state, Profile::CurrentProfile(), false);
                PersistLocked();
            }
            Unlock();
        }
    }

    // Like Sync, but a root without a kernel stays without one; false then.
    bool SyncIfExists() {
        Open();
        if (loaded_ && Generation() == data.generation)
            return true;
        // Every store write asks: a root still without a kernel since the last
        // look (no process moved the counter) needs no lock and no file read.
        if (!loaded_ && absentSeen_ && Generation() == absentGen_)
            return false;
        Lock(LOCK_SH);
        bool ok = RefreshLocked();
        Unlock();
        absentSeen_ = !ok;
        absentGen_ = Generation();
        return ok;
    }

    // Runs `fn` as one state-changing call: under the exclusive lock, on the
    // newest state; failure (status or exception) undoes what `fn` changed.
    template <typename Fn>
    TARN_ReturnStatus Exclusive(Fn&& fn) {
        // A handler calling back into the kernel joins the call it runs in.
        if (exclusiveDepth_ > 0)
            return fn();
        Sync();
        Lock(LOCK_EX);
        ++exclusiveDepth_;
        struct Unlocker {
            Kernel* k;
            ~Unlocker() {
                // Records written out of order are laid out in order again
                // while no handler holds a view of them.
                k->data.records.Tidy();
                k->data.journaling = false;
                k->data.undo.clear();
                k->data.fullRewrite = false;
                k->data.faultsChanged = false;
                k->faultFired_ = false;
                --k->exclusiveDepth_;
                k->Unlock();
            }
        } unlocker{this};
        if (!RefreshLocked())
            return TARN_FAILURE;
        data.dirty = false;
        data.fullRewrite = false;
        data.faultsChanged = false;
        data.undo.clear();
        data.journaling = true;
        faultFired_ = false;
        TARN_ReturnStatus st;
        try {
            st = fn();
        } catch (...) {
            Undo();
            throw;
        }
        if (st != TARN_OK) {
            Undo();
            // A consumed fault must stay consumed for the next process too.
            if (faultFired_) {
                data.faultsChanged = true;
                PersistLocked();
            }
        } else if (data.dirty || data.faultsChanged) {
            PersistLocked();
        }
        return st;
    }

    // Counts the call against every matching kernel fault and fires the
    // oldest one whose skip is used up; true (and *status) when one fires.
    // Only inside Exclusive.
    bool TakeFault(std::string_view module, uint32_t node, KernelOp op,
                   const std::vector<KSI_Param>& instance, TARN_ReturnStatus* status) {
        bool fired = false;
        std::string path;
        bool havePath = false;
        for (auto it = data.faults.begin(); it != data.faults.end();) {
            if (!Matches(*it, module, node, op)) {
                ++it;
                continue;
            }
            if (!it->instance.empty()) {
                if (!havePath) {
                    path = JoinInstance(instance);
                    havePath = true;
                }
                if (it->instance != path) {
                    ++it;
                    continue;
                }
            }
            data.faultsChanged = true;
            faultFired_ = true;  // a counted call must stay counted even when the call fails
            if (it->skip > 0) {
                --it->skip;
                ++it;
            } else if (!fired) {
                fired = true;
                *status = it->status;
                if (--it->count == 0)
                    it = data.faults.erase(it);
                else
                    ++it;
            } else {
                ++it;
            }
        }
        return fired;
    }

    bool MayFault(std::string_view module, uint32_t node, KernelOp op) const {
        for (const auto& f : data.faults)
            if (Matches(f, module, node, op))
                return true;
        return false;
    }

    static bool Matches(const Fault& f, std::string_view module, uint32_t node, KernelOp op) {
        return f.node == node && f.module == module && (f.op == KernelOp::Any || f.op == op);
    }

    static std::string JoinInstance(const std::vector<KSI_Param>& instance) {
        std::string s;
        for (size_t i = 0; i < instance.size(); ++i) {
            if (i)
                s.push_back('/');
            s += instance[i].AsText();
        }
        return s;
    }

private:
    // Shared counters in kernel.gen: the newest generation, and the generation
    // of the newest snapshot (a reader whose snapshot is older reloads fully;
    // otherwise it only replays the log).
    struct Shared {
        std::atomic<uint64_t> generation;
        std::atomic<uint64_t> snapshot;
    };
    // The log is folded into a new snapshot once it outgrows this (or the snapshot).
    static constexpr size_t kMinCompact = 256 * 1024;

    std::string root_;
    std::string statePath_, logPath_, lockPath_;
    int lockFd_ = -1;
    int lockDepth_ = 0;
    Shared* shared_ = nullptr;
    void* genMap_ = nullptr;
    bool loaded_ = false;
    bool absentSeen_ = false;  // SyncIfExists found no kernel at counter absentGen_
    uint64_t absentGen_ = 0;
    bool faultFired_ = false;
    int exclusiveDepth_ = 0;
    uint64_t snapshotGen_ = 0;
    size_t snapshotBytes_ = 0;
    size_t logOffset_ = 0;  // end of the log entries applied so far

    uint64_t Generation() const { return shared_->generation.load(std::memory_order_acquire); }

    void Open() {
        bool forked = gForked.exchange(false);
        const std::string& root = Platform::HostRoot();
        if (!forked && lockFd_ >= 0 && root == root_)
            return;
        Close();
        std::string dir = Platform::HostPath("/var/lib/tarnsim");
        for (size_t p = 1; p <= dir.size(); ++p)
            if (p == dir.size() || dir[p] == '/')
                ::mkdir(dir.substr(0, p).c_str(), 0755);
        statePath_ = dir + "/kernel.state";
        logPath_ = dir + "/kernel.log";
        lockPath_ = dir + "/kernel.lock";
        // After fork the descriptor would share the parent's flock: open our own.
        lockFd_ = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        int genFd = ::open((dir + "/kernel.gen").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lockFd_ < 0 || genFd < 0) {
            if (genFd >= 0)
                ::close(genFd);
            throw HostCtl::Lib::HostCtlException("Unable to open the simulated kernel under " + dir);
        }
        struct stat st {};
        if (::fstat(genFd, &st) == 0 && st.st_size < 4096)
            (void)!::ftruncate(genFd, 4096);
        genMap_ = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, genFd, 0);
        ::close(genFd);
        if (genMap_ == MAP_FAILED) {
            genMap_ = nullptr;
            throw HostCtl::Lib::HostCtlException("Unable to map the simulated kernel counter");
        }
        shared_ = static_cast<Shared*>(genMap_);
        root_ = root;
        loaded_ = false;
        absentSeen_ = false;
        data = KernelState::Data();
    }

    void Close() {
        if (genMap_)
            ::munmap(genMap_, 4096);
        genMap_ = nullptr;
        shared_ = nullptr;
        if (lockFd_ >= 0)
            ::close(lockFd_);
        lockFd_ = -1;
        lockDepth_ = 0;
        loaded_ = false;
    }

    void Lock(int how) {
        // Nested use (a profile area calling back into the kernel) keeps the outer lock.
        if (lockDepth_++ == 0)
            while (::flock(lockFd_, how) != 0 && errno == EINTR) {
            }
    }
    void Unlock() {
        if (--lockDepth_ == 0)
            ::flock(lockFd_, LOCK_UN);
    }

    static bool ReadAll(const std::string& path, size_t offset, std::string* out) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        struct stat st {};
        out->clear();
        if (::fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) > offset)
            out->resize(static_cast<size_t>(st.st_size) - offset);
        size_t got = 0;
        while (got < out->size()) {
            ssize_t n = ::pread(fd, out->data() + got, out->size() - got,
                                static_cast<off_t>(offset + got));
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        ::close(fd);
        out->resize(got);
        return true;
    }

    // Brings the copy up to the files (under a flock): replays new log
    // entries, or reloads everything after a new snapshot. False when there
    // is no readable kernel state.
    bool RefreshLocked() {
        if (loaded_ && Generation() == data.generation)
            return true;
        if (!loaded_ || shared_->snapshot.load(std::memory_order_acquire) != snapshotGen_) {
            std::string bytes;
            if (!ReadAll(statePath_, 0, &bytes))
                return false;
            if (!data.Deserialize(bytes)) {
                TarnCtl_LogWarnInt("%s: Ignoring unreadable kernel state %s\n", "TarnSim",
                                   statePath_.c_str());
                return false;
            }
            snapshotGen_ = data.generation;
            snapshotBytes_ = bytes.size();
            logOffset_ = 0;
            if (shared_->snapshot.load() < snapshotGen_)
                shared_->snapshot.store(snapshotGen_);
        }
        ReplayLog();
        data.records.Tidy();
        // A counter behind the files (a fresh mapping) is moved up to them.
        if (Generation() < data.generation)
            shared_->generation.store(data.generation, std::memory_order_release);
        loaded_ = true;
        return true;
    }

    // Log entry: u32 payload length, u64 generation, payload.
    void ReplayLog() {
        std::string bytes;
        if (!ReadAll(logPath_, logOffset_, &bytes))
            return;
        size_t pos = 0;
        while (pos + 12 <= bytes.size()) {
            uint32_t len;
            uint64_t gen;
            std::memcpy(&len, bytes.data() + pos, 4);
            std::memcpy(&gen, bytes.data() + pos + 4, 8);
            if (pos + 12 + len > bytes.size())
                break;  // a torn tail of a writer that died; the next writer cuts it
            if (gen > data.generation) {
                if (!data.ApplyChanges(bytes.substr(pos + 12, len)))
                    break;
                data.generation = gen;
            }
            pos += 12 + len;
        }
        logOffset_ += pos;
        data.dirty = false;
    }

    // After a failed call: put the state back as it was.
    void Undo() {
        if (data.fullRewrite) {
            // Wholesale changes have no undo journal: reread the files.
            loaded_ = false;
            RefreshLocked();
        } else {
            data.Rollback();
        }
    }

    void PersistLocked() {
        // A snapshot then carries every node in order to the processes that load it.
        data.records.Tidy();
        uint64_t gen = std::max(Generation(), data.generation) + 1;
        if (data.fullRewrite || !data.journaling || logOffset_ > std::max(kMinCompact, snapshotBytes_)) {
            WriteSnapshot(gen);
        } else {
            std::string payload = data.EncodeChanges();
            std::string entry;
            uint32_t len = static_cast<uint32_t>(payload.size());
            entry.append(reinterpret_cast<const char*>(&len), 4);
            entry.append(reinterpret_cast<const char*>(&gen), 8);
            entry += payload;
            int fd = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            bool ok = fd >= 0 && ::ftruncate(fd, static_cast<off_t>(logOffset_)) == 0 &&
                      ::pwrite(fd, entry.data(), entry.size(), static_cast<off_t>(logOffset_)) ==
                          static_cast<ssize_t>(entry.size());
            if (fd >= 0)
                ::close(fd);
            if (!ok)
                throw HostCtl::Lib::HostCtlException("Unable to write the simulated kernel log " +
                                                     logPath_);
            logOffset_ += entry.size();
            data.generation = gen;
        }
        shared_->generation.store(gen, std::memory_order_release);
        data.dirty = false;
        data.faultsChanged = false;
        data.fullRewrite = false;
        data.undo.clear();
        loaded_ = true;
    }

    void WriteSnapshot(uint64_t gen) {
        data.generation = gen;
        std::string bytes = data.Serialize();
        std::string tmp = statePath_ + ".tmp." + std::to_string(::getpid());
        int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        bool ok = fd >= 0;
        size_t done = 0;
        while (ok && done < bytes.size()) {
            ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                ok = false;
            else
                done += static_cast<size_t>(n);
        }
        if (fd >= 0)
            ::close(fd);
        if (!ok || ::rename(tmp.c_str(), statePath_.c_str()) != 0) {
            ::unlink(tmp.c_str());
            throw HostCtl::Lib::HostCtlException("Unable to write the simulated kernel state " +
                                                 statePath_);
        }
        // Entries of the old log are all older than the snapshot; drop them.
        (void)!::truncate(logPath_.c_str(), 0);
        logOffset_ = 0;
        snapshotGen_ = gen;
        snapshotBytes_ = bytes.size();
        shared_->snapshot.store(gen, std::memory_order_release);
    }
};

Kernel& K() {
    static Kernel* k = new Kernel;
    return *k;
}

// Calls from kernel handlers back into the kernel (a handler reading another
// node through Sysinfo) must not deadlock on the process mutex.
thread_local int tDepth = 0;
struct Guard {
    std::unique_lock<std::mutex> lock;
    Guard() {
        if (tDepth++ == 0)
            lock = std::unique_lock<std::mutex>(K().mu);
    }
    ~Guard() { --tDepth; }
};

InstancePath ToPath(const std::vector<KSI_Param>& instance) {
    InstancePath p;
    p.reserve(instance.size());
    for (const auto& k : instance)
        p.push_back(k.AsText());
    return p;
}

// Plain record read of the exact instance path.
TARN_ReturnStatus ReadRecord(KernelState::Data& d, std::string_view module, uint32_t node,
                             const std::vector<KSI_Param>& instance, void* buffer,
                             unsigned int length) {
    std::string_view value;
    const ReadKey key(module, node, instance);
    if (!d.records.Find(key.Prefix(), key.Tail(), &value))
        return TARN_NOT_FOUND;
    size_t n = std::min<size_t>(length, value.size());
    if (n)
        std::memcpy(buffer, value.data(), n);
    if (n < length)
        std::memset(static_cast<char*>(buffer) + n, 0, length - n);
    return TARN_OK;
}

// A template, not a std::function: the closures capture more than fits in
// std::function's inline buffer, and every read would allocate one.
template <typename Fn>
TARN_ReturnStatus Guarded(const char* what, Fn&& fn) {
    try {
        return fn();
    } catch (const std::exception& e) {
        TarnCtl_LogErrorInt("%s: %s failed in the simulation: %s\n", "TarnSim", what, e.what());
        return TARN_FAILURE;
    }
}

class SimKernelBackend : public Platform::Kernel::Backend {
public:
    TARN_ReturnStatus Get(const char* module, uint32_t node, const std::vector<KSI_Param>& instance,
                          const std::vector<KSI_Param>& inputs, void* buffer,
                          unsigned int length) override {
        std::string_view mod = module ? module : "";
        Guard g;
        Kernel& k = K();
        return Guarded("Get", [&]() -> TARN_ReturnStatus {
            k.Sync();
            const NodeHandler* h = FindHandler(mod, node);
            bool exclusive = (h && h->getChangesState) || k.MayFault(mod, node, KernelOp::Get);
            if (!exclusive) {
                if (!h || !h->get)
                    return ReadRecord(k.data, mod, node, instance, buffer, length);
                Call c{mod, node, ToPath(instance), inputs, k.state};
                return h->get(c, buffer, length);
            }
            return k.Exclusive([&]() -> TARN_ReturnStatus {
                TARN_ReturnStatus st;
                if (k.TakeFault(mod, node, KernelOp::Get, instance, &st))
                    return st;
                if (!h || !h->get)
                    return ReadRecord(k.data, mod, node, instance, buffer, length);
                Call c{mod, node, ToPath(instance), inputs, k.state};
                return h->get(c, buffer, length);
            });
        });
    }

    TARN_ReturnStatus Set(const char* module, uint32_t node, const std::vector<KSI_Param>& instance,
                          const std::vector<KSI_Param>& inputs) override {
        std::string_view mod = module ? module : "";
        Guard g;
        Kernel& k = K();
        return Guarded("Set", [&] {
            return k.Exclusive([&]() -> TARN_ReturnStatus {
                TARN_ReturnStatus st;
                if (k.TakeFault(mod, node, KernelOp::Set, instance, &st))
                    return st;
                const NodeHandler* h = FindHandler(mod, node);
                if (!h || !h->set)
                    return TARN_NOT_SUPPORTED;
                Call c{mod, node, ToPath(instance), inputs, k.state};
                return h->set(c);
            });
        });
    }

    TARN_ReturnStatus SetStruct(const char* module, uint32_t node,
                                const std::vector<KSI_Param>& instance, const void* buffer,
                                unsigned int length) override {
        std::string_view mod = module ? module : "";
        if (!buffer && length)
            return TARN_BAD_PARAM;
        Guard g;
        Kernel& k = K();
        static const std::vector<KSI_Param> noInputs;
        return Guarded("SetStruct", [&] {
            return k.Exclusive([&]() -> TARN_ReturnStatus {
                TARN_ReturnStatus st;
                if (k.TakeFault(mod, node, KernelOp::Set, instance, &st))
                    return st;
                const NodeHandler* h = FindHandler(mod, node);
                Call c{mod, node, ToPath(instance), noInputs, k.state};
                if (!h || !h->setStruct) {
                    k.state.Write(mod, node, c.instance, buffer, length);
                    return TARN_OK;
                }
                return h->setStruct(c, buffer, length);
            });
        });
    }

    TARN_ReturnStatus List(const char* module, uint32_t node, const std::vector<KSI_Param>& instance,
                           std::vector<KSI_Param>* out) override {
        return ListKeys(module, node, instance, out);
    }

    // The same keys as text, copied once from the level into the caller's strings.
    TARN_ReturnStatus ListNames(const char* module, uint32_t node, const std::vector<KSI_Param>& instance,
                                std::vector<std::string>* out) override {
        return ListKeys(module, node, instance, out);
    }

    TARN_ReturnStatus HasInstance(const char* module, uint32_t node, const std::vector<KSI_Param>& instance,
                                  std::string_view key, bool* found) override {
        std::string_view mod = module ? module : "";
        if (!found)
            return TARN_BAD_PARAM;
        *found = false;
        {
            Guard g;
            Kernel& k = K();
            std::optional<TARN_ReturnStatus> answer;
            TARN_ReturnStatus st = Guarded("HasInstance", [&]() -> TARN_ReturnStatus {
                k.Sync();
                const NodeHandler* h = FindHandler(mod, node);
                // A listing handler or a fault on listing decides through List.
                if ((h && h->list) || k.MayFault(mod, node, KernelOp::List))
                    return TARN_OK;
                const Level* level = k.data.LevelOf(mod, node, ToPath(instance));
                *found = level && level->Contains(std::string(key));
                answer = TARN_OK;
                return TARN_OK;
            });
            if (answer || st != TARN_OK)
                return st;
        }
        return Backend::HasInstance(module, node, instance, key, found);
    }

private:
    static void PutKeys(const std::vector<std::string_view>& keys, std::vector<KSI_Param>* out) {
        out->clear();
        out->resize(keys.size());
        for (size_t i = 0; i < keys.size(); ++i)
            (*out)[i].text.assign(keys[i]);
    }
    static void PutKeys(const std::vector<std::string_view>& keys, std::vector<std::string>* out) {
        out->assign(keys.begin(), keys.end());
    }
    static void PutKeys(std::vector<std::string>&& keys, std::vector<KSI_Param>* out) {
        out->clear();
        out->resize(keys.size());
        for (size_t i = 0; i < keys.size(); ++i)
            (*out)[i].text = std::move(keys[i]);
    }
    static void PutKeys(std::vector<std::string>&& keys, std::vector<std::string>* out) { *out = std::move(keys); }

    static inline const std::vector<std::string_view> kNoKeys;

    // List and ListNames: one walk, the keys put into either kind of list.
    template <class Out>
    TARN_ReturnStatus ListKeys(const char* module, uint32_t node, const std::vector<KSI_Param>& instance, Out* out) {
        std::string_view mod = module ? module : "";
        if (!out)
            return TARN_BAD_PARAM;
        Guard g;
        Kernel& k = K();
        static const std::vector<KSI_Param> noInputs;
        auto run = [&]() -> TARN_ReturnStatus {
            const NodeHandler* h = FindHandler(mod, node);
            if (!h || !h->list) {
                // Plain listing: straight from the level's keys, one copy each.
                const Level* level = k.data.LevelOf(mod, node, ToPath(instance));
                PutKeys(level ? level->Keys() : kNoKeys, out);
                return TARN_OK;
            }
            Call c{mod, node, ToPath(instance), noInputs, k.state};
            std::vector<std::string> keys;
            TARN_ReturnStatus st = h->list(c, &keys);
            if (st == TARN_OK)
                PutKeys(std::move(keys), out);
            return st;
        };
        return Guarded("List", [&]() -> TARN_ReturnStatus {
            k.Sync();
            if (!k.MayFault(mod, node, KernelOp::List))
                return run();
            return k.Exclusive([&]() -> TARN_ReturnStatus {
                TARN_ReturnStatus st;
                if (k.TakeFault(mod, node, KernelOp::List, instance, &st))
                    return st;
                return run();
            });
        });
    }
};

}  // namespace

Platform::Kernel::Backend& SimBackend() {
    static SimKernelBackend* b = new SimKernelBackend;
    return *b;
}

namespace {
// The simulation is the host's kernel as soon as the library is loaded.
const bool gRegistered = (Platform::Kernel::RegisterDefaultBackend(&SimBackend()), true);
}  // namespace

void RunExclusive(const std::function<void(KernelState&)>& fn) {
    Guard g;
    Kernel& k = K();
    k.Exclusive([&] {
        fn(k.state);
        return TARN_OK;
    });
}

void WithState(const std::function<void(KernelState&)>& fn, bool changes) {
    if (changes) {
        RunExclusive(fn);
        return;
    }
    Guard g;
    Kernel& k = K();
    k.Sync();
    fn(k.state);
}

bool WithExistingState(const std::function<void(KernelState&)>& fn) {
    Guard g;
    if (!K().SyncIfExists())
        return false;
    fn(K().state);
    return true;
}

}  // namespace TarnSim
