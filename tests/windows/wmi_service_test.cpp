// The WMI classes over the platform's own WMI service.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_support.h"
#include "varnox/windows/com_init.h"
#include "varnox/windows/wmi.h"
#include "wmi_test_support.h"

using varnox::windows::com_init;
using varnox::windows::wmi_exception;
using varnox::windows::wmi_object;
using varnox::windows::wmi_services;
using wmi_double::catch_wmi_error;
using wmi_double::hex;
using wmi_double::log_capture;

namespace {

const std::uint32_t hkey_current_user = 0x80000001;

class wmi_service : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, com_init::initialize());
        ASSERT_EQ(S_OK, services.connect(L"CIMV2", L".", L"", L"", 3, 0));
    }
    void TearDown() override { ::CoUninitialize(); }

    wmi_services services;
};

// A registry key of this test's own under HKCU, removed at the end.
class test_key {
public:
    test_key()
    {
        subkey = L"Software\\varnox-wmi-test-" + std::to_wstring(::GetCurrentProcessId());
        HKEY key = nullptr;
        const LONG created = ::RegCreateKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                               nullptr, &key, nullptr);
        EXPECT_EQ(ERROR_SUCCESS, created) << test_support::to_utf8(test_support::error_text(created));
        const std::wstring text = L"Velmora agent";
        ::RegSetValueExW(key, L"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        for (const wchar_t* name : {L"alpha", L"beta"}) {
            HKEY child = nullptr;
            ::RegCreateKeyExW(key, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr);
            ::RegCloseKey(child);
        }
        ::RegCloseKey(key);
    }
    ~test_key()
    {
        for (const wchar_t* name : {L"alpha", L"beta"})
            ::RegDeleteKeyW(HKEY_CURRENT_USER, (subkey + L"\\" + name).c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, subkey.c_str());
    }

    std::wstring subkey;
};

} // namespace

// Both namespaces that the setup program uses connect with the caller's
// credentials and log the path they reached.
TEST(wmi_connect, local_namespaces)
{
    ASSERT_EQ(S_OK, com_init::initialize());
    for (const wchar_t* name : {L"CIMV2", L"WMI", L"cimv2"}) {
        SCOPED_TRACE(test_support::to_utf8(name));
        log_capture log;
        wmi_services services;
        EXPECT_EQ(S_OK, services.connect(name, L".", L"", L"", 3, 0));
        EXPECT_NE(nullptr, services.services());
        EXPECT_TRUE(services.is_local());
        EXPECT_TRUE(log.contains(L"wmi(199) - Connected to (\\\\.\\root\\" + std::wstring(name) + L"). "));
    }
    ::CoUninitialize();
}

// A namespace that does not exist fails at the service: the log names the
// path, the raised message the host, and the code is the service's.
TEST(wmi_connect, unknown_namespace_raises)
{
    ASSERT_EQ(S_OK, com_init::initialize());
    {
        log_capture log;
        wmi_services services;
        const auto error = catch_wmi_error([&] { services.connect(L"NoSuchNamespace", L".", L"", L"", 3, 0); });
        ASSERT_TRUE(error.caught);
        EXPECT_TRUE(FAILED(static_cast<HRESULT>(error.code)));
        EXPECT_EQ(L"pWbemLocator->ConnectServer (.) with local credentials failed.", error.message);
        EXPECT_EQ(L"varnox::windows::wmi_services::connect", error.function);
        EXPECT_TRUE(log.contains(L"wmi(186) - pWbemLocator->ConnectServer (\\\\.\\root\\NoSuchNamespace) with local "
                                 L"credentials failed (" + hex(error.code) + L"). "));
        EXPECT_EQ(nullptr, services.services());
        EXPECT_EQ(L"NoSuchNamespace", services.namespace_name());
    }
    ::CoUninitialize();
}

// The hotfix query returns the service's objects with their string property.
TEST_F(wmi_service, query_reads_hotfix_ids)
{
    log_capture log;
    const std::vector<wmi_object> hotfixes = services.exec_query(L"SELECT * FROM Win32_QuickFixEngineering");
    ASSERT_EQ(1u, hotfixes.size());
    wmi_object hotfix = hotfixes[0];
    std::wstring id;
    EXPECT_EQ(S_OK, hotfix.get_parameter(id, L"HotFixID"));
    EXPECT_EQ(L"KB1234567", id);
    EXPECT_TRUE(log.contains(L"wmi(424) - Success (SELECT * FROM Win32_QuickFixEngineering), (1) objects returned. "));
}

// A query that matches nothing is a success with an empty result.
TEST_F(wmi_service, query_without_matches)
{
    log_capture log;
    std::vector<wmi_object> objects(2);
    const std::wstring query = L"SELECT * FROM Win32_QuickFixEngineering WHERE HotFixID = 'KB0000000'";
    EXPECT_EQ(S_OK, services.exec_query(objects, query));
    EXPECT_TRUE(objects.empty());
    EXPECT_TRUE(log.contains(L"wmi(424) - Success (" + query + L"), (0) objects returned. "));
}

