#include <gtest/gtest.h>

#include <windows.h>

#include <boost/exception/get_error_info.hpp>

#include <string>

#include "test_support.h"
#include "varnox/common/log.h"
#include "varnox/windows/handle.h"
#include "varnox/windows/service.h"

using varnox::windows::service;
using varnox::windows::service_exception;
using varnox::windows::unique_schandle;

namespace {

struct service_definition {
    const wchar_t* name;
    const wchar_t* display_name;
    const wchar_t* binary_path;
    const wchar_t* load_order_group; // null: none
    const wchar_t* dependencies;     // a double-null-terminated list, or null
    const wchar_t* description;      // null: none set
    DWORD start_type;
};

const service_definition quoted_agent = {
    L"varnox_test_agent",
    L"Velmora Test Agent",
    L"\"C:\\Program Files\\Velmora Agent\\agent.exe\" -service",
    L"Velmora Group",
    L"Tcpip\0Afd\0",
    L"Records the changed blocks of the disks.",
    SERVICE_AUTO_START,
};

const service_definition plain_service = {
    L"varnox_test_plain", L"Plain Test Service", L"C:\\Tools\\plain.exe", nullptr, nullptr, nullptr,
    SERVICE_DEMAND_START,
};

void delete_service(SC_HANDLE manager, const wchar_t* name)
{
    unique_schandle existing(::OpenServiceW(manager, name, DELETE));
    if (existing)
        ::DeleteService(existing.get());
}

// Whether the platform's QueryServiceConfigW reports the dependency list that CreateServiceW stored.
bool platform_reports_dependencies(SC_HANDLE manager, const wchar_t* name)
{
    unique_schandle handle(::OpenServiceW(manager, name, SERVICE_QUERY_CONFIG));
    DWORD needed = 0;
    ::QueryServiceConfigW(handle.get(), nullptr, 0, &needed);
    std::wstring buffer(needed / sizeof(wchar_t) + 8, L'\0');
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(&buffer[0]);
    return ::QueryServiceConfigW(handle.get(), config, needed, &needed) && config->lpDependencies &&
           *config->lpDependencies;
}

// Services created for the test in its own prefix, deleted again at its end.
class service_query : public ::testing::Test {
protected:
    void SetUp() override
    {
        log_path = folder.file(L"service.log");
        varnox::the_logger().set_path(log_path);
        varnox::the_logger().level = 4;

        manager.reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager) << test_support::to_utf8(test_support::error_text(::GetLastError()));
        for (const service_definition* definition : {&quoted_agent, &plain_service})
            create(*definition);
    }

    void TearDown() override
    {
        for (const service_definition* definition : {&quoted_agent, &plain_service})
            delete_service(manager.get(), definition->name);
        varnox::the_logger().set_path(L"");
        varnox::the_logger().level = 2;
    }

    void create(const service_definition& definition)
    {
        delete_service(manager.get(), definition.name); // left over from an interrupted run
        unique_schandle created(::CreateServiceW(
            manager.get(), definition.name, definition.display_name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
            definition.start_type, SERVICE_ERROR_NORMAL, definition.binary_path, definition.load_order_group,
            nullptr, definition.dependencies, nullptr, nullptr));
        ASSERT_TRUE(created) << test_support::to_utf8(test_support::error_text(::GetLastError()));
        if (definition.description) {
            SERVICE_DESCRIPTIONW description = {const_cast<wchar_t*>(definition.description)};
            ASSERT_TRUE(::ChangeServiceConfig2W(created.get(), SERVICE_CONFIG_DESCRIPTION, &description));
        }
    }

    std::string log_text() { return test_support::read_file(log_path); }

    test_support::temp_folder folder;
    std::wstring log_path;
    unique_schandle manager;
};

} // namespace

// The record carries what the service was created with: a quoted path with its argument kept as stored,
// the description, the group and only the first dependency; without a description the field stays empty
// and nothing is logged.
TEST_F(service_query, reads_the_configuration_of_created_services)
{
    const struct {
        const service_definition* definition;
        const wchar_t* first_dependency;
    } cases[] = {
        {&quoted_agent, L"Tcpip"},
        {&plain_service, L""},
    };
    for (const auto& c : cases) {
        const service_definition& expected = *c.definition;
        SCOPED_TRACE(test_support::to_utf8(expected.name));
        const service record = service::get_service(expected.name, L"");
        EXPECT_EQ(expected.name, record.name);
        EXPECT_EQ(expected.display_name, record.display_name);
        EXPECT_EQ(expected.binary_path, record.binary_path);
        EXPECT_EQ(expected.description ? expected.description : L"", record.description);
        EXPECT_EQ(expected.load_order_group ? expected.load_order_group : L"", record.load_order_group);
        EXPECT_EQ(L"LocalSystem", record.start_name);
        EXPECT_EQ(expected.start_type, record.start_type);
        EXPECT_EQ(static_cast<std::uint32_t>(SERVICE_WIN32_OWN_PROCESS), record.service_type);
        // Wine 8's QueryServiceConfigW answers an empty list although the
        // dependencies are stored; there the field can only stay empty.
        if (platform_reports_dependencies(manager.get(), expected.name))
            EXPECT_EQ(c.first_dependency, record.dependencies);
        else
            EXPECT_EQ(L"", record.dependencies);
        EXPECT_EQ(L"", record.reserved_1 + record.reserved_2 + record.reserved_3);
    }
    EXPECT_EQ(std::string::npos, log_text().find("service(742)")) << log_text();
}

// A record made from a name holds only the name until _get_service fills it through an open manager.
TEST_F(service_query, fills_a_record_through_an_open_manager)
{
    service record(plain_service.name);
    EXPECT_EQ(plain_service.name, record.name);
    EXPECT_EQ(L"", record.display_name + record.binary_path + record.start_name);
    EXPECT_EQ(0u, record.start_type + record.service_type);

    unique_schandle reader(::OpenSCManagerW(nullptr, nullptr, GENERIC_READ));
    ASSERT_TRUE(reader);
    EXPECT_TRUE(service::_get_service(reader.get(), record));
    EXPECT_EQ(plain_service.binary_path, record.binary_path);
    EXPECT_EQ(static_cast<std::uint32_t>(SERVICE_DEMAND_START), record.start_type);
}

// A service that does not exist is logged at level 2 and raised with 1060 and the composed text of its throw site.
TEST_F(service_query, missing_service_raises_1060)
{
    const std::wstring name = L"varnox_test_missing";
    bool caught = false;
    try {
        service::get_service(name, L"");
    } catch (const service_exception& error) {
        caught = true;
        const auto* code = boost::get_error_info<varnox::throw_errorno_>(error);
        ASSERT_NE(nullptr, code);
        EXPECT_EQ(static_cast<std::uint32_t>(ERROR_SERVICE_DOES_NOT_EXIST), *code);
        const std::wstring text = varnox::compose_exception_message(&error);
        EXPECT_EQ(L"varnox/windows/service.cpp(707) : varnox::windows::service::_get_service - "
                  L"Failed to OpenService (varnox_test_missing) (0x00000424)",
                  text);
    }
    EXPECT_TRUE(caught);
    EXPECT_NE(std::string::npos,
              log_text().find("|W|service(705) - Failed to OpenService (varnox_test_missing) [Error: 1060] \r\n"))
        << log_text();
}
