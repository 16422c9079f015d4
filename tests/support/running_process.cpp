#include "running_process.h"

#include "test_support.h"

namespace test_support {

running_process::running_process(const std::wstring& command_line, const std::wstring& current_folder)
{
    std::wstring line = command_line;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                          current_folder.empty() ? nullptr : current_folder.c_str(), &startup, &info))
        return;
    ::CloseHandle(info.hThread);
    _process.reset(info.hProcess);
    _id = info.dwProcessId;
}

running_process::~running_process()
{
    if (_process && ::WaitForSingleObject(_process.get(), 0) != WAIT_OBJECT_0)
        ::TerminateProcess(_process.get(), 99);
}

bool running_process::wait(DWORD timeout_ms)
{
    if (!_process)
        return false;
    if (::WaitForSingleObject(_process.get(), timeout_ms) == WAIT_OBJECT_0)
        return true;
    ::TerminateProcess(_process.get(), 99);
    ::WaitForSingleObject(_process.get(), 5000);
    return false;
}

DWORD running_process::exit_code() const
{
    DWORD code = STILL_ACTIVE;
    if (_process)
        ::GetExitCodeProcess(_process.get(), &code);
    return code;
}

std::string helper_field(const std::string& output, const std::string& name)
{
    const std::string key = name + "=";
    std::size_t start = output.compare(0, key.size(), key) == 0 ? 0 : output.find("\n" + key);
    if (start == std::string::npos)
        return std::string();
    start += start == 0 ? key.size() : key.size() + 1;
    if (name != "text")
        return output.substr(start, output.find('\n', start) - start);
    std::string text = output.substr(start);
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

answered_box answer_box(const std::string& window_helper, DWORD process_id, const std::wstring& press,
                        DWORD timeout_ms)
{
    answered_box box;
    // The helper prints UTF-8: its output is read as bytes, not decoded from
    // the ANSI code page as the setup's console runner would.
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE read_raw = nullptr;
    HANDLE write_raw = nullptr;
    if (!::CreatePipe(&read_raw, &write_raw, &inherit, 0))
        return box;
    varnox::windows::unique_handle read_end(read_raw);
    varnox::windows::unique_handle write_end(write_raw);
    ::SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end.get();
    startup.hStdError = write_end.get();
    std::wstring line = L"\"" + windows_path_of_unix(window_helper) + L"\" --pid " + std::to_wstring(process_id) +
                        L" --timeout-ms " + std::to_wstring(timeout_ms);
    if (!press.empty())
        line += L" --press " + press;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                          &info))
        return box;
    varnox::windows::unique_handle helper(info.hProcess);
    varnox::windows::unique_handle thread(info.hThread);
    write_end.reset();

    // The helper's few lines fit in the pipe: they are read once it has ended.
    if (::WaitForSingleObject(helper.get(), timeout_ms + 30000) != WAIT_OBJECT_0)
        ::TerminateProcess(helper.get(), 255);
    DWORD exit_code = 255;
    ::GetExitCodeProcess(helper.get(), &exit_code);
    DWORD available = 0;
    while (::PeekNamedPipe(read_end.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        char buffer[4096];
        DWORD got = 0;
        if (!::ReadFile(read_end.get(), buffer, sizeof(buffer), &got, nullptr) || got == 0)
            break;
        box.output.append(buffer, got);
    }
    box.shown = box.output.compare(0, 8, "caption=") == 0;
    box.answered = exit_code == 0;
    box.caption = helper_field(box.output, "caption");
    box.buttons = helper_field(box.output, "buttons");
    box.text = helper_field(box.output, "text");
    return box;
}

} // namespace test_support
