#include "varnox/windows/plain_file.h"

namespace varnox {
namespace windows {

bool is_plain_file(HANDLE file, DWORD& error)
{
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!::GetFileInformationByHandle(file, &information)) {
        error = ::GetLastError();
        return false;
    }
    if ((information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        information.nNumberOfLinks > 1) {
        error = ERROR_CANT_ACCESS_FILE;
        return false;
    }
    return true;
}

} // namespace windows
} // namespace varnox
