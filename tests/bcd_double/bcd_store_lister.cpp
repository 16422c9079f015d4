// A program of the tests' own that reads what WMI answers through the
// product's WMI layer, so that a test can see what a registered locator
// server gives another process:
//   bcd_store_lister entries OUT   the store's listed entries, one
//                                  "identifier<TAB>description" line each
//   bcd_store_lister system OUT    Win32_OperatingSystem's Caption
// Writes UTF-8 lines to OUT; the exit code is 0, or 1 with the error in OUT.

#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

#include "varnox/common/exception.h"
#include "varnox/windows/code_page.h"
#include "varnox/windows/com_init.h"
#include "varnox/windows/wmi.h"

using varnox::windows::wmi_object;
using varnox::windows::wmi_services;

namespace {

wmi_object call(wmi_object& target, const wchar_t* method, const wchar_t* name, const std::wstring& value,
                std::int32_t type = 0)
{
    wmi_object in = target.get_input_parameters(method);
    if (type != 0)
        in.set_parameter(type, L"Type");
    else
        in.set_parameter(std::wstring(name), value);
    wmi_object out;
    bool verdict = false;
    target.exec_method(in, out, verdict, method);
    if (!verdict)
        throw std::wstring(method) + L" " + value + L" reported false";
    return out;
}

std::vector<std::wstring> entries()
{
    wmi_services services;
    services.connect(L"WMI", L".", L"", L"", 3, 0);
    wmi_object in;
    services.get_input_parameters(in, L"BcdStore", L"OpenStore");
    in.set_parameter(L"File", std::wstring());
    wmi_object out;
    std::uint32_t return_value = 0;
    std::wstring description;
    services.exec_method(in, out, return_value, description, L"BcdStore", L"OpenStore");
    wmi_object store;
    out.get_parameter(store, L"Store");

    wmi_object boot_manager;
    call(store, L"OpenObject", L"Id", L"{9dea862c-5cdd-4e70-acc1-f32b344d4795}").get_parameter(boot_manager, L"Object");
    wmi_object element;
    call(boot_manager, L"GetElement", L"Type", L"", 0x24000001).get_parameter(element, L"Element");
    std::vector<std::wstring> ids;
    element.get_parameter(ids, L"Ids");

    std::vector<std::wstring> lines;
    for (const auto& id : ids) {
        wmi_object entry;
        call(store, L"OpenObject", L"Id", id).get_parameter(entry, L"Object");
        wmi_object text;
        call(entry, L"GetElement", L"Type", L"", 0x12000004).get_parameter(text, L"Element");
        std::wstring name;
        text.get_parameter(name, L"String");
        lines.push_back(id + L"\t" + name);
    }
    return lines;
}

std::vector<std::wstring> system_caption()
{
    wmi_services services;
    services.connect(L"CIMV2", L".", L"", L"", 3, 0);
    std::vector<std::wstring> lines;
    for (auto& system : services.exec_query(L"SELECT * FROM Win32_OperatingSystem")) {
        std::wstring caption;
        system.get_parameter(caption, L"Caption");
        lines.push_back(caption);
    }
    return lines;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 2;
    std::ofstream out(argv[2], std::ios::binary);
    varnox::windows::com_init com;
    int exit_code = 0;
    std::vector<std::wstring> lines;
    try {
        lines = std::wstring(argv[1]) == L"entries" ? entries() : system_caption();
    } catch (const varnox::exception_base& error) {
        lines = {varnox::compose_exception_message(&error)};
        exit_code = 1;
    } catch (const std::wstring& error) {
        lines = {error};
        exit_code = 1;
    }
    for (const auto& line : lines)
        out << varnox::windows::to_code_page(line, CP_UTF8) << "\n";
    return exit_code;
}
