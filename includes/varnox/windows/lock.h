#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace varnox {
namespace windows {

// A lock that a scope can hold through auto_lock: the log's critical section
// and the session-wide named mutex implement it.
class lock_able {
public:
    virtual bool lock() = 0;
    virtual bool unlock() = 0;
    virtual bool try_lock() = 0;

protected:
    ~lock_able() = default;
};

#ifdef _WIN32
// In-process lock over a Win32 critical section; recursive for its owner.
class critical_section : public virtual lock_able {
public:
    critical_section() { ::InitializeCriticalSectionAndSpinCount(&_section, 64); }
    ~critical_section() { ::DeleteCriticalSection(&_section); }

    critical_section(const critical_section&) = delete;
    critical_section& operator=(const critical_section&) = delete;

    bool lock() override
    {
        ::EnterCriticalSection(&_section);
        return true;
    }

    bool unlock() override
    {
        ::LeaveCriticalSection(&_section);
        return true;
    }

    bool try_lock() override { return ::TryEnterCriticalSection(&_section) != FALSE; }

private:
    CRITICAL_SECTION _section;
};
#else
// The native build's stand-in: a recursive POSIX mutex.
class critical_section : public virtual lock_able {
public:
    critical_section()
    {
        pthread_mutexattr_t attributes;
        ::pthread_mutexattr_init(&attributes);
        ::pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
        ::pthread_mutex_init(&_mutex, &attributes);
        ::pthread_mutexattr_destroy(&attributes);
    }
    ~critical_section() { ::pthread_mutex_destroy(&_mutex); }

    critical_section(const critical_section&) = delete;
    critical_section& operator=(const critical_section&) = delete;

    bool lock() override { return ::pthread_mutex_lock(&_mutex) == 0; }
    bool unlock() override { return ::pthread_mutex_unlock(&_mutex) == 0; }
    bool try_lock() override { return ::pthread_mutex_trylock(&_mutex) == 0; }

private:
    pthread_mutex_t _mutex;
};
#endif

// Holds a lock for the rest of the scope; releases it only if taking it worked.
class auto_lock {
public:
    explicit auto_lock(lock_able& lock) : _lock(lock), _locked(lock.lock()) {}
    ~auto_lock()
    {
        if (_locked)
            _lock.unlock();
    }

    auto_lock(const auto_lock&) = delete;
    auto_lock& operator=(const auto_lock&) = delete;

private:
    lock_able& _lock;
    bool _locked;
};

} // namespace windows
} // namespace varnox