// A query the service rejects raises with the service's code and the query.
TEST_F(wmi_service, invalid_query_raises)
{
    log_capture log;
    const std::wstring query = L"NOT A QUERY";
    const auto error = catch_wmi_error([&] { services.exec_query(query); });
    ASSERT_TRUE(error.caught);
    EXPECT_TRUE(FAILED(static_cast<HRESULT>(error.code)));
    EXPECT_EQ(L"_services_ptr->ExecQuery (" + query + L") failed.", error.message);
    EXPECT_TRUE(log.contains(L"wmi(402) - _services_ptr->ExecQuery (" + query + L") failed (" + hex(error.code) +
                             L"). "));
    EXPECT_NE(std::wstring::npos, error.composed.find(L" - _services_ptr->ExecQuery (" + query + L") failed. (" +
                                                      hex(error.code) + L")"));
}

// A class fetched by name reads its system properties; an unknown one raises.
TEST_F(wmi_service, get_wmi_object_by_path)
{
    wmi_object os;
    EXPECT_EQ(S_OK, services.get_wmi_object(os, L"Win32_OperatingSystem"));
    std::wstring class_name;
    os.get_parameter(class_name, L"__CLASS");
    EXPECT_EQ(L"Win32_OperatingSystem", class_name);

    log_capture log;
    const auto error = catch_wmi_error([&] { services.get_wmi_object(os, L"NoSuchClass"); });
    ASSERT_TRUE(error.caught);
    EXPECT_EQ(L"_services_ptr->GetObject (NoSuchClass) failed.", error.message);
    EXPECT_TRUE(log.contains(L"wmi(274) - _services_ptr->GetObject (NoSuchClass) failed (" + hex(error.code) +
                             L"). "));
}

// Instance properties of the operating system read as strings and numbers.
TEST_F(wmi_service, reads_operating_system_properties)
{
    const auto systems = services.exec_query(L"SELECT * FROM Win32_OperatingSystem");
    ASSERT_EQ(1u, systems.size());
    wmi_object os = systems[0];
    std::wstring caption;
    std::wstring version;
    EXPECT_EQ(S_OK, os.get_parameter(caption, L"Caption"));
    EXPECT_EQ(S_OK, os.get_parameter(version, L"Version"));
    EXPECT_FALSE(caption.empty());
    EXPECT_FALSE(version.empty());
    VARIANT raw;
    ::VariantInit(&raw);
    CIMTYPE type = 0;
    EXPECT_EQ(S_OK, os.get_parameter(L"Version", raw, type));
    EXPECT_EQ(CIM_STRING, type);
    ::VariantClear(&raw);
}

// A static method with in- and out-parameters: the registry provider reads a
// string value of this test's key; a missing value gives the provider's own
// verdict and a null output that reads as empty.
TEST_F(wmi_service, registry_provider_get_string_value)
{
    test_key key;
    const struct {
        const wchar_t* value_name;
        std::uint32_t return_value;
        const wchar_t* text;
    } cases[] = {
        {L"Name", 0, L"Velmora agent"},
        {L"Missing", ERROR_FILE_NOT_FOUND, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(test_support::to_utf8(c.value_name));
        log_capture log;
        wmi_object in;
        ASSERT_EQ(S_OK, services.get_input_parameters(in, L"StdRegProv", L"GetStringValue"));
        ASSERT_FALSE(in.empty());
        in.set_parameter(L"hDefKey", hkey_current_user);
        in.set_parameter(L"sSubKeyName", key.subkey);
        in.set_parameter(L"sValueName", std::wstring(c.value_name));

        wmi_object out;
        std::uint32_t return_value = 12345;
        std::wstring description = L"stale";
        EXPECT_EQ(S_OK, services.exec_method(in, out, return_value, description, L"StdRegProv", L"GetStringValue"));
        EXPECT_EQ(c.return_value, return_value);
        EXPECT_EQ(L"", description);
        std::wstring text = L"stale";
        EXPECT_EQ(S_OK, out.get_parameter(text, L"sValue"));
        EXPECT_EQ(c.text, text);
        EXPECT_TRUE(log.contains(L"wmi(378) - (StdRegProv) (GetStringValue) returned (" +
                                 std::to_wstring(c.return_value) + L") (). "));
    }
}

// A string-array output parameter reads as a vector of strings.
TEST_F(wmi_service, registry_provider_enum_key)
{
    test_key key;
    wmi_object in;
    ASSERT_EQ(S_OK, services.get_input_parameters(in, L"StdRegProv", L"EnumKey"));
    in.set_parameter(L"hDefKey", hkey_current_user);
    in.set_parameter(L"sSubKeyName", key.subkey);
    wmi_object out;
    std::uint32_t return_value = 1;
    std::wstring description;
    EXPECT_EQ(S_OK, services.exec_method(in, out, return_value, description, L"StdRegProv", L"EnumKey"));
    EXPECT_EQ(0u, return_value);
    std::vector<std::wstring> names{L"stale"};
    out.get_parameter(names, L"sNames");
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::wstring>{L"alpha", L"beta"}), names);
}

