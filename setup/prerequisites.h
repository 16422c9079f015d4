#pragma once

#include <string>

#include "messages.h"
#include "varnox/windows/operating_system.h"
#include "varnox/windows/wmi.h"

namespace install {

// The hotfix listing that the check reads first.
constexpr wchar_t hotfix_listing_command[] = L"cmd.exe /C wmic qfe get hotfixid";

// Where the check learns which updates are installed. The run uses the
// system's; tests count and answer the calls.
class hotfix_probe {
public:
    virtual ~hotfix_probe() = default;
    // The console output of the hotfix listing command; empty when it failed.
    virtual std::wstring list_hotfixes() = 0;
    // Whether WMI lists the update.
    virtual bool is_hotfix_installed(const std::wstring& hotfix_id) = 0;
};

class system_hotfix_probe : public hotfix_probe {
public:
    std::wstring list_hotfixes() override;
    bool is_hotfix_installed(const std::wstring& hotfix_id) override;
};

// True when WMI on this machine lists an update whose HotFixID equals the id
// exactly; any WMI failure counts as not installed.
bool is_hotfix_installed(const std::wstring& hotfix_id);

// The same question over a connection to root\CIMV2 made by the caller.
bool is_hotfix_listed(varnox::windows::wmi_services& cimv2, const std::wstring& hotfix_id);

// "--hide" anywhere in the command line, in any letter case.
bool has_hide_option(const std::wstring& command_line);

// On Windows 6.0 and 6.1 for x64, checks the updates the journal driver needs
// and tells the user about a missing one unless "--hide" is given. True: the
// run goes on; false: it ends with exit code 1.
bool check_prerequisites(const varnox::windows::operating_system& os, const std::wstring& command_line,
                         hotfix_probe& probe, message_presenter& presenter);

} // namespace install
