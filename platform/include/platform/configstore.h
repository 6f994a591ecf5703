// The host's persistent configuration store. Objects are named by component
// ("halden"), group, key and an optional instance id, and hold typed fields,
// string lists and nested sub-objects (JSON-shaped). The stand-in keeps them in
// SQLite (WAL) at /var/lib/configstore/store.db under the host root; several
// processes may use it at once. All calls are safe from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "hostctl/exception.h"

namespace HaldenConfigStore {

extern const std::string sGlobalNamespace;

class ConfigStoreException : public HostCtl::Lib::HostCtlException {
public:
    using HostCtl::Lib::HostCtlException::HostCtlException;
    std::string toString() const { return what(); }
};

class InvalidArgumentException : public ConfigStoreException {
public:
    using ConfigStoreException::ConfigStoreException;
};

class ConfigStoreObjectId {
public:
    ConfigStoreObjectId(std::string key, std::string group, std::string component);
    ConfigStoreObjectId(std::string key, std::string group, std::string component,
                        std::string instanceId);
    const std::string& GetKey() const { return _key; }
    const std::string& GetGroup() const { return _group; }
    const std::string& GetComponent() const { return _component; }
    const std::string& GetInstanceId() const { return _instanceId; }
    bool HasInstanceId() const { return !_instanceId.empty(); }
    void SetInstanceId(std::string instanceId) { _instanceId = std::move(instanceId); }
    // "component/group/key" or "component/group/key/instance".
    std::string ToString() const;
    bool operator==(const ConfigStoreObjectId& o) const;
    // A fresh id, unique across processes and reboots (UUID text).
    static std::string GenerateInstanceId();

private:
    std::string _key, _group, _component, _instanceId;
};

class ConfigStoreObject;

// A field value: JSON-shaped. Integers are 64-bit; lists hold strings or objects.
struct StoreValue {
    using ObjectList = std::vector<std::shared_ptr<ConfigStoreObject>>;
    std::variant<std::monostate, bool, int64_t, std::string, std::vector<std::string>,
                 std::shared_ptr<ConfigStoreObject>, ObjectList>
        v;
};

// Typed fields by name. GetValue returns true when the field exists and has
// that type (integers convert between widths when the value fits).
class StoreObject {
public:
    virtual ~StoreObject();
    bool GetValue(const std::string& name, std::string* out) const;
    bool GetValue(const std::string& name, bool* out) const;
    bool GetValue(const std::string& name, long* out) const;
    bool GetValue(const std::string& name, int* out) const;
    bool GetValue(const std::string& name, unsigned int* out) const;
    bool GetValue(const std::string& name, std::vector<std::string>* out) const;
    void SetValue(const std::string& name, const std::string& value);
    void SetValue(const std::string& name, const char* value);
    void SetValue(const std::string& name, bool value);
    void SetValue(const std::string& name, long value);
    void SetValue(const std::string& name, int value);
    void SetValue(const std::string& name, unsigned int value);
    void SetValue(const std::string& name, unsigned short value);
    void SetValue(const std::string& name, const std::vector<std::string>& value);
    bool HasValue(const std::string& name) const;
    // Removes a field (or sub-object); false when absent.
    bool Remove(const std::string& name);
    bool IsEmpty() const { return _fields.empty(); }
    std::vector<std::string> GetFieldNames() const;
    const std::map<std::string, StoreValue>& Fields() const { return _fields; }
    std::map<std::string, StoreValue>& MutableFields() { return _fields; }

protected:
    std::map<std::string, StoreValue> _fields;
};

// Names a sub-object: a nested object field `name`, or element `index` of the
// object list `name`.
struct SubObjectId {
    explicit SubObjectId(std::string n) : name(std::move(n)) {}
    SubObjectId(std::string n, size_t i) : name(std::move(n)), index(i) {}
    std::string name;
    std::optional<size_t> index;
};

class ConfigStoreObject : public StoreObject {
public:
    explicit ConfigStoreObject(const ConfigStoreObjectId& id);
    const ConfigStoreObjectId& GetConfigStoreObjectId() const { return _id; }
    ConfigStoreObjectId& MutableConfigStoreObjectId() { return _id; }

