#include <gtest/gtest.h>

#include <windows.h>

#include <boost/exception_ptr.hpp>

#include "test_support.h"
#include "varnox/common/exception.h"
#include "varnox/common/log.h"

namespace {

class sample_exception : public varnox::exception_base {};

const wchar_t sample_function[] = L"varnox::windows::service::get_service";

boost::exception_ptr caught_from(void (*thrower)())
{
    try {
        thrower();
    } catch (const sample_exception&) {
        return boost::current_exception();
    }
    return boost::exception_ptr();
}

std::wstring compose(const boost::exception_ptr& caught)
{
    try {
        boost::rethrow_exception(caught);
    } catch (const boost::exception& error) {
        return varnox::compose_exception_message(&error);
    }
}

} // namespace

TEST(compose_exception_message, null_gives_empty_text)
{
    EXPECT_EQ(L"", varnox::compose_exception_message(nullptr));
}

// Every record present: file(line) : function - message (0xCODE).
TEST(compose_exception_message, all_records)
{
    sample_exception error;
    error << varnox::throw_wfile_(L"C:\\src\\includes\\varnox\\windows\\service.h")
          << varnox::throw_wfunction_(sample_function) << varnox::throw_errorno_(5u)
          << varnox::throw_wmessage_(varnox::format_message(L"Failed to OpenSCManager (%s)", L"HOST"));
    error << boost::throw_line(654);
    EXPECT_EQ(L"C:\\src\\includes\\varnox\\windows\\service.h(654) : varnox::windows::service::get_service"
              L" - Failed to OpenSCManager (HOST) (0x00000005)",
              varnox::compose_exception_message(&error));
}

// Missing records leave their pieces out; codes always show eight digits.
TEST(compose_exception_message, partial_records)
{
    const struct {
        const char* scenario;
        bool file, function, message;
        int line;
        const std::uint32_t* code;
        const wchar_t* expected;
    } cases[] = {
        {"message only", false, false, true, -1, nullptr, L" - the message"},
        {"line without file", false, true, false, 12, nullptr, L"(12) : f::g"},
        {"archive error: no code", true, true, true, 406, nullptr, L"a/b(406) : f::g - the message"},
        {"code 0xFFFFFFFF", false, false, true, -1, new std::uint32_t(0xFFFFFFFFu), L" - the message (0xFFFFFFFF)"},
        {"code 0x80041002", true, false, false, -1, new std::uint32_t(0x80041002u), L"a/b (0x80041002)"},
        {"nothing", false, false, false, -1, nullptr, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        sample_exception error;
        if (c.file)
            error << varnox::throw_wfile_(L"a/b");
        if (c.function)
            error << varnox::throw_wfunction_(L"f::g");
        if (c.code)
            error << varnox::throw_errorno_(*c.code);
        if (c.message)
            error << varnox::throw_wmessage_(L"the message");
        if (c.line != -1)
            error << boost::throw_line(c.line);
        EXPECT_EQ(c.expected, varnox::compose_exception_message(&error));
        delete c.code;
    }
}

// The throw helper keeps the failed call's last error even when formatting
// the message would change it, and throws the catchable wrapper.
TEST(throw_helpers, last_error_is_read_before_the_message_is_built)
{
    const auto caught = caught_from([] {
        const BOOL opened = ::DeleteFileW(L"Z:\\no\\such\\folder\\file.txt");
        (void)opened;
        VARNOX_THROW_LAST_ERROR(sample_exception, sample_function, 654, L"Failed to %1% (%2%)",
                                (::SetLastError(1), L"DeleteFile"), L"file.txt");
    });
    ASSERT_TRUE(caught);
    const std::wstring text = compose(caught);
    EXPECT_NE(std::wstring::npos, text.find(L"(654) : varnox::windows::service::get_service - "
                                            L"Failed to DeleteFile (file.txt) (0x00000003)"))
        << test_support::to_utf8(text);
    EXPECT_NE(std::wstring::npos, text.find(L"exception_test.cpp")) << test_support::to_utf8(text);
}

TEST(throw_helpers, records_the_hresult_or_no_code)
{
    const auto with_code = caught_from([] {
        VARNOX_THROW_HRESULT(sample_exception, 0x80041002L, L"varnox::windows::wmi_services::connect", 96,
                             L"Failed to connect to %s", L"root\\WMI");
    });
    EXPECT_NE(std::wstring::npos,
              compose(with_code).find(L"(96) : varnox::windows::wmi_services::connect - Failed to connect to root\\WMI (0x80041002)"));
    const auto without = caught_from([] {
        VARNOX_THROW(sample_exception, L"varnox::archive::unzip_base::unzip_base", 406,
                     L"Failed to initialize archive.");
    });
    const std::wstring text = compose(without);
    EXPECT_EQ(L"varnox::archive::unzip_base::unzip_base - Failed to initialize archive.",
              text.substr(text.find(L" : ") + 3));
}

// The thrown object can be copied to another thread and caught as its class.
TEST(throw_helpers, thrown_form_is_cloneable_and_catchable)
{
    const auto caught = caught_from([] { VARNOX_THROW(sample_exception, L"f", 1, L"m"); });
    ASSERT_TRUE(caught);
    EXPECT_THROW(boost::rethrow_exception(caught), sample_exception);
    EXPECT_THROW(boost::rethrow_exception(caught), varnox::exception_base);
}

// A "%" in a message survives composition and logging.
TEST(compose_exception_message, percent_reaches_the_log_unchanged)
{
    test_support::temp_folder folder;
    const std::wstring path = folder.file(L"percent.log");
    varnox::the_logger().set_path(path);
    sample_exception error;
    error << varnox::throw_wmessage_(L"disk 100% full %s %d");
    VARNOX_LOG(1, L"varnox/common/archive", 310, L"%s", varnox::compose_exception_message(&error).c_str());
    varnox::the_logger().set_path(L"");
    const std::string text = test_support::read_file(path);
    EXPECT_NE(std::string::npos, text.find("archive(310) -  - disk 100% full %s %d \r\n")) << text;
}
