#include "prerequisites.h"

#include <cwctype>
#include <limits>
#include <vector>

#include "message_ids.h"
#include "varnox/windows/com_init.h"
#include "varnox/windows/process.h"

namespace install {

namespace {

constexpr wchar_t second_update[] = L"KB4474419";

// Whether the hotfix is in the listing or, failing that, known to WMI.
bool update_present(const std::wstring& listing, const std::wstring& hotfix_id, hotfix_probe& probe)
{
    return listing.find(hotfix_id) != std::wstring::npos || probe.is_hotfix_installed(hotfix_id);
}

void report_missing(const std::wstring& command_line, message_presenter& presenter, unsigned text_id)
{
    if (!has_hide_option(command_line))
        show_message(presenter, text_id, IDS_WARNING, style_prerequisite);
}

} // namespace

std::wstring system_hotfix_probe::list_hotfixes()
{
    std::wstring output;
    // The result is not looked at: a listing that failed leaves the output
    // empty, and WMI decides.
    varnox::windows::exec_console_application_with_timeout(hotfix_listing_command, output, true,
                                                           std::numeric_limits<std::uint64_t>::max());
    return output;
}

bool system_hotfix_probe::is_hotfix_installed(const std::wstring& hotfix_id)
{
    return install::is_hotfix_installed(hotfix_id);
}

bool is_hotfix_listed(varnox::windows::wmi_services& cimv2, const std::wstring& hotfix_id)
{
    std::vector<varnox::windows::wmi_object> updates;
    cimv2.exec_query(updates, L"SELECT * FROM Win32_QuickFixEngineering");
    for (auto& update : updates) {
        std::wstring listed_id;
        update.get_parameter(listed_id, L"HotFixID");
        if (listed_id == hotfix_id)
            return true;
    }
    return false;
}

bool is_hotfix_installed(const std::wstring& hotfix_id)
{
    try {
        varnox::windows::com_init com;
        varnox::windows::wmi_services cimv2;
        cimv2.connect(L"CIMV2", L".", L"", L"", 3, 0);
        return is_hotfix_listed(cimv2, hotfix_id);
    } catch (...) {
        return false;
    }
}

bool has_hide_option(const std::wstring& command_line)
{
    std::wstring lowered = command_line;
    for (wchar_t& c : lowered)
        c = static_cast<wchar_t>(std::towlower(c));
    return lowered.find(L"--hide") != std::wstring::npos;
}

bool check_prerequisites(const varnox::windows::operating_system& os, const std::wstring& command_line,
                         hotfix_probe& probe, message_presenter& presenter)
{
    const DWORD major = os.version_info.dwMajorVersion;
    const DWORD minor = os.version_info.dwMinorVersion;
    if (major != 6 || (minor != 0 && minor != 1) ||
        os.system_info.wProcessorArchitecture != PROCESSOR_ARCHITECTURE_AMD64)
        return true;

    const std::wstring first_update = minor != 0 ? L"KB4490628" : L"KB4493730";
    if (!update_present(probe.list_hotfixes(), first_update, probe)) {
        report_missing(command_line, presenter, minor != 0 ? IDS_KB4490628_REQUIRED : IDS_KB4493730_REQUIRED);
        return false;
    }
    if (!update_present(probe.list_hotfixes(), second_update, probe)) {
        report_missing(command_line, presenter, IDS_KB4474419_REQUIRED);
        return false;
    }
    return true;
}

} // namespace install
