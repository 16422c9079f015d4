#include "varnox/windows/folders.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include "varnox/windows/handle.h"

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

namespace {

using folder_query = UINT(WINAPI*)(LPWSTR, UINT);

// Asks for the length first, then for the folder itself.
std::wstring query_folder(folder_query query)
{
    const UINT needed = query(nullptr, 0);
    if (needed == 0)
        return std::wstring();
    std::vector<wchar_t> buffer(needed);
    const UINT length = query(buffer.data(), needed);
    if (length == 0 || length >= needed)
        return std::wstring();
    return std::wstring(buffer.data(), length);
}

bool is_windows_pe()
{
    unique_hkey key;
    const LONG result = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\WinPE",
                                        0, KEY_READ, key.put());
    // A key that cannot be read for another reason counts as Windows PE too.
    return result != ERROR_FILE_NOT_FOUND;
}

// Windows PE: a folder named by the C runtime beside the executable. A name
// that already exists (left by an earlier run with the same process
// identifier) is skipped, so the folder is always new and empty.
std::wstring create_module_temp_folder()
{
    const boost::filesystem::path base = boost::filesystem::path(get_module_folder()) / L"Temp";
    for (int attempt = 0; attempt < TMP_MAX; ++attempt) {
        char name[L_tmpnam] = {};
        if (std::tmpnam(name) == nullptr)
            break;
        // The C runtime gives "\s1k8." and so on: drop the backslash, add "tmp".
        std::wstring leaf;
        for (const char* c = name; *c; ++c)
            leaf.push_back(static_cast<unsigned char>(*c));
        while (!leaf.empty() && (leaf.front() == L'\\' || leaf.front() == L'/'))
            leaf.erase(0, 1);
        const boost::filesystem::path folder = base / (leaf + L"tmp");
        if (boost::filesystem::create_directories(folder))
            return folder.wstring();
    }
    return std::wstring();
}

} // namespace

std::wstring get_system_folder()
{
    return query_folder(&::GetSystemDirectoryW);
}

std::wstring get_windows_folder()
{
    return query_folder(&::GetWindowsDirectoryW);
}

std::wstring get_temp_file_name(const std::wstring& folder, const std::wstring& prefix)
{
    if (folder.empty() || folder.size() > 245)
        return std::wstring();
    wchar_t path[MAX_PATH + 1] = {};
    if (::GetTempFileNameW(folder.c_str(), prefix.c_str(), 0, path) == 0)
        return std::wstring();
    return path;
}

std::wstring create_temp_folder(const std::wstring& folder, const std::wstring& prefix)
{
    if (is_windows_pe())
        return create_module_temp_folder();

    const std::wstring path = get_temp_file_name(folder, prefix);
    if (path.empty())
        return std::wstring();
    if (!::DeleteFileW(path.c_str()) || !::CreateDirectoryW(path.c_str(), nullptr))
        return std::wstring();
    return path;
}

} // namespace windows
} // namespace varnox
