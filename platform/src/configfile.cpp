// The host configuration file: a sorted map of slash paths to text, read from
// and written to one `/path = "text"` line per value, replaced atomically and
// guarded between processes by an flock on "<file>.lock" holding the owner's pid.
#include "platform/configfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>

#include "hostctl/exception.h"
#include "platform/hostroot.h"
#include "platform/misc.h"

namespace TarnCtl::Config {

namespace {

constexpr const char* kDefaultFile = "/etc/tarn/tarn.conf";

std::string Normalise(const std::string& path) {
    std::string out;
    out.reserve(path.size() + 1);
    for (char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/')
            continue;
        out.push_back(c);
    }
    if (out.empty() || out[0] != '/')
        out.insert(out.begin(), '/');
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out == "/" ? "" : out;
}

std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

bool ParseLine(const std::string& line, std::string* path, std::string* value) {
    size_t eq = line.find(" = \"");
    if (line.empty() || line[0] != '/' || eq == std::string::npos || line.back() != '"' ||
        line.size() < eq + 5)
        return false;
    *path = Normalise(line.substr(0, eq));
    value->clear();
    for (size_t i = eq + 4; i + 1 < line.size(); ++i) {
        char c = line[i];
        if (c == '\\' && i + 2 < line.size()) {
            char n = line[++i];
            value->push_back(n == 'n' ? '\n' : n == 't' ? '\t' : n);
        } else {
            value->push_back(c);
        }
    }
    return true;
}

void MakeParentDirs(const std::string& realPath) {
    std::string dir = realPath.substr(0, realPath.rfind('/'));
    for (size_t p = 1; p <= dir.size(); ++p)
        if (p == dir.size() || dir[p] == '/')
            ::mkdir(dir.substr(0, p).c_str(), 0755);
}

// Shell-style match where `*` stays within one path component and every
// other character, brackets included, is literal ("child[*]/name").
bool Glob(const char* p, const char* t) {
    if (*p == '\0')
        return *t == '\0';
    if (*p == '*') {
        for (const char* s = t;; ++s) {
            if (Glob(p + 1, s))
                return true;
            if (*s == '\0' || *s == '/')
                return false;
        }
    }
    return *p == *t && Glob(p + 1, t + 1);
}

bool ParseUnsigned(const std::string& text, unsigned long long max, int base, unsigned long long* out) {
    if (text.empty() || text[0] == '-')
        return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, base);
    if (errno || *end || v > max)
        return false;
    *out = v;
    return true;
}

bool ParseSigned(const std::string& text, long long min, long long max, long long* out) {
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno || *end || v < min || v > max)
        return false;
    *out = v;
    return true;
}

}  // namespace

// ---- ConfigFileLocker ----------------------------------------------------------------

ConfigFileLocker::ConfigFileLocker(std::string hostPath) : _path(std::move(hostPath)) {}

ConfigFileLocker::~ConfigFileLocker() {
    if (_fd >= 0) {
        _depth = 1;
        Unlock();
    }
}

void ConfigFileLocker::Lock() {
    TryLock(-1);
}

bool ConfigFileLocker::TryLock(int timeoutMs) {
    if (_depth > 0) {
        ++_depth;
        return true;
    }
    int fd = Platform::OpenHostFile(_path, O_RDWR | O_CREAT, 0644);
    if (fd < 0)
        throw HostCtl::Lib::HostCtlException("Unable to open the lock file " + _path);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int how = timeoutMs < 0 ? LOCK_EX : LOCK_EX | LOCK_NB;
        if (::flock(fd, how) == 0)
            break;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        ::flock(fd, LOCK_UN);
        ::close(fd);
        throw HostCtl::Lib::HostCtlException("Unable to write the lock file " + _path);
    }
    _fd = fd;
    _depth = 1;
    return true;
}

void ConfigFileLocker::Unlock() {
    if (_depth == 0 || --_depth > 0)
        return;
    (void)!::ftruncate(_fd, 0);
    ::flock(_fd, LOCK_UN);
    ::close(_fd);
    _fd = -1;
}

bool ConfigFileLocker::IsLocked() const {
    if (_depth > 0)
        return true;
    int fd = Platform::OpenHostFile(_path, O_RDONLY);
    if (fd < 0)
        return false;
    bool locked = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);  // also drops the probe lock if it was taken
    return locked;
}

int ConfigFileLocker::GetLockedPid() const {
    if (!IsLocked())
        return 0;
    std::string text;
    if (!HostCtl::Misc::ReadHostFile(_path, &text))
        return 0;
    return std::atoi(text.c_str());
}

