#pragma once

// The editor of one BCD store, through the platform's BCD provider in
// root\WMI: the boot manager and default entry lookups, the driver-disabled
// boot entry, and five boot option setters.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "varnox/common/exception.h"
#include "varnox/windows/wmi.h"

class bcd_edit {
public:
    // The editor's own failures; the error number is the HRESULT of the step
    // that failed, or the operation's result so far.
    class exception : public virtual varnox::exception_base {};

    // Opens the store (empty: the system store) over a connection of its
    // own to \\.\root\WMI. Raises wmi_exception when the connection fails and
    // bcd_edit::exception when the store does not open.
    explicit bcd_edit(std::wstring store_file);
    // The same over a connection made elsewhere.
    bcd_edit(std::wstring store_file, const varnox::windows::wmi_services& services);
    virtual ~bcd_edit();

    bcd_edit(const bcd_edit&) = delete;
    bcd_edit& operator=(const bcd_edit&) = delete;

    // Safe boot of the default entry: 1 (network), 2 (DsRepair) when
    // alternative; enable false deletes the element.
    virtual bool set_safe_mode(bool enable, bool alternative);
    virtual bool set_boot_status_policy_option(bool enable, std::int32_t policy);
    virtual bool set_detect_hal_option(bool value);
    // The boot manager boots from the boot device and the default entry from
    // the volume's partition (unless keep_entry_devices); a loader path
    // ending in "efi" becomes one ending in "exe".
    virtual bool set_boot_system_device(std::wstring volume, bool keep_entry_devices);
    // Serial debugging on COM1 at 115200 baud, and both debugging flags.
    virtual bool set_debug_settings(bool kernel_debugging, bool boot_debugging);
    // A copy of the default entry under description, with the load options
    // "ZMVF:OFF", unless a listed entry carries the description already.
    virtual bool add_driver_disabled_boot_entry(std::wstring description);
    // Deletes the first listed entry with the description.
    virtual bool remove_driver_disabled_boot_entry(std::wstring description);

protected:
    varnox::windows::wmi_object _get_bcd_boot_manager();
    // Empty when neither a default object nor a display order can be read.
    std::wstring _get_bcd_default_entry(varnox::windows::wmi_object& boot_manager);
    varnox::windows::wmi_object _get_bcd_default_boot_entry(varnox::windows::wmi_object& boot_manager);

    // Searches the display order for the description, letters A to Z in
    // either case.
    bool _find_entry(std::wstring description, std::wstring& identifier);
    bool _add_to_display_order(std::wstring identifier);
    bool _remove_from_display_order(std::wstring identifier);

private:
    void _open_store(HRESULT& result);
    // A provider call whose verdict is its "ReturnValue". An absent element
    // that the provider reports by failing the call (0xD0000225) counts as a
    // false verdict, as older providers report it.
    static HRESULT _call(varnox::windows::wmi_object& target, const varnox::windows::wmi_object& in_parameters,
                         varnox::windows::wmi_object& out_parameters, bool& verdict, const wchar_t* method_name);
    static HRESULT _call(varnox::windows::wmi_object& target, const varnox::windows::wmi_object& in_parameters,
                         bool& verdict, const wchar_t* method_name);
    // Looks the boot manager up and reads its display order. False when it
    // has none or it cannot be read, with the last call's code in result;
    // raises when "GetElement" cannot be prepared (parameters_line).
    bool _read_display_order(const wchar_t* function_name, int parameters_line,
                             varnox::windows::wmi_object& boot_manager, std::vector<std::wstring>& identifiers,
                             HRESULT& result);
    // Writes the display order; a failure leaves its code in result.
    void _write_display_order(varnox::windows::wmi_object& boot_manager, const std::vector<std::wstring>& identifiers,
                              HRESULT& result);
    // The setters that change one element of the default entry.
    bool _set_default_entry_element(const wchar_t* function_name, const wchar_t* method_name,
                                    std::int32_t element_type,
                                    const std::function<void(varnox::windows::wmi_object&)>& fill);

    varnox::windows::wmi_services services;
    varnox::windows::wmi_object store;
    std::wstring store_file;
};

// Switches a privilege on or off in the calling thread's token; a thread
// without a token of its own impersonates itself first and stays so.
bool enable_privilege(const std::wstring& privilege_name, bool enable);

namespace bcd_edit_lines {

// Fixed line numbers of the editor's exceptions, for log readers.
constexpr int open_store_failed = 176;
constexpr int boot_manager_parameters = 232;
constexpr int boot_manager_not_opened = 243;
constexpr int default_entry_parameters = 268;
constexpr int default_entry_id_missing = 322;
constexpr int default_entry_not_opened = 337;
constexpr int find_entry_parameters = 781;
constexpr int add_to_display_order_parameters = 862;
constexpr int remove_from_display_order_parameters = 911;

} // namespace bcd_edit_lines
