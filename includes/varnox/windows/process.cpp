#include "varnox/windows/process.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "varnox/common/log.h"
#include "varnox/windows/code_page.h"
#include "varnox/windows/folders.h"
#include "varnox/windows/handle.h"

namespace varnox {
namespace windows {

namespace {

const wchar_t log_source[] = L"varnox/windows/process";

constexpr DWORD chunk_size = 512;
// While the pipe is empty the runner waits on the child, first briefly, so
// that output that keeps coming is read at once, then longer while the child
// stays quiet; its end cuts any wait short.
constexpr DWORD first_quiet_wait_ms = 1;
constexpr DWORD longest_quiet_wait_ms = 1000;
constexpr DWORD progress_interval_ms = 1000;
constexpr DWORD wait_after_termination_ms = 15000;
constexpr std::uint64_t file_time_units_per_second = 10000000;

// Reads exactly the bytes that the peek reported: a read asking for more
// could wait for ever on a child that is alive and quiet. The text of each
// 512-byte chunk ends at its first NUL byte, as if the chunks were read one
// by one. The bytes are decoded once at the end, so that a double-byte
// character split between two chunks stays whole.
void read_available(HANDLE pipe, DWORD available, std::vector<char>& buffer, std::string& captured)
{
    if (buffer.size() < available)
        buffer.resize(available);
    DWORD read = 0;
    if (!::ReadFile(pipe, buffer.data(), available, &read, nullptr))
        return;
    for (DWORD offset = 0; offset < read; offset += chunk_size) {
        const DWORD size = read - offset < chunk_size ? read - offset : chunk_size;
        captured.append(&buffer[offset], ::strnlen(&buffer[offset], size));
    }
}

bool child_has_ended(HANDLE process)
{
    DWORD exit_code = 0;
    if (::GetExitCodeProcess(process, &exit_code) && exit_code != STILL_ACTIVE)
        return true;
    FILETIME creation = {}, exit = {}, kernel = {}, user = {};
    if (!::GetProcessTimes(process, &creation, &exit, &kernel, &user))
        return true;
    // A child whose own exit code is 259 has ended all the same.
    return exit.dwLowDateTime != 0 || exit.dwHighDateTime != 0;
}

bool system_time_as_file_time(std::uint64_t& now)
{
    SYSTEMTIME system_time = {};
    ::GetSystemTime(&system_time);
    FILETIME file_time = {};
    if (!::SystemTimeToFileTime(&system_time, &file_time))
        return false;
    now = (static_cast<std::uint64_t>(file_time.dwHighDateTime) << 32) | file_time.dwLowDateTime;
    return true;
}

// Whole seconds since start; a clock set back counts as no time passed.
std::uint64_t seconds_between(std::uint64_t start, std::uint64_t now)
{
    return now > start ? (now - start) / file_time_units_per_second : 0;
}

// A pipe whose ends this process keeps to itself; the child's end is made
// inheritable on its own, since every inheritable handle goes to the child.
bool create_pipe(unique_handle& read_end, unique_handle& write_end)
{
    HANDLE read_handle = nullptr;
    HANDLE write_handle = nullptr;
    const BOOL created = ::CreatePipe(&read_handle, &write_handle, nullptr, 0);
    if (!created)
        return false;
    read_end.reset(read_handle);
    write_end.reset(write_handle);
    return true;
}

bool make_inheritable(HANDLE handle)
{
    return ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) != FALSE;
}

bool run_and_capture(std::wstring& command, std::wstring& output, bool hide_window, std::uint64_t timeout)
{
    if (command.empty()) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    output.clear();

    // The child gets the read end of its input and the write end of its
    // output, nothing else: holding the input's write end, it would wait for
    // the end of its input for ever.
    unique_handle output_read, output_write;
    if (!create_pipe(output_read, output_write) || !make_inheritable(output_write.get()))
        return false;
    unique_handle input_read, input_write;
    if (!create_pipe(input_read, input_write) || !make_inheritable(input_read.get()))
        return false;

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input_read.get();
    startup.hStdOutput = output_write.get();
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);

    VARNOX_LOG(4, log_source, 345, L"exec_console_application_with_timeout(%s) successfully.", command.c_str());

    // The command line stays as given; only which file runs is fixed here.
    const std::wstring program = system_program_for(command, get_system_folder());
    PROCESS_INFORMATION started = {};
    const BOOL created =
        ::CreateProcessW(program.empty() ? nullptr : program.c_str(), &command[0], nullptr, nullptr, TRUE,
                         hide_window ? CREATE_NO_WINDOW : 0, nullptr, nullptr, &startup, &started);
    if (!created)
        return false;
    const unique_handle process(started.hProcess);
    const unique_handle thread(started.hThread);
    // The child holds its own ends now. With the write end of the input
    // closed here too, its input is empty and at its end from the start.
    input_write.reset();
    input_read.reset();
    output_write.reset();

    std::uint64_t start_time = 0;
    system_time_as_file_time(start_time);

