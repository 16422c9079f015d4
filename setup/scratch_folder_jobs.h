#pragma once

#include <string>

#include "messages.h"
#include "varnox/common/archive.h"

namespace install {

// The two jobs that unpack the whole payload into a fresh scratch folder in
// the temporary folder, run one file from it and remove the folder again.
constexpr wchar_t scratch_folder_prefix[] = L"tmp";
constexpr wchar_t driver_package_installer[] = L"dpinst.exe";
constexpr wchar_t upgrade_command_file[] = L"upgrade.cmd";

// Fixed message numbers of their log entries.
constexpr int log_line_scratch_folder_not_created = 331;
constexpr int log_line_scratch_folder_not_ansi = 333;
constexpr int log_line_scratch_extraction_error = 335;
constexpr int log_line_scratch_extraction_failed = 336;
constexpr int log_line_run_file_ended = 338;
constexpr int log_line_scratch_folder_not_removed = 340;

// The command line of a file in the scratch folder: its path in quotes, no
// arguments. Unquoted, a blank in the temporary folder's path (a user name
// such as "John Smith") would let Windows start "C:\Users\John.exe" first.
std::wstring run_file_command(const std::wstring& folder, const std::wstring& member);

// Runs the payload's "dpinst.exe" and says nothing. Exit code 0 once it has
// run, whatever its own exit code (logged); 2 when no scratch folder could be
// made or the payload could not be extracted into it.
int run_driver_package(varnox::archive::unzip& archive);

// Runs the payload's "upgrade.cmd" and shows what it printed in a box
// captioned "Upgrade". Exit codes as for the driver package.
int run_upgrade(varnox::archive::unzip& archive, message_presenter& presenter);

} // namespace install
