#pragma once

#include <windows.h>

#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "test_support.h"

// Runs the system probe with the given command line prefix (the probe's path,
// perhaps a copy of it) and reads the "key=value" lines it wrote.
inline std::map<std::string, std::string> run_system_probe(const std::wstring& probe_path,
                                                           const test_support::temp_folder& folder)
{
    const std::wstring out = folder.file(L"probe.txt");
    test_support::process_result result;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring command_line = L"\"" + probe_path + L"\" \"" + out + L"\"";
    if (::CreateProcessW(probe_path.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &info)) {
        result.started = true;
        result.timed_out = ::WaitForSingleObject(info.hProcess, 60000) != WAIT_OBJECT_0;
        ::GetExitCodeProcess(info.hProcess, &result.exit_code);
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
    }
    std::map<std::string, std::string> values;
    if (!result.started || result.timed_out || result.exit_code != 0) {
        ADD_FAILURE() << "the probe did not run: started " << result.started << ", timed out " << result.timed_out
                      << ", exit code " << result.exit_code << ", last error " << ::GetLastError();
        return values;
    }
    std::istringstream lines(test_support::read_file(out));
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}
