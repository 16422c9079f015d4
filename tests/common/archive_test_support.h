#pragma once

// What the archive tests share: the fixtures made at build time, the log
// captured in a file of the test's own, and the targets' narrowing.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "test_support.h"
#include "varnox/common/log.h"
#include "varnox/windows/code_page.h"

namespace archive_test {

inline std::wstring fixture(const std::string& name)
{
    return test_support::windows_path_of_unix(std::string(VARNOX_ARCHIVE_FIXTURES) + "/" + name);
}

// Points the process log at a file of the test's own for its lifetime.
class captured_log {
public:
    captured_log() : _path(_folder.file(L"archive_test.log"))
    {
        varnox::the_logger().set_path(_path);
        varnox::the_logger().level = 2;
        // The log folds a repeat of the previous message, even across files.
        static int count = 0;
        varnox::log_message(-1, L"archive test log %d", ++count);
    }
    ~captured_log() { varnox::the_logger().set_path(std::wstring()); }

    std::string text() const
    {
        return test_support::file_exists(_path) ? test_support::read_file(_path) : std::string();
    }
    bool has(const std::string& entry) const { return text().find(entry) != std::string::npos; }

private:
    test_support::temp_folder _folder;
    std::wstring _path;
};

// Extraction targets travel in the ANSI code page.
inline std::string narrow(const std::wstring& path)
{
    const auto converted = varnox::windows::to_code_page_exact(path, CP_ACP);
    EXPECT_TRUE(converted) << test_support::to_utf8(path);
    return converted.value_or(std::string());
}

} // namespace archive_test
