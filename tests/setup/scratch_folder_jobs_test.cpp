// The driver package and upgrade jobs' own decisions: the run file's command
// line, the ANSI round trip of an extraction folder, and what the jobs do
// when the payload cannot be extracted into their scratch folder, shown with
// an archive whose extraction the test scripts and the real stand-in
// dpinst.exe, which records whether it ran.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "ansi_path.h"
#include "job_test_support.h"
#include "scratch_folder_jobs.h"
#include "test_support.h"
#include "varnox/common/log.h"

using test_support::file_exists;
using test_support::to_utf8;

namespace {

// The arguments that Windows' own parser reads from a command line.
std::vector<std::wstring> arguments_of(const std::wstring& command_line)
{
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(command_line.c_str(), &count);
    std::vector<std::wstring> result(arguments, arguments + (arguments ? count : 0));
    ::LocalFree(arguments);
    return result;
}

} // namespace

// The run file's command line names the file in the scratch folder as one
// quoted argument, with no arguments after it, also when the folder holds
// blanks; one backslash joins folder and name.
TEST(run_file_command, quotes_the_file_in_the_scratch_folder)
{
    const struct {
        std::wstring folder;
        std::wstring member;
        std::wstring command;
    } cases[] = {
        {L"C:\\Temp\\tmp1A2B.tmp", L"dpinst.exe", L"\"C:\\Temp\\tmp1A2B.tmp\\dpinst.exe\""},
        {L"C:\\Users\\John Smith\\AppData\\Local\\Temp\\tmp9.tmp", L"upgrade.cmd",
         L"\"C:\\Users\\John Smith\\AppData\\Local\\Temp\\tmp9.tmp\\upgrade.cmd\""},
        {L"C:\\Temp\\", L"dpinst.exe", L"\"C:\\Temp\\dpinst.exe\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(to_utf8(c.folder));
        const std::wstring command = install::run_file_command(c.folder, c.member);
        EXPECT_EQ(c.command, command);
        const std::vector<std::wstring> arguments = arguments_of(L"x " + command);
        ASSERT_EQ(2u, arguments.size());
        EXPECT_EQ(c.command.substr(1, c.command.size() - 2), arguments[1]);
    }
}

// A path comes back from its round trip through the ANSI code page (1252
// here) only when it returns unchanged; characters the code page lacks are
// refused, also those it would turn into look-alikes such as ".." or "\".
TEST(ansi_round_trip, keeps_only_paths_the_code_page_holds)
{
    ASSERT_EQ(1252u, ::GetACP()) << "the table is written for the Western code page";
    const struct {
        const char* scenario;
        std::wstring path;
        bool kept;
    } cases[] = {
        {"plain", L"C:\\Temp\\tmp1A2B.tmp", true},
        {"Western letters and the euro sign", L"C:\\Users\\Ren\u00e9e\\Temp\\\u20ac", true},
        {"fullwidth full stops", L"C:\\Temp\\\uff0e\uff0e\\x", false},
        {"fullwidth reverse solidus", L"C:\\Temp\\a\uff3cb", false},
        {"Chinese user name", L"C:\\Users\\\u738b\\Temp", false},
        {"character outside the BMP", L"C:\\Temp\\\U0001F600", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const std::optional<std::wstring> back = install::ansi_round_trip(c.path);
        EXPECT_EQ(c.kept, back.has_value());
        if (back) {
            EXPECT_EQ(to_utf8(c.path), to_utf8(*back));
        }
    }
}

namespace {

// An archive whose extraction the test decides; it records the folder it
// was given.
class scripted_archive : public varnox::archive::unzip {
public:
    explicit scripted_archive(std::function<bool(const std::wstring& folder)> extraction)
        : _extraction(std::move(extraction))
    {
    }

    bool contains(const std::string&) const override { return false; }
    bool extract(const std::string&, const std::string&) override { return false; }
    bool extract_all(const std::wstring& folder, std::vector<std::wstring>&) override
    {
        folders.push_back(folder);
        return _extraction(folder);
    }
    std::optional<member_digest> digest(const std::string&) const override { return std::nullopt; }

    std::vector<std::wstring> folders;

private:
    std::function<bool(const std::wstring&)> _extraction;
};

class recording_presenter : public install::message_presenter {
public:
    int show(const std::wstring& text, const std::wstring&, UINT) override
    {
        texts.push_back(text);
        return IDOK;
    }
    std::vector<std::wstring> texts;
};

// A temporary folder of the test's own (TMP, TEMP), the log beside it at the
// setup's threshold, and the stand-in dpinst.exe's record file.
class scratch_folder_job : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(::CreateDirectoryW(temp.c_str(), nullptr));
        use_temp(temp);
        variables.set(L"VARNOX_DPINST_RECORD", record);
        varnox::the_logger().set_path(log_path);
        varnox::the_logger().level = 2;
    }

    void TearDown() override { varnox::the_logger().set_path(L""); }

    void use_temp(const std::wstring& folder)
    {
        variables.set(L"TMP", folder);
        variables.set(L"TEMP", folder);
    }

    // Puts the stand-in dpinst.exe where the job will run it from.
    static void place_driver_package_installer(const std::wstring& folder)
    {
        ASSERT_TRUE(::CopyFileW(test_support::windows_path_of_unix(VARNOX_DPINST_STAND_IN).c_str(),
                                (folder + L"\\dpinst.exe").c_str(), FALSE));
    }

    // A log file of its own for each case.
    void fresh_log(const std::string& name)
    {
        log_path = work.file(test_support::from_utf8(name) + L".log");
        varnox::the_logger().set_path(log_path);
    }

    std::string log() const { return test_support::read_file(log_path); }

    bool temp_is_empty() const { return boost::filesystem::is_empty(boost::filesystem::path(temp)); }

    test_support::temp_folder work;
    std::wstring temp = work.file(L"Temp");
    std::wstring log_path = work.file(L"install.exe.log");
    std::wstring record = work.file(L"dpinst_record.txt");
    job_test_support::setup_environment variables;
};

} // namespace

