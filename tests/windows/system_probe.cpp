// Writes what the library finds out about the running system into a file
// (UTF-8 lines "key=value"), for tests that need a fresh process: one started
// after the Windows version was changed, or one started from a long path.
#include <windows.h>

#include <cstdio>
#include <string>

#include "varnox/windows/code_page.h"
#include "varnox/windows/folders.h"
#include "varnox/windows/operating_system.h"

namespace {

std::string utf8(const std::wstring& text)
{
    return varnox::windows::to_code_page(text, CP_UTF8);
}

void line(std::string& out, const char* key, const std::wstring& value)
{
    out += key;
    out += '=';
    out += utf8(value);
    out += '\n';
}

void line(std::string& out, const char* key, unsigned long long value)
{
    line(out, key, std::to_wstring(value));
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    std::string out;
    line(out, "process_id", ::GetCurrentProcessId());
    line(out, "module_file_name", varnox::windows::get_module_file_name());
    line(out, "module_folder", varnox::windows::get_module_folder());
    line(out, "temp_folder", varnox::windows::get_temp_folder());
    // What Windows itself reports to this program, before kernel32.dll is consulted.
    OSVERSIONINFOEXW reported = {};
    reported.dwOSVersionInfoSize = sizeof(reported);
    ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&reported));
    line(out, "reported_version",
         std::to_wstring(reported.dwMajorVersion) + L"." + std::to_wstring(reported.dwMinorVersion) + L"." +
             std::to_wstring(reported.dwBuildNumber));
    try {
        const varnox::windows::operating_system os = varnox::windows::operating_system::get();
        line(out, "major", os.version_info.dwMajorVersion);
        line(out, "minor", os.version_info.dwMinorVersion);
        line(out, "build", os.version_info.dwBuildNumber);
        line(out, "product_type_byte", os.version_info.wProductType);
        line(out, "suite_mask", os.version_info.wSuiteMask);
        line(out, "service_pack", os.version_info.szCSDVersion);
        line(out, "architecture", os.system_info.wProcessorArchitecture);
        line(out, "product_type", os.product_type);
        line(out, "name", os.name);
    } catch (...) {
        line(out, "error", L"operating_system::get threw");
    }
    line(out, "is_64bit_os", varnox::windows::is_64bit_os());
    line(out, "is_64bit_process", varnox::windows::is_64bit_process());

    FILE* file = ::_wfopen(argv[1], L"wb");
    if (file == nullptr)
        return 3;
    std::fwrite(out.data(), 1, out.size(), file);
    std::fclose(file);
    return 0;
}
