// The client installation's decisions, each a function of its inputs (the
// package for a Windows, the conflicting filter, the options passed on, the
// installer command and the meaning of the installer's exit code), and the
// hold on the extracted package until the installer ends.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "client_installation.h"
#include "test_support.h"

using test_support::operating_system_with;
using test_support::to_utf8;

// Each Windows gets the package of its version and bitness, and its own log line when that is missing.
TEST(client_package_for, chooses_by_version_and_bitness)
{
    constexpr WORD x86 = 0, itanium = 6, x64 = 9;
    const struct {
        const char* scenario;
        varnox::windows::operating_system os;
        const char* member;  // null: none
        int log_line;
        const wchar_t* logged;
    } cases[] = {
        {"Windows 10 x64", operating_system_with(10, 0, x64), "client_x64.msi", 237,
         L"Can't extract client_x64.msi file!"},
        {"Windows 7 x64", operating_system_with(6, 1, x64), "client_x64.msi", 237,
         L"Can't extract client_x64.msi file!"},
        {"Windows Vista x86", operating_system_with(6, 0, x86), "client_x86.msi", 244,
         L"Can't extract client_x86.msi file!"},
        {"Windows Server 2008 Itanium", operating_system_with(6, 0, itanium), "client_x64.msi", 237,
         L"Can't extract client_x64.msi file!"},
        {"Windows XP x64", operating_system_with(5, 2, x64), "client_x64_2k3.msi", 253,
         L"Can't extract client_x64_2k3.msi file!"},
        {"Windows Server 2003 x86", operating_system_with(5, 2, x86), "client_x86_2k3.msi", 260,
         L"Can't extract client_x86_2k3.msi file!"},
        {"Windows Server 2003 Itanium", operating_system_with(5, 2, itanium), "client_x64_2k3.msi", 253,
         L"Can't extract client_x64_2k3.msi file!"},
        {"Windows XP x86", operating_system_with(5, 1, x86), nullptr, 0, nullptr},
        {"Windows 2000", operating_system_with(5, 0, x86), nullptr, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const install::client_package* package = install::client_package_for(c.os);
        if (c.member == nullptr) {
            EXPECT_EQ(nullptr, package);
            continue;
        }
        ASSERT_NE(nullptr, package);
        EXPECT_STREQ(c.member, package->member);
        EXPECT_EQ(c.log_line, package->log_line);
        EXPECT_STREQ(c.logged, package->extraction_failed);
    }
}

// Only an entry equal to "VolFilter", in any letter case, is the conflicting filter.
TEST(lists_conflicting_volume_filter, matches_whole_names_in_any_case)
{
    const struct {
        std::vector<std::wstring> filters;
        bool conflicting;
    } cases[] = {
        {{L"PartMgr", L"VolFilter"}, true},
        {{L"volfilter"}, true},
        {{L"VOLFILTER", L"volsnap"}, true},
        {{L"VolFilter2"}, false},
        {{L"Vol Filter", L"xVolFilter"}, false},
        {{L""}, false},
        {{}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.filters.size()) + " filters, first " +
                     (c.filters.empty() ? std::string() : to_utf8(c.filters.front())));
        EXPECT_EQ(c.conflicting, install::lists_conflicting_volume_filter(c.filters));
    }
}

// The options are the command line after the program's path, verbatim,
// however the program was named on it.
TEST(installer_options, pass_on_what_follows_the_program)
{
    const std::wstring exe = L"C:\\Setups\\install.exe";
    const struct {
        const char* scenario;
        std::wstring command_line;
        std::wstring executable;
        std::wstring options;
    } cases[] = {
        {"quoted path: the closing quote is not passed on", L"\"C:\\Setups\\install.exe\" /qn", exe, L" /qn"},
        {"quoted path alone", L"\"C:\\Setups\\install.exe\"", exe, L""},
        {"quoted path without a blank after it", L"\"C:\\Setups\\install.exe\"/qn", exe, L"/qn"},
        {"unquoted path: the rest from its blank", L"C:\\Setups\\install.exe /qn /l*v x.log", exe,
         L" /qn /l*v x.log"},
        {"the file name alone", L"install.exe", exe, L""},
        {"bare name without extension", L"install /qn", exe, L" /qn"},
        {"another letter case", L"C:\\SETUPS\\INSTALL.EXE /qn", exe, L" /qn"},
        {"the name earlier inside a folder name, quoted", L"\"D:\\install.exe.files\\install.exe\" /qn",
         L"D:\\install.exe.files\\install.exe", L" /qn"},
        {"the name earlier inside a folder name, unquoted", L"D:\\install.exe.files\\install.exe /qn",
         L"D:\\install.exe.files\\install.exe", L" /qn"},
        {"unquoted path with blanks, as CreateProcessW runs it", L"C:\\Program Files\\My install\\install.exe /qn",
         L"C:\\Program Files\\My install\\install.exe", L" /qn"},
        {"a name the file does not have (a short name)", L"INSTAL~1.EXE /qn", exe, L" /qn"},
        {"leading blanks and quotes of the options stay", L"install.exe   TARGETDIR=\"C:\\A B\"", exe,
         L"   TARGETDIR=\"C:\\A B\""},
        {"\"--hide\" is passed on", L"\"C:\\Setups\\install.exe\" /qn --hide", exe, L" /qn --hide"},
        {"a quote that is never closed", L"\"C:\\Setups\\install.exe /qn", exe, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        EXPECT_EQ(to_utf8(c.options), to_utf8(install::installer_options(c.command_line, c.executable)));
    }
}

// The installer command quotes both paths; Windows splits it back into the
// installer, /i, the package and the options.
TEST(installer_command, quotes_the_installer_and_the_package)
{
    const std::wstring command =
        install::installer_command(L"C:\\windows\\system32", L"C:\\users\\me\\Temp\\client.msi", L" /qn");
    EXPECT_EQ(L"\"C:\\windows\\system32\\msiexec.exe\" /i \"C:\\users\\me\\Temp\\client.msi\"  /qn", command);

    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(command.c_str(), &count);
    ASSERT_NE(nullptr, arguments);
    const std::vector<std::wstring> split(arguments, arguments + count);
    ::LocalFree(arguments);
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\windows\\system32\\msiexec.exe", L"/i",
                                         L"C:\\users\\me\\Temp\\client.msi", L"/qn"}),
              split);

    EXPECT_EQ(L"\"C:\\windows\\system32\\msiexec.exe\" /i \"C:\\Temp\\client.msi\" ",
              install::installer_command(L"C:\\windows\\system32", L"C:\\Temp\\client.msi", L""));
}

