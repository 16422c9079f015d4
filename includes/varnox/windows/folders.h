#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace varnox {
namespace windows {

// Each returns an empty string when the folder cannot be determined.
std::wstring get_temp_folder();
// The same over a query with GetTempPathW's contract, which tests stand in for.
using temp_path_query = DWORD(WINAPI*)(DWORD buffer_size, LPWSTR buffer);
std::wstring get_temp_folder(temp_path_query query);
std::wstring get_module_file_name();
std::wstring get_module_folder();
std::wstring get_system_folder();
std::wstring get_windows_folder();

// A new, empty, uniquely named file in folder (1 to 245 characters).
std::wstring get_temp_file_name(const std::wstring& folder, const std::wstring& prefix);

// A new, empty, uniquely named folder in folder: "tmp" as prefix gives names
// like "tmp3f09a1c2.tmp", from the system's random numbers. Run elevated, it
// is made with a protected descriptor that lets only SYSTEM and the
// Administrators in (scratch_folder_descriptor). A name that anything already
// holds is never used: the creation itself is the test, and another name is
// tried. On Windows PE it lies in "Temp" beside the executable instead,
// prefix is not used, and a failure to create it throws
// boost::filesystem::filesystem_error.
std::wstring create_temp_folder(const std::wstring& folder, const std::wstring& prefix);

// Creates a folder in parent under the first name from next_name that nothing
// holds yet (a folder, a file, a link: CreateDirectoryW says
// ERROR_ALREADY_EXISTS), with security (null: the parent's inherited
// entries); at most attempts names are tried, and an empty name stops.
// Empty when no folder was made; error then holds the last failure (0 when
// next_name gave up).
std::wstring create_new_folder(const std::wstring& parent, const std::function<std::wstring()>& next_name,
                               PSECURITY_DESCRIPTOR security, int attempts = 100, DWORD* error = nullptr);

} // namespace windows
} // namespace varnox
