// install.exe with a payload, run the way an administrator runs it, on a
// Windows that needs the journal driver's updates. Wine has no "wmic qfe":
// a stand-in wmic.exe first on the search path prints the updates the test
// chooses and records each call.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "install.h"
#include "test_support.h"
#include "varnox/windows/folders.h"
#include "varnox/windows/handle.h"
#include "varnox/windows/process.h"

using test_support::file_exists;
using test_support::temp_folder;

namespace {

std::wstring environment(const wchar_t* name)
{
    wchar_t value[32768] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, value, 32768);
    return length > 0 && length < 32768 ? std::wstring(value, length) : std::wstring();
}

struct run_outcome {
    DWORD exit_code = 0;
    bool ended = false;
    int listing_calls = 0;
    bool box_seen = false;
    std::string box;  // what the window helper read: caption=..., text=...
    std::string log;
};

class prerequisites_run : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::wstring setup = test_support::windows_path_of_unix(VARNOX_SETUP_WITH_PAYLOAD);
        // The log is named after the executable: a name of this test's own.
        exe = folder.file(L"e2e_prereq_" + test_support::from_utf8(
                                               ::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                          L".exe");
        ASSERT_TRUE(::CopyFileW(setup.c_str(), exe.c_str(), FALSE));
        calls_file = folder.file(L"wmic_calls.txt");
    }

    // Starts the setup, answers a box if one comes, and waits for the end.
    run_outcome run(const std::wstring& hotfixes, const std::wstring& options)
    {
        wchar_t path[32768] = {};
        ::GetEnvironmentVariableW(L"PATH", path, 32768);
        const std::wstring stand_in_folder = test_support::windows_path_of_unix(VARNOX_STAND_IN_WMIC_DIR);
        ::SetEnvironmentVariableW(L"PATH", (stand_in_folder + L";" + path).c_str());
        ::SetEnvironmentVariableW(L"VARNOX_STAND_IN_HOTFIXES", hotfixes.c_str());
        ::SetEnvironmentVariableW(L"VARNOX_STAND_IN_WMIC_LOG", calls_file.c_str());
        // A temporary folder of the run's own, for its log and client.msi.
        const std::wstring temp = environment(L"TMP");
        ::SetEnvironmentVariableW(L"TMP", folder.path().c_str());

        run_outcome outcome;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        std::wstring command_line = L"\"" + exe + L"\" " + options;
        const BOOL started = ::CreateProcessW(nullptr, &command_line[0], nullptr, nullptr, FALSE, 0, nullptr,
                                              nullptr, &startup, &info);
        ::SetEnvironmentVariableW(L"PATH", path);
        ::SetEnvironmentVariableW(L"TMP", temp.empty() ? nullptr : temp.c_str());
        if (!started) {
            ADD_FAILURE() << "cannot start the setup";
            return outcome;
        }
        varnox::windows::unique_handle process(info.hProcess);
        varnox::windows::unique_handle thread(info.hThread);

        // The helper waits a while for a box and presses OK; no box is fine.
        std::wstring helper_output;
        outcome.box_seen = varnox::windows::exec_console_application_with_timeout(
            L"\"" + test_support::windows_path_of_unix(VARNOX_WINDOW_HELPER) + L"\" --pid " +
                std::to_wstring(info.dwProcessId) + L" --timeout-ms 8000 --press ok",
            helper_output, true, 60);
        outcome.box = test_support::to_utf8(helper_output);

        outcome.ended = ::WaitForSingleObject(process.get(), 60000) == WAIT_OBJECT_0;
        if (!outcome.ended)
            ::TerminateProcess(process.get(), 99);
        ::GetExitCodeProcess(process.get(), &outcome.exit_code);
        outcome.log = test_support::read_file(install::log_file_path(folder.path(), exe));
        const std::string calls = test_support::read_file(calls_file);
        for (size_t at = calls.find('\n'); at != std::string::npos; at = calls.find('\n', at + 1))
            ++outcome.listing_calls;
        return outcome;
    }

    temp_folder folder;
    std::wstring exe;
    std::wstring calls_file;
};

} // namespace

// Windows 7 x64 with both updates listed: the run goes on to its job, the
// client installation, whose stand-in package the installer refuses.
TEST_F(prerequisites_run, both_updates_listed_goes_on)
{
    const run_outcome outcome = run(L"KB4490628,KB4474419", L"/qn");
    EXPECT_TRUE(outcome.ended);
    EXPECT_EQ(2u, outcome.exit_code);
    EXPECT_NE(std::string::npos, outcome.log.find("install(278)")) << outcome.log;
    EXPECT_FALSE(outcome.box_seen) << outcome.box;
    EXPECT_EQ(2, outcome.listing_calls);
}

// A missing first update shows message 111 under caption 102 and ends with 1.
TEST_F(prerequisites_run, missing_first_update_is_reported_in_a_box)
{
    const run_outcome outcome = run(L"KB4474419", L"/qn");
    EXPECT_TRUE(outcome.ended);
    EXPECT_EQ(1u, outcome.exit_code);
    ASSERT_TRUE(outcome.box_seen) << outcome.box;
    EXPECT_NE(std::string::npos, outcome.box.find("caption=Warning\n")) << outcome.box;
    EXPECT_NE(std::string::npos,
              outcome.box.find("text=Please update Windows to install Microsoft KB4490628. This is a prerequisite "
                               "for Windows Changed Blocks Journal Recording Driver."))
        << outcome.box;
    EXPECT_EQ(1, outcome.listing_calls);
}

// A missing second update shows message 113.
TEST_F(prerequisites_run, missing_second_update_is_reported_in_a_box)
{
    const run_outcome outcome = run(L"KB4490628", L"");
    EXPECT_EQ(1u, outcome.exit_code);
    ASSERT_TRUE(outcome.box_seen) << outcome.box;
    EXPECT_NE(std::string::npos, outcome.box.find("text=Please update Windows to install Microsoft KB4474419."))
        << outcome.box;
    EXPECT_EQ(2, outcome.listing_calls);
}

// With "--hide" in any letter case no box appears; the exit code is still 1.
TEST_F(prerequisites_run, hide_option_silences_the_box)
{
    const run_outcome outcome = run(L"", L"/qn --HiDe");
    EXPECT_TRUE(outcome.ended);
    EXPECT_EQ(1u, outcome.exit_code);
    EXPECT_FALSE(outcome.box_seen) << outcome.box;
    EXPECT_EQ(1, outcome.listing_calls);
}

// Windows 10 needs no updates: no listing runs at all. This test runs in a
// prefix of its own, set to Windows 10.
TEST_F(prerequisites_run, windows_10_runs_no_listing)
{
    const test_support::process_result winecfg = test_support::run_process(L"winecfg.exe -v win10", 60000);
    ASSERT_EQ(0u, winecfg.exit_code);
    const run_outcome outcome = run(L"", L"/qn");
    EXPECT_TRUE(outcome.ended);
    EXPECT_EQ(2u, outcome.exit_code);
    EXPECT_NE(std::string::npos, outcome.log.find("install(278)")) << outcome.log;
    EXPECT_FALSE(outcome.box_seen) << outcome.box;
    EXPECT_EQ(0, outcome.listing_calls);
    EXPECT_FALSE(file_exists(calls_file));
}
