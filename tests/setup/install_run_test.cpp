#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

#include <boost/filesystem.hpp>

#include "install.h"
#include "payload_locator.h"
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
    // Without a temporary folder the log goes to the debugger output.
    EXPECT_EQ(L"", install::log_file_path(L"", L"D:\\media\\setup\\install.exe"));
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

namespace {

// install.exe with a payload appended the way the bundler does: zero bytes up
// to the first 4-byte-aligned offset beyond 1 MiB and the image's end.
std::wstring setup_with_payload(const temp_folder& folder, const std::wstring& name, const std::string& payload)
{
    std::string image = test_support::read_file(test_support::windows_path_of_unix(VARNOX_INSTALL_EXE));
    std::size_t offset = std::max<std::size_t>(image.size(), 0x100004);
    offset = (offset + 3) & ~std::size_t(3);
    image.resize(offset, '\0');
    const std::wstring target = folder.file(name);
    test_support::write_file(target, image + payload);
    const auto found = install::find_payload_offset(target);
    EXPECT_TRUE(found && static_cast<std::size_t>(*found) == offset) << "the image holds a signature of its own";
    return target;
}

// The updates that Windows 7 x64 needs, listed by the stand-in wmic.exe, so
// that a run with a payload gets past its prerequisite checks.
test_support::environment_changes updates_installed()
{
    wchar_t path[32768] = {};
    ::GetEnvironmentVariableW(L"PATH", path, 32768);
    return {{L"PATH", test_support::windows_path_of_unix(VARNOX_STAND_IN_WMIC_DIR) + L";" + path},
            {L"VARNOX_STAND_IN_HOTFIXES", L"KB4490628,KB4474419"}};
}

} // namespace

// A payload that starts like an archive but cannot be read ends the run with
// exit code 1, no window, and the two log lines of the failed opening.
TEST(install_exe, unreadable_payload_ends_with_exit_code_1_and_logs_why)
{
    temp_folder folder;
    const std::wstring exe =
        setup_with_payload(folder, L"e2e_unreadable_payload.exe", std::string("PK\3\4") + std::string(5000, 'x'));
    const std::wstring log = log_of(exe);
    ::DeleteFileW(log.c_str());

    const auto result = test_support::run_process(L"\"" + exe + L"\"", 60000, updates_installed());
    ASSERT_TRUE(result.started);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(1u, result.exit_code);
    EXPECT_TRUE(result.window_titles.empty());
    const std::string text = file_exists(log) ? test_support::read_file(log) : std::string();
    EXPECT_NE(std::string::npos,
              text.find("archive(310) - varnox/common/archive(406) : varnox::archive::unzip_base::unzip_base - "
                        "Failed to initialize archive. \r\n"))
        << text;
    EXPECT_NE(std::string::npos, text.find("install(129) - Can't find archived data! \r\n")) << text;
    ::DeleteFileW(log.c_str());
}

// A well-formed payload is opened and its job chosen: these archives hold
// "Dpinst.exe", so the driver package job unpacks them and starts it (its
// random bytes do not start), and the run ends with exit code 0 and shows
// no window.
TEST(install_exe, readable_payload_is_opened_and_ends_with_exit_code_0)
{
    const char* const archives[] = {"python.zip", "infozip_streamed.zip"};
    for (const char* archive : archives) {
        SCOPED_TRACE(archive);
        temp_folder folder;
        const std::string payload = test_support::read_file(
            test_support::windows_path_of_unix(std::string(VARNOX_ARCHIVE_FIXTURES) + "/" + archive));
        const std::wstring exe =
            setup_with_payload(folder, L"e2e_payload_" + test_support::from_utf8(archive) + L".exe", payload);
        const std::wstring log = log_of(exe);
        ::DeleteFileW(log.c_str());

        const auto result = test_support::run_process(L"\"" + exe + L"\" /qn", 60000, updates_installed());
        ASSERT_TRUE(result.started);
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(0u, result.exit_code);
        EXPECT_TRUE(result.window_titles.empty());
        const std::string text = file_exists(log) ? test_support::read_file(log) : std::string();
        EXPECT_EQ(std::string::npos, text.find("archive(")) << text;
        EXPECT_EQ(std::string::npos, text.find("install(129)")) << text;
        ::DeleteFileW(log.c_str());
    }
}

// A payload without a job member is a client installation; without a
// package for Windows 7 x64 in it the run ends with exit code 2 and the
// missing member's log line, and the installer is not started.
TEST(install_exe, payload_without_a_package_ends_with_exit_code_2)
{
    temp_folder folder;
    const std::string payload = test_support::read_file(
        test_support::windows_path_of_unix(std::string(VARNOX_ARCHIVE_FIXTURES) + "/infozip_folders_only.zip"));
    const std::wstring exe = setup_with_payload(folder, L"e2e_payload_without_package.exe", payload);
    // A temporary folder of the run's own, for its log and client.msi.
    temp_folder temp;
    test_support::environment_changes environment = updates_installed();
    environment.emplace_back(L"TMP", temp.path());
    environment.emplace_back(L"TEMP", temp.path());

    const auto result = test_support::run_process(L"\"" + exe + L"\" /qn", 60000, environment);
    ASSERT_TRUE(result.started);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(2u, result.exit_code);
    EXPECT_TRUE(result.window_titles.empty());
    const std::string text = test_support::read_file(install::log_file_path(temp.path(), exe));
    EXPECT_NE(std::string::npos, text.find("|E|install(237) - Can't extract client_x64.msi file! \r\n")) << text;
    EXPECT_EQ(std::string::npos, text.find("install(278)")) << text;
    EXPECT_FALSE(file_exists(temp.file(L"client.msi")));
}
