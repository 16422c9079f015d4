#include "fallback_boot_entry.h"

#include "convert/bcd_edit.h"
#include "convert/boot_ini_edit.h"
#include "install.h"
#include "uncaught_errors.h"
#include "varnox/common/exception.h"
#include "varnox/common/log.h"
#include "varnox/windows/com_init.h"
#include "varnox/windows/folders.h"
#include "varnox/windows/operating_system.h"
#include "varnox/windows/registry.h"
#include "windows_version.h"

namespace install {

namespace {

bool driver_installed(std::uint32_t registry_options)
{
    // Only the key's existence is read: read access is enough.
    varnox::windows::registry driver_key(registry_options | varnox::windows::registry::option_read_only);
    return driver_key.open(driver_service_key, HKEY_LOCAL_MACHINE);
}

void replace_bcd_entry()
{
    // The editor goes before COM does.
    const varnox::windows::com_init com;
    bcd_edit editor(L"");
    // Each result is left aside: a failed removal must not keep the new
    // entry out, and neither changes how the installation went.
    editor.remove_driver_disabled_boot_entry(old_driver_disabled_description);
    editor.add_driver_disabled_boot_entry(driver_disabled_description);
}

// "<drive>:\boot.ini" on the drive of the Windows folder; empty for an empty folder path.
std::wstring boot_ini_path_for(const std::wstring& windows_folder)
{
    if (windows_folder.empty())
        return std::wstring();
    return varnox::format_message(L"%1%:\\boot.ini", windows_folder[0]);
}

void replace_boot_ini_entry(const std::wstring& windows_folder)
{
    const std::wstring path = boot_ini_path_for(windows_folder);
    if (path.empty()) {
        VARNOX_LOG(1, log_source, log_line_boot_entry_no_windows_folder,
                   L"Can't get the Windows folder; boot.ini is not edited");
        return;
    }
    boot_ini_edit editor(path);
    editor.remove_driver_disabled_entry(old_driver_disabled_description);
    editor.add_driver_disabled_entry(driver_disabled_description);
}

// The facts of the running Windows.
fallback_boot_entry_facts running_windows_facts()
{
    fallback_boot_entry_facts facts;
    // A 32-bit setup on 64-bit Windows looks in the 64-bit view, where the
    // driver's package writes.
    facts.registry_options =
        varnox::windows::registry_options_for(varnox::windows::is_64bit_os(), varnox::windows::is_64bit_process());
    facts.uses_bcd_store = is_windows_version_or_greater(6, 0);
    facts.windows_folder = varnox::windows::get_windows_folder();
    return facts;
}

} // namespace

void add_fallback_boot_entry(const fallback_boot_entry_facts& facts) noexcept
{
    try {
        if (!driver_installed(facts.registry_options))
            return;
        if (facts.uses_bcd_store)
            replace_bcd_entry();
        else
            replace_boot_ini_entry(facts.windows_folder);
    } catch (...) {
        log_caught_exception(log_line_boot_entry_error, log_line_boot_entry_standard_error,
                             log_line_boot_entry_unknown_error);
    }
}

void add_fallback_boot_entry() noexcept
{
    try {
        add_fallback_boot_entry(running_windows_facts());
    } catch (...) {
        // Reading the facts ran out of memory.
        log_caught_exception(log_line_boot_entry_error, log_line_boot_entry_standard_error,
                             log_line_boot_entry_unknown_error);
    }
}

} // namespace install