// ---- ConfigFile --------------------------------------------------------------------------

struct ConfigFile::State {
    mutable std::recursive_mutex mu;
    std::unique_ptr<ConfigFileLocker> locker;
    mutable std::map<std::string, std::string> values;
    mutable std::set<std::string> touched;  // empty branches made in this process
    mutable std::string signature;          // of the file last read or written
    bool dirty = false;
    int depth = 0;
};

ConfigFile::ConfigFile(std::string hostPath)
    : ConfigBranch(this, ""), _s(std::make_unique<State>()), _hostPath(std::move(hostPath)) {
    _s->locker = std::make_unique<ConfigFileLocker>(_hostPath + ".lock");
}

ConfigFile::~ConfigFile() = default;

ConfigFile* ConfigFile::GetFile() {
    return GetFile(kDefaultFile);
}

ConfigFile* ConfigFile::GetFile(const std::string& hostPath) {
    static std::mutex mu;
    static auto* files = new std::map<std::string, std::unique_ptr<ConfigFile>>;
    std::string key = Platform::HostRoot() + "\n" + hostPath;
    std::lock_guard<std::mutex> g(mu);
    auto& f = (*files)[key];
    if (!f)
        f.reset(new ConfigFile(hostPath));
    return f.get();
}

void ConfigFile::LoadLocked() const {
    std::string real = Platform::HostPath(_hostPath);
    struct stat st {};
    std::string sig;
    if (::stat(real.c_str(), &st) == 0)
        sig = HostCtl::Misc::StrPrintf("%lu:%ld:%ld.%ld", (unsigned long)st.st_ino, (long)st.st_size,
                                       (long)st.st_mtim.tv_sec, (long)st.st_mtim.tv_nsec);
    if (!sig.empty() && sig == _s->signature)
        return;
    _s->values.clear();
    _s->signature = sig;
    if (sig.empty())
        return;
    std::string text;
    HostCtl::Misc::ReadHostFile(_hostPath, &text);
    size_t pos = 0;
    std::string path, value;
    while (pos < text.size()) {
        size_t e = text.find('\n', pos);
        if (e == std::string::npos)
            e = text.size();
        std::string line = text.substr(pos, e - pos);
        pos = e + 1;
        if (ParseLine(line, &path, &value) && !path.empty())
            _s->values[path] = value;
    }
}

void ConfigFile::LoadIfChanged() const {
    // Holding the lock, this process's view is the truth until Write/Unlock.
    if (_s->depth == 0)
        LoadLocked();
}

void ConfigFile::Lock() {
    _s->mu.lock();
    if (_s->depth++ == 0) {
        try {
            _s->locker->Lock();
            _s->signature.clear();
            LoadLocked();
            _s->dirty = false;
        } catch (...) {
            --_s->depth;
            _s->mu.unlock();
            throw;
        }
    }
}

void ConfigFile::Unlock() {
    if (_s->depth == 0)
        return;
    if (--_s->depth == 0) {
        if (_s->dirty) {
            // Unwritten changes are dropped: the next read sees the file.
            _s->signature.clear();
            _s->dirty = false;
        }
        _s->touched.clear();
        _s->locker->Unlock();
    }
    _s->mu.unlock();
}

bool ConfigFile::IsLocked() const {
    std::lock_guard<std::recursive_mutex> g(_s->mu);
    return _s->depth > 0 || _s->locker->IsLocked();
}

void ConfigFile::Write() {
    std::lock_guard<std::recursive_mutex> g(_s->mu);
    if (!_s->dirty)
        return;
    bool took = _s->depth == 0;
    if (took)
        _s->locker->Lock();
    try {
        std::string text;
        for (const auto& [path, value] : _s->values)
            text += path + " = \"" + Escape(value) + "\"\n";
        std::string real = Platform::HostPath(_hostPath);
        MakeParentDirs(real);
        HostCtl::Misc::WriteHostFileAtomic(_hostPath, text);
        struct stat st {};
        if (::stat(real.c_str(), &st) == 0)
            _s->signature = HostCtl::Misc::StrPrintf(
                "%lu:%ld:%ld.%ld", (unsigned long)st.st_ino, (long)st.st_size,
                (long)st.st_mtim.tv_sec, (long)st.st_mtim.tv_nsec);
        _s->dirty = false;
    } catch (...) {
        if (took)
            _s->locker->Unlock();
        throw;
    }
    if (took)
        _s->locker->Unlock();
}

