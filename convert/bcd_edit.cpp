#include "bcd_edit.h"

#include <windows.h>

#include <boost/exception/get_error_info.hpp>

#include <algorithm>
#include <utility>
#include <vector>

#include "varnox/common/log.h"
#include "varnox/windows/handle.h"

using varnox::windows::unique_handle;
using varnox::windows::wmi_object;
using varnox::windows::wmi_services;

namespace {

const wchar_t source[] = L"convert/bcd_edit";

// Pointers, not arrays: set_parameter takes a C string value first.
const wchar_t* const boot_manager_id = L"{9dea862c-5cdd-4e70-acc1-f32b344d4795}";
const wchar_t* const debugger_settings_id = L"{4636856e-540f-4170-a130-a84776f4c654}";

// Element types, passed as "Type" in their signed form.
const std::int32_t application_device = 0x11000001;
const std::int32_t application_path = 0x12000002;
const std::int32_t description_type = 0x12000004;
const std::int32_t load_options = 0x12000030;
const std::int32_t debugger_type = 0x15000011;
const std::int32_t serial_debugger_port = 0x15000013;
const std::int32_t serial_debugger_baud_rate = 0x15000014;
const std::int32_t debugger_enabled = 0x16000010;
const std::int32_t os_device = 0x21000001;
const std::int32_t default_object = 0x23000003;
const std::int32_t display_order = 0x24000001;
const std::int32_t safe_boot = 0x25000080;
const std::int32_t boot_status_policy = 0x250000e0;
const std::int32_t detect_kernel_and_hal = 0x26000010;
const std::int32_t kernel_debugger_enabled = 0x260000a0;

// The HRESULT form of ERROR_CANT_ACCESS_FILE (1920): a provider method said no.
const HRESULT method_refused = static_cast<HRESULT>(0x80070780);
// STATUS_NOT_FOUND as an HRESULT: how current Windows reports an absent element.
const std::uint32_t element_not_found = 0xD0000225;

const wchar_t load_options_text[] = L"ZMVF:OFF";

[[noreturn]] void raise_error(const wchar_t* function, int line, HRESULT code, std::wstring message)
{
    const std::uint32_t number = static_cast<std::uint32_t>(code);
    varnox::throw_error<bcd_edit::exception>(varnox::throw_site{source, function, __FILE__, "", line}, &number,
                                             std::move(message));
}

// A copy joins the display order when it is a boot application of image
// type 2 or more that is neither boot manager.
bool is_loader_type(std::uint32_t type)
{
    const std::uint32_t image_type = (type >> 20) & 0xF;
    const std::uint32_t application_type = type & 0xFFFFF;
    return image_type >= 2 && application_type != 1 && application_type != 2;
}

bool equal_ignoring_ascii_case(const std::wstring& left, const std::wstring& right)
{
    const auto fold = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(), [&](wchar_t a, wchar_t b) { return fold(a) == fold(b); });
}

// The result code and verdict flag of a setter: every WMI call overwrites
// the code, every call that succeeds overwrites the flag with its verdict,
// and a false flag at the end turns the code into method_refused.
class setter_outcome {
public:
    explicit setter_outcome(HRESULT& code) : _code(code) {}

    // A preparation or a write: its code only.
    bool step(HRESULT result)
    {
        _code = result;
        return SUCCEEDED(result);
    }
    // A provider method, run by call(verdict): true when it succeeded and
    // said yes.
    template <typename Call>
    bool method(Call call)
    {
        bool verdict = false;
        const HRESULT result = call(verdict);
        _code = result;
        if (SUCCEEDED(result))
            _verdict = verdict;
        return SUCCEEDED(result) && verdict;
    }
    HRESULT code() const { return _code; }
    bool finish()
    {
        if (!_verdict)
            _code = method_refused;
        return _code == S_OK;
    }

private:
    HRESULT& _code;
    bool _verdict = false;
};

} // namespace

