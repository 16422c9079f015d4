// Registers the provider double's server in the current Wine prefix, or puts
// the platform's registration back:
//   bcd_server_registration register C:\path\bcd_double_server.dll
//   bcd_server_registration unregister
// The exit code is the Win32 error, 0 when done.

#include <windows.h>

#include <string>

#include "bcd_server_registration.h"

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"register" && argc == 3)
        return static_cast<int>(bcd_double::register_server(argv[2]));
    if (command == L"unregister" && argc == 2)
        return static_cast<int>(bcd_double::unregister_server());
    return ERROR_BAD_ARGUMENTS;
}
