#include "install.h"

#include <boost/filesystem/path.hpp>

#include <windows.h>

#include "addon_installation.h"
#include "client_installation.h"
#include "job_choice.h"
#include "payload_locator.h"
#include "prerequisites.h"
#include "scratch_folder_jobs.h"
#include "varnox/common/archive.h"
#include "varnox/common/log.h"
#include "varnox/windows/com_init.h"
#include "varnox/windows/folders.h"
#include "varnox/windows/operating_system.h"

namespace install {

std::wstring log_file_path(const std::wstring& temp_folder, const std::wstring& executable_path)
{
    if (temp_folder.empty())
        return std::wstring();
    return temp_folder + L"\\" + boost::filesystem::path(executable_path).filename().wstring() + L".log";
}

int run()
{
    system_hotfix_probe probe;
    message_box_presenter presenter;
    return run(probe, presenter);
}

int run(hotfix_probe& probe, message_presenter& presenter)
{
    // Uninitialises at the end only if this initialisation was the thread's first.
    const varnox::windows::com_init com;

    const std::wstring executable_path = varnox::windows::get_module_file_name();

    varnox::logger& log = varnox::the_logger();
    log.set_path(log_file_path(varnox::windows::get_temp_folder(), executable_path));
    log.level = 2;

    // Without a payload there is nothing to do, and nothing is said about it.
    const std::optional<std::int32_t> archive_offset = find_payload_offset(executable_path);
    if (!archive_offset)
        return exit_success;

    const varnox::windows::operating_system os = varnox::windows::operating_system::get();
    if (!check_prerequisites(os, ::GetCommandLineW(), probe, presenter))
        return exit_refused;

    // Held for the rest of the run; released when the run returns.
    const std::shared_ptr<varnox::archive::unzip> archive =
        varnox::archive::open_unzip(executable_path, static_cast<std::uint32_t>(*archive_offset));
    if (!archive) {
        VARNOX_LOG(1, log_source, log_line_archive_not_found, L"%s", L"Can't find archived data!");
        return exit_refused;
    }

    switch (choose_job(*archive)) {
    case job::client_installation:
        return install_client(*archive, executable_path, ::GetCommandLineW(), os, presenter);
    case job::driver_package:
        return run_driver_package(*archive);
    case job::upgrade:
        return run_upgrade(*archive, presenter);
    case job::linux_conversion:
        return install_addon(*archive, presenter);
    }
    // Not reached: every job returns above.
    return exit_failed;
}

} // namespace install