bool enable_privilege(const std::wstring& privilege_name, bool enable)
{
    const DWORD access = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;
    HANDLE raw_token = nullptr;
    if (!::OpenThreadToken(::GetCurrentThread(), access, FALSE, &raw_token)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_NO_TOKEN)
            return false;
        if (!::ImpersonateSelf(SecurityImpersonation))
            return false;
        if (!::OpenThreadToken(::GetCurrentThread(), access, FALSE, &raw_token))
            return false;
    }
    const unique_handle token(raw_token);

    LUID luid{};
    if (!::LookupPrivilegeValueW(nullptr, privilege_name.c_str(), &luid))
        return false;

    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = luid;
    privileges.Privileges[0].Attributes = 0;
    TOKEN_PRIVILEGES previous{};
    DWORD previous_size = sizeof(previous);
    // Success leaves ERROR_NOT_ALL_ASSIGNED when the token lacks the
    // privilege; the error is cleared first so that only this call speaks.
    ::SetLastError(ERROR_SUCCESS);
    const BOOL queried = ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof(previous), &previous,
                                                 &previous_size);
    const DWORD query_error = ::GetLastError();
    if (!queried || query_error != ERROR_SUCCESS)
        return false;

    previous.PrivilegeCount = 1;
    previous.Privileges[0].Luid = luid;
    if (enable)
        previous.Privileges[0].Attributes |= SE_PRIVILEGE_ENABLED;
    else
        previous.Privileges[0].Attributes &= ~static_cast<DWORD>(SE_PRIVILEGE_ENABLED);
    ::SetLastError(ERROR_SUCCESS);
    const BOOL adjusted = ::AdjustTokenPrivileges(token.get(), FALSE, &previous, 0, nullptr, nullptr);
    const DWORD adjust_error = ::GetLastError();
    return adjusted && adjust_error == ERROR_SUCCESS;
}

// ---------------------------------------------------------------- construction

bcd_edit::bcd_edit(std::wstring store_file) : store_file(std::move(store_file))
{
    HRESULT result = S_OK;
    varnox::function_trace_result trace(L"bcd_edit::bcd_edit", &result);
    enable_privilege(L"SeRestorePrivilege", true);
    enable_privilege(L"SeBackupPrivilege", true);
    result = services.connect(L"WMI", L".", L"", L"", 3, 0);
    _open_store(result);
}

bcd_edit::bcd_edit(std::wstring store_file, const wmi_services& connection)
    : services(connection), store_file(std::move(store_file))
{
    HRESULT result = S_OK;
    varnox::function_trace_result trace(L"bcd_edit::bcd_edit", &result);
    enable_privilege(L"SeRestorePrivilege", true);
    enable_privilege(L"SeBackupPrivilege", true);
    _open_store(result);
}

bcd_edit::~bcd_edit() = default;

void bcd_edit::_open_store(HRESULT& result)
{
    wmi_object in_parameters;
    wmi_object out_parameters;
    result = services.get_input_parameters(in_parameters, L"BCDStore", L"OpenStore");
    in_parameters.set_parameter(L"File", store_file);
    std::uint32_t return_value = 0;
    std::wstring description;
    result = services.exec_method(in_parameters, out_parameters, return_value, description, L"BCDStore",
                                  L"OpenStore");
    bool opened = false;
    if (!out_parameters.empty())
        out_parameters.get_parameter(opened, L"ReturnValue");
    if (!opened)
        raise_error(L"bcd_edit::bcd_edit", bcd_edit_lines::open_store_failed, result,
                    varnox::format_message(L"The return value of the OpenStore(%s) method is failed.", store_file));
    out_parameters.get_parameter(store, L"Store");
}

HRESULT bcd_edit::_call(wmi_object& target, const wmi_object& in_parameters, wmi_object& out_parameters,
                        bool& verdict, const wchar_t* method_name)
{
    try {
        return target.exec_method(in_parameters, out_parameters, verdict, method_name);
    } catch (const varnox::windows::wmi_exception& error) {
        const std::uint32_t* code = boost::get_error_info<varnox::throw_errorno_>(error);
        if (!code || *code != element_not_found)
            throw;
        verdict = false;
        return S_OK;
    }
}

HRESULT bcd_edit::_call(wmi_object& target, const wmi_object& in_parameters, bool& verdict,
                        const wchar_t* method_name)
{
    wmi_object out_parameters;
    return _call(target, in_parameters, out_parameters, verdict, method_name);
}

