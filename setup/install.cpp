#include "install.h"

#include <boost/filesystem/path.hpp>

#include "payload_locator.h"
#include "varnox/common/log.h"
#include "varnox/windows/folders.h"

namespace install {

std::wstring log_file_path(const std::wstring& temp_folder, const std::wstring& executable_path)
{
    return temp_folder + L"\\" + boost::filesystem::path(executable_path).filename().wstring() + L".log";
}

int run()
{
    const std::wstring executable_path = varnox::windows::get_module_file_name();

    varnox::logger& log = varnox::the_logger();
    log.set_path(log_file_path(varnox::windows::get_temp_folder(), executable_path));
    log.level = 2;

    // Without a payload there is nothing to do, and nothing is said about it.
    const std::optional<std::int32_t> archive_offset = find_payload_offset(executable_path);
    if (!archive_offset)
        return exit_success;

    // Opening the archive and running its job come next.
    return exit_success;
}

} // namespace install
