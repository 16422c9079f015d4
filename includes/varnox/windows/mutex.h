#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "varnox/common/exception.h"
#include "varnox/windows/handle.h"
#include "varnox/windows/lock.h"

namespace varnox {
namespace windows {

class mutex_exception : public varnox::exception_base {};

// HRESULT_FROM_WIN32: a code above 0 becomes 0x8007xxxx with its low 16 bits,
// 0 and codes that already read as HRESULTs stay as they are.
std::uint32_t hresult_from_win32(std::uint32_t error);

// A kernel mutex, usually named so that it excludes other processes of the
// logon session too. Meant for one thread: the locked flag is not shared.
class mutex : public virtual lock_able {
public:
    // Creates the mutex (or gets the existing one of that name), or with
    // open_existing opens an existing one for waiting and releasing. An empty
    // name makes an unnamed mutex. Throws mutex_exception when no handle is
    // obtained, with the last error as an HRESULT.
    explicit mutex(std::wstring name = std::wstring(), bool open_existing = false);
    // Releases the mutex if this object holds it, and closes the handle.
    virtual ~mutex();

    mutex(const mutex&) = delete;
    mutex& operator=(const mutex&) = delete;

    // Waits up to timeout milliseconds (-1: no limit). True when this object
    // holds the mutex; false on a time-out and when the previous owner ended
    // without releasing it (then the mutex is not recorded as held). Throws
    // mutex_exception when the wait itself fails.
    bool lock(std::int32_t timeout);
    bool lock() override { return lock(-1); }
    bool try_lock() override { return lock(0); }
    // False when this object does not hold the mutex; throws mutex_exception
    // when the release fails (another thread's lock, say).
    bool unlock() override;

    const std::wstring& name() const { return _name; }
    bool locked() const { return _locked; }

private:
    unique_handle _handle;
    std::wstring _name;
    bool _locked = false;
};

} // namespace windows
} // namespace varnox
