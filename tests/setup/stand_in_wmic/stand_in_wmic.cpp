// Stands in for "wmic qfe get hotfixid", which Wine lacks: prints the updates
// named in VARNOX_STAND_IN_HOTFIXES (comma-separated) the way wmic lists them,
// and appends each command line to the file VARNOX_STAND_IN_WMIC_LOG names.
// Like wmic, it first reads its standard input to the end unless that is a
// console, so a caller that leaves the input open waits for ever.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::wstring environment(const wchar_t* name)
{
    wchar_t value[4096] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, value, 4096);
    return length > 0 && length < 4096 ? std::wstring(value, length) : std::wstring();
}

void record_call()
{
    const std::wstring log = environment(L"VARNOX_STAND_IN_WMIC_LOG");
    if (log.empty())
        return;
    HANDLE file = ::CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    const std::wstring line = std::wstring(::GetCommandLineW()) + L"\n";
    char narrow[8192];
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), narrow,
                                           sizeof(narrow), nullptr, nullptr);
    DWORD written = 0;
    ::WriteFile(file, narrow, static_cast<DWORD>(size), &written, nullptr);
    ::CloseHandle(file);
}

void read_input_to_its_end()
{
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE || ::GetFileType(input) == FILE_TYPE_CHAR)
        return;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(input, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    }
}

} // namespace

int wmain()
{
    record_call();
    read_input_to_its_end();
    std::printf("HotFixID   \r\n");
    const std::wstring hotfixes = environment(L"VARNOX_STAND_IN_HOTFIXES");
    size_t start = 0;
    while (start < hotfixes.size()) {
        size_t end = hotfixes.find(L',', start);
        if (end == std::wstring::npos)
            end = hotfixes.size();
        std::printf("%-11ls\r\n", hotfixes.substr(start, end - start).c_str());
        start = end + 1;
    }
    std::printf("\r\n");
    return 0;
}
