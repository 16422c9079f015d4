// Shows one of the setup program's message boxes through its real presenter
// and exits with the answer:
//
//   message_box_probe TEXT_ID CAPTION_ID STYLE
//   message_box_probe --upgrade TEXT
#include <windows.h>

#include <cwchar>

#include "messages.h"

int wmain(int argc, wchar_t** argv)
{
    install::message_box_presenter presenter;
    if (argc == 3 && std::wcscmp(argv[1], L"--upgrade") == 0)
        return install::show_upgrade_output(presenter, argv[2]);
    if (argc != 4)
        return -1;
    const auto number = [](const wchar_t* text) { return static_cast<UINT>(std::wcstoul(text, nullptr, 0)); };
    return install::show_message(presenter, number(argv[1]), number(argv[2]), number(argv[3]));
}
