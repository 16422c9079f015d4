#include "varnox/windows/mutex.h"

#include "varnox/common/log.h"

namespace varnox {
namespace windows {

namespace {

const wchar_t log_source[] = L"varnox/windows/mutex";

// Fixed line numbers that log readers key on.
constexpr int line_construction_throw = 51;
constexpr int line_locked_log = 72;
constexpr int line_abandoned_log = 76;
constexpr int line_timeout_log = 79;
constexpr int line_wait_throw = 82;
constexpr int line_release_throw = 96;

} // namespace

std::uint32_t hresult_from_win32(std::uint32_t error)
{
    if (static_cast<std::int32_t>(error) <= 0)
        return error;
    return (error & 0x0000FFFFu) | 0x80070000u;
}

mutex::mutex(std::wstring name, bool open_existing) : _name(std::move(name))
{
    const wchar_t* raw_name = _name.empty() ? nullptr : _name.c_str();
    HANDLE handle = open_existing ? ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, raw_name)
                                  : ::CreateMutexW(nullptr, FALSE, raw_name);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        const std::uint32_t code = hresult_from_win32(::GetLastError());
        throw_error<mutex_exception>(VARNOX_THROW_SITE(L"varnox::windows::mutex::mutex", line_construction_throw),
                                     &code,
                                     format_message(L"Can't %s mutex (%s).", open_existing ? L"open" : L"create",
                                                    _name));
    }
    _handle.reset(handle);
}

mutex::~mutex()
{
    if (_handle) {
        if (_locked)
            ::ReleaseMutex(_handle.get());
        _locked = false;
        _handle.reset();
    }
}

bool mutex::lock(std::int32_t timeout)
{
    if (_locked)
        return true;
    if (!_handle || _handle.get() == INVALID_HANDLE_VALUE)
        return false;

    const DWORD result = ::WaitForSingleObject(_handle.get(), static_cast<DWORD>(timeout));
    switch (result) {
    case WAIT_OBJECT_0:
        _locked = true;
        VARNOX_LOG(10, log_source, line_locked_log, L"Locked mutex (%s).", _name.c_str());
        return true;
    case WAIT_ABANDONED:
        VARNOX_LOG(10, log_source, line_abandoned_log,
                   L"Mutex (%s) was not released properly by a terminating thread.", _name.c_str());
        return false;
    case WAIT_TIMEOUT:
        VARNOX_LOG(10, log_source, line_timeout_log, L"The time-out interval (%d millisec) elapsed for mutex (%s).",
                   static_cast<int>(timeout), _name.c_str());
        return false;
    case WAIT_FAILED: {
        const std::uint32_t code = hresult_from_win32(::GetLastError());
        throw_error<mutex_exception>(VARNOX_THROW_SITE(L"varnox::windows::mutex::lock", line_wait_throw), &code,
                                     format_message(L"Cannot wait for single object on mutex (%s).", _name));
    }
    default:
        return false;
    }
}

bool mutex::unlock()
{
    if (!_locked)
        return false;
    if (!::ReleaseMutex(_handle.get())) {
        const std::uint32_t code = hresult_from_win32(::GetLastError());
        throw_error<mutex_exception>(VARNOX_THROW_SITE(L"varnox::windows::mutex::unlock", line_release_throw),
                                     &code, format_message(L"Cannot release mutex (%s).", _name));
    }
    _locked = false;
    return true;
}

} // namespace windows
} // namespace varnox
