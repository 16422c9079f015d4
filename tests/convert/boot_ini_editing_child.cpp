// Adds and removes the driver-disabled line of the boot.ini it is given, over
// and over, until it is killed; writes the marker file once the first
// replacement is done, so that the killing test knows it is under way.
// Usage: boot_ini_editing_child BOOT_INI MARKER
#include <windows.h>

#include <string>

#include "convert/boot_ini_edit.h"
#include "varnox/windows/handle.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 2;
    boot_ini_edit editor{std::wstring(argv[1])};
    for (bool marked = false;;) {
        if (!editor.add_driver_disabled_entry(L"Disable Dovrant Driver") ||
            !editor.remove_driver_disabled_entry(L"Disable Dovrant Driver"))
            return 1;
        if (!marked) {
            const varnox::windows::unique_hfile marker(
                ::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            marked = true;
        }
    }
}
