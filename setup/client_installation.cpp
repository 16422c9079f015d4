#include "client_installation.h"

#include <cwchar>
#include <optional>
#include <vector>

#include "fallback_boot_entry.h"
#include "install.h"
#include "message_ids.h"
#include "varnox/common/log.h"
#include "varnox/windows/code_page.h"
#include "varnox/windows/folders.h"
#include "varnox/windows/plain_file.h"
#include "varnox/windows/process.h"
#include "varnox/windows/registry.h"

namespace install {

namespace {

// The installer runs without a practical time limit: 2^32 - 1 seconds.
constexpr std::uint64_t installer_time_limit = 0xFFFFFFFFull;

// True when no file is left at path; otherwise error holds why.
bool delete_package(const std::wstring& path, DWORD& error)
{
    if (::DeleteFileW(path.c_str()))
        return true;
    error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Runs the installer and waits for it; its exit code, or the error that kept
// it from running.
DWORD run_installer(const std::wstring& command)
{
    std::wstring output;
    varnox::windows::exec_console_application_with_timeout(command, output, true, installer_time_limit);
    return ::GetLastError();
}

// Logs what the installer's exit code means and returns the run's exit code.
int report_installer_exit_code(DWORD exit_code)
{
    VARNOX_LOG(-1, log_source, log_line_installer_exit_code, L"The Windows Installer ended with exit code %lu.",
               exit_code);
    switch (interpret_installer_exit_code(exit_code)) {
    case installer_outcome::succeeded:
        return exit_success;
    case installer_outcome::restart_needed:
        VARNOX_LOG(-1, log_source, log_line_restart_needed,
                   L"The installation is complete once Windows restarts (exit code %lu).", exit_code);
        return exit_success;
    case installer_outcome::failed:
        break;
    }
    VARNOX_LOG(1, log_source, log_line_installer_failed, L"The Windows Installer failed with exit code %lu!",
               exit_code);
    return exit_failed;
}

} // namespace

const client_package* client_package_for(const varnox::windows::operating_system& os)
{
    return client_package_for(os.version_info.dwMajorVersion, os.version_info.dwMinorVersion,
                              os.system_info.wProcessorArchitecture);
}

bool lists_conflicting_volume_filter(const std::vector<std::wstring>& filters)
{
    for (const std::wstring& filter : filters) {
        if (_wcsicmp(filter.c_str(), conflicting_volume_filter) == 0)
            return true;
    }
    return false;
}

bool has_conflicting_volume_filter()
{
    // Read-only: the check must see the list also where writing is not allowed.
    varnox::windows::registry volume_class(varnox::windows::registry::option_read_only);
    if (!volume_class.open(volume_class_key, HKEY_LOCAL_MACHINE))
        return false;
    const auto filters = volume_class.value(upper_filters_value);
    if (!filters->exists() || filters->type() != REG_MULTI_SZ)
        return false;
    std::vector<std::wstring> names;
    for (std::size_t index = 0; index < filters->item_count(); ++index)
        names.push_back(filters->item(index).value_or(std::wstring()));
    return lists_conflicting_volume_filter(names);
}

std::wstring installer_command(const std::wstring& system_folder, const std::wstring& package_path,
                               const std::wstring& options)
{
    return varnox::format_wstring(L"\"%s\\msiexec.exe\" /i \"%s\" %s", system_folder.c_str(), package_path.c_str(),
                                  options.c_str());
}

varnox::windows::unique_hfile hold_package(const std::wstring& path,
                                           const varnox::archive::unzip::member_digest& digest, DWORD& error)
{
    varnox::windows::unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                     OPEN_EXISTING,
                                                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        error = ::GetLastError();
        return file;
    }
    if (!varnox::windows::is_plain_file(file.get(), error))
        return varnox::windows::unique_hfile();
    std::vector<unsigned char> buffer(1u << 16);
    mz_ulong crc = MZ_CRC32_INIT;
    std::uint64_t size = 0;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            error = ::GetLastError();
            return varnox::windows::unique_hfile();
        }
        if (read == 0)
            break;
        crc = mz_crc32(crc, buffer.data(), read);
        size += read;
    }
    if (size != digest.size || crc != digest.crc32) {
        error = ERROR_CRC;
        return varnox::windows::unique_hfile();
    }
    return file;
}

