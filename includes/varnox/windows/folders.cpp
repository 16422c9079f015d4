#include "varnox/windows/folders.h"

#include <windows.h>

#include <ntsecapi.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include "varnox/windows/handle.h"
#include "varnox/windows/security.h"

namespace varnox {
namespace windows {

namespace {

// Reads a text from a query with the platform's contract: the length without
// the NUL when the buffer holds the text, the size it needs (NUL included)
// when it does not, 0 on failure. A text that grew between the calls is asked
// for again a few times; one that never fits is not determined (empty).
template <typename Query>
std::wstring read_whole(DWORD first_size, Query query)
{
    constexpr int attempts = 4;
    std::vector<wchar_t> buffer(first_size);
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = query(size > 0 ? buffer.data() : nullptr, size);
        if (length == 0)
            return std::wstring();
        if (length < size)
            return std::wstring(buffer.data(), length);
        buffer.resize(length);
    }
    return std::wstring();
}

} // namespace

std::wstring get_temp_folder()
{
    return get_temp_folder(&::GetTempPathW);
}

std::wstring get_temp_folder(temp_path_query query)
{
    const std::wstring path = read_whole(261, [query](wchar_t* buffer, DWORD size) { return query(size, buffer); });
    if (path.empty())
        return std::wstring();
    // The parent of "C:\Temp\" is "C:\Temp": this drops the trailing backslash.
    return boost::filesystem::path(path).parent_path().wstring();
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
    return read_whole(0, [query](wchar_t* buffer, DWORD size) { return static_cast<DWORD>(query(buffer, size)); });
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
std::wstring create_module_temp_folder(PSECURITY_DESCRIPTOR security)
{
    const boost::filesystem::path base = boost::filesystem::path(get_module_folder()) / L"Temp";
    boost::filesystem::create_directories(base);
    bool names_left = true;
    const auto next_name = [&names_left]() -> std::wstring {
        char name[L_tmpnam] = {};
        if (std::tmpnam(name) == nullptr) {
            names_left = false;
            return std::wstring();
        }
        // The C runtime gives "\s1k8." and so on: drop the backslash, add "tmp".
        std::wstring leaf;
        for (const char* c = name; *c; ++c)
            leaf.push_back(static_cast<unsigned char>(*c));
        while (!leaf.empty() && (leaf.front() == L'\\' || leaf.front() == L'/'))
            leaf.erase(0, 1);
        return leaf + L"tmp";
    };
    DWORD error = 0;
    const std::wstring folder = create_new_folder(base.wstring(), next_name, security, TMP_MAX, &error);
    if (folder.empty() && names_left && error != 0 && error != ERROR_ALREADY_EXISTS)
        throw boost::filesystem::filesystem_error(
            "boost::filesystem::create_directory", base,
            boost::system::error_code(static_cast<int>(error), boost::system::system_category()));
    return folder;
}

// "<first three characters of prefix><eight hexadecimal digits>.tmp", the
// digits from the system's random numbers, so that nobody can take the next
// name ahead of the setup.
std::wstring random_folder_name(const std::wstring& prefix)
{
    ULONG value = 0;
    if (!RtlGenRandom(&value, sizeof(value))) {
        // Still unique in practice; the creation itself refuses a taken name.
        static ULONG counter = 0;
        value = ::GetTickCount() ^ (::GetCurrentProcessId() << 16) ^ ++counter;
    }
    wchar_t digits[16] = {};
    ::_snwprintf(digits, 15, L"%08lx", value);
    return prefix.substr(0, 3) + digits + L".tmp";
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

std::wstring create_new_folder(const std::wstring& parent, const std::function<std::wstring()>& next_name,
                               PSECURITY_DESCRIPTOR security, int attempts, DWORD* error)
{
    if (error)
        *error = 0;
    if (parent.empty())
        return std::wstring();
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), security, FALSE};
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const std::wstring name = next_name();
        if (name.empty())
            return std::wstring();
        const std::wstring path = parent + L"\\" + name;
        // The creation is the test: no name is checked first and made later.
        if (::CreateDirectoryW(path.c_str(), &attributes))
            return path;
        const DWORD failed = ::GetLastError();
        if (failed != ERROR_ALREADY_EXISTS) {
            if (error)
                *error = failed;
            return std::wstring();
        }
    }
    if (error)
        *error = ERROR_ALREADY_EXISTS;
    return std::wstring();
}

std::wstring create_temp_folder(const std::wstring& folder, const std::wstring& prefix)
{
    // Run elevated, the folder is the administrators' alone from its creation on.
    const bool elevated = is_elevated();
    const security_descriptor security = scratch_folder_descriptor(elevated);
    if (elevated && security.empty())
        return std::wstring();

    if (is_windows_pe())
        return create_module_temp_folder(security.get());
    return create_new_folder(folder, [&prefix] { return random_folder_name(prefix); }, security.get());
}

} // namespace windows
} // namespace varnox
