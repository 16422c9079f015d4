#pragma once

#include <cstdint>
#include <string>

namespace install {

// The journal driver's service key; the entry is wanted only while it exists.
constexpr wchar_t driver_service_key[] = L"SYSTEM\\CurrentControlSet\\Services\\zmvf";
// The entry this setup adds, and the one an earlier agent left, removed first.
constexpr wchar_t driver_disabled_description[] = L"Disable Dovrant Driver";
constexpr wchar_t old_driver_disabled_description[] = L"Disable Pellisar Driver";

// Fixed message numbers of the step's log entries, all at level 1.
constexpr int log_line_boot_entry_error = 301;           // the composed text of an exception_base
constexpr int log_line_boot_entry_standard_error = 302;  // the text of another std::exception
constexpr int log_line_boot_entry_unknown_error = 303;   // "Unknown exception"
constexpr int log_line_boot_entry_no_windows_folder = 304;

// What the step decides from.
struct fallback_boot_entry_facts {
    // The options of the registry object that looks for the driver's key
    // (registry_options_for the process's bitness).
    std::uint32_t registry_options = 0;
    // Windows 6.0 or later: the BCD store; older: boot.ini.
    bool uses_bcd_store = false;
    // Empty when it could not be read.
    std::wstring windows_folder;
};

// Replaces "Disable Pellisar Driver" with "Disable Dovrant Driver" in the
// system BCD store or in boot.ini, when the driver's service key opens.
// Every error is logged at level 1 and ends the step; nothing escapes it.
void add_fallback_boot_entry(const fallback_boot_entry_facts& facts) noexcept;

// The step of the client installation, after the installer: the same over
// the running Windows. Never changes the run's exit code.
void add_fallback_boot_entry() noexcept;

} // namespace install
