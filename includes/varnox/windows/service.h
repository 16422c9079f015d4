#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

#include "varnox/common/exception.h"

namespace varnox {
namespace windows {

class service_exception : public varnox::exception_base {};

// A service's configuration as the service control manager reports it.
struct service {
    service() = default;
    explicit service(std::wstring service_name) : name(std::move(service_name)) {}

    std::wstring name;
    std::wstring display_name;
    std::wstring description;      // empty when the service has none
    std::wstring binary_path;      // the command line as stored: quotes and arguments kept
    std::wstring start_name;       // the account
    std::wstring load_order_group;
    std::wstring dependencies;     // the first entry of the list only
    std::wstring reserved_1;       // the three reserved fields are never filled
    std::wstring reserved_2;
    std::wstring reserved_3;
    std::uint32_t start_type = 0;
    std::uint32_t service_type = 0;

    // The configuration of service_name on machine_name (empty: this
    // computer). Throws service_exception, with the Win32 error, when the
    // service control manager or the service cannot be opened or its
    // configuration cannot be read; a description that cannot be read stays
    // empty.
    static service get_service(const std::wstring& service_name, const std::wstring& machine_name);

    // Fills record, whose name is set, through an open service control
    // manager; true, or throws as get_service does.
    static bool _get_service(SC_HANDLE manager, service& record);
};

} // namespace windows
} // namespace varnox
