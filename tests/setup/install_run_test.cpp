#include <gtest/gtest.h>

#include <windows.h>

#include <boost/filesystem.hpp>

#include "install.h"
#include "test_support.h"
#include "varnox/windows/folders.h"

using test_support::file_exists;
using test_support::temp_folder;

namespace {

// A copy of install.exe under a name of the test's own, so that its log file
// (named after the executable) belongs to this test alone.
std::wstring copy_of_install_exe(const temp_folder& folder, const std::wstring& name)
{
    const std::wstring source = test_support::windows_path_of_unix(VARNOX_INSTALL_EXE);
    const std::wstring target = folder.file(name);
    if (!::CopyFileW(source.c_str(), target.c_str(), FALSE))
        ADD_FAILURE() << "cannot copy install.exe: " << test_support::to_utf8(test_support::error_text(::GetLastError()));
    return target;
}

std::wstring log_of(const std::wstring& executable)
{
    return install::log_file_path(varnox::windows::get_temp_folder(), executable);
}

} // namespace

TEST(log_file_path, names_the_log_after_the_executable)
{
    EXPECT_EQ(L"C:\\Temp\\install.exe.log", install::log_file_path(L"C:\\Temp", L"D:\\media\\setup\\install.exe"));
    EXPECT_EQ(L"C:\\Temp\\Setup v2.EXE.log", install::log_file_path(L"C:\\Temp", L"Setup v2.EXE"));
}

// Without a payload the run ends at once: exit code 0, no window, no log file.
TEST(install_exe, without_payload_ends_quietly_with_exit_code_0)
{
    temp_folder folder;
    const std::wstring exe = copy_of_install_exe(folder, L"e2e_no_payload.exe");
    const std::wstring log = log_of(exe);
    ::DeleteFileW(log.c_str());

    const auto result = test_support::run_process(L"\"" + exe + L"\" /qn", 60000);
    ASSERT_TRUE(result.started);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(0u, result.exit_code);
    EXPECT_TRUE(result.window_titles.empty()) << test_support::to_utf8(result.window_titles.front());
    EXPECT_FALSE(file_exists(log));
}
