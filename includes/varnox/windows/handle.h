#pragma once

#include <windows.h>

#include <utility>

namespace varnox {
namespace windows {

// Owns one kind of platform handle; closing keeps the thread's last error, so
// an error read after an early return is still the failed call's.
template <typename Traits>
class unique_any {
public:
    using pointer = typename Traits::pointer;

    unique_any() noexcept : _value(Traits::invalid()) {}
    explicit unique_any(pointer value) noexcept : _value(value) {}
    ~unique_any() { reset(); }

    unique_any(unique_any&& other) noexcept : _value(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;

    pointer get() const noexcept { return _value; }
    bool valid() const noexcept { return _value != Traits::invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    pointer release() noexcept { return std::exchange(_value, Traits::invalid()); }

    void reset(pointer value = Traits::invalid()) noexcept
    {
        if (valid()) {
            const DWORD last_error = ::GetLastError();
            Traits::close(_value);
            ::SetLastError(last_error);
        }
        _value = value;
    }

    // For out-parameters: releases the current value first.
    pointer* put() noexcept
    {
        reset();
        return &_value;
    }

private:
    pointer _value;
};

struct handle_traits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::CloseHandle(value); }
};

struct file_handle_traits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer value) noexcept { ::CloseHandle(value); }
};

struct find_handle_traits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer value) noexcept { ::FindClose(value); }
};

struct hkey_traits {
    using pointer = HKEY;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::RegCloseKey(value); }
};

struct hmodule_traits {
    using pointer = HMODULE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::FreeLibrary(value); }
};

struct hglobal_traits {
    using pointer = HGLOBAL;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::GlobalFree(value); }
};

struct sc_handle_traits {
    using pointer = SC_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::CloseServiceHandle(value); }
};

// Processes, threads, mutexes, events, pipes: NULL when invalid.
using unique_handle = unique_any<handle_traits>;
// Files: INVALID_HANDLE_VALUE when invalid.
using unique_hfile = unique_any<file_handle_traits>;
// Folder listings of FindFirstFileW.
using unique_hfind = unique_any<find_handle_traits>;
using unique_hkey = unique_any<hkey_traits>;
using unique_hmodule = unique_any<hmodule_traits>;
using unique_hglobal = unique_any<hglobal_traits>;
// The service control manager and its services.
using unique_schandle = unique_any<sc_handle_traits>;

} // namespace windows
} // namespace varnox