// ---------------------------------------------------------------- lookups

wmi_object bcd_edit::_get_bcd_boot_manager()
{
    const wchar_t* const function_name = L"bcd_edit::_get_bcd_boot_manager";
    HRESULT result = S_OK;
    varnox::function_trace_result trace(function_name, &result);

    wmi_object in_parameters;
    result = store.get_input_parameters(in_parameters, L"OpenObject");
    if (FAILED(result))
        raise_error(function_name, bcd_edit_lines::boot_manager_parameters, result,
                    L"Can't get the OpenObject intput parameters object.");
    result = in_parameters.set_parameter(boot_manager_id, L"Id");
    wmi_object out_parameters;
    bool verdict = false;
    result = _call(store, in_parameters, out_parameters, verdict, L"OpenObject");
    if (FAILED(result) || !verdict)
        raise_error(function_name, bcd_edit_lines::boot_manager_not_opened, result,
                    L"Can't OpenObject WINDOWS_BOOT_MANAGER object.");
    wmi_object boot_manager;
    result = out_parameters.get_parameter(boot_manager, L"Object");
    return boot_manager;
}

std::wstring bcd_edit::_get_bcd_default_entry(wmi_object& boot_manager)
{
    const wchar_t* const function_name = L"bcd_edit::_get_bcd_default_entry";
    HRESULT result = S_OK;
    varnox::function_trace_result trace(function_name, &result);

    std::wstring identifier;
    wmi_object in_parameters;
    result = boot_manager.get_input_parameters(in_parameters, L"GetElement");
    if (FAILED(result))
        raise_error(function_name, bcd_edit_lines::default_entry_parameters, result,
                    L"Can't get the GetElement intput parameters object.");
    result = in_parameters.set_parameter(default_object, L"Type");
    try {
        wmi_object out_parameters;
        bool verdict = false;
        result = _call(boot_manager, in_parameters, out_parameters, verdict, L"GetElement");
        if (SUCCEEDED(result) && verdict) {
            wmi_object element;
            result = out_parameters.get_parameter(element, L"Element");
            result = element.get_parameter(identifier, L"Id");
        }
    } catch (const varnox::exception_base&) {
        // No default object: the display order decides.
    }
    if (!identifier.empty())
        return identifier;
    try {
        result = in_parameters.set_parameter(display_order, L"Type");
        wmi_object out_parameters;
        bool verdict = false;
        result = _call(boot_manager, in_parameters, out_parameters, verdict, L"GetElement");
        if (SUCCEEDED(result) && verdict) {
            wmi_object element;
            result = out_parameters.get_parameter(element, L"Element");
            std::vector<std::wstring> identifiers;
            result = element.get_parameter(identifiers, L"Ids");
            if (!identifiers.empty())
                identifier = identifiers.front();
        }
    } catch (const varnox::exception_base&) {
        // Neither can be read: no default entry.
    }
    return identifier;
}

wmi_object bcd_edit::_get_bcd_default_boot_entry(wmi_object& boot_manager)
{
    const wchar_t* const function_name = L"bcd_edit::_get_bcd_default_boot_entry";
    HRESULT result = S_OK;
    varnox::function_trace_result trace(function_name, &result);

    const std::wstring identifier = _get_bcd_default_entry(boot_manager);
    if (identifier.empty())
        raise_error(function_name, bcd_edit_lines::default_entry_id_missing, result, L"Can't get Default Boot Entry ID.");
    wmi_object in_parameters = store.get_input_parameters(L"OpenObject");
    result = in_parameters.set_parameter(identifier.c_str(), L"Id");
    wmi_object out_parameters;
    bool verdict = false;
    result = _call(store, in_parameters, out_parameters, verdict, L"OpenObject");
    if (FAILED(result) || !verdict)
        raise_error(function_name, bcd_edit_lines::default_entry_not_opened, result,
                    L"Can't Open the Default Boot Entry Object.");
    wmi_object entry;
    result = out_parameters.get_parameter(entry, L"Object");
    return entry;
}

// ---------------------------------------------------------------- setters

