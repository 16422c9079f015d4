#include "varnox/windows/folders.h"

#include <windows.h>

#include <cstdlib>
#include <vector>

#include <boost/filesystem/path.hpp>

namespace varnox {
namespace windows {

std::wstring get_temp_folder()
{
    wchar_t buffer[261] = {};
    if (::GetTempPathW(261, buffer) == 0)
        return std::wstring();
    // The parent of "C:\Temp\" is "C:\Temp": this drops the trailing backslash.
    return boost::filesystem::path(buffer).parent_path().wstring();
}

std::wstring get_module_file_name()
{
    constexpr DWORD longest_path = 32768;
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            const wchar_t* recorded = _wpgmptr;
            return recorded ? std::wstring(recorded) : std::wstring();
        }
        // A truncated path fills the whole buffer (only later Windows also set
        // ERROR_INSUFFICIENT_BUFFER, so the length is the test that always holds).
        if (length < buffer.size() || buffer.size() >= longest_path)
            return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2 > longest_path ? longest_path : buffer.size() * 2);
    }
}

std::wstring get_module_folder()
{
    return boost::filesystem::path(get_module_file_name()).parent_path().wstring();
}

} // namespace windows
} // namespace varnox
