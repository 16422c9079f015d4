// install.exe with a driver package or an upgrade payload, run the way an
// administrator runs it: the payload is unpacked into a scratch folder in a
// temporary folder of the test's own (TMP, TEMP), the stand-in dpinst.exe
// records that it ran, upgrade.cmd prints, and the window helper reads and
// answers the upgrade box. Windows 7 x64 needs its updates listed: the
// stand-in wmic.exe lists them.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "install.h"
#include "job_test_support.h"
#include "running_process.h"
#include "test_support.h"

using test_support::file_exists;
using test_support::from_utf8;
using test_support::to_utf8;
using test_support::windows_path_of_unix;

namespace {

std::wstring setup_path(const char* payload)
{
    return windows_path_of_unix(std::string(VARNOX_JOB_SETUPS) + "/" + payload + "_setup.exe");
}

std::vector<std::wstring> names_in(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    for (boost::filesystem::directory_iterator it(folder), end; it != end; ++it)
        names.push_back(it->path().filename().wstring());
    return names;
}

struct job_run {
    bool ended = false;
    DWORD exit_code = 0;
    test_support::answered_box box;
    std::string log;
};

class scratch_folder_job_run : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(::CreateDirectoryW(temp.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(current.c_str(), nullptr));
        variables.for_setup(temp, VARNOX_STAND_IN_WMIC_DIR);
        variables.set(L"VARNOX_DPINST_RECORD", dpinst_record);
        variables.set(L"VARNOX_UPGRADE_RECORD", upgrade_record);
    }

    // Runs a setup in its own current folder; press: answers the box that
    // comes with it, empty: no box may come.
    job_run run(const std::wstring& setup, const std::wstring& press = std::wstring())
    {
        job_run outcome;
        test_support::running_process process(L"\"" + setup + L"\"", current);
        EXPECT_TRUE(process.started());
        if (!press.empty())
            outcome.box = test_support::answer_box(VARNOX_WINDOW_HELPER, process.id(), press);
        // A box nobody answers keeps the setup from ending.
        outcome.ended = process.wait(30000);
        outcome.exit_code = process.exit_code();
        outcome.log = test_support::read_file(install::log_file_path(temp, setup));
        return outcome;
    }

    // After a run the temporary folder holds the runs' logs and nothing else.
    void expect_no_scratch_folder() const
    {
        for (const std::wstring& name : names_in(temp))
            EXPECT_EQ(L".log", boost::filesystem::path(name).extension().wstring()) << to_utf8(name) << " is left";
        EXPECT_TRUE(names_in(current).empty()) << "something was written into the current folder";
    }

    std::string dpinst_log_entry(DWORD code) const
    {
        char hexadecimal[16] = {};
        std::snprintf(hexadecimal, sizeof(hexadecimal), "0x%08lX", static_cast<unsigned long>(code));
        return "|R|install(338) - The command (\"" + to_utf8(scratch_folder()) + "\\dpinst.exe\") ended with code " +
               std::to_string(code) + " (" + hexadecimal + "). \r\n";
    }

    // The scratch folder that the stand-in dpinst.exe recorded as its own.
    std::wstring scratch_folder() const
    {
        const std::string module = record_value("module=");
        return from_utf8(module.substr(0, module.find_last_of('\\')));
    }

    std::string record_value(const std::string& key) const
    {
        const std::string record = test_support::read_file(dpinst_record);
        const std::size_t at = record.find(key);
        return at == std::string::npos ? std::string() : record.substr(at + key.size(), record.find('\n', at) - at - key.size());
    }

    test_support::temp_folder work;
    // A blank in the temporary folder's path: the unquoted command line of
    // the run file would start "<work>\Temp.exe" instead.
    std::wstring temp = work.file(L"Temp Folder");
    std::wstring current = work.file(L"current");
    std::wstring dpinst_record = work.file(L"dpinst_record.txt");
    std::wstring upgrade_record = work.file(L"upgrade_record.txt");
    job_test_support::setup_environment variables;
};

} // namespace

