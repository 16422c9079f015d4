#include "varnox/windows/service.h"

#include <vector>

#include "varnox/common/log.h"
#include "varnox/windows/handle.h"

namespace varnox {
namespace windows {

namespace {

const wchar_t log_source[] = L"varnox/windows/service";
const wchar_t get_service_name[] = L"varnox::windows::service::get_service";
const wchar_t fill_service_name[] = L"varnox::windows::service::_get_service";

// Fixed line numbers that log readers key on.
constexpr int line_open_manager_log = 652;
constexpr int line_open_manager_throw = 654;
constexpr int line_open_service_log = 705;
constexpr int line_open_service_throw = 707;
constexpr int line_description_log = 742;
constexpr int line_query_config_log = 747;
constexpr int line_query_config_throw = 749;

// A buffer with the alignment of the records that the service control
// manager writes into it.
using query_buffer = std::vector<std::uint64_t>;

// The size query, then the call into a buffer of that size; anything but a
// size query that fails with ERROR_INSUFFICIENT_BUFFER and a second call that
// succeeds is a failure, with the last error read right after the failed call.
template <typename Query>
bool query_sized(Query query, query_buffer& buffer, DWORD& error)
{
    DWORD needed = 0;
    if (query(nullptr, 0, &needed)) {
        error = ::GetLastError();
        return false;
    }
    error = ::GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER)
        return false;
    buffer.assign(needed / sizeof(std::uint64_t) + 1, 0);
    if (!query(reinterpret_cast<BYTE*>(buffer.data()), needed, &needed)) {
        error = ::GetLastError();
        return false;
    }
    error = ERROR_SUCCESS;
    return true;
}

bool present(const wchar_t* text)
{
    return text != nullptr && *text != L'\0';
}

} // namespace

service service::get_service(const std::wstring& service_name, const std::wstring& machine_name)
{
    service record(service_name);
    unique_schandle manager(
        ::OpenSCManagerW(machine_name.empty() ? nullptr : machine_name.c_str(), nullptr, GENERIC_READ));
    if (!manager) {
        const std::uint32_t error = ::GetLastError();
        VARNOX_LOG(2, log_source, line_open_manager_log, L"Failed to OpenSCManager (%s) [Error: %d]",
                   machine_name.c_str(), static_cast<int>(error));
        throw_error<service_exception>(VARNOX_THROW_SITE(get_service_name, line_open_manager_throw), &error,
                                       format_message(L"Failed to OpenSCManager (%s)", machine_name));
    }
    _get_service(manager.get(), record);
    return record;
}

bool service::_get_service(SC_HANDLE manager, service& record)
{
    unique_schandle handle(::OpenServiceW(manager, record.name.c_str(), GENERIC_READ));
    if (!handle) {
        const std::uint32_t error = ::GetLastError();
        VARNOX_LOG(2, log_source, line_open_service_log, L"Failed to OpenService (%s) [Error: %d]",
                   record.name.c_str(), static_cast<int>(error));
        throw_error<service_exception>(VARNOX_THROW_SITE(fill_service_name, line_open_service_throw), &error,
                                       format_message(L"Failed to OpenService (%s)", record.name));
    }

    query_buffer config_buffer;
    DWORD error = ERROR_SUCCESS;
    const bool config_read = query_sized(
        [&](BYTE* buffer, DWORD size, DWORD* needed) {
            return ::QueryServiceConfigW(handle.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer), size,
                                         needed) != FALSE;
        },
        config_buffer, error);
    if (!config_read) {
        const std::uint32_t code = error;
        VARNOX_LOG(1, log_source, line_query_config_log, L"Failed to QueryServiceConfig (%s) [Error: %d]",
                   record.name.c_str(), static_cast<int>(code));
        throw_error<service_exception>(VARNOX_THROW_SITE(fill_service_name, line_query_config_throw), &code,
                                       format_message(L"Failed to QueryServiceConfig (%s)", record.name));
    }
    const auto* config = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config_buffer.data());
    record.start_type = config->dwStartType;
    record.service_type = config->dwServiceType;
    record.start_name = config->lpServiceStartName ? config->lpServiceStartName : L"";
    record.display_name = config->lpDisplayName ? config->lpDisplayName : L"";
    record.binary_path = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
    if (present(config->lpDependencies))
        record.dependencies = config->lpDependencies; // the list's first entry ends at its first null
    if (present(config->lpLoadOrderGroup))
        record.load_order_group = config->lpLoadOrderGroup;

    query_buffer description_buffer;
    const bool description_read = query_sized(
        [&](BYTE* buffer, DWORD size, DWORD* needed) {
            return ::QueryServiceConfig2W(handle.get(), SERVICE_CONFIG_DESCRIPTION, buffer, size, needed) != FALSE;
        },
        description_buffer, error);
    if (description_read) {
        const auto* description = reinterpret_cast<const SERVICE_DESCRIPTIONW*>(description_buffer.data());
        if (present(description->lpDescription))
            record.description = description->lpDescription;
    } else {
        VARNOX_LOG(4, log_source, line_description_log, L"Cannot query service description (%s) [Error: %d]",
                   record.name.c_str(), static_cast<int>(error));
    }
    return true;
}

} // namespace windows
} // namespace varnox
