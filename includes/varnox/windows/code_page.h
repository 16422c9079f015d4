#pragma once

#include <windows.h>

#include <string>

namespace varnox {
namespace windows {

// Text in a code page (CP_ACP, CP_UTF8, ...) from UTF-16 and back. Characters
// the code page lacks come out as the system's default character.
std::string to_code_page(const std::wstring& text, UINT code_page);
std::wstring from_code_page(const std::string& text, UINT code_page);

} // namespace windows
} // namespace varnox
