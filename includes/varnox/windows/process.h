#pragma once

#include <cstdint>
#include <string>

namespace varnox {
namespace windows {

// Runs command (program and arguments) as a child process and collects its
// standard output, converted from the ANSI code page, into output; its
// standard input is empty and at its end. A timeout
// in seconds above 0 terminates a child still running then with exit code
// 1460. True only when the child ended with exit code 0; the thread's last
// error then holds the child's exit code or the error of the failed step
// (87 for an empty command).
bool exec_console_application_with_timeout(std::wstring command, std::wstring& output, bool hide_window,
                                           std::uint64_t timeout);

// The program that the runner starts for a command whose program is named
// without a folder ("cmd.exe /C ...", "msiexec /i ..."): the one of that name
// in system_folder, ".exe" added when the name has no extension. Windows
// itself would look beside the executable and in the current folder first,
// where a planted copy may wait. Empty when the command names a folder (or no
// program, or system_folder is empty): the command line alone then says which
// program runs.
std::wstring system_program_for(const std::wstring& command, const std::wstring& system_folder);

} // namespace windows
} // namespace varnox
