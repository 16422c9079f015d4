#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "varnox/windows/operating_system.h"

namespace test_support {

// The system's message for a Win32 error code, for failure messages.
std::wstring error_text(DWORD error);

// A fresh folder in the temporary folder, removed with its content at the end
// of the test.
class temp_folder {
public:
    temp_folder();
    ~temp_folder();
    temp_folder(const temp_folder&) = delete;
    temp_folder& operator=(const temp_folder&) = delete;

    const std::wstring& path() const { return _path; }
    std::wstring file(const std::wstring& name) const { return _path + L"\\" + name; }

private:
    std::wstring _path;
};

std::string read_file(const std::wstring& path);
void write_file(const std::wstring& path, const std::string& bytes);
bool file_exists(const std::wstring& path);
std::uint64_t file_size(const std::wstring& path);

std::string to_utf8(const std::wstring& text);
std::wstring from_utf8(const std::string& text);

// A Windows path to a file of the build tree, from its Unix path.
std::wstring windows_path_of_unix(const std::string& unix_path);

struct process_result {
    bool started = false;
    bool timed_out = false;
    DWORD exit_code = 0;
    // Visible top-level windows that the process showed while it ran.
    std::vector<std::wstring> window_titles;
};

// Variables set (or, with an empty value, removed) in a child's environment.
using environment_changes = std::vector<std::pair<std::wstring, std::wstring>>;

// Runs a program with the given command line and waits up to timeout_ms,
// watching for windows of its own; a process still running then is killed.
process_result run_process(const std::wstring& command_line, DWORD timeout_ms,
                           const environment_changes& environment = {});

// An operating_system record with only these facts filled in, for tables of
// the choices made from them.
varnox::windows::operating_system operating_system_with(DWORD major, DWORD minor, WORD architecture,
                                                        DWORD platform = VER_PLATFORM_WIN32_NT);

} // namespace test_support
