#pragma once

#include <windows.h>

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