bool bcd_edit::_set_default_entry_element(const wchar_t* function_name, const wchar_t* method_name,
                                          std::int32_t element_type, const std::function<void(wmi_object&)>& fill)
{
    HRESULT code = S_OK;
    varnox::function_trace_result trace(function_name, &code);
    setter_outcome outcome(code);
    wmi_object boot_manager = _get_bcd_boot_manager();
    wmi_object entry = _get_bcd_default_boot_entry(boot_manager);

    wmi_object in_parameters;
    if (!outcome.step(entry.get_input_parameters(in_parameters, method_name)))
        return outcome.finish();
    outcome.step(in_parameters.set_parameter(element_type, L"Type"));
    if (fill)
        fill(in_parameters);
    outcome.method([&](bool& verdict) { return _call(entry, in_parameters, verdict, method_name); });
    return outcome.finish();
}

bool bcd_edit::set_safe_mode(bool enable, bool alternative)
{
    if (!enable)
        return _set_default_entry_element(L"bcd_edit::set_safe_mode", L"DeleteElement", safe_boot, nullptr);
    return _set_default_entry_element(L"bcd_edit::set_safe_mode", L"SetIntegerElement", safe_boot,
                                      [&](wmi_object& in) { in.set_parameter(alternative ? 2 : 1, L"Integer"); });
}

bool bcd_edit::set_boot_status_policy_option(bool enable, std::int32_t policy)
{
    if (!enable)
        return _set_default_entry_element(L"bcd_edit::set_boot_status_policy_option", L"DeleteElement",
                                          boot_status_policy, nullptr);
    return _set_default_entry_element(L"bcd_edit::set_boot_status_policy_option", L"SetIntegerElement",
                                      boot_status_policy, [&](wmi_object& in) { in.set_parameter(policy, L"Integer"); });
}

bool bcd_edit::set_detect_hal_option(bool value)
{
    return _set_default_entry_element(L"bcd_edit::set_detect_hal_option", L"SetBooleanElement", detect_kernel_and_hal,
                                      [&](wmi_object& in) { in.set_parameter(value, L"Boolean"); });
}

bool bcd_edit::set_boot_system_device(std::wstring volume, bool keep_entry_devices)
{
    HRESULT code = S_OK;
    varnox::function_trace_result trace(L"bcd_edit::set_boot_system_device", &code);
    setter_outcome outcome(code);
    wmi_object boot_manager = _get_bcd_boot_manager();
    wmi_object entry = _get_bcd_default_boot_entry(boot_manager);
    if (volume.empty())
        return false;

    const auto at = [&](size_t index, wchar_t c) { return index < volume.size() && volume[index] == c; };
    std::wstring dos_name;
    if (at(0, L'\\') || at(1, L'\\') || at(2, L'?') || at(3, L'\\')) {
        if (volume.back() == L'\\')
            volume.pop_back();
        dos_name = volume.size() > 4 ? volume.substr(4) : std::wstring();
    } else {
        dos_name = volume.substr(0, 1) + L":";
    }
    wchar_t buffer[260] = {};
    std::wstring device_name;
    if (::QueryDosDeviceW(dos_name.c_str(), buffer, 260)) {
        device_name = buffer;
    } else if (!keep_entry_devices) {
        // Without its device the default entry would point at no partition:
        // leave the store as it is.
        const DWORD error = ::GetLastError();
        return outcome.step(HRESULT_FROM_WIN32(error));
    }

    wmi_object in_parameters;
    wmi_object out_parameters;
    // One provider method on target with the in-parameters prepared last.
    const auto run = [&](wmi_object& target, const wchar_t* method_name) {
        return outcome.method(
            [&](bool& verdict) { return _call(target, in_parameters, out_parameters, verdict, method_name); });
    };

    if (!outcome.step(boot_manager.get_input_parameters(in_parameters, L"DeleteElement")))
        return outcome.finish();
    outcome.step(in_parameters.set_parameter(application_path, L"Type"));
    // A boot manager without a loader path is fine: only a failure ends here.
    if (!run(boot_manager, L"DeleteElement") && FAILED(outcome.code()))
        return outcome.finish();

    in_parameters = wmi_object();
    if (!outcome.step(boot_manager.get_input_parameters(in_parameters, L"SetDeviceElement")))
        return outcome.finish();
    outcome.step(in_parameters.set_parameter(application_device, L"Type"));
    outcome.step(in_parameters.set_parameter(1, L"DeviceType"));
    outcome.step(in_parameters.set_parameter(L"AdditionalOptions", std::wstring()));
    if (!run(boot_manager, L"SetDeviceElement"))
        return outcome.finish();

    in_parameters = wmi_object();
    if (!outcome.step(entry.get_input_parameters(in_parameters, L"SetPartitionDeviceElement")))
        return outcome.finish();
    if (!keep_entry_devices) {
        for (const std::int32_t device_element : {application_device, os_device}) {
            outcome.step(in_parameters.set_parameter(device_element, L"Type"));
            outcome.step(in_parameters.set_parameter(2, L"DeviceType"));
            outcome.step(in_parameters.set_parameter(L"AdditionalOptions", std::wstring()));
            outcome.step(in_parameters.set_parameter(L"Path", device_name));
            if (!run(entry, L"SetPartitionDeviceElement"))
                return outcome.finish();
        }
    }

    in_parameters = wmi_object();
    outcome.step(entry.get_input_parameters(in_parameters, L"GetElement"));
    outcome.step(in_parameters.set_parameter(application_path, L"Type"));
    if (!run(entry, L"GetElement"))
        return outcome.finish();
    wmi_object element;
    outcome.step(out_parameters.get_parameter(element, L"Element"));
    std::wstring path;
    outcome.step(element.get_parameter(path, L"String"));

    if (path.size() > 3 && path.compare(path.size() - 3, 3, L"efi") == 0) {
        path.replace(path.size() - 2, 2, L"xe");
        in_parameters = wmi_object();
        outcome.step(entry.get_input_parameters(in_parameters, L"SetStringElement"));
        outcome.step(in_parameters.set_parameter(application_path, L"Type"));
        outcome.step(in_parameters.set_parameter(L"String", path));
        run(entry, L"SetStringElement");
    }
    return outcome.finish();
}

