#include <gtest/gtest.h>

#include <string>

#include "message_texts.h"
#include "messages.h"
#include "running_process.h"
#include "test_support.h"
#include "varnox/windows/handle.h"

namespace {

using test_support::from_utf8;
using test_support::to_utf8;
using test_support::windows_path_of_unix;
using varnox::windows::unique_handle;

struct started_process {
    unique_handle process;
    DWORD id = 0;
};

started_process start(const std::wstring& command_line)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring line = command_line;
    started_process result;
    if (::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        result.process.reset(info.hProcess);
        ::CloseHandle(info.hThread);
        result.id = info.dwProcessId;
    }
    return result;
}

struct helper_result {
    DWORD exit_code = 0;
    std::string output;
};

// Runs the window helper and collects what it prints.
helper_result run_window_helper(DWORD process_id, const std::wstring& press)
{
    helper_result result;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE read_raw = nullptr;
    HANDLE write_raw = nullptr;
    if (!::CreatePipe(&read_raw, &write_raw, &inherit, 0)) {
        ADD_FAILURE() << "CreatePipe: " << to_utf8(test_support::error_text(::GetLastError()));
        return result;
    }
    unique_handle read_end(read_raw);
    unique_handle write_end(write_raw);
    ::SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end.get();
    startup.hStdError = write_end.get();
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    std::wstring line = L"\"" + windows_path_of_unix(VARNOX_WINDOW_HELPER) + L"\" --pid " +
                        std::to_wstring(process_id) + L" --timeout-ms 20000 --press " + press;
    PROCESS_INFORMATION info = {};
    const BOOL started = ::CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                          nullptr, nullptr, &startup, &info);
    const DWORD error = ::GetLastError();
    if (!started) {
        ADD_FAILURE() << "window helper did not start: " << to_utf8(test_support::error_text(error));
        return result;
    }
    unique_handle process(info.hProcess);
    unique_handle thread(info.hThread);
    write_end.reset();

    // The helper gives up on its own after 20 s; its few lines fit in the
    // pipe, so they are read once it has ended, without waiting for the end
    // of the pipe that another process might still hold open.
    if (::WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 255);
        ADD_FAILURE() << "the window helper did not end";
    }
    ::GetExitCodeProcess(process.get(), &result.exit_code);
    DWORD available = 0;
    while (::PeekNamedPipe(read_end.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        char buffer[4096];
        DWORD got = 0;
        if (!::ReadFile(read_end.get(), buffer, sizeof(buffer), &got, nullptr) || got == 0)
            break;
        result.output.append(buffer, got);
    }
    return result;
}


std::string table_text(UINT id)
{
    for (const auto& row : message_texts::expected_texts) {
        if (row.id == id)
            return to_utf8(message_texts::text_in(row, ::GetUserDefaultUILanguage()));
    }
    return std::string();
}

// The boxes must show the language under test, or Chinese texts would go
// unchecked.
TEST(VARNOX_BOX_SUITE, user_interface_language_is_the_one_under_test)
{
    EXPECT_EQ(VARNOX_EXPECTED_LANGUAGE, ::GetUserDefaultUILanguage());
}

struct box_case {
    const char* name;
    std::wstring probe_arguments;
    std::wstring press;
    std::string caption;
    std::string text;
    std::string buttons;
    DWORD answer;
};

// The real MessageBoxW, reached through the setup program's presenter, shows
// the table's caption and text with the style's buttons, and the button the
// user presses (or Escape on an OK/Cancel box) comes back as the answer.
TEST(VARNOX_BOX_SUITE, shows_the_texts_and_returns_the_pressed_button)
{
    const box_case cases[] = {
        {"prerequisite box, OK", L"113 102 0x40010", L"ok", table_text(102), table_text(113), "1", IDOK},
        {"question box, OK", L"107 103 0x31", L"ok", table_text(103), table_text(107), "1,2", IDOK},
        {"question box, Cancel", L"105 103 0x31", L"cancel", table_text(103), table_text(105), "1,2",
         IDCANCEL},
        {"question box, Escape", L"107 103 0x31", L"escape", table_text(103), table_text(107), "1,2",
         IDCANCEL},
        {"installed box, OK", L"108 103 0", L"ok", table_text(103), table_text(108), "1", IDOK},
        {"upgrade box, OK", L"--upgrade \"upgrade.cmd finished\"", L"ok", "Upgrade", "upgrade.cmd finished",
         "1", IDOK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        started_process probe =
            start(L"\"" + windows_path_of_unix(VARNOX_MESSAGE_BOX_PROBE) + L"\" " + c.probe_arguments);
        ASSERT_TRUE(probe.process) << to_utf8(test_support::error_text(::GetLastError()));

        const helper_result helper = run_window_helper(probe.id, c.press);
        EXPECT_EQ(0u, helper.exit_code) << helper.output;
        EXPECT_EQ(c.caption, test_support::helper_field(helper.output, "caption"));
        EXPECT_EQ(c.text, test_support::helper_field(helper.output, "text"));
        EXPECT_EQ(c.buttons, test_support::helper_field(helper.output, "buttons"));

        if (::WaitForSingleObject(probe.process.get(), 20000) != WAIT_OBJECT_0) {
            ::TerminateProcess(probe.process.get(), 255);
            ADD_FAILURE() << "the box was not closed";
            continue;
        }
        DWORD answer = 0;
        ::GetExitCodeProcess(probe.process.get(), &answer);
        EXPECT_EQ(c.answer, answer);
    }
}

bool running_under_wine()
{
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The prerequisite boxes stay above other windows; the add-on boxes do not.
TEST(VARNOX_BOX_SUITE, only_the_prerequisite_style_is_topmost)
{
    const struct {
        const wchar_t* probe_arguments;
        const char* topmost;
    } cases[] = {
        {L"113 102 0x40010", "1"},
        {L"104 103 0x30", "0"},
        {L"105 103 0x31", "0"},
        {L"106 103 0x10", "0"},
        {L"108 103 0", "0"},
    };
    bool wine_left_out_topmost = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(to_utf8(c.probe_arguments));
        started_process probe =
            start(L"\"" + windows_path_of_unix(VARNOX_MESSAGE_BOX_PROBE) + L"\" " + c.probe_arguments);
        ASSERT_TRUE(probe.process);
        const helper_result helper = run_window_helper(probe.id, L"ok");
        ASSERT_EQ(0u, helper.exit_code) << helper.output;
        const std::string topmost = test_support::helper_field(helper.output, "topmost");
        if (std::string(c.topmost) == "1" && topmost == "0" && running_under_wine())
            wine_left_out_topmost = true;
        else
            EXPECT_EQ(c.topmost, topmost);
        if (::WaitForSingleObject(probe.process.get(), 20000) != WAIT_OBJECT_0)
            ::TerminateProcess(probe.process.get(), 255);
    }
    if (wine_left_out_topmost)
        GTEST_SKIP() << "Wine does not set WS_EX_TOPMOST for MB_TOPMOST; the other boxes were checked";
}

} // namespace
