#pragma once

#include <string>

namespace install {

// The setup program's own options, passed on to the Windows Installer
// verbatim: the command line after the program's path. A quoted path ends
// at its closing quote; an unquoted one at the first blank before which the
// text ends in the executable's file name (or else its name without the
// extension), the way Windows finds the program; failing both, at the first
// blank. Letter case is compared for ASCII letters only, as the C runtime's
// _wcsicmp does in the "C" locale.
std::wstring installer_options(const std::wstring& command_line, const std::wstring& executable_path);

} // namespace install
