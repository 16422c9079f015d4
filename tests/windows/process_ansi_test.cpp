#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>

#include "test_support.h"
#include "varnox/windows/process.h"

// Built once per Chinese locale; VARNOX_CODE_PAGE is the ANSI code page that
// Wine takes from it.
namespace {

std::wstring run_child(const std::wstring& arguments)
{
    std::wstring output;
    const std::wstring command =
        L"\"" + test_support::windows_path_of_unix(VARNOX_PROCESS_CHILD) + L"\" " + arguments;
    EXPECT_TRUE(varnox::windows::exec_console_application_with_timeout(command, output, true, 0));
    return output;
}

} // namespace

// Output in the ANSI code page is converted to the same text in UTF-16.
TEST(VARNOX_ANSI_SUITE, chinese_code_page_output_is_converted)
{
    ASSERT_EQ(static_cast<UINT>(VARNOX_CODE_PAGE), ::GetACP())
        << "run with LANG set to the test's Chinese locale and LOCPATH to the build's locales";
    EXPECT_EQ(L"\u4E2D\u6587", run_child(L"ansi " + std::to_wstring(VARNOX_CODE_PAGE)));
}

// Double-byte characters that straddle the 512-byte reads come out whole.
TEST(VARNOX_ANSI_SUITE, double_byte_characters_across_reads_stay_whole)
{
    ASSERT_EQ(static_cast<UINT>(VARNOX_CODE_PAGE), ::GetACP())
        << "run with LANG set to the test's Chinese locale and LOCPATH to the build's locales";
    std::wstring expected = L"a";
    for (int i = 0; i < 600; ++i)
        expected += L"\u4E2D\u6587";
    const std::wstring output = run_child(L"double_byte " + std::to_wstring(VARNOX_CODE_PAGE));
    const auto differ = std::mismatch(expected.begin(), expected.end(), output.begin(), output.end());
    EXPECT_TRUE(expected == output) << "the output (" << output.size() << " characters) differs from character "
                                    << (differ.first - expected.begin()) << " on";
}
