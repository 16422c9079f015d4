#include <gtest/gtest.h>

#include <windows.h>

#include <boost/filesystem.hpp>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "install.h"
#include "test_support.h"
#include "uncaught_errors.h"
#include "varnox/common/exception.h"
#include "varnox/common/log.h"

namespace {

class step_exception : public varnox::exception_base {};

} // namespace

// What the run returns is the exit code; whatever it throws is logged at
// level 1 with its own line and text, and the run ends with exit code 2.
TEST(uncaught_errors, are_logged_and_fail_the_run)
{
    test_support::temp_folder folder;
    varnox::logger& log = varnox::the_logger();
    const std::wstring path = folder.file(L"install.exe.log");
    log.set_path(path);
    log.level = 2;
    const struct {
        const char* scenario;
        std::function<int()> run;
        int exit_code;
        std::string logged;       // empty: nothing logged
        std::string logged_rest;  // what follows later in the same entry
    } cases[] = {
        {"ends normally", [] { return 1; }, 1, "", ""},
        {"varnox exception: the composed text",
         []() -> int { VARNOX_THROW(step_exception, L"install::failing_step", 77, L"the step failed"); }, 2,
         "|E|install(150) - ", "uncaught_errors_test.cpp(77) : install::failing_step - the step failed \r\n"},
        {"standard exception: its text", []() -> int { throw std::runtime_error("disk on fire 100%"); }, 2,
         "|E|install(152) - disk on fire 100% \r\n", ""},
        {"file-system error: its text",
         []() -> int {
             throw boost::filesystem::filesystem_error(
                 "create_directories", boost::filesystem::path(L"C:\\nowhere"),
                 boost::system::error_code(ERROR_ACCESS_DENIED, boost::system::system_category()));
         },
         2, "|E|install(152) - create_directories: ", "C:\\nowhere"},
        {"out of memory", []() -> int { throw std::bad_alloc(); }, 2, "|E|install(152) - std::bad_alloc \r\n", ""},
        {"anything else", []() -> int { throw 42; }, 2, "|E|install(151) - Unknown exception \r\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        ::DeleteFileW(path.c_str());
        EXPECT_EQ(c.exit_code, install::run_logging_uncaught_errors(c.run));
        const std::string text = test_support::read_file(path);
        if (c.logged.empty()) {
            EXPECT_EQ("", text);
            continue;
        }
        const size_t start = text.find(c.logged);
        ASSERT_NE(std::string::npos, start) << text;
        const size_t line_end = text.find("\r\n", start);
        EXPECT_NE(std::string::npos, text.substr(start, line_end + 2 - start).find(c.logged_rest)) << text;
        EXPECT_EQ(std::string::npos, text.find("\r\n", line_end + 2)) << "one entry only: " << text;
    }
    log.set_path(L"");
}
