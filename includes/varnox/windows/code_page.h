#pragma once

#ifdef _WIN32
#include <windows.h>
#else
// The native build for Linux knows two code pages: UTF-8, and as the ANSI
// code page Windows-1252 (what Windows uses for English and most Western
// languages, and Wine's default).
using UINT = unsigned int;
constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;
#endif

#include <optional>
#include <string>

namespace varnox {
namespace windows {

// Text in a code page (CP_ACP, CP_UTF8, ...) from UTF-16 and back, for display:
// characters the code page lacks come out as look-alikes or the system's
// default character.
std::string to_code_page(const std::wstring& text, UINT code_page);
std::wstring from_code_page(const std::string& text, UINT code_page);

// The same conversions for paths and names, which must stay exactly what they
// are: empty when the code page cannot hold the text as it is (no look-alike,
// no default character, no invalid byte sequence). The thread's last error is
// then ERROR_NO_UNICODE_TRANSLATION (EILSEQ in the native build).
std::optional<std::string> to_code_page_exact(const std::wstring& text, UINT code_page);
std::optional<std::wstring> from_code_page_exact(const std::string& text, UINT code_page);

} // namespace windows
} // namespace varnox