std::map<std::string, std::string> ConfigFile::GetValues() const {
    std::lock_guard<std::recursive_mutex> g(_s->mu);
    LoadIfChanged();
    return _s->values;
}

bool ConfigFile::RawGet(const std::string& path, std::string* out) const {
    std::lock_guard<std::recursive_mutex> g(_s->mu);
    LoadIfChanged();
    auto it = _s->values.find(path);
    if (it == _s->values.end())
        return false;
    if (out)
        *out = it->second;
    return true;
}

void ConfigFile::RawSet(const std::string& path, const std::string& value) {
    if (path.empty())
        throw HostCtl::Lib::HostCtlException("Invalid configuration path: empty");
    std::lock_guard<std::recursive_mutex> g(_s->mu);
    LoadIfChanged();
    auto it = _s->values.find(path);
    if (it != _s->values.end() && it->second == value)
        return;
    _s->values[path] = value;
    _s->dirty = true;
}

bool ConfigFile::RawRemove(const std::string& path) {
    std::lock_guard<std::recursive_mutex> g(_s->mu);
    LoadIfChanged();
    bool removed = _s->values.erase(path) > 0;
    std::string prefix = path + "/";
    for (auto it = _s->values.lower_bound(prefix);
         it != _s->values.end() && it->first.compare(0, prefix.size(), prefix) == 0;) {
        it = _s->values.erase(it);
        removed = true;
    }
    for (auto it = _s->touched.begin(); it != _s->touched.end();)
        if (*it == path || it->compare(0, prefix.size(), prefix) == 0) {
            it = _s->touched.erase(it);
            removed = true;
        } else {
            ++it;
        }
    if (removed)
        _s->dirty = true;
    return removed;
}

void ConfigFile::Touch(const std::string& branchPath) {
    std::lock_guard<std::recursive_mutex> g(_s->mu);
    if (!branchPath.empty())
        _s->touched.insert(branchPath);
}

std::map<std::string, std::string> ConfigFile::ValuesBelow(const std::string& prefix) const {
    std::lock_guard<std::recursive_mutex> g(_s->mu);
    LoadIfChanged();
    std::map<std::string, std::string> out;
    std::string p = prefix + "/";
    for (auto it = _s->values.lower_bound(p);
         it != _s->values.end() && it->first.compare(0, p.size(), p) == 0; ++it)
        out.insert(*it);
    return out;
}

std::vector<std::string> ConfigFile::ChildNames(const std::string& prefix, bool values) const {
    std::lock_guard<std::recursive_mutex> g(_s->mu);
    LoadIfChanged();
    std::set<std::string> names;
    std::string p = prefix + "/";
    for (auto it = _s->values.lower_bound(p);
         it != _s->values.end() && it->first.compare(0, p.size(), p) == 0; ++it) {
        std::string rest = it->first.substr(p.size());
        size_t slash = rest.find('/');
        if ((slash == std::string::npos) == values)
            names.insert(rest.substr(0, slash));
    }
    if (!values)
        for (const auto& t : _s->touched)
            if (t.compare(0, p.size(), p) == 0) {
                std::string rest = t.substr(p.size());
                names.insert(rest.substr(0, rest.find('/')));
            }
    return {names.begin(), names.end()};
}

// ---- ConfigBranch -----------------------------------------------------------------------

ConfigBranch::ConfigBranch(ConfigFile* file, std::string path)
    : _file(file), _path(Normalise(path)) {}

std::string ConfigBranch::GetName() const {
    return _path.substr(_path.rfind('/') + 1);
}

std::string ConfigBranch::Abs(const std::string& name) const {
    if (name.empty())
        throw HostCtl::Lib::HostCtlException("Invalid configuration path: empty name below " +
                                             (_path.empty() ? std::string("/") : _path));
    return Normalise(_path + "/" + name);
}

bool ConfigBranch::GetValue(const std::string& name, std::string* out) const {
    return _file->RawGet(Abs(name), out);
}

bool ConfigBranch::GetValue(const std::string& name, bool* out) const {
    std::string t;
    if (!_file->RawGet(Abs(name), &t))
        return false;
    bool v;
    if (t == "true" || t == "yes" || t == "1")
        v = true;
    else if (t == "false" || t == "no" || t == "0")
        v = false;
    else
        return false;
    if (out)
        *out = v;
    return true;
}

bool ConfigBranch::GetValue(const std::string& name, int* out) const {
    std::string t;
    long long v;
    if (!_file->RawGet(Abs(name), &t) || !ParseSigned(t, INT_MIN, INT_MAX, &v))
        return false;
    if (out)
        *out = static_cast<int>(v);
    return true;
}

