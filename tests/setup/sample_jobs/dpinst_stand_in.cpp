// Stands in for a driver package installer: records that it ran and where,
// and exits with a chosen code. Environment:
//
//   VARNOX_DPINST_RECORD     file that receives the record (UTF-8 lines):
//                              command_line=<its command line>
//                              module=<its own path>
//                              current_folder=<its current folder>
//                              beside=<path relative to its folder>, one line per file, sorted
//   VARNOX_DPINST_EXIT_CODE  its exit code (decimal), 0 when unset
//   VARNOX_DPINST_HOLD       name N: leaves a process behind that holds the
//                            file "held.log" beside it open (no sharing)
//                            until the event N.release is set, and returns
//                            once the event N.held says it holds the file
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::wstring environment(const wchar_t* name)
{
    wchar_t value[32768] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, value, 32768);
    return length > 0 && length < 32768 ? std::wstring(value, length) : std::wstring();
}

std::wstring module_path()
{
    wchar_t path[32768] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, 32768);
    return std::wstring(path, length);
}

std::wstring folder_of(const std::wstring& path)
{
    return path.substr(0, path.find_last_of(L'\\'));
}

void list_files(const std::wstring& folder, const std::wstring& relative, std::vector<std::wstring>& files)
{
    WIN32_FIND_DATAW found = {};
    const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            list_files(folder + L"\\" + name, relative + name + L"\\", files);
        else
            files.push_back(relative + name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

std::string to_utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size, nullptr,
                          nullptr);
    return result;
}

void write_record(const std::wstring& path)
{
    wchar_t current[32768] = {};
    ::GetCurrentDirectoryW(32768, current);
    std::wstring record = L"command_line=" + std::wstring(::GetCommandLineW()) + L"\n";
    record += L"module=" + module_path() + L"\n";
    record += L"current_folder=" + std::wstring(current) + L"\n";
    std::vector<std::wstring> files;
    list_files(folder_of(module_path()), L"", files);
    std::sort(files.begin(), files.end());
    for (const std::wstring& file : files)
        record += L"beside=" + file + L"\n";

    const std::string bytes = to_utf8(record);
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

// The process left behind: holds the file until told to let go (30 s at most).
int hold_file(const std::wstring& name)
{
    const HANDLE held = ::CreateFileW((folder_of(module_path()) + L"\\held.log").c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, 0, nullptr);
    const HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, (name + L".release").c_str());
    const HANDLE holding = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, (name + L".held").c_str());
    if (held == INVALID_HANDLE_VALUE || !release || !holding)
        return 1;
    ::SetEvent(holding);
    ::WaitForSingleObject(release, 30000);
    ::CloseHandle(held);
    return 0;
}

bool leave_holder_behind(const std::wstring& name)
{
    const HANDLE holding = ::CreateEventW(nullptr, TRUE, FALSE, (name + L".held").c_str());
    std::wstring command = L"\"" + module_path() + L"\" --hold " + name;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!holding || !::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                      nullptr, &startup, &info))
        return false;
    const HANDLE either[] = {holding, info.hProcess};
    const bool held = ::WaitForMultipleObjects(2, either, FALSE, 20000) == WAIT_OBJECT_0;
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    ::CloseHandle(holding);
    return held;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wcscmp(argv[1], L"--hold") == 0)
        return hold_file(argv[2]);

    const std::wstring record = environment(L"VARNOX_DPINST_RECORD");
    if (!record.empty())
        write_record(record);
    const std::wstring hold = environment(L"VARNOX_DPINST_HOLD");
    if (!hold.empty() && !leave_holder_behind(hold))
        return 99;
    return static_cast<int>(std::wcstoul(environment(L"VARNOX_DPINST_EXIT_CODE").c_str(), nullptr, 10));
}
