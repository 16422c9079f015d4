#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "test_support.h"
#include "varnox/windows/process.h"

// Output in the ANSI code page 936 is converted to the same text in UTF-16.
TEST(process_runner_ansi, chinese_code_page_output_is_converted)
{
    ASSERT_EQ(936u, ::GetACP()) << "run with LANG=zh_CN.UTF-8 and LOCPATH set to the build's locales";
    std::wstring output;
    const std::wstring command =
        L"\"" + test_support::windows_path_of_unix(VARNOX_PROCESS_CHILD) + L"\" ansi";
    EXPECT_TRUE(varnox::windows::exec_console_application_with_timeout(command, output, true, 0));
    EXPECT_EQ(L"\u4E2D\u6587", output);
}