    // The sub-object, or an empty pointer when absent.
    std::shared_ptr<ConfigStoreObject> GetSubObject(const SubObjectId& id) const;
    // Creates (or replaces with an empty one) the sub-object; for a list, an id
    // without index appends a new element. A field holding a value (or a
    // non-empty list of strings) is refused with InvalidArgumentException.
    std::shared_ptr<ConfigStoreObject> CreateSubObject(const SubObjectId& id);
    bool DeleteSubObject(const SubObjectId& id);
    // Elements of the object list `filter.name` (a nested object counts as one);
    // with filter fields given through `match`, only elements whose fields equal them.
    std::vector<std::shared_ptr<ConfigStoreObject>> GetSubObjectInstances(
        const SubObjectId& filter, const StoreObject* match = nullptr) const;

    // The fields as JSON text; FromData parses that form back. An empty list
    // reads back as an empty list of strings, which still takes sub-objects.
    std::string GetData() const;
    static std::shared_ptr<ConfigStoreObject> FromData(const ConfigStoreObjectId& id,
                                                       const std::string& json);
    // The form the store keeps: JSON as GetData, except that an empty list of
    // objects is written [null], so that every list keeps its kind.
    std::string GetStoredData() const;
    static std::shared_ptr<ConfigStoreObject> FromStoredData(const ConfigStoreObjectId& id,
                                                             const std::string& json);
    std::shared_ptr<ConfigStoreObject> Clone() const;
    bool operator==(const ConfigStoreObject& o) const;

private:
    ConfigStoreObjectId _id;
};

// A query: the id selects component, group and key (and the instance, when
// set); every field set on the filter must be equal in a matching object.
class FilterSpecObject : public StoreObject {
public:
    explicit FilterSpecObject(const ConfigStoreObjectId& id);
    const ConfigStoreObjectId& GetConfigStoreObjectId() const { return _id; }
    bool Matches(const ConfigStoreObject& object) const;

private:
    ConfigStoreObjectId _id;
};

// Identifies the state of the stored objects as one connection sees it:
// equal known stamps mean nothing was changed in between, by this process or
// any other. An unknown stamp (the default) never equals another.
struct StoreStamp {
    uint64_t connection = 0;  // 0: unknown
    int64_t dataVersion = 0;
    int64_t changes = 0;
    bool Known() const { return connection != 0; }
    bool Same(const StoreStamp& o) const {
        return Known() && connection == o.connection && dataVersion == o.dataVersion && changes == o.changes;
    }
};

class ConfigStore {
public:
    // The store of `ns` for this process (one shared instance per namespace).
    static std::shared_ptr<ConfigStore> GetStore(const std::string& ns);
    virtual ~ConfigStore();

    // The stored object of `id` (with instance id, if the id has one), or an
    // empty pointer when there is none.
    virtual std::shared_ptr<ConfigStoreObject> Get(const ConfigStoreObjectId& id) = 0;
    // Creates or replaces the object under its id. Inside a transaction of this
    // thread the write belongs to it; otherwise it is durable on return.
    // `flag` 0 is an ordinary write; kBootApplied (1) marks the write as the
    // boot's own replay of the object: its boot status is set to applied in the
    // same step. Any other flag throws InvalidArgumentException.
    virtual void Write(const std::shared_ptr<ConfigStoreObject>& object, int flag = 0) = 0;
    static constexpr int kBootApplied = 1;
    // Deletes the object of `id`; an id without instance deletes every instance.
    virtual void Delete(const ConfigStoreObjectId& id) = 0;
    // Objects matching the filter, ordered by key and then instance id.
    virtual std::vector<std::shared_ptr<ConfigStoreObject>> List(
        const std::shared_ptr<FilterSpecObject>& filter) = 0;
    // Every (group, key, instance) present, optionally of one group; for tools.
    virtual std::vector<ConfigStoreObjectId> ListIds(const std::string& group = "") = 0;

