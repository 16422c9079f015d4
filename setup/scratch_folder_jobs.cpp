#include "scratch_folder_jobs.h"

#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "ansi_path.h"
#include "install.h"
#include "uncaught_errors.h"
#include "varnox/common/log.h"
#include "varnox/windows/folder_removal.h"
#include "varnox/windows/folders.h"
#include "varnox/windows/process.h"

namespace install {

namespace {

// The file runs without a practical time limit: 2^32 - 1 seconds.
constexpr std::uint64_t run_file_time_limit = 0xFFFFFFFFull;

// Windows PE makes the folder beside the executable and raises when it cannot.
std::wstring make_scratch_folder()
{
    try {
        return varnox::windows::create_temp_folder(varnox::windows::get_temp_folder(), scratch_folder_prefix);
    } catch (const std::exception&) {
        return std::wstring();
    }
}

bool extract_payload(varnox::archive::unzip& archive, const std::wstring& folder)
{
    const std::optional<std::wstring> ansi_folder = ansi_round_trip(folder);
    if (!ansi_folder) {
        VARNOX_LOG(1, log_source, log_line_scratch_folder_not_ansi,
                   L"The scratch folder's path (%s) cannot be written in the ANSI code page!", folder.c_str());
        return false;
    }
    std::vector<std::wstring> files;
    try {
        if (archive.extract_all(*ansi_folder, files))
            return true;
    } catch (...) {
        // A folder or file that cannot be made or replaced.
        VARNOX_LOG(1, log_source, log_line_scratch_extraction_error, L"%s", current_exception_text().c_str());
    }
    VARNOX_LOG(1, log_source, log_line_scratch_extraction_failed, L"Can't extract the payload into (%s)!",
               folder.c_str());
    return false;
}

// Steps shared by both jobs; shows the output when the job shows it.
int run_from_scratch_folder(varnox::archive::unzip& archive, const wchar_t* member,
                            const std::function<void(const std::wstring& output)>& show_output)
{
    // Without a folder of its own nothing is extracted, least of all into the
    // current folder, and nothing runs.
    const std::wstring folder = make_scratch_folder();
    if (folder.empty()) {
        VARNOX_LOG(1, log_source, log_line_scratch_folder_not_created,
                   L"Can't create a scratch folder in the temporary folder (%s)!",
                   varnox::windows::get_temp_folder().c_str());
        return exit_failed;
    }

    int exit_code = exit_failed;
    if (extract_payload(archive, folder)) {
        const std::wstring command = run_file_command(folder, member);
        std::wstring output;
        varnox::windows::exec_console_application_with_timeout(command, output, true, run_file_time_limit);
        // The child's own exit code, or the error that kept it from starting.
        const DWORD code = ::GetLastError();
        // The code is not a verdict: dpinst.exe's is a bit field of flags and
        // counts, easier read in hexadecimal.
        VARNOX_LOG(-1, log_source, log_line_run_file_ended, L"The command (%s) ended with code %lu (0x%08lX).",
                   command.c_str(), code, code);
        if (show_output)
            show_output(output);
        exit_code = exit_success;
    }

    // Never through a link that the run file left in the folder.
    varnox::windows::removal_failure failure;
    if (!varnox::windows::remove_folder_tree(folder, failure))
        VARNOX_LOG(2, log_source, log_line_scratch_folder_not_removed,
                   L"Can't remove the scratch folder (%s) [Error: %d]", folder.c_str(),
                   static_cast<int>(failure.error));
    return exit_code;
}

} // namespace

std::wstring run_file_command(const std::wstring& folder, const std::wstring& member)
{
    return L"\"" + (boost::filesystem::path(folder) / member).wstring() + L"\"";
}

int run_driver_package(varnox::archive::unzip& archive)
{
    return run_from_scratch_folder(archive, driver_package_installer, nullptr);
}

int run_upgrade(varnox::archive::unzip& archive, message_presenter& presenter)
{
    return run_from_scratch_folder(archive, upgrade_command_file,
                                   [&presenter](const std::wstring& output) { show_upgrade_output(presenter, output); });
}

} // namespace install
