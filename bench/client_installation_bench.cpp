// The cost of a whole client installation run next to the Windows Installer
// installing the same package alone, measured in the same run, turn about:
//   msiexec alone:  "<system>\msiexec.exe" /i "<temp>\client_x64.msi" /qn
//   the whole run:  "<setup>" /qn  (payload scan, prerequisite decision,
//                   volume filter check, extraction, the same msiexec, the
//                   package deleted)
// The package is uninstalled after each installation, outside the timing.
// Usage: client_installation_bench.exe <setup.exe> <the package it installs> [repetitions]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "varnox/windows/handle.h"

using varnox::windows::unique_handle;

namespace {

double seconds_since(const LARGE_INTEGER& start)
{
    LARGE_INTEGER frequency, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&end);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Runs the command and waits for it; its exit code, or -1 when it did not start.
long run(std::wstring command)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return -1;
    const unique_handle process(info.hProcess), thread(info.hThread);
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return static_cast<long>(code);
}

// Seconds that the command took; failed set when its exit code was not 0.
double timed(const std::wstring& command, bool& failed)
{
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);
    const long code = run(command);
    const double elapsed = seconds_since(start);
    if (code != 0) {
        std::fwprintf(stderr, L"%ls ended with %ld\n", command.c_str(), code);
        failed = true;
    }
    return elapsed;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: client_installation_bench <setup.exe> <package.msi> [repetitions]\n");
        return 2;
    }
    const std::wstring setup = argv[1];
    const int repetitions = argc > 3 ? std::max(1, _wtoi(argv[3])) : 9;

    wchar_t system_folder[MAX_PATH] = {};
    ::GetSystemDirectoryW(system_folder, MAX_PATH);
    wchar_t temp_folder[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp_folder);
    // msiexec alone reads the package from the temporary folder, as the run does.
    const std::wstring package = std::wstring(temp_folder) + L"bench_client.msi";
    if (!::CopyFileW(argv[2], package.c_str(), FALSE)) {
        std::fwprintf(stderr, L"cannot copy %ls\n", argv[2]);
        return 2;
    }
    const std::wstring msiexec = L"\"" + std::wstring(system_folder) + L"\\msiexec.exe\"";
    const std::wstring install_alone = msiexec + L" /i \"" + package + L"\" /qn";
    const std::wstring uninstall = msiexec + L" /x \"" + package + L"\" /qn";
    const std::wstring whole_run = L"\"" + setup + L"\" /qn";

    run(uninstall);
    // One untimed round warms the caches of both.
    bool failed = false;
    timed(install_alone, failed);
    run(uninstall);
    timed(whole_run, failed);
    run(uninstall);

    std::vector<double> alone, whole;
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        alone.push_back(timed(install_alone, failed));
        run(uninstall);
        whole.push_back(timed(whole_run, failed));
        run(uninstall);
    }
    ::DeleteFileW(package.c_str());

    const double alone_median = median(alone);
    const double whole_median = median(whole);
    std::wprintf(L"client installation, median of %d runs each\n", repetitions);
    std::wprintf(L"  msiexec alone      %7.3f s  (min %.3f, max %.3f)\n", alone_median,
                 *std::min_element(alone.begin(), alone.end()), *std::max_element(alone.begin(), alone.end()));
    std::wprintf(L"  whole install.exe  %7.3f s  (min %.3f, max %.3f)\n", whole_median,
                 *std::min_element(whole.begin(), whole.end()), *std::max_element(whole.begin(), whole.end()));
    std::wprintf(L"  the run's own cost %7.3f s  (target: at most 0.500 s)\n", whole_median - alone_median);
    return failed ? 1 : 0;
}