installer_outcome interpret_installer_exit_code(DWORD exit_code)
{
    switch (exit_code) {
    case ERROR_SUCCESS:
        return installer_outcome::succeeded;
    case ERROR_SUCCESS_REBOOT_REQUIRED:   // 3010
    case ERROR_SUCCESS_REBOOT_INITIATED:  // 1641
        return installer_outcome::restart_needed;
    default:
        return installer_outcome::failed;
    }
}

int install_client(varnox::archive::unzip& archive, const std::wstring& executable_path,
                   const std::wstring& command_line, const varnox::windows::operating_system& os,
                   message_presenter& presenter)
{
    if (has_conflicting_volume_filter()) {
        show_message(presenter, IDS_VOLUME_FILTER_CONFLICT, IDS_WARNING, style_prerequisite);
        return exit_refused;
    }

    // A package left by an earlier run must not be installed in this one's place.
    const std::wstring package_path = varnox::windows::get_temp_folder() + L"\\" + package_file_name;
    DWORD error = 0;
    if (!delete_package(package_path, error)) {
        VARNOX_LOG(1, log_source, log_line_stale_package_not_deleted,
                   L"Can't delete the package file left by an earlier run (%s) [Error: %lu]", package_path.c_str(),
                   error);
        return exit_failed;
    }

    // Before 5.2 no package fits: the installer is started on a path that
    // names no file, and its exit code reports the failure.
    const client_package* package = client_package_for(os);
    // The archive takes its target in the ANSI code page: a path it cannot
    // hold exactly would name another file.
    const std::optional<std::string> narrow_package_path =
        varnox::windows::to_code_page_exact(package_path, CP_ACP);
    if (package && !narrow_package_path)
        VARNOX_LOG(1, log_source, log_line_package_path_not_ansi,
                   L"The package path is not text of the ANSI code page (%s)", package_path.c_str());
    if (package && (!narrow_package_path || !archive.extract(package->member, *narrow_package_path))) {
        VARNOX_LOG(1, log_source, package->log_line, L"%s", package->extraction_failed);
        if (!delete_package(package_path, error))
            VARNOX_LOG(2, log_source, log_line_partial_package_not_deleted,
                       L"Can't delete the partly extracted package file (%s) [Error: %lu]", package_path.c_str(),
                       error);
        return exit_failed;
    }

    // Held unchanged from here until the installer has ended.
    varnox::windows::unique_hfile held_package;
    if (package) {
        const std::optional<varnox::archive::unzip::member_digest> digest = archive.digest(package->member);
        if (digest)
            held_package = hold_package(package_path, *digest, error);
        else
            error = ERROR_FILE_NOT_FOUND;
        if (!held_package) {
            VARNOX_LOG(1, log_source, log_line_package_not_held,
                       L"The extracted package file is not the package or cannot be held unchanged (%s) [Error: %lu]",
                       package_path.c_str(), error);
            if (!delete_package(package_path, error))
                VARNOX_LOG(2, log_source, log_line_package_not_deleted,
                           L"Can't delete the package file (%s) [Error: %lu]", package_path.c_str(), error);
            return exit_failed;
        }
    }

    const std::wstring command = installer_command(varnox::windows::get_system_folder(), package_path,
                                                   installer_options(command_line, executable_path));
    VARNOX_LOG(-1, log_source, log_line_installer_command, L"Execute the setup command file (%s)!", command.c_str());
    const int exit_code = report_installer_exit_code(run_installer(command));
    held_package.reset();

    add_fallback_boot_entry();

    if (!delete_package(package_path, error))
        VARNOX_LOG(2, log_source, log_line_package_not_deleted, L"Can't delete the package file (%s) [Error: %lu]",
                   package_path.c_str(), error);
    return exit_code;
}

} // namespace install