// Input parameters prepared through an object of the class, the value form.
TEST_F(wmi_service, object_prepares_input_parameters)
{
    wmi_object provider;
    ASSERT_EQ(S_OK, services.get_wmi_object(provider, L"StdRegProv"));
    wmi_object in = provider.get_input_parameters(L"GetStringValue");
    EXPECT_FALSE(in.empty());
    VARIANT value;
    ::VariantInit(&value);
    CIMTYPE type = 0;
    EXPECT_EQ(S_OK, in.get_parameter(L"sSubKeyName", value, type));
    EXPECT_EQ(CIM_STRING, type);
    ::VariantClear(&value);
}

// An unknown method and an unknown class fail with the texts that name them.
TEST_F(wmi_service, input_parameters_of_unknown_method_or_class)
{
    {
        log_capture log;
        wmi_object in;
        const auto error = catch_wmi_error([&] { services.get_input_parameters(in, L"StdRegProv", L"NoSuchMethod"); });
        ASSERT_TRUE(error.caught);
        EXPECT_EQ(L"pClass->GetMethod (StdRegProv) (NoSuchMethod) failed.", error.message);
        EXPECT_TRUE(log.contains(L"wmi(307) - pClass->GetMethod (StdRegProv) (NoSuchMethod) failed (" +
                                 hex(error.code) + L"). "));
        EXPECT_TRUE(in.empty());
    }
    {
        log_capture log;
        wmi_object in;
        const auto error = catch_wmi_error([&] { services.get_input_parameters(in, L"NoSuchClass", L"Run"); });
        ASSERT_TRUE(error.caught);
        EXPECT_EQ(L"_services_ptr->GetObject (NoSuchClass) failed.", error.message);
        EXPECT_TRUE(log.contains(L"wmi(298) - pServices->GetObject (NoSuchClass) failed (" + hex(error.code) +
                                 L"). "));
    }
}

// A method called on an instance goes through the instance's own path.
TEST_F(wmi_service, method_on_instance_uses_its_path)
{
    const auto processes = services.exec_query(L"SELECT * FROM Win32_Process WHERE ProcessId = " +
                                               std::to_wstring(::GetCurrentProcessId()));
    ASSERT_EQ(1u, processes.size());
    wmi_object process = processes[0];
    log_capture log;
    wmi_object out;
    std::uint32_t return_value = 99;
    std::wstring description;
    EXPECT_EQ(S_OK, process.exec_method(wmi_object(), out, return_value, description, L"GetOwner"));
    EXPECT_EQ(0u, return_value);
    std::wstring user;
    out.get_parameter(user, L"User");
    EXPECT_FALSE(user.empty());
    bool found = false;
    for (const auto& message : log.messages())
        found = found || (message.find(L"Win32_Process.Handle=") != std::wstring::npos &&
                          message.find(L"(GetOwner) returned (0)") != std::wstring::npos);
    EXPECT_TRUE(found);
}

// An encrypted string comes back as it was given; an empty one keeps the old.
TEST(protected_data, round_trip)
{
    varnox::windows::protected_data data;
    EXPECT_EQ(L"", data.get_data());
    data.set_data(L"s3cr\u00e9t \u4e2d");
    EXPECT_EQ(L"s3cr\u00e9t \u4e2d", data.get_data());
    data.set_data(L"");
    EXPECT_EQ(L"s3cr\u00e9t \u4e2d", data.get_data());
    const varnox::windows::protected_data copy = data;
    EXPECT_EQ(L"s3cr\u00e9t \u4e2d", copy.get_data());
}
// An explicit account connects with its identity on every proxy, the
// enumerator's included. Wine's service takes credentials locally; Windows
// refuses them for the local machine (WBEM_E_LOCAL_CREDENTIALS).
TEST(wmi_connect, explicit_account_blanket)
{
    ASSERT_EQ(S_OK, com_init::initialize());
    {
        wmi_services services;
        EXPECT_EQ(S_OK, services.connect(L"CIMV2", L".", L"CORP\\admin", L"pw", 3, 0));
        EXPECT_FALSE(services.is_local());
        EXPECT_EQ(1u, services.exec_query(L"SELECT * FROM Win32_QuickFixEngineering").size());
    }
    ::CoUninitialize();
}