// An extraction that fails, or raises a file-system error, runs nothing, ends
// the job with exit code 2 and says why, and removes the scratch folder, for
// both jobs; the upgrade job shows no box.
TEST_F(scratch_folder_job, failed_extraction_runs_nothing_and_ends_with_exit_code_2)
{
    const struct {
        const char* scenario;
        bool raises;
        const char* logged;
    } cases[] = {
        {"extraction fails", false, nullptr},
        {"extraction raises", true, "|E|install(335) - boost::filesystem::create_directories: "},
    };
    for (const auto& c : cases) {
        for (const bool upgrade : {false, true}) {
            SCOPED_TRACE(std::string(c.scenario) + (upgrade ? ", upgrade" : ", driver package"));
            fresh_log(std::string(c.scenario) + (upgrade ? " upgrade" : " driver package"));
            scripted_archive archive([&](const std::wstring& folder) {
                place_driver_package_installer(folder);
                if (c.raises)
                    throw boost::filesystem::filesystem_error("boost::filesystem::create_directories", folder,
                                                              boost::system::error_code(5, boost::system::system_category()));
                return false;
            });
            recording_presenter presenter;
            const int exit_code =
                upgrade ? install::run_upgrade(archive, presenter) : install::run_driver_package(archive);

            EXPECT_EQ(2, exit_code);
            ASSERT_EQ(1u, archive.folders.size());
            EXPECT_EQ(0u, archive.folders[0].rfind(temp + L"\\tmp", 0)) << to_utf8(archive.folders[0]);
            EXPECT_FALSE(file_exists(record)) << "the run file ran";
            EXPECT_TRUE(presenter.texts.empty());
            EXPECT_NE(std::string::npos, log().find("|E|install(336) - Can't extract the payload into (" +
                                                    to_utf8(archive.folders[0]) + ")! \r\n"))
                << log();
            if (c.logged) {
                EXPECT_NE(std::string::npos, log().find(c.logged)) << log();
            }
            EXPECT_TRUE(temp_is_empty()) << "the scratch folder is left";
        }
    }
}

// A temporary folder whose path the ANSI code page cannot hold gives a
// scratch folder that the archive reader cannot be given: nothing is
// extracted, exit code 2, and the folder is removed.
TEST_F(scratch_folder_job, scratch_folder_outside_the_code_page_is_refused)
{
    const std::wstring chinese_temp = work.file(L"\u738b\u5c0f\u660e");
    ASSERT_TRUE(::CreateDirectoryW(chinese_temp.c_str(), nullptr));
    use_temp(chinese_temp);
    scripted_archive archive([](const std::wstring&) { return true; });

    EXPECT_EQ(2, install::run_driver_package(archive));
    EXPECT_TRUE(archive.folders.empty());
    EXPECT_NE(std::string::npos,
              log().find("|E|install(333) - The scratch folder's path (" + to_utf8(chinese_temp) + "\\tmp"))
        << log();
    EXPECT_TRUE(boost::filesystem::is_empty(boost::filesystem::path(chinese_temp)));
}

// Without a scratch folder (the temporary folder does not exist) nothing is
// extracted anywhere, least of all into the current folder, nothing runs,
// and the job ends with exit code 2 and says why.
TEST_F(scratch_folder_job, no_scratch_folder_extracts_nothing)
{
    scripted_archive archive([](const std::wstring&) { return true; });
    recording_presenter presenter;
    for (const bool upgrade : {false, true}) {
        SCOPED_TRACE(upgrade ? "upgrade" : "driver package");
        // A folder of each case's own: the log folds a message that repeats the one before it.
        const std::wstring missing = work.file(upgrade ? L"no upgrade folder" : L"no driver package folder");
        use_temp(missing);
        fresh_log(upgrade ? "upgrade" : "driver package");

        const int exit_code = upgrade ? install::run_upgrade(archive, presenter) : install::run_driver_package(archive);
        EXPECT_EQ(2, exit_code);
        EXPECT_TRUE(archive.folders.empty());
        EXPECT_TRUE(presenter.texts.empty());
        const std::string text = log();
        EXPECT_EQ("|E|install(331) - Can't create a scratch folder in the temporary folder (" + to_utf8(missing) +
                      ")! \r\n",
                  text.substr(std::min(text.find('|'), text.size())))
            << text;
        EXPECT_FALSE(file_exists(missing));
    }
}