    // Boot mode: true while the host's boot sequence replays configuration.
    virtual bool IsBoot() = 0;
    virtual void SetBootMode(bool boot) = 0;

    // Desired configuration (remediation): what the administrator wants the
    // object to be, and the apply status reported back.
    virtual std::shared_ptr<ConfigStoreObject> GetDesiredUserConfig(const ConfigStoreObjectId& id,
                                                                    int flag) = 0;
    virtual std::vector<std::shared_ptr<ConfigStoreObject>> GetDesiredUserConfigInstances(
        const ConfigStoreObjectId& id, int flag) = 0;
    virtual void SetDesiredUserConfig(const std::shared_ptr<ConfigStoreObject>& object) = 0;
    virtual void ClearDesiredUserConfig(const ConfigStoreObjectId& id) = 0;
    virtual void SetBootStatus(const ConfigStoreObjectId& id, bool applied) = 0;
    virtual std::optional<bool> GetBootStatus(const ConfigStoreObjectId& id) = 0;

    // Transactions (used through ConfigStoreTransaction).
    virtual void Begin() = 0;
    virtual void Commit() = 0;
    virtual void Rollback() = 0;
    virtual bool InTransaction() = 0;

    // Lets a reader keep what it read and know when it must read again.
    virtual StoreStamp GetChangeStamp() { return {}; }
};

// Groups the writes of this thread on `store`; Commit() makes them durable,
// destruction without Commit() drops them all. Transactions nest: an inner one
// joins the outer, and only the outermost commit is durable.
class ConfigStoreTransaction {
public:
    explicit ConfigStoreTransaction(std::shared_ptr<ConfigStore> store);
    ~ConfigStoreTransaction();
    ConfigStoreTransaction(const ConfigStoreTransaction&) = delete;
    ConfigStoreTransaction& operator=(const ConfigStoreTransaction&) = delete;
    void Commit();

private:
    std::shared_ptr<ConfigStore> _store;
    bool _done = false;
};

// The boot-time write rule, kept here only: while the host boots, objects are
// written with the flag kBootApplied, except the standard switches (group
// "network_vss") and the kernel NICs and netstacks (keys "tarnnics",
// "net_stacks"), whose own restore reports their status; otherwise 0.
int BootWriteFlag(const ConfigStoreObjectId& id, bool booting);

// A transaction that is only opened when the store is not booting: boot-time
// replays write directly (callers skip the transaction in boot mode). Commit()
// commits an opened transaction and does nothing otherwise.
class BootAwareTransaction {
public:
    BootAwareTransaction(const std::shared_ptr<ConfigStore>& store, bool booting);
    explicit BootAwareTransaction(const std::shared_ptr<ConfigStore>& store);
    BootAwareTransaction(const BootAwareTransaction&) = delete;
    BootAwareTransaction& operator=(const BootAwareTransaction&) = delete;
    void Commit();
    bool Opened() const { return _tx.has_value(); }

private:
    std::optional<ConfigStoreTransaction> _tx;
};

// Empties the store of the current host root (objects, desired configuration,
// boot status and mode): the store of a newly made host.
void ResetStore();

// Schema defaults: what an object looks like before anyone wrote it.
namespace Schema {
// Registers the default object of (group, key); its instance id is ignored.
void RegisterDefault(const std::shared_ptr<ConfigStoreObject>& object);
// The default object of the id's group and key (with the id's instance), or empty.
std::shared_ptr<ConfigStoreObject> GetDefaultObject(const ConfigStoreObjectId& id);
// `objects` without those equal to their schema default.
std::vector<std::shared_ptr<ConfigStoreObject>> FilterDefaultConfigInstances(
    const std::vector<std::shared_ptr<ConfigStoreObject>>& objects);
}  // namespace Schema

}  // namespace HaldenConfigStore
