#include "windows_version.h"

#include <windows.h>

namespace install {

bool is_windows_version_or_greater(unsigned major, unsigned minor)
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = major;
    version.dwMinorVersion = minor;
    version.wServicePackMajor = 0;

    ULONGLONG condition = 0;
    condition = ::VerSetConditionMask(condition, VER_MAJORVERSION, VER_GREATER_EQUAL);
    condition = ::VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
    condition = ::VerSetConditionMask(condition, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return ::VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                                condition) != FALSE;
}

} // namespace install
