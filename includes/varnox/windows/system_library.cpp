#include "varnox/windows/system_library.h"

#include "varnox/windows/folders.h"
#include "varnox/windows/system_function.h"

namespace varnox {
namespace windows {

namespace {

// Older SDK headers lack it.
constexpr DWORD search_system32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

using set_default_dll_directories_function = BOOL(WINAPI*)(DWORD);
using set_dll_directory_function = BOOL(WINAPI*)(LPCWSTR);

} // namespace

library_search restrict_library_search()
{
    const auto set_default_dll_directories =
        find_function<set_default_dll_directories_function>(L"kernel32.dll", "SetDefaultDllDirectories");
    if (set_default_dll_directories && set_default_dll_directories(search_system32))
        return library_search::system_folder_only;
    // Windows XP SP1 and later; an empty text removes the current folder.
    const auto set_dll_directory = find_function<set_dll_directory_function>(L"kernel32.dll", "SetDllDirectoryW");
    if (set_dll_directory && set_dll_directory(L""))
        return library_search::without_current_folder;
    return library_search::unchanged;
}

system_library::system_library(const wchar_t* file_name)
{
    const std::wstring folder = get_system_folder();
    if (folder.empty()) {
        _load_error = ERROR_PATH_NOT_FOUND;
        return;
    }
    const std::wstring path = folder + L"\\" + file_name;
    // With a full path, the library's own imports are looked for in its
    // folder first, on every release.
    _module.reset(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!_module)
        _load_error = ::GetLastError();
}

} // namespace windows
} // namespace varnox
