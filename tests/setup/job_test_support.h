#pragma once

// What the tests of the driver package, upgrade and add-on jobs share: the
// environment of the setups they start, the string table's English texts,
// and the files a job left in a folder.
#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <boost/filesystem.hpp>

#include "message_texts.h"
#include "test_support.h"
#include "varnox/windows/handle.h"

namespace job_test_support {

inline std::wstring environment(const wchar_t* name)
{
    wchar_t value[32768] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, value, 32768);
    return length > 0 && length < 32768 ? std::wstring(value, length) : std::wstring();
}

// Variables for the setups a test starts, put back as they were at its end.
class setup_environment {
public:
    setup_environment() = default;
    ~setup_environment()
    {
        for (auto it = _saved.rbegin(); it != _saved.rend(); ++it)
            ::SetEnvironmentVariableW(it->first.c_str(), it->second.empty() ? nullptr : it->second.c_str());
    }
    setup_environment(const setup_environment&) = delete;
    setup_environment& operator=(const setup_environment&) = delete;

    void set(const std::wstring& name, const std::wstring& value)
    {
        _saved.emplace_back(name, environment(name.c_str()));
        ::SetEnvironmentVariableW(name.c_str(), value.c_str());
    }

    // A temporary folder of the test's own, for the setup's log and scratch
    // folders, and the updates that Windows 7 x64 needs listed by the
    // stand-in wmic.exe in stand_in_folder.
    void for_setup(const std::wstring& temp, const std::string& stand_in_folder)
    {
        set(L"TMP", temp);
        set(L"TEMP", temp);
        set(L"PATH", test_support::windows_path_of_unix(stand_in_folder) + L";" + environment(L"PATH"));
        set(L"VARNOX_STAND_IN_HOTFIXES", L"KB4490628,KB4474419");
    }

private:
    std::vector<std::pair<std::wstring, std::wstring>> _saved;
};

// The agent's service "Velmora", made for a test with the command line it
// chooses and deleted again at its end (and before, if an interrupted run
// left it).
class velmora_service {
public:
    velmora_service() : _manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) { remove(); }
    ~velmora_service() { remove(); }
    velmora_service(const velmora_service&) = delete;
    velmora_service& operator=(const velmora_service&) = delete;

    // Makes the service afresh; the error's text when that fails.
    std::string create(const std::wstring& command_line)
    {
        remove();
        const varnox::windows::unique_schandle created(
            ::CreateServiceW(_manager.get(), L"Velmora", L"Velmora Agent", SERVICE_ALL_ACCESS,
                             SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                             command_line.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        return created ? std::string() : test_support::to_utf8(test_support::error_text(::GetLastError()));
    }

    void remove()
    {
        const varnox::windows::unique_schandle existing(::OpenServiceW(_manager.get(), L"Velmora", DELETE));
        if (existing)
            ::DeleteService(existing.get());
    }

private:
    varnox::windows::unique_schandle _manager;
};

inline std::string english(UINT id)
{
    for (const auto& row : message_texts::expected_texts) {
        if (row.id == id)
            return test_support::to_utf8(row.english);
    }
    return std::string();
}

// The files below a folder, by their paths relative to it, sorted.
inline std::vector<std::string> files_below(const std::wstring& folder)
{
    std::vector<std::string> files;
    if (!boost::filesystem::is_directory(folder))
        return files;
    for (boost::filesystem::recursive_directory_iterator it(folder), end; it != end; ++it) {
        if (boost::filesystem::is_regular_file(it->path()))
            files.push_back(test_support::to_utf8(it->path().wstring().substr(folder.size() + 1)));
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The add-on payload's members, as files_below lists them once installed.
inline const std::vector<std::string> addon_files = {"bin\\convert.cfg", "linux_conv.img", "readme.txt"};

} // namespace job_test_support
