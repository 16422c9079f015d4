// DLLs and a cmd.exe planted where a setup program looks first: beside
// install.exe (a Downloads folder) and in its current folder. The planted DLL
// records its loading, the planted cmd.exe that it ran. Wine takes its builtin
// DLLs before anything beside a program unless told otherwise: these tests run
// with WINEDLLOVERRIDES "version,crypt32=n,b", so that a DLL beside the
// program wins, as on Windows. Programs without the defences show first that
// the planted files are found.
//
// Under that override Wine's own user32.dll, which install.exe imports as
// every GUI program does, pulls a version.dll beside the program in before
// any code of the program runs (on Windows user32.dll is a KnownDLL and
// imports no such library). So install.exe's run is shown with crypt32.dll,
// the other library the product no longer imports, and version.dll with a
// probe that imports nothing that loads it.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "install.h"
#include "job_test_support.h"
#include "running_process.h"
#include "test_support.h"
#include "varnox/windows/folders.h"
#include "varnox/windows/process.h"

using test_support::file_exists;
using test_support::to_utf8;
using test_support::windows_path_of_unix;

namespace {

class planted_files : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(L"planting", job_test_support::environment(L"VARNOX_WINE_PREFIX")) << "run through ctest";
        for (const std::wstring& folder : {downloads, current, elsewhere, temp})
            ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    }

    static void copy(const std::string& unix_path, const std::wstring& to)
    {
        ASSERT_TRUE(::CopyFileW(windows_path_of_unix(unix_path).c_str(), to.c_str(), FALSE))
            << to_utf8(to) << ": " << to_utf8(test_support::error_text(::GetLastError()));
    }

    // The records of the planted files that loaded or ran, below the work folder.
    std::vector<std::string> planted_that_ran() const
    {
        std::vector<std::string> found;
        for (const std::wstring& marker : markers()) {
            if (file_exists(marker))
                found.push_back(to_utf8(marker.substr(work.path().size() + 1)));
        }
        return found;
    }

    void forget_what_ran() const
    {
        for (const std::wstring& marker : markers())
            ::DeleteFileW(marker.c_str());
    }

    // Runs a program copied into folder with its arguments, in the current
    // folder; its exit code, and its output in output when given.
    DWORD run_from(const std::wstring& folder, const std::string& program, const std::wstring& name,
                   const std::wstring& arguments = std::wstring())
    {
        const std::wstring copied = folder + L"\\" + name;
        copy(program, copied);
        test_support::running_process process(L"\"" + copied + L"\" " + arguments, current);
        EXPECT_TRUE(process.started());
        EXPECT_TRUE(process.wait(60000));
        return process.exit_code();
    }

    test_support::temp_folder work;
    std::wstring downloads = work.file(L"downloads");
    std::wstring current = work.file(L"current");
    std::wstring elsewhere = work.file(L"elsewhere");
    std::wstring temp = work.file(L"temp");

private:
    std::vector<std::wstring> markers() const
    {
        return {downloads + L"\\version.dll.loaded", downloads + L"\\crypt32.dll.loaded",
                downloads + L"\\cmd.exe.ran", current + L"\\cmd.exe.ran"};
    }
};

} // namespace

// Windows 7 x64 lists the updates with "cmd.exe /C wmic qfe get hotfixid".
// With crypt32.dll and cmd.exe planted beside install.exe and another cmd.exe
// in its current folder, the listing runs through the system folder's cmd.exe
// (the stand-in wmic.exe that it starts is called twice), neither planted
// cmd.exe runs, the planted DLL never loads, and the driver package job runs
// to exit code 0.
TEST_F(planted_files, setup_loads_and_runs_nothing_planted)
{
    const test_support::process_result winecfg = test_support::run_process(L"winecfg.exe -v win7", 60000);
    ASSERT_TRUE(winecfg.started);
    ASSERT_EQ(0u, winecfg.exit_code);
    copy(VARNOX_PLANTED_CMD, downloads + L"\\cmd.exe");
    copy(VARNOX_PLANTED_CMD, current + L"\\cmd.exe");
    copy(VARNOX_PLANTED_CRYPT32, downloads + L"\\crypt32.dll");
    const std::wstring dpinst_record = work.file(L"dpinst_record.txt");
    const std::wstring wmic_calls = work.file(L"wmic_calls.txt");
    job_test_support::setup_environment variables;
    variables.for_setup(temp, VARNOX_STAND_IN_WMIC_DIR);
    variables.set(L"VARNOX_DPINST_RECORD", dpinst_record);
    variables.set(L"VARNOX_STAND_IN_WMIC_LOG", wmic_calls);

    // A program that imports crypt32.dll and starts "cmd.exe" by name falls
    // for the files beside it, and for the current folder's cmd.exe from
    // anywhere else.
    EXPECT_EQ(42u, run_from(downloads, VARNOX_UNPROTECTED_PROGRAM, L"unprotected.exe"));
    EXPECT_EQ((std::vector<std::string>{"downloads\\crypt32.dll.loaded", "downloads\\cmd.exe.ran"}),
              planted_that_ran());
    forget_what_ran();
    EXPECT_EQ(42u, run_from(elsewhere, VARNOX_UNPROTECTED_PROGRAM, L"unprotected.exe"));
    EXPECT_EQ(std::vector<std::string>{"current\\cmd.exe.ran"}, planted_that_ran());
    forget_what_ran();

    const DWORD exit_code =
        run_from(downloads, std::string(VARNOX_JOB_SETUPS) + "/driver_package_setup.exe", L"install.exe");
    const std::string log = test_support::read_file(install::log_file_path(temp, downloads + L"\\install.exe"));
    EXPECT_EQ(0u, exit_code) << log;
    EXPECT_EQ(std::vector<std::string>{}, planted_that_ran());
    const std::string calls = test_support::read_file(wmic_calls);
    EXPECT_EQ(2, std::count(calls.begin(), calls.end(), '\n')) << calls;
    EXPECT_TRUE(file_exists(dpinst_record)) << log;
    EXPECT_EQ(std::string::npos, log.find("|E|")) << log;
}

// version.dll planted beside a program: loaded by name it is the planted one;
// once the search is restricted, and through system_library without any
// restriction, the system folder's copy comes and the planted one never loads.
TEST_F(planted_files, version_dll_beside_a_program_is_not_loaded)
{
    const std::wstring planted = downloads + L"\\version.dll";
    copy(VARNOX_PLANTED_VERSION, planted);
    const std::wstring probe = downloads + L"\\probe.exe";
    copy(VARNOX_LIBRARY_PROBE, probe);
    const std::wstring system_copy = varnox::windows::get_system_folder() + L"\\version.dll";
    const struct {
        const wchar_t* mode;
        bool planted_loads;
    } cases[] = {{L"by_name", true}, {L"restricted", false}, {L"system_library", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(to_utf8(c.mode));
        forget_what_ran();
        std::wstring loaded;
        EXPECT_TRUE(varnox::windows::exec_console_application_with_timeout(L"\"" + probe + L"\" " + c.mode, loaded,
                                                                           true, 60))
            << "exit code " << ::GetLastError();
        EXPECT_EQ(0, _wcsicmp((c.planted_loads ? planted : system_copy).c_str(),
                              loaded.substr(0, loaded.find_last_not_of(L"\r\n") + 1).c_str()))
            << to_utf8(loaded);
        if (c.planted_loads)
            EXPECT_EQ(std::vector<std::string>{"downloads\\version.dll.loaded"}, planted_that_ran());
        else
            EXPECT_EQ(std::vector<std::string>{}, planted_that_ran());
    }
}
