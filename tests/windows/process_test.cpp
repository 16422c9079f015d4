#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>
#include <vector>

#include "test_support.h"
#include "varnox/common/log.h"
#include "varnox/windows/process.h"

using test_support::temp_folder;
using varnox::windows::exec_console_application_with_timeout;

namespace {

std::vector<std::wstring>* debug_output = nullptr;
void capture_debug_output(const wchar_t* text)
{
    debug_output->push_back(text);
}

std::wstring child_command(const std::wstring& arguments)
{
    return L"\"" + test_support::windows_path_of_unix(VARNOX_PROCESS_CHILD) + L"\" " + arguments;
}

std::wstring pattern(size_t size)
{
    std::wstring text(size, L'\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<wchar_t>(L'a' + i % 26);
    return text;
}

struct run_result {
    bool succeeded;
    DWORD last_error;
    std::wstring output;
};

class process_runner : public ::testing::Test {
protected:
    void SetUp() override
    {
        log_path = folder.file(L"runner.log");
        varnox::the_logger().set_path(log_path);
        varnox::the_logger().level = 4;
    }
    void TearDown() override { varnox::the_logger().set_path(L""); }

    run_result run(const std::wstring& command, std::uint64_t timeout = 0, bool hide_window = true)
    {
        run_result result;
        result.succeeded = exec_console_application_with_timeout(command, result.output, hide_window, timeout);
        result.last_error = ::GetLastError();
        return result;
    }

    std::string log_text() { return test_support::read_file(log_path); }

    temp_folder folder;
    std::wstring log_path;
};

} // namespace

// The result and the last error follow the child's exit code: only 0 is success.
TEST_F(process_runner, result_follows_exit_code)
{
    const struct {
        const wchar_t* arguments;
        bool hide_window;
        bool succeeded;
        DWORD last_error;
    } cases[] = {
        {L"exit 0", true, true, 0},
        {L"exit 0", false, true, 0},
        {L"exit 1", true, false, 1},
        {L"exit 0xC0000005", true, false, 0xC0000005},
        {L"exit 1603", true, false, 1603},
        // The child's own code equals STILL_ACTIVE: its exit time shows it ended.
        {L"exit 259", true, false, 259},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(test_support::to_utf8(c.arguments));
        const run_result result = run(child_command(c.arguments), 0, c.hide_window);
        EXPECT_EQ(c.succeeded, result.succeeded);
        EXPECT_EQ(c.last_error, result.last_error);
        EXPECT_EQ(L"", result.output);
    }
}

// Output of any length arrives whole and in order, across 512-byte chunks.
TEST_F(process_runner, output_arrives_whole_and_in_order)
{
    for (size_t size : {1u, 511u, 512u, 513u, 1024u, 1500u, 70000u}) {
        SCOPED_TRACE(size);
        const run_result result = run(child_command(L"print " + std::to_wstring(size)));
        EXPECT_TRUE(result.succeeded);
        EXPECT_EQ(0u, result.last_error);
        EXPECT_EQ(pattern(size), result.output);
    }
}

// A NUL byte ends its 512-byte chunk: the rest of that chunk is lost, the next chunk is kept.
TEST_F(process_runner, nul_byte_cuts_its_chunk)
{
    const run_result result = run(child_command(L"nul"));
    EXPECT_TRUE(result.succeeded);
    const std::wstring all = pattern(600);
    EXPECT_EQ(all.substr(0, 100) + all.substr(512), result.output);
}

// A child that reads its input to the end finds it empty and at its end, also
// under cmd.exe as the hotfix listing runs it.
TEST_F(process_runner, child_reading_its_input_finds_it_ended)
{
    for (const std::wstring& command : {child_command(L"stdin"), L"cmd.exe /C " + child_command(L"stdin")}) {
        SCOPED_TRACE(test_support::to_utf8(command));
        // The limit only keeps a hanging child from stopping the suite.
        const run_result result = run(command, 10);
        EXPECT_TRUE(result.succeeded);
        EXPECT_EQ(0u, result.last_error);
        EXPECT_EQ(L"input: 0 bytes", result.output);
    }
}

// Standard error goes to the runner's own standard error, not into the output.
TEST_F(process_runner, standard_error_is_not_collected)
{
    const run_result result = run(child_command(L"stderr"));
    EXPECT_TRUE(result.succeeded);
    EXPECT_EQ(L"to stdout", result.output);
}

// An empty command starts nothing, fails with 87 and leaves the output as it was.
TEST_F(process_runner, empty_command_is_invalid)
{
    run_result result;
    result.output = L"before";
    result.succeeded = exec_console_application_with_timeout(L"", result.output, true, 0);
    result.last_error = ::GetLastError();
    EXPECT_FALSE(result.succeeded);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), result.last_error);
    EXPECT_EQ(L"before", result.output);
    EXPECT_EQ(std::string::npos, log_text().find("process(345)"));
}

// A missing program fails with CreateProcessW's error, after the start was announced.
TEST_F(process_runner, missing_program_reports_create_process_error)
{
    const std::wstring command = L"\"" + folder.file(L"missing.exe") + L"\" -x";
    const run_result result = run(command);
    EXPECT_FALSE(result.succeeded);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), result.last_error)
        << test_support::to_utf8(test_support::error_text(result.last_error));
    EXPECT_EQ(L"", result.output);
    EXPECT_NE(std::string::npos,
              log_text().find("|I|process(345) - exec_console_application_with_timeout(" +
                              test_support::to_utf8(command) + ") successfully. "));
}