// The driver package job runs the archive's dpinst.exe from a scratch folder
// in the temporary folder, beside every other member with its sub-folders,
// with no arguments and in the setup's current folder; upgrade.cmd, also in
// the archive, does not run. No box appears, the dpinst.exe's exit code is
// logged and the run still ends with exit code 0, and the scratch folder is
// gone.
TEST_F(scratch_folder_job_run, driver_package_runs_dpinst_exe_from_the_scratch_folder)
{
    // Where the unquoted command line would lead Windows first.
    ASSERT_TRUE(::CopyFileW(windows_path_of_unix(VARNOX_DPINST_STAND_IN).c_str(), work.file(L"Temp.exe").c_str(),
                            FALSE));
    const struct {
        DWORD dpinst_exit_code;
    } cases[] = {{0}, {0x40000102}, {0x80010000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dpinst_exit_code);
        ::DeleteFileW(dpinst_record.c_str());
        variables.set(L"VARNOX_DPINST_EXIT_CODE", std::to_wstring(c.dpinst_exit_code));
        const std::wstring setup = setup_path("driver_package");
        const job_run outcome = run(setup);

        ASSERT_TRUE(outcome.ended) << "a box kept the setup waiting";
        EXPECT_EQ(0u, outcome.exit_code) << outcome.log;
        ASSERT_TRUE(file_exists(dpinst_record)) << "dpinst.exe did not run\n" << outcome.log;
        const std::wstring folder = scratch_folder();
        EXPECT_EQ(0u, folder.rfind(temp + L"\\tmp", 0)) << to_utf8(folder);
        EXPECT_EQ("\"" + to_utf8(folder) + "\\dpinst.exe\"", record_value("command_line="));
        EXPECT_EQ(to_utf8(current), record_value("current_folder="));
        const std::string record = test_support::read_file(dpinst_record);
        EXPECT_NE(std::string::npos,
                  record.find("beside=dpinst.exe\nbeside=driver\\amd64\\velmora.sys\nbeside=driver\\velmora.inf\n"
                              "beside=upgrade.cmd\n"))
            << record;
        EXPECT_FALSE(file_exists(upgrade_record)) << "upgrade.cmd ran too";
        EXPECT_NE(std::string::npos, outcome.log.find(dpinst_log_entry(c.dpinst_exit_code))) << outcome.log;
        EXPECT_EQ(std::string::npos, outcome.log.find("|E|")) << outcome.log;
        expect_no_scratch_folder();
    }
}

// A damaged payload runs nothing and shows nothing: exit code 2, the failed
// member in the log, and the scratch folder is gone, for both jobs.
TEST_F(scratch_folder_job_run, damaged_payload_runs_nothing_and_ends_with_exit_code_2)
{
    for (const char* payload : {"driver_package_damaged", "upgrade_damaged"}) {
        SCOPED_TRACE(payload);
        const std::wstring setup = setup_path(payload);
        const job_run outcome = run(setup);
        ASSERT_TRUE(outcome.ended) << "a box kept the setup waiting";
        EXPECT_EQ(2u, outcome.exit_code) << outcome.log;
        EXPECT_FALSE(file_exists(dpinst_record));
        EXPECT_NE(std::string::npos, outcome.log.find("|E|archive(396) - mz_zip_reader_extract_to_file() failed! "))
            << outcome.log;
        EXPECT_NE(std::string::npos, outcome.log.find("|E|install(336) - Can't extract the payload into (" +
                                                      to_utf8(temp) + "\\tmp"))
            << outcome.log;
        EXPECT_EQ(std::string::npos, outcome.log.find("install(338)")) << outcome.log;
        expect_no_scratch_folder();
    }
}

