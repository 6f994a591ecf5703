// The configuration store on SQLite (WAL, synchronous=FULL so a commit is
// durable) at /var/lib/configstore/store.db under the host root. One store per
// process and root; several processes share the database through SQLite's
// locking (busy timeout; BEGIN IMMEDIATE for transactions so writers queue
// instead of failing on lock upgrade).
#include <pthread.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <mutex>

#include "platform/configstore.h"
#include "platform/boot.h"
#include "platform/faultpoint.h"
#include "platform/hostroot.h"
#include "platform/log.h"
#include "platform/misc.h"

namespace HaldenConfigStore {

ConfigStore::~ConfigStore() = default;

namespace {

constexpr const char* kDbPath = "/var/lib/configstore/store.db";

// Bumped in a forked child: a SQLite connection must not cross fork().
std::atomic<unsigned> gForkGeneration{0};
const bool gAtFork = [] {
    pthread_atfork(nullptr, nullptr, [] { gForkGeneration.fetch_add(1); });
    return true;
}();

void CheckId(const ConfigStoreObjectId& id, const char* what) {
    const char* missing = id.GetComponent().empty() ? "component"
                          : id.GetGroup().empty()   ? "group"
                          : id.GetKey().empty()     ? "key"
                                                    : nullptr;
    if (missing)
        throw InvalidArgumentException(HostCtl::Misc::StrPrintf(
            "Invalid object id '%s' for %s: empty %s", id.ToString().c_str(), what, missing));
}

class Statement {
public:
    Statement() = default;
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &_s, nullptr) != SQLITE_OK)
            throw ConfigStoreException(std::string("Unable to prepare a store query: ") +
                                       sqlite3_errmsg(db));
    }
    ~Statement() {
        if (_s)
            sqlite3_finalize(_s);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(Statement&& o) noexcept {
        std::swap(_s, o._s);
        return *this;
    }
    // Drops the handle without finalising it (after fork the parent owns it).
    void Abandon() { _s = nullptr; }
    sqlite3_stmt* get() { return _s; }

private:
    sqlite3_stmt* _s = nullptr;
};

class SqliteStore : public ConfigStore {
public:
    explicit SqliteStore(std::string root) : _root(std::move(root)) { Open(); }
    ~SqliteStore() override { CloseDb(); }

    const std::string& Root() const { return _root; }

    std::shared_ptr<ConfigStoreObject> Get(const ConfigStoreObjectId& id) override {
        CheckId(id, "get");
        std::lock_guard<std::recursive_mutex> g(_mu);
        Ready();
        return GetFrom(_getObj, id);
    }

    void Write(const std::shared_ptr<ConfigStoreObject>& object, int flag) override {
        if (!object)
            throw InvalidArgumentException("Invalid object for write: no object");
        const auto& id = object->GetConfigStoreObjectId();
        CheckId(id, "write");
        if (flag != 0 && flag != kBootApplied)
            throw InvalidArgumentException(HostCtl::Misc::StrPrintf(
                "Invalid write flag %d for %s", flag, id.ToString().c_str()));
        std::string data = object->GetStoredData();
        std::lock_guard<std::recursive_mutex> g(_mu);
        Ready();
        InjectedWriteFault("write " + id.ToString());
        if (flag == kBootApplied) {
            // Object and status together, or neither.
            Begin();
            try {
                Upsert(_putObj, id, data, "write " + id.ToString());
                PutStatus(id, true);
            } catch (...) {
                Rollback();
                throw;
            }
            Commit();
            return;
        }
        Upsert(_putObj, id, data, "write " + id.ToString());
    }

    void Delete(const ConfigStoreObjectId& id) override {
        CheckId(id, "delete");
        std::lock_guard<std::recursive_mutex> g(_mu);
        Ready();
        InjectedWriteFault("delete " + id.ToString());
        sqlite3_stmt* s = id.HasInstanceId() ? _delOne.get() : _delAll.get();
        Bind(s, id, id.HasInstanceId());
        Step(s, "delete " + id.ToString());
    }

