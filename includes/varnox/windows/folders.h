#pragma once

#include <string>

namespace varnox {
namespace windows {

// Each returns an empty string when the folder cannot be determined.
std::wstring get_temp_folder();
std::wstring get_module_file_name();
std::wstring get_module_folder();

} // namespace windows
} // namespace varnox