bool bcd_edit::set_debug_settings(bool kernel_debugging, bool boot_debugging)
{
    HRESULT code = S_OK;
    varnox::function_trace_result trace(L"bcd_edit::set_debug_settings", &code);
    setter_outcome outcome(code);
    wmi_object boot_manager = _get_bcd_boot_manager();
    wmi_object entry = _get_bcd_default_boot_entry(boot_manager);
    if (!kernel_debugging && !boot_debugging)
        return outcome.finish();

    wmi_object in_parameters = store.get_input_parameters(L"OpenObject");
    wmi_object out_parameters;
    const auto run = [&](wmi_object& target, const wchar_t* method_name) {
        return outcome.method(
            [&](bool& verdict) { return _call(target, in_parameters, out_parameters, verdict, method_name); });
    };
    outcome.step(in_parameters.set_parameter(debugger_settings_id, L"Id"));
    if (!run(store, L"OpenObject"))
        return outcome.finish();
    wmi_object settings;
    outcome.step(out_parameters.get_parameter(settings, L"Object"));

    in_parameters = wmi_object();
    outcome.step(settings.get_input_parameters(in_parameters, L"SetIntegerElement"));
    const std::pair<std::int32_t, std::int32_t> serial[] = {
        {debugger_type, 0}, {serial_debugger_port, 1}, {serial_debugger_baud_rate, 115200}};
    for (const auto& setting : serial) {
        outcome.step(in_parameters.set_parameter(setting.first, L"Type"));
        outcome.step(in_parameters.set_parameter(setting.second, L"Integer"));
        if (!run(settings, L"SetIntegerElement"))
            return outcome.finish();
    }

    for (wmi_object* target : {&boot_manager, &entry}) {
        in_parameters = wmi_object();
        outcome.step(target->get_input_parameters(in_parameters, L"SetBooleanElement"));
        outcome.step(in_parameters.set_parameter(debugger_enabled, L"Type"));
        outcome.step(in_parameters.set_parameter(boot_debugging, L"Boolean"));
        if (!run(*target, L"SetBooleanElement"))
            return outcome.finish();
    }

    in_parameters = wmi_object();
    outcome.step(entry.get_input_parameters(in_parameters, L"SetBooleanElement"));
    outcome.step(in_parameters.set_parameter(kernel_debugger_enabled, L"Type"));
    outcome.step(in_parameters.set_parameter(kernel_debugging, L"Boolean"));
    run(entry, L"SetBooleanElement");
    return outcome.finish();
}

