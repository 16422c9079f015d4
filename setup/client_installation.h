#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "client_package.h"
#include "installer_options.h"
#include "messages.h"
#include "varnox/common/archive.h"
#include "varnox/windows/handle.h"
#include "varnox/windows/operating_system.h"

namespace install {

// The volume device setup class, whose "UpperFilters" list names the upper
// filter drivers of every volume.
constexpr wchar_t volume_class_key[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{71a27cdd-812a-11d0-bec7-08002be2092f}";
constexpr wchar_t upper_filters_value[] = L"UpperFilters";
// A volume filter driver that the journal driver must not be installed beside.
constexpr wchar_t conflicting_volume_filter[] = L"VolFilter";

// Every package is extracted under this name in the temporary folder.
constexpr wchar_t package_file_name[] = L"client.msi";

// Fixed message numbers of the client installation's log entries.
constexpr int log_line_stale_package_not_deleted = 232;
constexpr int log_line_package_path_not_ansi = 235;
constexpr int log_line_partial_package_not_deleted = 262;
constexpr int log_line_package_not_held = 270;
constexpr int log_line_installer_command = 278;
constexpr int log_line_installer_exit_code = 280;
constexpr int log_line_restart_needed = 282;
constexpr int log_line_installer_failed = 284;
constexpr int log_line_package_not_deleted = 290;

// The package for this Windows (client_package.h has the table).
const client_package* client_package_for(const varnox::windows::operating_system& os);

// Whether a list of filter drivers names the conflicting one, in any letter case.
bool lists_conflicting_volume_filter(const std::vector<std::wstring>& filters);

// Whether the volumes' "UpperFilters" (REG_MULTI_SZ) names the conflicting
// filter driver. A key or value that cannot be read, or a value of another
// type, names none.
bool has_conflicting_volume_filter();

// Opens the extracted package so that no other process can write, rename or
// delete it while the handle is open (the installer may still read it), and
// checks that it is what was extracted: a file of one name, no link, with
// the member's size and CRC-32. Between the extraction's end and this
// opening the name was open to others; the check closes that gap. An
// invalid handle and the error otherwise (ERROR_CANT_ACCESS_FILE for a
// link, ERROR_CRC for other content).
varnox::windows::unique_hfile hold_package(const std::wstring& path,
                                           const varnox::archive::unzip::member_digest& digest, DWORD& error);

// "<system folder>\msiexec.exe" /i "<package>" <options>
std::wstring installer_command(const std::wstring& system_folder, const std::wstring& package_path,
                               const std::wstring& options);

// What an exit code of the Windows Installer says about the installation.
enum class installer_outcome {
    succeeded,
    restart_needed,  // succeeded; Windows must restart to complete it (3010, 1641)
    failed,
};
installer_outcome interpret_installer_exit_code(DWORD exit_code);

// The client installation: refuses beside a conflicting volume filter driver
// (message 114, exit code 1), extracts the package that fits this Windows to
// client.msi in the temporary folder, runs the Windows Installer on it with
// the setup program's options, adds the fallback boot entry and deletes the
// package. Exit code 0, or 2 when the package could not be extracted or
// installed.
int install_client(varnox::archive::unzip& archive, const std::wstring& executable_path,
                   const std::wstring& command_line, const varnox::windows::operating_system& os,
                   message_presenter& presenter);

} // namespace install
