// Loads version.dll the way its argument says and prints the path of the
// module it got:
//   by_name         LoadLibraryW(L"version.dll"), as a program without the
//                   defences would (or as its imports do);
//   restricted      the same after restrict_library_search();
//   system_library  through varnox::windows::system_library.
// It imports nothing that imports version.dll under Wine (Wine's user32
// does), so that nothing but the chosen load brings the library in: exit
// code 3 says it was there before.
#include <windows.h>

#include <cstdio>
#include <string>

#include "varnox/windows/system_library.h"

namespace {

std::wstring module_path(HMODULE module)
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, length);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (::GetModuleHandleW(L"version.dll") != nullptr)
        return 3;
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    HMODULE module = nullptr;
    if (mode == L"by_name") {
        module = ::LoadLibraryW(L"version.dll");
    } else if (mode == L"restricted") {
        if (varnox::windows::restrict_library_search() != varnox::windows::library_search::system_folder_only)
            return 4;
        module = ::LoadLibraryW(L"version.dll");
    } else if (mode == L"system_library") {
        static const varnox::windows::system_library version(L"version.dll");
        module = version.module();
    } else {
        return 2;
    }
    if (module == nullptr)
        return 1;
    std::printf("%ls\n", module_path(module).c_str());
    return 0;
}
