#pragma once

#include <windows.h>

#include "varnox/common/unique_any.h"

namespace varnox {
namespace windows {

// The owner template, for the kinds of Windows handle below.
using varnox::unique_any;

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
// Folder listings (FindFirstFileW).
using unique_hfind = unique_any<find_handle_traits>;
using unique_hkey = unique_any<hkey_traits>;
using unique_hmodule = unique_any<hmodule_traits>;
using unique_hglobal = unique_any<hglobal_traits>;
// The service control manager and its services.
using unique_schandle = unique_any<sc_handle_traits>;

} // namespace windows
} // namespace varnox