    const auto terminate = [&](std::uint64_t elapsed) {
        VARNOX_LOG(1, log_source, 399,
                   L"Terminate command process (%s) when it is running (%I64u) seconds which is over (%I64u) seconds.",
                   command.c_str(), elapsed, timeout);
        ::TerminateProcess(process.get(), ERROR_TIMEOUT);
        ::WaitForSingleObject(process.get(), wait_after_termination_ms);
    };

    DWORD quiet_wait_ms = first_quiet_wait_ms;
    const auto wait_while_quiet = [&] {
        ::WaitForSingleObject(process.get(), quiet_wait_ms);
        quiet_wait_ms = quiet_wait_ms < longest_quiet_wait_ms / 2 ? quiet_wait_ms * 2 : longest_quiet_wait_ms;
    };
    // "Still running" is reported in the first quiet pass, then about once a second.
    bool reported = false;
    DWORD last_report = 0;
    const auto progress_due = [&] {
        const DWORD now = ::GetTickCount();
        if (reported && now - last_report < progress_interval_ms)
            return false;
        reported = true;
        last_report = now;
        return true;
    };

    std::vector<char> buffer;
    std::string captured;
    bool finished = false;
    for (;;) {
        DWORD peeked = 0;
        DWORD available = 0;
        char peek_buffer[chunk_size] = {};
        if (!::PeekNamedPipe(output_read.get(), peek_buffer, chunk_size, &peeked, &available, nullptr))
            available = 0;

        if (available > 0) {
            read_available(output_read.get(), available, buffer, captured);
            quiet_wait_ms = first_quiet_wait_ms;
            // A child that keeps writing must not escape its time limit.
            if (timeout > 0 && !child_has_ended(process.get())) {
                std::uint64_t now = 0;
                if (system_time_as_file_time(now)) {
                    const std::uint64_t elapsed = seconds_between(start_time, now);
                    if (elapsed >= timeout) {
                        terminate(elapsed);
                        continue;
                    }
                }
            }
        } else {
            if (child_has_ended(process.get()))
                break;

            const bool report = progress_due();
            if (timeout == 0) {
                if (report)
                    VARNOX_LOG(4, log_source, 411, L"The Command (%s) is still running.", command.c_str());
                wait_while_quiet();
            } else {
                std::uint64_t now = 0;
                if (!system_time_as_file_time(now)) {
                    if (report)
                        VARNOX_LOG(4, log_source, 407, L"The Command (%s) is still running.", command.c_str());
                    wait_while_quiet();
                } else {
                    const std::uint64_t elapsed = seconds_between(start_time, now);
                    if (elapsed < timeout) {
                        if (report)
                            VARNOX_LOG(4, log_source, 404, L"The Command (%s) is still running. (%I64u seconds)",
                                       command.c_str(), elapsed);
                        wait_while_quiet();
                    } else {
                        terminate(elapsed);
                        continue;
                    }
                }
            }
        }

        // One more pass after the child's end drains what it wrote last.
        if (finished)
            break;
        DWORD exit_code = 0;
        if (::GetExitCodeProcess(process.get(), &exit_code) && exit_code != STILL_ACTIVE)
            finished = true;
    }

    // A child that wrote and ended between a peek and the test of its end
    // left its last bytes in the pipe. Once: a grandchild that inherited the
    // pipe may keep writing.
    DWORD left = 0;
    if (::PeekNamedPipe(output_read.get(), nullptr, 0, nullptr, &left, nullptr) && left > 0)
        read_available(output_read.get(), left, buffer, captured);
    output = from_code_page(captured, CP_ACP);

    DWORD exit_code = 0;
    const BOOL got_exit_code = ::GetExitCodeProcess(process.get(), &exit_code);
    const DWORD code = got_exit_code ? exit_code : ::GetLastError();
    // HRESULT_FROM_WIN32 of the code is 0 only for 0: every other code fails.
    const bool succeeded = code == 0;
    ::SetLastError(code);
    return succeeded;
}

} // namespace

std::wstring system_program_for(const std::wstring& command, const std::wstring& system_folder)
{
    std::wstring program;
    if (!command.empty() && command[0] == L'"') {
        const std::size_t closing = command.find(L'"', 1);
        program = command.substr(1, closing == std::wstring::npos ? std::wstring::npos : closing - 1);
    } else {
        program = command.substr(0, command.find_first_of(L" \t"));
    }
    if (program.empty() || system_folder.empty() || program.find_first_of(L"\\/:") != std::wstring::npos)
        return std::wstring();
    // CreateProcessW adds no extension to a program it is given by name.
    if (program.find(L'.') == std::wstring::npos)
        program += L".exe";
    return system_folder + L"\\" + program;
}

bool exec_console_application_with_timeout(std::wstring command, std::wstring& output, bool hide_window,
                                           std::uint64_t timeout)
{
    // A result and the last error are the whole report: nothing escapes.
    try {
        return run_and_capture(command, output, hide_window, timeout);
    } catch (...) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

} // namespace windows
} // namespace varnox