// ---------------------------------------------------------------- the driver-disabled entry

bool bcd_edit::add_driver_disabled_boot_entry(std::wstring description)
{
    HRESULT result = S_OK;
    varnox::function_trace_result trace(L"bcd_edit::add_driver_disabled_boot_entry", &result);
    std::wstring found;
    if (_find_entry(description, found))
        return true;

    wmi_object boot_manager = _get_bcd_boot_manager();
    wmi_object entry = _get_bcd_default_boot_entry(boot_manager);
    std::wstring default_id;
    result = entry.get_parameter(default_id, L"Id");

    wmi_object in_parameters;
    result = store.get_input_parameters(in_parameters, L"CopyObject");
    if (FAILED(result)) {
        result = method_refused;
        return false;
    }
    result = in_parameters.set_parameter(L"SourceStoreFile", store_file);
    result = in_parameters.set_parameter(L"SourceId", default_id);
    result = in_parameters.set_parameter(L"Flags", std::uint32_t(1));
    wmi_object out_parameters;
    bool verdict = false;
    result = _call(store, in_parameters, out_parameters, verdict, L"CopyObject");
    if (FAILED(result) || !verdict) {
        result = method_refused;
        return false;
    }

    wmi_object copy;
    result = out_parameters.get_parameter(copy, L"Object");
    std::wstring copy_id;
    std::uint32_t copy_type = 0;
    result = copy.get_parameter(copy_id, L"Id");
    result = copy.get_parameter(copy_type, L"Type");
    if (is_loader_type(copy_type))
        _add_to_display_order(copy_id);

    wmi_object string_parameters = copy.get_input_parameters(L"SetStringElement");
    result = string_parameters.set_parameter(description_type, L"Type");
    result = string_parameters.set_parameter(L"String", description);
    verdict = false;
    result = _call(copy, string_parameters, verdict, L"SetStringElement");
    if (FAILED(result))
        return false;
    if (!verdict) {
        result = method_refused;
        return false;
    }
    result = string_parameters.set_parameter(load_options, L"Type");
    result = string_parameters.set_parameter(L"String", std::wstring(load_options_text));
    verdict = false;
    result = _call(copy, string_parameters, verdict, L"SetStringElement");
    if (SUCCEEDED(result) && !verdict)
        result = method_refused;
    return result == S_OK;
}

bool bcd_edit::remove_driver_disabled_boot_entry(std::wstring description)
{
    std::wstring identifier;
    if (!_find_entry(description, identifier))
        return true;

    HRESULT result = S_OK;
    varnox::function_trace_result trace(L"bcd_edit::remove_driver_disabled_boot_entry", &result);
    wmi_object in_parameters = store.get_input_parameters(L"DeleteObject");
    result = in_parameters.set_parameter(identifier.c_str(), L"Id");
    bool verdict = false;
    result = _call(store, in_parameters, verdict, L"DeleteObject");
    if (SUCCEEDED(result) && verdict)
        _remove_from_display_order(identifier);
    if (!verdict)
        result = method_refused;
    return result == S_OK;
}

bool bcd_edit::_read_display_order(const wchar_t* function_name, int parameters_line, wmi_object& boot_manager,
                                   std::vector<std::wstring>& identifiers, HRESULT& result)
{
    boot_manager = _get_bcd_boot_manager();
    wmi_object in_parameters;
    result = boot_manager.get_input_parameters(in_parameters, L"GetElement");
    if (FAILED(result))
        raise_error(function_name, parameters_line, result, L"Can't get the GetElement intput parameters object.");
    try {
        result = in_parameters.set_parameter(display_order, L"Type");
        wmi_object out_parameters;
        bool verdict = false;
        result = _call(boot_manager, in_parameters, out_parameters, verdict, L"GetElement");
        if (FAILED(result) || !verdict)
            return false;
        wmi_object element;
        result = out_parameters.get_parameter(element, L"Element");
        result = element.get_parameter(identifiers, L"Ids");
        return true;
    } catch (const varnox::exception_base&) {
        // result holds the code of the last call that completed.
        return false;
    }
}

