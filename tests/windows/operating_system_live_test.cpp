#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "probe_output.h"
#include "test_support.h"

namespace {

// The Wine prefix is named after the version it plays: os_win7 plays win7.
std::wstring windows_setting()
{
    wchar_t value[64] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"VARNOX_WINE_PREFIX", value, 64);
    const std::wstring prefix = length > 0 && length < 64 ? value : L"";
    return prefix.rfind(L"os_", 0) == 0 ? prefix.substr(3) : L"";
}

} // namespace

// A program started in a prefix set to a Windows version sees that version's facts and name.
TEST(operating_system_live, names_the_windows_that_wine_plays)
{
    const struct {
        const wchar_t* setting;
        const char* reported_version;
        const char* major;
        const char* minor;
        const char* build;
        const char* product_type_byte;
        const char* service_pack;
        const char* name;
    } cases[] = {
        {L"winxp64", "5.2.3790", "5", "2", "3790", "1", "Service Pack 2",
         "Microsoft Windows XP Professional x64 Edition Service Pack 2 (build 3790)"},
        {L"win2003", "5.2.3790", "5", "2", "3790", "3", "Service Pack 2",
         "Microsoft Windows Server 2003, Standard x64 Edition Service Pack 2 (build 3790)"},
        // Wine's GetProductInfo answers 28 (no edition text): two blanks from 6.x on.
        {L"win7", "6.1.7601", "6", "1", "7601", "1", "Service Pack 1",
         "Microsoft Windows 7  Service Pack 1 (build 7601), 64-bit"},
        // Windows reports 6.2.9200; kernel32.dll's product version says 10.0.18362.
        {L"win10", "6.2.9200", "10", "0", "18362", "1", "", "Microsoft Windows 10  (build 18362), 64-bit"},
    };
    const std::wstring setting = windows_setting();
    const auto* expected = std::find_if(std::begin(cases), std::end(cases),
                                        [&](const auto& c) { return setting == c.setting; });
    ASSERT_NE(std::end(cases), expected) << "VARNOX_WINE_PREFIX names no known Windows version";

    const test_support::process_result winecfg = test_support::run_process(L"winecfg.exe -v " + setting, 60000);
    ASSERT_TRUE(winecfg.started);
    ASSERT_EQ(0u, winecfg.exit_code);

    test_support::temp_folder folder;
    const auto values = run_system_probe(test_support::windows_path_of_unix(VARNOX_SYSTEM_PROBE), folder);
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(0u, values.count("error"));
    EXPECT_EQ(expected->reported_version, values.at("reported_version"));
    EXPECT_EQ(expected->major, values.at("major"));
    EXPECT_EQ(expected->minor, values.at("minor"));
    EXPECT_EQ(expected->build, values.at("build"));
    EXPECT_EQ(expected->product_type_byte, values.at("product_type_byte"));
    EXPECT_EQ(expected->service_pack, values.at("service_pack"));
    EXPECT_EQ("9", values.at("architecture"));
    EXPECT_EQ(expected->name, values.at("name"));
    EXPECT_EQ("1", values.at("is_64bit_os"));
    // This is a 64-bit program; the 32-bit product would see 0 here under WOW64.
    EXPECT_EQ(sizeof(void*) == 8 ? "1" : "0", values.at("is_64bit_process"));
}
