// Answers another process's message box, the way a user would:
//
//   window_helper --pid N [--timeout-ms T] [--press ok|cancel|yes|no|1|2|6|7|escape]
//
// Waits up to T ms (default 10000) for a visible top-level dialog window
// (class #32770) of process N, prints what it shows as UTF-8 lines
//
//   caption=<window caption>
//   topmost=<1 when the window has WS_EX_TOPMOST, else 0>
//   buttons=<ids of the box's buttons, comma-separated>
//   text=<message text, to the end of the output>
//
// and then presses the button or sends Escape. Exit codes: 0 done, 1 no such
// window in time, 2 bad command line, 3 the box has no such button.
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

constexpr int exit_done = 0;
constexpr int exit_no_window = 1;
constexpr int exit_usage = 2;
constexpr int exit_no_button = 3;

struct window_search {
    DWORD process_id;
    HWND found;
};

BOOL CALLBACK find_dialog(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<window_search*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != search->process_id || !::IsWindowVisible(window))
        return TRUE;
    wchar_t class_name[16] = {};
    ::GetClassNameW(window, class_name, 16);
    if (std::wcscmp(class_name, L"#32770") != 0)
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND wait_for_dialog(DWORD process_id, DWORD timeout_ms)
{
    const DWORD start = ::GetTickCount();
    for (;;) {
        window_search search{process_id, nullptr};
        ::EnumWindows(&find_dialog, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        if (::GetTickCount() - start >= timeout_ms)
            return nullptr;
        ::Sleep(20);
    }
}

std::string to_utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size,
                          nullptr, nullptr);
    return result;
}

// Raw bytes, so that the console's code page does not touch the UTF-8.
void write_out(const std::string& bytes)
{
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
                &written, nullptr);
}

std::wstring window_text(HWND window)
{
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(window, &text[0], length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

std::wstring message_text(HWND dialog)
{
    // The static control of a message box's text has the id 0xFFFF.
    HWND control = ::GetDlgItem(dialog, 0xFFFF);
    if (!control)
        return std::wstring();
    const int length = ::GetWindowTextLengthW(control);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const UINT copied = ::GetDlgItemTextW(dialog, 0xFFFF, &text[0], length + 1);
    text.resize(copied);
    return text;
}

std::string button_ids(HWND dialog)
{
    std::string ids;
    for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
        if (::GetDlgItem(dialog, id)) {
            if (!ids.empty())
                ids += ',';
            ids += std::to_string(id);
        }
    }
    return ids;
}

int button_of(const std::wstring& name)
{
    if (name == L"ok" || name == L"1")
        return IDOK;
    if (name == L"cancel" || name == L"2")
        return IDCANCEL;
    if (name == L"yes" || name == L"6")
        return IDYES;
    if (name == L"no" || name == L"7")
        return IDNO;
    return 0;
}

// The dialog's own message loop turns Escape on any of its controls into
// IDCANCEL, so the key goes to the focused control, or the first button.
void send_escape(HWND dialog)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    HWND target = nullptr;
    if (::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndFocus)
        target = info.hwndFocus;
    if (!target)
        target = ::GetDlgItem(dialog, IDOK);
    if (!target)
        target = dialog;
    const LPARAM scan = static_cast<LPARAM>(::MapVirtualKeyW(VK_ESCAPE, 0)) << 16;
    ::PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, scan | 1);
    ::PostMessageW(target, WM_KEYUP, VK_ESCAPE, scan | 1 | (1 << 30) | (1u << 31));
}

int usage()
{
    write_out("usage: window_helper --pid N [--timeout-ms T] [--press ok|cancel|yes|no|1|2|6|7|escape]\n");
    return exit_usage;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    DWORD process_id = 0;
    DWORD timeout_ms = 10000;
    std::wstring press;
    for (int i = 1; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (i + 1 >= argc)
            return usage();
        const wchar_t* value = argv[++i];
        if (option == L"--pid")
            process_id = static_cast<DWORD>(std::wcstoul(value, nullptr, 10));
        else if (option == L"--timeout-ms")
            timeout_ms = static_cast<DWORD>(std::wcstoul(value, nullptr, 10));
        else if (option == L"--press")
            press = value;
        else
            return usage();
    }
    if (process_id == 0 || (!press.empty() && press != L"escape" && button_of(press) == 0))
        return usage();

    HWND dialog = wait_for_dialog(process_id, timeout_ms);
    if (!dialog) {
        write_out("no dialog window\n");
        return exit_no_window;
    }

    const bool topmost = (::GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    write_out("caption=" + to_utf8(window_text(dialog)) + "\n");
    write_out(std::string("topmost=") + (topmost ? "1" : "0") + "\n");
    write_out("buttons=" + button_ids(dialog) + "\n");
    write_out("text=" + to_utf8(message_text(dialog)) + "\n");

    if (press.empty())
        return exit_done;
    if (press == L"escape") {
        send_escape(dialog);
        return exit_done;
    }
    const int id = button_of(press);
    HWND button = ::GetDlgItem(dialog, id);
    if (!button)
        return exit_no_button;
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return exit_done;
}