bool ConfigBranch::GetValue(const std::string& name, long* out) const {
    std::string t;
    long long v;
    if (!_file->RawGet(Abs(name), &t) || !ParseSigned(t, LONG_MIN, LONG_MAX, &v))
        return false;
    if (out)
        *out = static_cast<long>(v);
    return true;
}

bool ConfigBranch::GetValue(const std::string& name, unsigned int* out) const {
    std::string t;
    unsigned long long v;
    if (!_file->RawGet(Abs(name), &t) || !ParseUnsigned(t, UINT_MAX, 10, &v))
        return false;
    if (out)
        *out = static_cast<unsigned int>(v);
    return true;
}

bool ConfigBranch::GetValue(const std::string& name, unsigned long* out) const {
    std::string t;
    unsigned long long v;
    if (!_file->RawGet(Abs(name), &t) || !ParseUnsigned(t, ULONG_MAX, 10, &v))
        return false;
    if (out)
        *out = static_cast<unsigned long>(v);
    return true;
}

bool ConfigBranch::GetValue(const std::string& name, unsigned char* out) const {
    std::string t;
    unsigned long long v;
    // Bytes are kept in hexadecimal, as the file always has.
    if (!_file->RawGet(Abs(name), &t) || !ParseUnsigned(t, 0xff, 16, &v))
        return false;
    if (out)
        *out = static_cast<unsigned char>(v);
    return true;
}

void ConfigBranch::SetValue(const std::string& name, const std::string& value) {
    _file->RawSet(Abs(name), value);
}
void ConfigBranch::SetValue(const std::string& name, const char* value) {
    _file->RawSet(Abs(name), value ? value : "");
}
void ConfigBranch::SetValue(const std::string& name, bool value) {
    _file->RawSet(Abs(name), value ? "true" : "false");
}
void ConfigBranch::SetValue(const std::string& name, int value) {
    _file->RawSet(Abs(name), std::to_string(value));
}
void ConfigBranch::SetValue(const std::string& name, long value) {
    _file->RawSet(Abs(name), std::to_string(value));
}
void ConfigBranch::SetValue(const std::string& name, unsigned int value) {
    _file->RawSet(Abs(name), std::to_string(value));
}
void ConfigBranch::SetValue(const std::string& name, unsigned long value) {
    _file->RawSet(Abs(name), std::to_string(value));
}
void ConfigBranch::SetValue(const std::string& name, unsigned char value) {
    _file->RawSet(Abs(name), HostCtl::Misc::StrPrintf("%x", value));
}

bool ConfigBranch::HasValue(const std::string& name) const {
    return _file->RawGet(Abs(name), nullptr);
}

bool ConfigBranch::HasBranch(const std::string& name) const {
    std::string p = Abs(name);
    std::string parent = p.substr(0, p.rfind('/'));
    auto names = _file->ChildNames(parent, false);
    return std::find(names.begin(), names.end(), p.substr(p.rfind('/') + 1)) != names.end();
}

bool ConfigBranch::Remove(const std::string& name) {
    return _file->RawRemove(Abs(name));
}

std::shared_ptr<ConfigBranch> ConfigBranch::GetBranch(const std::string& name) const {
    std::string p = Abs(name);
    _file->Touch(p);
    return std::make_shared<ConfigBranch>(_file, p);
}

std::shared_ptr<ConfigArray> ConfigBranch::GetArray(const std::string& name) const {
    std::string p = Abs(name);
    size_t slash = p.rfind('/');
    return std::make_shared<ConfigArray>(_file, p.substr(0, slash), p.substr(slash + 1));
}

std::vector<std::shared_ptr<ConfigBranch>> ConfigBranch::GetBranches() const {
    std::vector<std::shared_ptr<ConfigBranch>> out;
    for (const auto& n : _file->ChildNames(_path, false))
        if (n.empty() || n.back() != ']')
            out.push_back(std::make_shared<ConfigBranch>(_file, _path + "/" + n));
    return out;
}

std::vector<std::string> ConfigBranch::GetValueNames() const {
    return _file->ChildNames(_path, true);
}

std::map<std::string, std::string> ConfigBranch::MatchValues(const std::string& pattern) const {
    std::map<std::string, std::string> out;
    std::string pat = pattern;
    while (!pat.empty() && pat[0] == '/')
        pat.erase(0, 1);
    for (const auto& [path, value] : _file->ValuesBelow(_path)) {
        std::string rel = path.substr(_path.size() + 1);
        if (Glob(pat.c_str(), rel.c_str()))
            out[rel] = value;
    }
    return out;
}

