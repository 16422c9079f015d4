#pragma once

// The thread's last error: GetLastError on Windows, errno elsewhere. Log
// calls and handle owners put it back as they found it, so an error read
// after them is still the failed call's.

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

#include <cstdint>

namespace varnox {

inline std::uint32_t last_error()
{
#ifdef _WIN32
    return ::GetLastError();
#else
    return static_cast<std::uint32_t>(errno);
#endif
}

inline void set_last_error(std::uint32_t error)
{
#ifdef _WIN32
    ::SetLastError(error);
#else
    errno = static_cast<int>(error);
#endif
}

class last_error_kept {
public:
    last_error_kept() : _error(last_error()) {}
    ~last_error_kept() { set_last_error(_error); }

    last_error_kept(const last_error_kept&) = delete;
    last_error_kept& operator=(const last_error_kept&) = delete;

private:
    std::uint32_t _error;
};

} // namespace varnox