void bcd_edit::_write_display_order(wmi_object& boot_manager, const std::vector<std::wstring>& identifiers,
                                    HRESULT& result)
{
    try {
        wmi_object list_parameters = boot_manager.get_input_parameters(L"SetObjectListElement");
        result = list_parameters.set_parameter(display_order, L"Type");
        result = list_parameters.set_parameter(L"Ids", identifiers);
        bool written = false;
        result = _call(boot_manager, list_parameters, written, L"SetObjectListElement");
    } catch (const varnox::exception_base&) {
        // result holds the code of the last call that completed.
    }
}

bool bcd_edit::_find_entry(std::wstring description, std::wstring& identifier)
{
    const wchar_t* const function_name = L"bcd_edit::_find_entry";
    HRESULT result = S_OK;
    varnox::function_trace_result trace(function_name, &result);
    wmi_object boot_manager;
    std::vector<std::wstring> identifiers;
    if (!_read_display_order(function_name, bcd_edit_lines::find_entry_parameters, boot_manager, identifiers, result))
        return false;

    for (const auto& listed : identifiers) {
        // A listed identifier that cannot be opened or read (a stale entry)
        // is passed over; the entries after it are still searched.
        try {
            wmi_object open_parameters = store.get_input_parameters(L"OpenObject");
            result = open_parameters.set_parameter(listed.c_str(), L"Id");
            wmi_object opened;
            bool verdict = false;
            result = _call(store, open_parameters, opened, verdict, L"OpenObject");
            if (FAILED(result) || !verdict)
                continue;
            wmi_object object;
            result = opened.get_parameter(object, L"Object");
            wmi_object element_parameters = object.get_input_parameters(L"GetElement");
            result = element_parameters.set_parameter(description_type, L"Type");
            wmi_object element_out;
            verdict = false;
            result = _call(object, element_parameters, element_out, verdict, L"GetElement");
            if (FAILED(result) || !verdict)
                continue;
            wmi_object element;
            result = element_out.get_parameter(element, L"Element");
            std::wstring text;
            result = element.get_parameter(text, L"String");
            if (equal_ignoring_ascii_case(text, description)) {
                identifier = listed;
                return true;
            }
        } catch (const varnox::exception_base&) {
            continue;
        }
    }
    return false;
}

bool bcd_edit::_add_to_display_order(std::wstring identifier)
{
    const wchar_t* const function_name = L"bcd_edit::_add_to_display_order";
    HRESULT result = S_OK;
    varnox::function_trace_result trace(function_name, &result);
    wmi_object boot_manager;
    std::vector<std::wstring> identifiers;
    // A boot manager without a display order is left without one.
    if (!_read_display_order(function_name, bcd_edit_lines::add_to_display_order_parameters, boot_manager,
                             identifiers, result))
        return result == S_OK;
    if (std::find(identifiers.begin(), identifiers.end(), identifier) != identifiers.end())
        return result == S_OK;
    identifiers.push_back(identifier);
    _write_display_order(boot_manager, identifiers, result);
    return result == S_OK;
}

bool bcd_edit::_remove_from_display_order(std::wstring identifier)
{
    const wchar_t* const function_name = L"bcd_edit::_remove_from_display_order";
    HRESULT result = S_OK;
    varnox::function_trace_result trace(function_name, &result);
    wmi_object boot_manager;
    std::vector<std::wstring> identifiers;
    if (!_read_display_order(function_name, bcd_edit_lines::remove_from_display_order_parameters, boot_manager,
                             identifiers, result))
        return result == S_OK;
    std::vector<std::wstring> kept;
    for (const auto& listed : identifiers)
        if (listed != identifier)
            kept.push_back(listed);
    if (kept.size() != identifiers.size())
        _write_display_order(boot_manager, kept, result);
    return result == S_OK;
}