    std::vector<std::shared_ptr<ConfigStoreObject>> List(
        const std::shared_ptr<FilterSpecObject>& filter) override {
        if (!filter)
            throw InvalidArgumentException("Invalid filter: no filter");
        const auto& fid = filter->GetConfigStoreObjectId();
        if (fid.GetComponent().empty() || fid.GetGroup().empty())
            throw InvalidArgumentException("Invalid filter '" + fid.ToString() +
                                           "': empty component or group");
        std::lock_guard<std::recursive_mutex> g(_mu);
        Ready();
        sqlite3_stmt* s = _list.get();
        sqlite3_reset(s);
        sqlite3_bind_text(s, 1, fid.GetComponent().c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 2, fid.GetGroup().c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 3, fid.GetKey().c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 4, fid.GetInstanceId().c_str(), -1, SQLITE_TRANSIENT);
        std::vector<std::shared_ptr<ConfigStoreObject>> out;
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            ConfigStoreObjectId id(Text(s, 0), fid.GetGroup(), fid.GetComponent(), Text(s, 1));
            auto obj = ParseRow(id, Text(s, 2));
            if (obj && filter->Matches(*obj))
                out.push_back(std::move(obj));
        }
        Done(s, rc, "list " + fid.ToString());
        return out;
    }

    std::vector<ConfigStoreObjectId> ListIds(const std::string& group) override {
        std::lock_guard<std::recursive_mutex> g(_mu);
        Ready();
        sqlite3_stmt* s = _listIds.get();
        sqlite3_reset(s);
        sqlite3_bind_text(s, 1, group.c_str(), -1, SQLITE_TRANSIENT);
        std::vector<ConfigStoreObjectId> out;
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW)
            out.emplace_back(Text(s, 2), Text(s, 1), Text(s, 0), Text(s, 3));
        Done(s, rc, "list ids");
        return out;
    }

    // Boot mode is held by the booting process, not stored (see platform/boot.h).
    bool IsBoot() override { return Platform::Boot::InProgress(); }

    void SetBootMode(bool boot) override {
        if (boot)
            Platform::Boot::BeginBootMode();
        else
            Platform::Boot::EndBootMode();
    }

    std::shared_ptr<ConfigStoreObject> GetDesiredUserConfig(const ConfigStoreObjectId& id,
                                                            int flag) override {
        CheckId(id, "desired configuration");
        std::lock_guard<std::recursive_mutex> g(_mu);
        Ready();
        return GetFrom(_getDesired, id);
    }

    std::vector<std::shared_ptr<ConfigStoreObject>> GetDesiredUserConfigInstances(
        const ConfigStoreObjectId& id, int flag) override {
        CheckId(id, "desired configuration");
        std::lock_guard<std::recursive_mutex> g(_mu);
        Ready();
        sqlite3_stmt* s = _listDesired.get();
        Bind(s, id, false);
        std::vector<std::shared_ptr<ConfigStoreObject>> out;
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            ConfigStoreObjectId oid(id.GetKey(), id.GetGroup(), id.GetComponent(), Text(s, 0));
            if (auto o = ParseRow(oid, Text(s, 1)))
                out.push_back(std::move(o));
        }
        Done(s, rc, "list desired " + id.ToString());
        return out;
    }

    void SetDesiredUserConfig(const std::shared_ptr<ConfigStoreObject>& object) override {
        if (!object)
            throw InvalidArgumentException("Invalid desired configuration: no object");
        const auto& id = object->GetConfigStoreObjectId();
        CheckId(id, "desired configuration");
        std::string data = object->GetStoredData();
        std::lock_guard<std::recursive_mutex> g(_mu);
        Ready();
        Upsert(_putDesired, id, data, "set desired " + id.ToString());
    }

    void ClearDesiredUserConfig(const ConfigStoreObjectId& id) override {
        CheckId(id, "desired configuration");
        std::lock_guard<std::recursive_mutex> g(_mu);
        Ready();
        sqlite3_stmt* s = id.HasInstanceId() ? _delDesiredOne.get() : _delDesiredAll.get();
        Bind(s, id, id.HasInstanceId());
        Step(s, "clear desired " + id.ToString());
    }

    void SetBootStatus(const ConfigStoreObjectId& id, bool applied) override {
        CheckId(id, "boot status");
        std::lock_guard<std::recursive_mutex> g(_mu);
        Ready();
        PutStatus(id, applied);
    }

    std::optional<bool> GetBootStatus(const ConfigStoreObjectId& id) override {
        CheckId(id, "boot status");
        std::lock_guard<std::recursive_mutex> g(_mu);
        Ready();
        sqlite3_stmt* s = _getStatus.get();
        Bind(s, id, true);
        std::optional<bool> out;
        int rc = sqlite3_step(s);
        if (rc == SQLITE_ROW) {
            out = sqlite3_column_int(s, 0) != 0;
            rc = sqlite3_step(s);
        }
        Done(s, rc, "get boot status " + id.ToString());
        return out;
    }

    // A transaction holds the store's mutex from Begin to its end, so other
    // threads' writes never join it; they wait.
    void Begin() override {
        _mu.lock();
        try {
            Ready();
            if (_depth == 0) {
                Exec("BEGIN IMMEDIATE", "begin a transaction");
                _doomed = false;
            }
            ++_depth;
        } catch (...) {
            _mu.unlock();
            throw;
        }
    }

    void Commit() override {
        if (_depth <= 0)
            throw ConfigStoreException("Unable to commit: no transaction is open");
        struct Release {
            std::recursive_mutex& m;
            ~Release() { m.unlock(); }
        } release{_mu};
        if (--_depth > 0)
            return;
        if (_doomed) {
            Exec("ROLLBACK", "roll back a transaction");
            throw ConfigStoreException(
                "Unable to commit: an inner transaction was abandoned, every write is dropped");
        }
        bool injected = Platform::FaultPoint::Fails(Platform::FaultPoint::Point::StoreCommit);
        int rc = injected ? SQLITE_IOERR : sqlite3_exec(_db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            std::string msg = injected ? "injected fault" : sqlite3_errmsg(_db);
            sqlite3_exec(_db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw ConfigStoreException("Unable to commit the store transaction: " + msg);
        }
    }

    void Rollback() override {
        if (_depth <= 0)
            return;
        struct Release {
            std::recursive_mutex& m;
            ~Release() { m.unlock(); }
        } release{_mu};
        _doomed = true;
        if (--_depth == 0)
            sqlite3_exec(_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }

    bool InTransaction() override {
        std::lock_guard<std::recursive_mutex> g(_mu);
        return _depth > 0;
    }

    StoreStamp GetChangeStamp() override {
        std::lock_guard<std::recursive_mutex> g(_mu);
        Ready();
        sqlite3_stmt* s = _dataVersion.get();
        sqlite3_reset(s);
        if (sqlite3_step(s) != SQLITE_ROW) {
            sqlite3_reset(s);
            return {};
        }
        StoreStamp stamp;
        stamp.connection = _connection;
        // Other connections' commits move the data version; this one's
        // changes (committed or not) move its change count.
        stamp.dataVersion = sqlite3_column_int64(s, 0);
        stamp.changes = sqlite3_total_changes64(_db);
        sqlite3_reset(s);
        return stamp;
    }

    void ResetAll() {
        std::lock_guard<std::recursive_mutex> g(_mu);
        Ready();
        Exec("BEGIN IMMEDIATE; DELETE FROM objects; DELETE FROM desired; DELETE FROM bootstatus;"
             " DELETE FROM meta; COMMIT;",
             "reset the store");
    }

private:
    std::string _root;
    std::recursive_mutex _mu;
    sqlite3* _db = nullptr;
    unsigned _forkGen = 0;
    int _depth = 0;
    bool _doomed = false;
    Statement _getObj, _putObj, _delOne, _delAll, _list, _listIds, _getMeta, _putMeta;
    Statement _getDesired, _putDesired, _listDesired, _delDesiredOne, _delDesiredAll;
    Statement _getStatus, _putStatus, _dataVersion;
    uint64_t _connection = 0;  // unique per opened connection in this process

    std::vector<Statement*> All() {
        return {&_getObj,     &_putObj,      &_delOne,        &_delAll,        &_list,
                &_listIds,    &_getMeta,     &_putMeta,       &_getDesired,    &_putDesired,
                &_listDesired, &_delDesiredOne, &_delDesiredAll, &_getStatus, &_putStatus, &_dataVersion};
    }

    void Open() {
        std::string path = Platform::HostPath(kDbPath);
        std::string dir = path.substr(0, path.rfind('/'));
        for (size_t p = 1; p <= dir.size(); ++p)
            if (p == dir.size() || dir[p] == '/')
                ::mkdir(dir.substr(0, p).c_str(), 0755);
        int rc = sqlite3_open_v2(path.c_str(), &_db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
        if (rc != SQLITE_OK) {
            std::string msg = _db ? sqlite3_errmsg(_db) : sqlite3_errstr(rc);
            if (_db)
                sqlite3_close(_db);
            _db = nullptr;
            throw ConfigStoreException("Unable to open the configuration store " + path + ": " + msg);
        }
        sqlite3_busy_timeout(_db, 30000);
        _forkGen = gForkGeneration.load();
        static std::atomic<uint64_t> connections{0};
        _connection = ++connections;
        Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", "configure the store");
        Exec("CREATE TABLE IF NOT EXISTS objects(component TEXT NOT NULL, grp TEXT NOT NULL,"
             " key TEXT NOT NULL, instance TEXT NOT NULL, data TEXT NOT NULL,"
             " PRIMARY KEY(component, grp, key, instance)) WITHOUT ROWID;"
             "CREATE TABLE IF NOT EXISTS desired(component TEXT NOT NULL, grp TEXT NOT NULL,"
             " key TEXT NOT NULL, instance TEXT NOT NULL, data TEXT NOT NULL,"
             " PRIMARY KEY(component, grp, key, instance)) WITHOUT ROWID;"
             "CREATE TABLE IF NOT EXISTS bootstatus(component TEXT NOT NULL, grp TEXT NOT NULL,"
             " key TEXT NOT NULL, instance TEXT NOT NULL, applied INTEGER NOT NULL,"
             " PRIMARY KEY(component, grp, key, instance)) WITHOUT ROWID;"
             "CREATE TABLE IF NOT EXISTS meta(name TEXT PRIMARY KEY, value TEXT NOT NULL);",
             "create the store tables");
        _getObj = Statement(_db, "SELECT data FROM objects WHERE component=?1 AND grp=?2 AND key=?3"
                                 " AND instance=?4");
        _putObj = Statement(_db, "INSERT INTO objects(component, grp, key, instance, data)"
                                 " VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT(component, grp, key,"
                                 " instance) DO UPDATE SET data=excluded.data");
        _delOne = Statement(_db, "DELETE FROM objects WHERE component=?1 AND grp=?2 AND key=?3"
                                 " AND instance=?4");
        _delAll = Statement(_db, "DELETE FROM objects WHERE component=?1 AND grp=?2 AND key=?3");
        _list = Statement(_db, "SELECT key, instance, data FROM objects WHERE component=?1 AND"
                               " grp=?2 AND (?3='' OR key=?3) AND (?4='' OR instance=?4)"
                               " ORDER BY key, instance");
        _listIds = Statement(_db, "SELECT component, grp, key, instance FROM objects WHERE"
                                  " ?1='' OR grp=?1 ORDER BY grp, key, instance");
        _getMeta = Statement(_db, "SELECT value FROM meta WHERE name=?1");
        _putMeta = Statement(_db, "INSERT INTO meta(name, value) VALUES(?1, ?2) ON CONFLICT(name)"
                                  " DO UPDATE SET value=excluded.value");
        _getDesired = Statement(_db, "SELECT data FROM desired WHERE component=?1 AND grp=?2 AND"
                                     " key=?3 AND instance=?4");
        _putDesired = Statement(_db, "INSERT INTO desired(component, grp, key, instance, data)"
                                     " VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT(component, grp, key,"
                                     " instance) DO UPDATE SET data=excluded.data");
        _listDesired = Statement(_db, "SELECT instance, data FROM desired WHERE component=?1 AND"
                                      " grp=?2 AND key=?3 ORDER BY instance");
        _delDesiredOne = Statement(_db, "DELETE FROM desired WHERE component=?1 AND grp=?2 AND"
                                        " key=?3 AND instance=?4");
        _delDesiredAll = Statement(_db, "DELETE FROM desired WHERE component=?1 AND grp=?2 AND key=?3");
        _getStatus = Statement(_db, "SELECT applied FROM bootstatus WHERE component=?1 AND grp=?2"
                                    " AND key=?3 AND instance=?4");
        _dataVersion = Statement(_db, "PRAGMA data_version");
        _putStatus = Statement(_db, "INSERT INTO bootstatus(component, grp, key, instance, applied)"
                                    " VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT(component, grp, key,"
                                    " instance) DO UPDATE SET applied=excluded.applied");
    }

    void CloseDb() {
        for (Statement* s : All())
            *s = Statement();
        if (_db)
            sqlite3_close_v2(_db);
        _db = nullptr;
    }

    // After fork the child leaves the parent's connection alone (closing it
    // could drop the parent's locks) and opens its own.
    void Ready() {
        if (_forkGen == gForkGeneration.load())
            return;
        for (Statement* s : All())
            s->Abandon();
        _db = nullptr;
        _depth = 0;
        Open();
    }

    // A simulated failure of the next change (fault injection in tests).
    static void InjectedWriteFault(const std::string& what) {
        if (Platform::FaultPoint::Fails(Platform::FaultPoint::Point::StoreWrite))
            throw ConfigStoreException("Unable to " + what + ": injected fault");
    }

    void PutStatus(const ConfigStoreObjectId& id, bool applied) {
        sqlite3_stmt* s = _putStatus.get();
        Bind(s, id, true);
        sqlite3_bind_int(s, 5, applied ? 1 : 0);
        Step(s, "set boot status " + id.ToString());
    }

    void Exec(const char* sql, const std::string& what) {
        char* err = nullptr;
        if (sqlite3_exec(_db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
            std::string msg = err ? err : sqlite3_errmsg(_db);
            sqlite3_free(err);
            throw ConfigStoreException("Unable to " + what + ": " + msg);
        }
    }

    static std::string Text(sqlite3_stmt* s, int col) {
        const unsigned char* t = sqlite3_column_text(s, col);
        return t ? std::string(reinterpret_cast<const char*>(t),
                               static_cast<size_t>(sqlite3_column_bytes(s, col)))
                 : std::string();
    }

    static void Bind(sqlite3_stmt* s, const ConfigStoreObjectId& id, bool withInstance) {
        sqlite3_reset(s);
        sqlite3_bind_text(s, 1, id.GetComponent().c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 2, id.GetGroup().c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 3, id.GetKey().c_str(), -1, SQLITE_TRANSIENT);
        if (withInstance)
            sqlite3_bind_text(s, 4, id.GetInstanceId().c_str(), -1, SQLITE_TRANSIENT);
    }

    void Done(sqlite3_stmt* s, int rc, const std::string& what) {
        sqlite3_reset(s);
        if (rc != SQLITE_DONE)
            throw ConfigStoreException("Unable to " + what + ": " + sqlite3_errmsg(_db));
    }

    void Step(sqlite3_stmt* s, const std::string& what) { Done(s, sqlite3_step(s), what); }

    void Upsert(Statement& st, const ConfigStoreObjectId& id, const std::string& data,
                const std::string& what) {
        sqlite3_stmt* s = st.get();
        Bind(s, id, true);
        sqlite3_bind_text(s, 5, data.c_str(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
        Step(s, what);
    }

    std::shared_ptr<ConfigStoreObject> GetFrom(Statement& st, const ConfigStoreObjectId& id) {
        sqlite3_stmt* s = st.get();
        Bind(s, id, true);
        std::shared_ptr<ConfigStoreObject> out;
        int rc = sqlite3_step(s);
        if (rc == SQLITE_ROW) {
            out = ParseRow(id, Text(s, 0));
            rc = sqlite3_step(s);
        }
        Done(s, rc, "get " + id.ToString());
        return out;
    }

    static std::shared_ptr<ConfigStoreObject> ParseRow(const ConfigStoreObjectId& id,
                                                       const std::string& data) {
        try {
            return ConfigStoreObject::FromStoredData(id, data);
        } catch (const ConfigStoreException& e) {
            // One damaged object must not hide the others.
            TarnCtl_LogWarnInt("%s: Skipping unreadable object %s: %s\n", "ConfigStore",
                               id.ToString().c_str(), e.what());
            return nullptr;
        }
    }

    std::string Meta(const char* name) {
        sqlite3_stmt* s = _getMeta.get();
        sqlite3_reset(s);
        sqlite3_bind_text(s, 1, name, -1, SQLITE_STATIC);
        std::string out;
        int rc = sqlite3_step(s);
        if (rc == SQLITE_ROW) {
            out = Text(s, 0);
            rc = sqlite3_step(s);
        }
        Done(s, rc, std::string("read ") + name);
        return out;
    }

    void SetMeta(const char* name, const std::string& value) {
        sqlite3_stmt* s = _putMeta.get();
        sqlite3_reset(s);
        sqlite3_bind_text(s, 1, name, -1, SQLITE_STATIC);
        sqlite3_bind_text(s, 2, value.c_str(), -1, SQLITE_TRANSIENT);
        Step(s, std::string("set ") + name);
    }
};

std::mutex gStoresMu;
// The store of the current root per namespace; a root change replaces them.
std::map<std::string, std::shared_ptr<SqliteStore>> gStores;

std::shared_ptr<SqliteStore> StoreFor(const std::string& ns) {
    const std::string root = Platform::HostRoot();
    std::lock_guard<std::mutex> g(gStoresMu);
    auto it = gStores.find(ns);
    if (it != gStores.end() && it->second->Root() == root)
        return it->second;
    for (auto i = gStores.begin(); i != gStores.end();)
        i = i->second->Root() == root ? std::next(i) : gStores.erase(i);
    auto store = std::make_shared<SqliteStore>(root);
    gStores[ns] = store;
    return store;
}

}  // namespace

std::shared_ptr<ConfigStore> ConfigStore::GetStore(const std::string& ns) {
    // Every namespace shares the host's one database; the name only picks the instance.
    return StoreFor(ns);
}

int BootWriteFlag(const ConfigStoreObjectId& id, bool booting) {
    if (!booting)
        return 0;
    bool ownRestore = id.GetGroup() == "network_vss" || id.GetKey() == "tarnnics" ||
                      id.GetKey() == "net_stacks";
    return ownRestore ? 0 : ConfigStore::kBootApplied;
}

BootAwareTransaction::BootAwareTransaction(const std::shared_ptr<ConfigStore>& store, bool booting) {
    if (!store)
        throw InvalidArgumentException("Invalid transaction: no store");
    if (!booting)
        _tx.emplace(store);
}

BootAwareTransaction::BootAwareTransaction(const std::shared_ptr<ConfigStore>& store)
    : BootAwareTransaction(store, store && store->IsBoot()) {}

void BootAwareTransaction::Commit() {
    if (_tx)
        _tx->Commit();
}

void ResetStore() {
    StoreFor(sGlobalNamespace)->ResetAll();
}

ConfigStoreTransaction::ConfigStoreTransaction(std::shared_ptr<ConfigStore> store)
    : _store(std::move(store)) {
    if (!_store)
        throw InvalidArgumentException("Invalid transaction: no store");
    _store->Begin();
}

ConfigStoreTransaction::~ConfigStoreTransaction() {
    if (!_done)
        _store->Rollback();
}

void ConfigStoreTransaction::Commit() {
    if (_done)
        throw ConfigStoreException("Unable to commit: the transaction has already ended");
    _done = true;
    _store->Commit();
}

}  // namespace HaldenConfigStore