// Below threshold 4 the progress entries are not written at all.
TEST_F(process_runner, progress_entries_need_threshold_4)
{
    varnox::the_logger().level = 3;
    const run_result result = run(child_command(L"sleep 1200"), 30);
    EXPECT_TRUE(result.succeeded);
    EXPECT_EQ(std::string::npos, log_text().find("process("));
}

// Without a time limit a slow child is left to finish, and reported as still running meanwhile.
TEST_F(process_runner, no_time_limit_waits_for_the_child)
{
    const std::wstring command = child_command(L"sleep 2500 0");
    const run_result result = run(command, 0);
    EXPECT_TRUE(result.succeeded);
    EXPECT_EQ(0u, result.last_error);
    EXPECT_EQ(L"started", result.output);
    const std::string log = log_text();
    EXPECT_NE(std::string::npos,
              log.find("|I|process(411) - The Command (" + test_support::to_utf8(command) + ") is still running. "));
    EXPECT_EQ(std::string::npos, log.find("process(399)"));
    EXPECT_EQ(std::string::npos, log.find("process(404)"));
}

// A quiet child is reported as still running about once a second, not at
// every look at the pipe. The debugger output shows every entry: a file would
// fold the repeats.
TEST_F(process_runner, still_running_entries_come_about_once_a_second)
{
    const struct {
        std::uint64_t timeout;
        const char* entry;
    } cases[] = {{0, "process(411)"}, {60, "process(404)"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        std::vector<std::wstring> output;
        debug_output = &output;
        varnox::the_logger().set_path(L"");
        varnox::the_logger().set_debug_output(&capture_debug_output);
        const run_result result = run(child_command(L"sleep 3000 0"), c.timeout);
        varnox::the_logger().set_debug_output(nullptr);
        debug_output = nullptr;
        EXPECT_TRUE(result.succeeded);
        int entries = 0;
        for (const std::wstring& line : output)
            entries += test_support::to_utf8(line).find(c.entry) != std::string::npos;
        EXPECT_GE(entries, 2);
        EXPECT_LE(entries, 6);
    }
}

// A child that ends within its time limit is not terminated; the elapsed seconds are reported.
TEST_F(process_runner, child_within_time_limit_runs_to_its_end)
{
    const std::wstring command = child_command(L"sleep 1500 7");
    const run_result result = run(command, 60);
    EXPECT_FALSE(result.succeeded);
    EXPECT_EQ(7u, result.last_error);
    EXPECT_EQ(L"started", result.output);
    const std::string log = log_text();
    EXPECT_NE(std::string::npos, log.find("|I|process(404) - The Command (" + test_support::to_utf8(command) +
                                          ") is still running. (0 seconds) "));
    EXPECT_EQ(std::string::npos, log.find("process(399)"));
}

// A child running past its time limit is terminated with 1460, and its output so far is kept.
TEST_F(process_runner, time_limit_terminates_endless_child)
{
    const struct {
        const wchar_t* arguments;
        const wchar_t* output_start;
    } cases[] = {
        {L"forever", L"started"},
        // Keeps the pipe full, so every pass finds output: the limit holds all the same.
        {L"chatty", L"still here\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(test_support::to_utf8(c.arguments));
        const std::wstring command = child_command(c.arguments);
        const run_result result = run(command, 2);
        EXPECT_FALSE(result.succeeded);
        EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), result.last_error);
        EXPECT_EQ(0u, result.output.rfind(c.output_start, 0));
        const std::regex terminated("\\|E\\|process\\(399\\) - Terminate command process \\(.*process_child\\.exe\" " +
                                    test_support::to_utf8(c.arguments) +
                                    "\\) when it is running \\([23]\\) seconds which is over \\(2\\) seconds\\. ");
        EXPECT_TRUE(std::regex_search(log_text(), terminated)) << log_text();
    }
}

// A program named without a folder is the system folder's, ".exe" added when
// it has no extension; a command that names a folder, or no program, is left
// to the command line.
TEST(system_program_for, takes_programs_without_a_folder_from_the_system_folder)
{
    const std::wstring system = L"C:\\windows\\system32";
    const struct {
        const wchar_t* command;
        const wchar_t* program;
    } cases[] = {
        {L"cmd.exe /C wmic qfe get hotfixid", L"C:\\windows\\system32\\cmd.exe"},
        {L"msiexec /i \"C:\\Temp\\client.msi\"", L"C:\\windows\\system32\\msiexec.exe"},
        {L"\"cmd.exe\" /C exit", L"C:\\windows\\system32\\cmd.exe"},
        {L"cmd.exe\t/C exit", L"C:\\windows\\system32\\cmd.exe"},
        {L"cmd.exe", L"C:\\windows\\system32\\cmd.exe"},
        {L"\"C:\\windows\\system32\\msiexec.exe\" /i \"x.msi\"", L""},
        {L"\"C:\\Users\\John Smith\\Temp\\tmp1.tmp\\dpinst.exe\"", L""},
        {L"C:\\tools\\run.exe -x", L""},
        {L"tools\\run.exe", L""},
        {L"./run.exe", L""},
        {L"C:run.exe", L""},
        {L"\"\" /C exit", L""},
        {L" cmd.exe", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(test_support::to_utf8(c.command));
        EXPECT_EQ(c.program, varnox::windows::system_program_for(c.command, system));
    }
    EXPECT_EQ(L"", varnox::windows::system_program_for(L"cmd.exe /C exit", L""));
}
