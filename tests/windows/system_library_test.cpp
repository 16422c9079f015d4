#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "test_support.h"
#include "varnox/windows/folders.h"
#include "varnox/windows/system_library.h"

using varnox::windows::system_library;

namespace {

std::wstring module_path(HMODULE module)
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, length);
}

} // namespace

// The library comes from the system folder, and its functions are found by
// name with their declared types.
TEST(system_library, loads_the_system_folders_copy_and_finds_its_functions)
{
    const system_library version(L"version.dll");
    ASSERT_TRUE(version.loaded()) << test_support::to_utf8(test_support::error_text(version.load_error()));
    EXPECT_EQ(0u, version.load_error());
    EXPECT_EQ(0, _wcsicmp((varnox::windows::get_system_folder() + L"\\version.dll").c_str(),
                          module_path(version.module()).c_str()));

    const auto get_size = version.function<decltype(&::GetFileVersionInfoSizeW)>("GetFileVersionInfoSizeW");
    ASSERT_NE(nullptr, get_size);
    DWORD ignored = 0;
    EXPECT_GT(get_size((varnox::windows::get_system_folder() + L"\\kernel32.dll").c_str(), &ignored), 0u);
    EXPECT_EQ(nullptr, version.function<void (*)()>("NoSuchFunction"));
}

// A library that the system folder lacks is not loaded from anywhere else:
// the error says why, and no function is found.
TEST(system_library, missing_library_reports_why)
{
    const system_library missing(L"no_such_library.dll");
    EXPECT_FALSE(missing.loaded());
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), missing.load_error());
    EXPECT_EQ(nullptr, missing.function<void (*)()>("DllMain"));
}
