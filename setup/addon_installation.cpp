#include "addon_installation.h"

#include <memory>
#include <optional>
#include <vector>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include "ansi_path.h"
#include "install.h"
#include "message_ids.h"
#include "uncaught_errors.h"
#include "varnox/common/log.h"
#include "varnox/windows/folder_removal.h"
#include "varnox/windows/mutex.h"
#include "varnox/windows/service.h"

namespace install {

namespace {

constexpr wchar_t blanks[] = L" \t\f\v\n\r";

std::wstring trim(const std::wstring& text)
{
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::wstring::npos)
        return std::wstring();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

int show(message_presenter& presenter, UINT text_id, UINT style)
{
    return show_message(presenter, text_id, IDS_ADDON_CAPTION, style);
}

// Removes an earlier add-on without following a link in it or in its place;
// what stays is raised as Boost.Filesystem's removal reports it.
void remove_addon(const std::wstring& folder)
{
    varnox::windows::removal_failure failure;
    if (!varnox::windows::remove_folder_tree(folder, failure))
        throw boost::filesystem::filesystem_error(
            "boost::filesystem::remove", failure.path,
            boost::system::error_code(static_cast<int>(failure.error), boost::system::system_category()));
}

bool extract_addon(varnox::archive::unzip& archive, const std::wstring& folder)
{
    const std::optional<std::wstring> ansi_folder = ansi_round_trip(folder);
    if (!ansi_folder) {
        VARNOX_LOG(1, log_source, log_line_addon_folder_not_ansi,
                   L"The add-on folder's path (%s) cannot be written in the ANSI code page!", folder.c_str());
        return false;
    }
    std::vector<std::wstring> files;
    if (archive.extract_all(*ansi_folder, files))
        return true;
    VARNOX_LOG(1, log_source, log_line_addon_extraction_failed, L"Can't extract the add-on into (%s)!",
               folder.c_str());
    return false;
}

// Everything done while the mutex is held: the service's folder, the
// question, the removal of an earlier add-on, the extraction and its report.
int install_locked(varnox::archive::unzip& archive, message_presenter& presenter)
{
    int exit_code = exit_success;
    try {
        const varnox::windows::service agent = varnox::windows::service::get_service(agent_service_name, L"");
        const std::wstring folder = addon_folder_for(agent.binary_path);
        if (folder.empty()) {
            VARNOX_LOG(1, log_source, log_line_addon_no_folder,
                       L"The service's command line (%s) names no folder to install the add-on beside!",
                       agent.binary_path.c_str());
            show(presenter, IDS_SERVICE_REQUIRED, style_addon_warning);
            return exit_failed;
        }

        const bool installed_before = boost::filesystem::exists(folder);
        if (show(presenter, installed_before ? IDS_ADDON_OVERWRITE : IDS_ADDON_INSTALL, style_addon_question) ==
            IDCANCEL) {
            VARNOX_LOG(-1, log_source, log_line_addon_cancelled, L"The add-on installation was cancelled.");
            return exit_failed;
        }

        if (installed_before) {
            try {
                remove_addon(folder);
            } catch (...) {
                // A file in use, say; whatever could be removed is gone, and
                // the new files are extracted all the same.
                VARNOX_LOG(1, log_source, log_line_addon_not_removed, L"Can't remove the existing add-on: %s",
                           current_exception_text().c_str());
                show(presenter, IDS_ADDON_REMOVE_FAILED, style_addon_error);
                exit_code = exit_failed;
            }
        }

        boost::filesystem::create_directory(folder);
        if (extract_addon(archive, folder)) {
            show(presenter, IDS_ADDON_INSTALLED, style_addon_done);
        } else {
            show(presenter, IDS_ADDON_INSTALL_FAILED, style_addon_error);
            // Only an empty folder goes: files written before the failure stay.
            boost::system::error_code ignored;
            boost::filesystem::remove(folder, ignored);
            exit_code = exit_failed;
        }
    } catch (...) {
        VARNOX_LOG(1, log_source, log_line_addon_error, L"%s", current_exception_text().c_str());
        show(presenter, IDS_SERVICE_REQUIRED, style_addon_warning);
        exit_code = exit_failed;
    }
    return exit_code;
}

} // namespace

std::wstring trim_and_unquote(const std::wstring& text)
{
    const std::wstring trimmed = trim(text);
    if (trimmed.size() > 1 && trimmed.front() == L'"' && trimmed.back() == L'"')
        return trimmed.substr(1, trimmed.size() - 2);
    return trimmed;
}

std::wstring service_executable_path(const std::wstring& binary_path)
{
    const std::wstring trimmed = trim(binary_path);
    if (trimmed.size() > 1 && trimmed.front() == L'"') {
        // Without a closing quote Windows takes the rest as the file name.
        const std::size_t closing = trimmed.find(L'"', 1);
        return trimmed.substr(1, closing == std::wstring::npos ? std::wstring::npos : closing - 1);
    }
    return trim_and_unquote(trimmed);
}

std::wstring addon_folder_for(const std::wstring& binary_path)
{
    const boost::filesystem::path folder = boost::filesystem::path(service_executable_path(binary_path)).parent_path();
    if (!folder.is_absolute())
        return std::wstring();
    return (folder / addon_folder_name).wstring();
}

int install_addon(varnox::archive::unzip& archive, message_presenter& presenter)
{
    // Held from here to the end, across every box: a second run gives up at once.
    std::unique_ptr<varnox::windows::mutex> lock;
    try {
        lock = std::make_unique<varnox::windows::mutex>(addon_mutex_name);
        if (!lock->lock(0)) {
            VARNOX_LOG(2, log_source, log_line_addon_busy,
                       L"The mutex (%s) is held by another add-on installation, or was abandoned: nothing is installed.",
                       addon_mutex_name);
            show(presenter, IDS_ADDON_INSTALLING, style_addon_warning);
            return exit_success;
        }
    } catch (const varnox::windows::mutex_exception& error) {
        VARNOX_LOG(1, log_source, log_line_addon_mutex_error, L"%s", varnox::compose_exception_message(&error).c_str());
        show(presenter, IDS_SERVICE_REQUIRED, style_addon_warning);
        return exit_failed;
    }

    const int exit_code = install_locked(archive, presenter);

    try {
        lock->unlock();
    } catch (const varnox::windows::mutex_exception& error) {
        // The handle is closed all the same when the object goes.
        VARNOX_LOG(2, log_source, log_line_addon_unlock_failed, L"%s",
                   varnox::compose_exception_message(&error).c_str());
    }
    return exit_code;
}

} // namespace install
