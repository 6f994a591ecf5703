// The host configuration file: older settings kept as slash-path values
// ("/system/uuid") in /etc/tarn/tarn.conf under the host root, one
// `/path = "text"` line each. Arrays are elements named "child[0003]" (numbered)
// or "child[key]" (keyed). The file is replaced atomically on Write(); processes
// serialise changes with the file's lock (ConfigFileLocker on "<file>.lock").
//
// Typical use:
//   TarnCtl::Config::SynchronizedConfigFile f;   // locked until f goes away
//   f->SetValue("/system/visl/VMlocation", path);
//   f->Write();
//
// A ConfigFile is shared by the threads of a process; Lock() holds it for the
// calling thread (recursive) until the matching Unlock(). Values changed but
// not written are dropped by the outermost Unlock().
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace TarnCtl::Config {

class ConfigFile;
class ConfigArray;

// Lock file holding the owner's pid; the lock is an flock, so it ends with the
// process that holds it.
class ConfigFileLocker {
public:
    // `hostPath` is the lock file (a host path).
    explicit ConfigFileLocker(std::string hostPath);
    ~ConfigFileLocker();
    ConfigFileLocker(const ConfigFileLocker&) = delete;
    ConfigFileLocker& operator=(const ConfigFileLocker&) = delete;
    // Blocks until the lock is held; recursive within this object.
    void Lock();
    // Gives up after `timeoutMs`; false then.
    bool TryLock(int timeoutMs = 0);
    void Unlock();
    // True when any process (this one included) holds the lock.
    bool IsLocked() const;
    // The holder's pid, or 0 when the lock is free.
    int GetLockedPid() const;

private:
    std::string _path;
    int _fd = -1;
    int _depth = 0;
};

// A view of the values below one path of a file. Cheap to copy; stays valid
// while its file lives.
class ConfigBranch {
public:
    ConfigBranch(ConfigFile* file, std::string path);
    // The branch's path ("/net/vswitch/child[0000]"); "" for the root.
    const std::string& GetPath() const { return _path; }
    // The last path component ("child[0000]").
    std::string GetName() const;

    // `name` may be a relative path ("uplinks/child[0000]/pnic"). GetValue is
    // true when the value exists and converts to the type.
    bool GetValue(const std::string& name, std::string* out) const;
    bool GetValue(const std::string& name, bool* out) const;
    bool GetValue(const std::string& name, int* out) const;
    bool GetValue(const std::string& name, long* out) const;
    bool GetValue(const std::string& name, unsigned int* out) const;
    bool GetValue(const std::string& name, unsigned long* out) const;
    bool GetValue(const std::string& name, unsigned char* out) const;
    void SetValue(const std::string& name, const std::string& value);
    void SetValue(const std::string& name, const char* value);
    void SetValue(const std::string& name, bool value);
    void SetValue(const std::string& name, int value);
    void SetValue(const std::string& name, long value);
    void SetValue(const std::string& name, unsigned int value);
    void SetValue(const std::string& name, unsigned long value);
    void SetValue(const std::string& name, unsigned char value);
    bool HasValue(const std::string& name) const;
    bool HasBranch(const std::string& name) const;
    // Removes a value or a whole branch; false when nothing was there.
    bool Remove(const std::string& name);

    std::shared_ptr<ConfigBranch> GetBranch(const std::string& name) const;
    std::shared_ptr<ConfigArray> GetArray(const std::string& name) const;
    // Child branches (arrays' elements excluded), sorted by name.
    std::vector<std::shared_ptr<ConfigBranch>> GetBranches() const;
    // Names of the values directly below, sorted.
    std::vector<std::string> GetValueNames() const;
    // Values below whose relative path matches the shell pattern (`*` stays
    // within one component): relative path -> text.
    std::map<std::string, std::string> MatchValues(const std::string& pattern) const;

protected:
    std::string Abs(const std::string& name) const;
    ConfigFile* _file;
    std::string _path;
};

// Elements "<name>[NNNN]" / "<name>[key]" below a branch.
class ConfigArray {
public:
    ConfigArray(ConfigFile* file, std::string parent, std::string name);
    const std::string& GetName() const { return _name; }
    // A new element at the first unused index (from 0), named "<name>[%04d]".
    std::shared_ptr<ConfigBranch> NewInstance();
    // The element "<name>[key]" (an all-digit key is written %04d); made when absent.
    std::shared_ptr<ConfigBranch> GetInstance(const std::string& key);
    std::shared_ptr<ConfigBranch> GetInstance(long index);
    std::vector<std::shared_ptr<ConfigBranch>> GetInstances() const;
    // Element keys ("0000", "vSwitch0"), in order.
    std::vector<std::string> GetInstanceKeys() const;
    bool HasKey(const std::string& key) const;
    bool HasInstance(const std::string& name, const std::string& value) const;
    bool HasInstance(const std::vector<std::pair<std::string, std::string>>& values) const;
    // The element whose value `name` equals `value` (all pairs), or empty.
    std::shared_ptr<ConfigBranch> FindInstanceWithValue(const std::string& name,
                                                        const std::string& value) const;
    std::shared_ptr<ConfigBranch> FindInstanceWithValues(
        const std::vector<std::pair<std::string, std::string>>& values) const;
    // Removes the matching element (or the element of `key`); false when none.
    bool RemoveInstance(const std::string& name, const std::string& value);
    bool RemoveInstance(const std::string& key);

private:
    std::string ElementPath(const std::string& key) const;
    ConfigFile* _file;
    std::string _parent, _name;
};

class ConfigFile : public ConfigBranch {
public:
    // The host's configuration file, /etc/tarn/tarn.conf, of the current root.
    static ConfigFile* GetFile();
    // The file at a host path (one instance per path and root in a process).
    static ConfigFile* GetFile(const std::string& hostPath);
    ~ConfigFile();
    ConfigFile(const ConfigFile&) = delete;
    ConfigFile& operator=(const ConfigFile&) = delete;

    const std::string& HostPath() const { return _hostPath; }
    // Takes the process and inter-process lock and reads the file afresh.
    void Lock();
    void Unlock();
    bool IsLocked() const;
    // Writes the values atomically (temp file + rename) when they changed.
    // Without the lock held it takes it for the write.
    void Write();
    // Every value: absolute path -> text.
    std::map<std::string, std::string> GetValues() const;

    // For views: raw access (paths absolute, normalised).
    bool RawGet(const std::string& path, std::string* out) const;
    void RawSet(const std::string& path, const std::string& value);
    bool RawRemove(const std::string& path);
    void Touch(const std::string& branchPath);  // an empty branch that exists
    // Values whose path starts with `prefix` + "/": absolute path -> text.
    std::map<std::string, std::string> ValuesBelow(const std::string& prefix) const;
    std::vector<std::string> ChildNames(const std::string& prefix, bool values) const;

private:
    explicit ConfigFile(std::string hostPath);
    void LoadIfChanged() const;
    void LoadLocked() const;
    struct State;
    std::unique_ptr<State> _s;
    std::string _hostPath;
};

// Opens the host configuration file locked for the caller's scope.
class SynchronizedConfigFile {
public:
    SynchronizedConfigFile();
    explicit SynchronizedConfigFile(const std::string& hostPath);
    ~SynchronizedConfigFile();
    SynchronizedConfigFile(const SynchronizedConfigFile&) = delete;
    SynchronizedConfigFile& operator=(const SynchronizedConfigFile&) = delete;
    ConfigFile* operator->() const { return _file; }
    ConfigFile& operator*() const { return *_file; }
    ConfigFile* Get() const { return _file; }
    void Write() { _file->Write(); }

private:
    ConfigFile* _file;
};

}  // namespace TarnCtl::Config
