#include "bcd_server_registration.h"

#include <vector>

#include "varnox/windows/handle.h"

namespace bcd_double {

const wchar_t store_variable[] = L"VARNOX_BCD_STORE";
const wchar_t saved_registration_key[] = L"Software\\Varnox\\BcdProviderDouble";

namespace {

using varnox::windows::unique_hkey;

const wchar_t server_key[] = L"Software\\Classes\\CLSID\\{4590F811-1D3A-11D0-891F-00AA004B2E24}\\InprocServer32";
const wchar_t original_server[] = L"OriginalServer";
const wchar_t original_threading_model[] = L"OriginalThreadingModel";

LONG read_string(HKEY key, const wchar_t* name, std::wstring& value)
{
    DWORD type = 0;
    DWORD size = 0;
    LONG result = ::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    if (result != ERROR_SUCCESS)
        return result;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return ERROR_INVALID_DATA;
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    result = ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (result != ERROR_SUCCESS)
        return result;
    value.assign(buffer.data());
    if (type == REG_EXPAND_SZ) {
        wchar_t expanded[MAX_PATH * 2] = {};
        if (::ExpandEnvironmentStringsW(value.c_str(), expanded, MAX_PATH * 2))
            value = expanded;
    }
    return ERROR_SUCCESS;
}

LONG write_string(HKEY key, const wchar_t* name, const std::wstring& value)
{
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LONG open_key(const wchar_t* path, REGSAM access, unique_hkey& key, bool create)
{
    HKEY raw = nullptr;
    const LONG result = create ? ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, access, nullptr, &raw, nullptr)
                               : ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, &raw);
    if (result == ERROR_SUCCESS)
        key.reset(raw);
    return result;
}

} // namespace

LONG register_server(const std::wstring& dll_path)
{
    unique_hkey server;
    LONG result = open_key(server_key, KEY_QUERY_VALUE | KEY_SET_VALUE, server, true);
    if (result != ERROR_SUCCESS)
        return result;
    unique_hkey saved;
    DWORD disposition = 0;
    HKEY raw = nullptr;
    result = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, saved_registration_key, 0, nullptr, 0,
                               KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &raw, &disposition);
    if (result != ERROR_SUCCESS)
        return result;
    saved.reset(raw);
    if (disposition == REG_CREATED_NEW_KEY) {
        std::wstring path;
        std::wstring model;
        result = read_string(server.get(), nullptr, path);
        if (result != ERROR_SUCCESS)
            return result;
        if (read_string(server.get(), L"ThreadingModel", model) != ERROR_SUCCESS)
            model = L"Both";
        if ((result = write_string(saved.get(), original_server, path)) != ERROR_SUCCESS ||
            (result = write_string(saved.get(), original_threading_model, model)) != ERROR_SUCCESS)
            return result;
    }
    if ((result = write_string(server.get(), nullptr, dll_path)) != ERROR_SUCCESS)
        return result;
    return write_string(server.get(), L"ThreadingModel", L"Both");
}

LONG unregister_server()
{
    unique_hkey saved;
    LONG result = open_key(saved_registration_key, KEY_QUERY_VALUE, saved, false);
    if (result == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (result != ERROR_SUCCESS)
        return result;
    std::wstring path;
    std::wstring model;
    if ((result = read_string(saved.get(), original_server, path)) != ERROR_SUCCESS ||
        (result = read_string(saved.get(), original_threading_model, model)) != ERROR_SUCCESS)
        return result;
    saved.reset();
    unique_hkey server;
    if ((result = open_key(server_key, KEY_SET_VALUE, server, true)) != ERROR_SUCCESS)
        return result;
    if ((result = write_string(server.get(), nullptr, path)) != ERROR_SUCCESS ||
        (result = write_string(server.get(), L"ThreadingModel", model)) != ERROR_SUCCESS)
        return result;
    return ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, saved_registration_key);
}

std::wstring saved_platform_server()
{
    unique_hkey saved;
    if (open_key(saved_registration_key, KEY_QUERY_VALUE, saved, false) != ERROR_SUCCESS)
        return std::wstring();
    std::wstring path;
    read_string(saved.get(), original_server, path);
    return path;
}

} // namespace bcd_double