// ---- ConfigArray -------------------------------------------------------------------------

ConfigArray::ConfigArray(ConfigFile* file, std::string parent, std::string name)
    : _file(file), _parent(std::move(parent)), _name(std::move(name)) {}

std::string ConfigArray::ElementPath(const std::string& key) const {
    bool digits = !key.empty() && key.find_first_not_of("0123456789") == std::string::npos;
    std::string k = digits ? HostCtl::Misc::StrPrintf("%04ld", std::atol(key.c_str())) : key;
    return _parent + "/" + _name + "[" + k + "]";
}

std::vector<std::string> ConfigArray::GetInstanceKeys() const {
    std::vector<std::string> keys;
    std::string lead = _name + "[";
    for (const auto& n : _file->ChildNames(_parent, false))
        if (n.size() > lead.size() + 1 && n.compare(0, lead.size(), lead) == 0 && n.back() == ']')
            keys.push_back(n.substr(lead.size(), n.size() - lead.size() - 1));
    return keys;
}

std::shared_ptr<ConfigBranch> ConfigArray::NewInstance() {
    std::set<long> used;
    for (const auto& k : GetInstanceKeys())
        if (!k.empty() && k.find_first_not_of("0123456789") == std::string::npos)
            used.insert(std::atol(k.c_str()));
    long index = 0;
    while (used.count(index))
        ++index;
    return GetInstance(index);
}

std::shared_ptr<ConfigBranch> ConfigArray::GetInstance(const std::string& key) {
    if (key.empty() || key.find_first_of("/[]") != std::string::npos)
        throw HostCtl::Lib::HostCtlException("Invalid array key '" + key + "' for " + _name);
    std::string p = ElementPath(key);
    _file->Touch(p);
    return std::make_shared<ConfigBranch>(_file, p);
}

std::shared_ptr<ConfigBranch> ConfigArray::GetInstance(long index) {
    if (index < 0)
        throw HostCtl::Lib::HostCtlException("Invalid array index " + std::to_string(index) +
                                             " for " + _name);
    return GetInstance(std::to_string(index));
}

std::vector<std::shared_ptr<ConfigBranch>> ConfigArray::GetInstances() const {
    std::vector<std::shared_ptr<ConfigBranch>> out;
    for (const auto& k : GetInstanceKeys())
        out.push_back(std::make_shared<ConfigBranch>(_file, _parent + "/" + _name + "[" + k + "]"));
    return out;
}

bool ConfigArray::HasKey(const std::string& key) const {
    std::string p = ElementPath(key);
    std::string last = p.substr(p.rfind('/') + 1);
    auto names = _file->ChildNames(_parent, false);
    return std::find(names.begin(), names.end(), last) != names.end();
}

std::shared_ptr<ConfigBranch> ConfigArray::FindInstanceWithValues(
    const std::vector<std::pair<std::string, std::string>>& values) const {
    for (auto& e : GetInstances()) {
        bool all = true;
        for (const auto& [name, value] : values) {
            std::string v;
            if (!e->GetValue(name, &v) || v != value) {
                all = false;
                break;
            }
        }
        if (all)
            return e;
    }
    return nullptr;
}

std::shared_ptr<ConfigBranch> ConfigArray::FindInstanceWithValue(const std::string& name,
                                                                 const std::string& value) const {
    return FindInstanceWithValues({{name, value}});
}

bool ConfigArray::HasInstance(const std::string& name, const std::string& value) const {
    return FindInstanceWithValue(name, value) != nullptr;
}

bool ConfigArray::HasInstance(const std::vector<std::pair<std::string, std::string>>& values) const {
    return FindInstanceWithValues(values) != nullptr;
}

bool ConfigArray::RemoveInstance(const std::string& name, const std::string& value) {
    auto e = FindInstanceWithValue(name, value);
    return e && _file->RawRemove(e->GetPath());
}

bool ConfigArray::RemoveInstance(const std::string& key) {
    return _file->RawRemove(ElementPath(key));
}

// ---- SynchronizedConfigFile ---------------------------------------------------------------

SynchronizedConfigFile::SynchronizedConfigFile() : _file(ConfigFile::GetFile()) {
    _file->Lock();
}

SynchronizedConfigFile::SynchronizedConfigFile(const std::string& hostPath)
    : _file(ConfigFile::GetFile(hostPath)) {
    _file->Lock();
}

SynchronizedConfigFile::~SynchronizedConfigFile() {
    _file->Unlock();
}

}  // namespace TarnCtl::Config