// A scratch folder that cannot be removed (a process that dpinst.exe left
// behind holds a file in it) is logged as a warning; the exit code stays 0.
TEST_F(scratch_folder_job_run, scratch_folder_held_open_keeps_exit_code_0)
{
    const std::wstring hold = L"varnox_dpinst_hold_" + std::to_wstring(::GetCurrentProcessId());
    const varnox::windows::unique_handle release(::CreateEventW(nullptr, TRUE, FALSE, (hold + L".release").c_str()));
    ASSERT_TRUE(release);
    variables.set(L"VARNOX_DPINST_HOLD", hold);
    const std::wstring setup = setup_path("driver_package");
    const job_run outcome = run(setup);
    ::SetEvent(release.get());

    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(0u, outcome.exit_code) << outcome.log;
    const std::wstring folder = scratch_folder();
    EXPECT_NE(std::string::npos, outcome.log.find("|W|install(340) - Can't remove the scratch folder (" +
                                                  to_utf8(folder) + ") [Error: "))
        << outcome.log;
    // The holder lets go at once; what it held is left for the test to remove.
    for (int tries = 0; tries < 100 && file_exists(folder); ++tries) {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(folder, ignored);
        ::Sleep(50);
    }
    expect_no_scratch_folder();
}

namespace {

struct upgrade_case {
    const char* payload;
    std::string printed;  // UTF-8
};

// What each upgrade.cmd prints, as written in make_job_payloads.py.
const upgrade_case english_upgrade = {
    "upgrade", "Upgrading the Velmora agent.\r\n\r\nnotes.txt lies beside upgrade.cmd.\r\n"};
const upgrade_case chinese_upgrade = {
    "upgrade_zh", "\xe6\xad\xa3\xe5\x9c\xa8\xe5\x8d\x87\xe7\xba\xa7 Velmora \xe4\xbb\xa3\xe7\x90\x86\xe2\x80\xa6\xe2\x80\xa6"
                  "\r\n\xe5\x8d\x87\xe7\xba\xa7\xe5\xae\x8c\xe6\x88\x90\xef\xbc\x9a\xe7\x89\x88\xe6\x9c\xac 2.1\r\n"};

} // namespace

// The upgrade job runs upgrade.cmd beside the archive's other members and
// shows exactly what it printed, under the caption "Upgrade" with an OK
// button only; once the box is answered the run ends with exit code 0 and
// the scratch folder is gone.
TEST_F(scratch_folder_job_run, upgrade_shows_what_upgrade_cmd_printed)
{
    const std::wstring setup = setup_path(english_upgrade.payload);
    const job_run outcome = run(setup, L"ok");
    ASSERT_TRUE(outcome.box.shown) << outcome.box.output << outcome.log;
    EXPECT_EQ("Upgrade", outcome.box.caption);
    EXPECT_EQ("1", outcome.box.buttons);
    EXPECT_EQ(english_upgrade.printed, outcome.box.text);
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(0u, outcome.exit_code) << outcome.log;
    EXPECT_NE(std::string::npos, outcome.log.find("|R|install(338) - The command (\"" + to_utf8(temp) + "\\tmp"))
        << outcome.log;
    EXPECT_NE(std::string::npos, outcome.log.find("\\upgrade.cmd\") ended with code 0 (0x00000000). \r\n")) << outcome.log;
    expect_no_scratch_folder();
}

// Under the Simplified Chinese code page 936 the box shows upgrade.cmd's
// Chinese text as it printed it, and Escape closes the box as OK would.
TEST_F(scratch_folder_job_run, upgrade_shows_chinese_output_under_code_page_936)
{
    ASSERT_EQ(936u, ::GetACP()) << "run through ctest, with the zh_CN locale";
    const std::wstring setup = setup_path(chinese_upgrade.payload);
    const job_run outcome = run(setup, L"escape");
    ASSERT_TRUE(outcome.box.shown) << outcome.box.output << outcome.log;
    EXPECT_EQ("Upgrade", outcome.box.caption);
    EXPECT_EQ(chinese_upgrade.printed, outcome.box.text);
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(0u, outcome.exit_code) << outcome.log;
    expect_no_scratch_folder();
}