// 0 is success, 3010 and 1641 success with a restart, every other code a failure.
TEST(interpret_installer_exit_code, success_restart_or_failure)
{
    using install::installer_outcome;
    const struct {
        DWORD code;
        installer_outcome outcome;
    } cases[] = {
        {0, installer_outcome::succeeded},
        {3010, installer_outcome::restart_needed},  // ERROR_SUCCESS_REBOOT_REQUIRED
        {1641, installer_outcome::restart_needed},  // ERROR_SUCCESS_REBOOT_INITIATED
        {1602, installer_outcome::failed},          // cancelled by the user
        {1603, installer_outcome::failed},          // fatal error during installation
        {1619, installer_outcome::failed},          // the package could not be opened
        {1638, installer_outcome::failed},          // another version is installed
        {2, installer_outcome::failed},             // the installer could not be started
        {0xFFFFFFFF, installer_outcome::failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(c.outcome, install::interpret_installer_exit_code(c.code));
    }
}

// The CRC-32 check value: the CRC-32 of "123456789".
const varnox::archive::unzip::member_digest check_digest = {9, 0xCBF43926u};

// A held package can be read but not written, renamed or deleted by another
// process until the handle closes.
TEST(hold_package, keeps_other_processes_from_changing_the_package)
{
    test_support::temp_folder folder;
    const std::wstring package = folder.file(L"client.msi");
    test_support::write_file(package, "123456789");

    DWORD error = 0;
    varnox::windows::unique_hfile held = install::hold_package(package, check_digest, error);
    ASSERT_TRUE(held) << to_utf8(test_support::error_text(error));

    varnox::windows::unique_hfile reader(::CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                       OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(reader) << "the installer reads the package";
    reader.reset();
    const std::wstring moved = folder.file(L"moved.msi");
    for (const std::wstring& change : {L"echo swapped> \"" + package + L"\"", L"del /f /q \"" + package + L"\"",
                                       L"move /y \"" + package + L"\" \"" + moved + L"\""}) {
        const test_support::process_result result = test_support::run_process(L"cmd.exe /C " + change, 30000);
        ASSERT_TRUE(result.started && !result.timed_out) << to_utf8(change);
        EXPECT_EQ("123456789", test_support::read_file(package)) << to_utf8(change);
    }
    EXPECT_FALSE(test_support::file_exists(moved));

    held.reset();
    EXPECT_TRUE(::DeleteFileW(package.c_str())) << "free again once released";
}

// What stands at the package's name after the extraction is held only when it
// is the extracted member itself.
TEST(hold_package, refuses_anything_but_the_extracted_member)
{
    struct {
        const char* planted;
        const char* content;   // written at the package's name; null: nothing there
        bool second_name;      // a hard link to it elsewhere
        DWORD error;
    } cases[] = {
        {"other content of the same size", "987654321", false, ERROR_CRC},
        {"the content and more", "1234567890", false, ERROR_CRC},
        {"the content with a second name", "123456789", true, ERROR_CANT_ACCESS_FILE},
        {"nothing", nullptr, false, ERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.planted);
        test_support::temp_folder folder;
        const std::wstring package = folder.file(L"client.msi");
        if (c.content)
            test_support::write_file(package, c.content);
        if (c.second_name)
            ASSERT_TRUE(::CreateHardLinkW(folder.file(L"elsewhere.msi").c_str(), package.c_str(), nullptr));
        DWORD error = 0;
        EXPECT_FALSE(install::hold_package(package, check_digest, error));
        EXPECT_EQ(c.error, error) << to_utf8(test_support::error_text(error));
    }
}
