// Per-thread (or global) cache of a computed list, and a mutex guard.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace TarnCtl::Lib {

class AutoLock {
public:
    explicit AutoLock(pthread_mutex_t* mutex) : _mutex(mutex) { pthread_mutex_lock(_mutex); }
    ~AutoLock() { pthread_mutex_unlock(_mutex); }
    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;

private:
    pthread_mutex_t* _mutex;
};

// A cache of lists of T, kept per thread (key pthread_self()) or globally
// (key 0). A present key with an empty pointer means enabled, not yet filled.
// The global entry, when present, wins over every thread's entry.
template <typename T>
class TarnCtlCache {
public:
    using List = std::shared_ptr<std::vector<T>>;

    TarnCtlCache() { pthread_mutex_init(&_mutex, nullptr); }
    virtual ~TarnCtlCache() { pthread_mutex_destroy(&_mutex); }
    TarnCtlCache(const TarnCtlCache&) = delete;
    TarnCtlCache& operator=(const TarnCtlCache&) = delete;

    void Enable() {
        AutoLock lock(&_mutex);
        _Use(true, false);
    }
    void Disable() {
        AutoLock lock(&_mutex);
        _Use(false, false);
    }
    void SetGlobal(bool on) {
        AutoLock lock(&_mutex);
        _Use(on, true);
    }
    // True with `out` set to the cached list; false with `out` empty when
    // caching is off for this thread.
    bool Get(List& out) {
        AutoLock lock(&_mutex);
        return _Get(out);
    }

protected:
    // Computes the list for `key` and stores it in the map under that key.
    virtual void _Populate(unsigned long key) = 0;

    void _Use(bool use, bool global) {
        const unsigned long key = global ? 0 : static_cast<unsigned long>(pthread_self());
        if (use)
            _cache.try_emplace(key);
        else
            _cache.erase(key);
    }

    bool _Get(List& out) {
        out.reset();
        unsigned long key = 0;
        auto it = _cache.find(0);
        if (it == _cache.end()) {
            key = static_cast<unsigned long>(pthread_self());
            it = _cache.find(key);
            if (it == _cache.end())
                return false;
        }
        out = it->second;
        if (out)
            return true;
        _Populate(key);
        out = _cache[key];
        return static_cast<bool>(out);
    }

    std::map<uint64_t, List> _cache;
    pthread_mutex_t _mutex;
};

}  // namespace TarnCtl::Lib
