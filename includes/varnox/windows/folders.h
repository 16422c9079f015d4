#pragma once

#include <windows.h>

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

// A new, empty, uniquely named folder in folder. On Windows PE it lies in
// "Temp" beside the executable instead, prefix is not used, and a failure to
// create it throws boost::filesystem::filesystem_error.
std::wstring create_temp_folder(const std::wstring& folder, const std::wstring& prefix);

} // namespace windows
} // namespace varnox
