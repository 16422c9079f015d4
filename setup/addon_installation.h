#pragma once

#include <string>

#include "messages.h"
#include "varnox/common/archive.h"

namespace install {

// Only one add-on installation runs at a time in a logon session.
constexpr wchar_t addon_mutex_name[] = L"LinuxMutex";
// The agent's service, whose executable the add-on is installed beside.
constexpr wchar_t agent_service_name[] = L"Velmora";
constexpr wchar_t addon_folder_name[] = L"emulator";

// Fixed message numbers of the add-on installation's log entries.
constexpr int log_line_addon_mutex_error = 510;
constexpr int log_line_addon_busy = 512;
constexpr int log_line_addon_error = 520;
constexpr int log_line_addon_no_folder = 522;
constexpr int log_line_addon_cancelled = 524;
constexpr int log_line_addon_not_removed = 526;
constexpr int log_line_addon_folder_not_ansi = 528;
constexpr int log_line_addon_extraction_failed = 530;
constexpr int log_line_addon_unlock_failed = 532;

// text without blanks, tabs, form feeds, vertical tabs, line feeds and
// carriage returns at either end, and then without a double quote at each end
// when both are there and more than that one character remains.
std::wstring trim_and_unquote(const std::wstring& text);

// The executable of a service's command line as Windows reads it when it
// starts the service: the quoted part when the trimmed command line begins
// with a double quote (arguments follow it), else the whole trimmed text.
std::wstring service_executable_path(const std::wstring& binary_path);

// "emulator" beside the executable of the service's command line; empty when
// the executable's folder is not a full path (the files would land in
// whatever folder is current).
std::wstring addon_folder_for(const std::wstring& binary_path);

// Installs the add-on: every member of the archive into the folder
// "emulator" beside the "Velmora" service's executable, after asking the user
// (messages 105 or 107; Cancel or Escape stops it), and reports the outcome
// in message boxes. Exit code 0 when installed, or when another installation
// holds "LinuxMutex" (message 104); 2 when cancelled, when the service or its
// folder cannot be found, when the files cannot be extracted, or when an
// earlier add-on could not be removed.
int install_addon(varnox::archive::unzip& archive, message_presenter& presenter);

} // namespace install
