#include <gtest/gtest.h>

#include <windows.h>

#include <boost/exception/get_error_info.hpp>

#include <set>
#include <string>

#include "test_support.h"
#include "varnox/common/log.h"
#include "varnox/windows/file_version_info.h"
#include "varnox/windows/folders.h"

using test_support::windows_path_of_unix;
using varnox::windows::file_version_info;
using varnox::windows::file_version_info_exception;

namespace {

struct expected_strings {
    const wchar_t* company_name;
    const wchar_t* product_name;
    const wchar_t* internal_name;
    const wchar_t* original_filename;
    const wchar_t* legal_copyright;
};

void expect_strings(const expected_strings& expected, const file_version_info& info)
{
    EXPECT_EQ(expected.company_name, info.company_name);
    EXPECT_EQ(expected.product_name, info.product_name);
    EXPECT_EQ(expected.internal_name, info.internal_name);
    EXPECT_EQ(expected.original_filename, info.original_filename);
    EXPECT_EQ(expected.legal_copyright, info.legal_copyright);
}

// Runs get_file_version_info where it must throw, and hands back the exception.
struct thrown {
    bool caught = false;
    std::wstring message;
    std::wstring function;
    std::wstring file;
    int line = -1;
    std::uint32_t code = 0;
    bool has_code = false;
};

thrown throw_of(const std::wstring& path, file_version_info::resource_loader load = nullptr)
{
    thrown result;
    try {
        if (load)
            file_version_info::get_file_version_info(path, load);
        else
            file_version_info::get_file_version_info(path);
    } catch (const file_version_info_exception& error) {
        result.caught = true;
        if (const auto* message = boost::get_error_info<varnox::throw_wmessage_>(error))
            result.message = *message;
        if (const auto* function = boost::get_error_info<varnox::throw_wfunction_>(error))
            result.function = *function;
        if (const auto* file = boost::get_error_info<varnox::throw_wfile_>(error))
            result.file = *file;
        if (const auto* line = boost::get_error_info<boost::throw_line>(error))
            result.line = *line;
        if (const auto* code = boost::get_error_info<varnox::throw_errorno_>(error)) {
            result.has_code = true;
            result.code = *code;
        }
    }
    return result;
}

// Loads that change the file first, so that the platform's own load fails
// for real after the size query succeeded.
bool load_after_deleting(const std::wstring& path, std::uint32_t size, void* block)
{
    ::DeleteFileW(path.c_str());
    return ::GetFileVersionInfoW(path.c_str(), 0, size, block) != FALSE;
}

bool load_after_replacing(const std::wstring& path, std::uint32_t size, void* block)
{
    ::CopyFileW(windows_path_of_unix(VARNOX_NO_VERSION_RESOURCE).c_str(), path.c_str(), FALSE);
    return ::GetFileVersionInfoW(path.c_str(), 0, size, block) != FALSE;
}

class file_version_info_errors : public ::testing::Test {
protected:
    void SetUp() override
    {
        log_path = folder.file(L"version.log");
        varnox::the_logger().set_path(log_path);
    }
    void TearDown() override { varnox::the_logger().set_path(L""); }

    std::string log_text() { return test_support::read_file(log_path); }

    test_support::temp_folder folder;
    std::wstring log_path;
};

} // namespace

// A default record has every number 0 and every string empty.
TEST(file_version_info, default_record_is_empty)
{
    const file_version_info info;
    EXPECT_EQ(0u, info.file_version_ms + info.file_version_ls + info.product_version_ms + info.product_version_ls +
                      info.file_flags_mask + info.file_flags + info.file_os + info.file_type + info.file_subtype +
                      info.file_date_ms + info.file_date_ls + info.language + info.code_page);
    expect_strings({L"", L"", L"", L"", L""}, info);
}

// The fixed numbers come from VS_FIXEDFILEINFO, the strings from the table of language 0x0409, code page 0x04B0.
TEST(file_version_info, full_resource)
{
    const file_version_info info = file_version_info::get_file_version_info(windows_path_of_unix(VARNOX_VERSION_FULL));
    EXPECT_EQ(0x00010002u, info.file_version_ms);
    EXPECT_EQ(0x00030004u, info.file_version_ls);
    EXPECT_EQ(0x00050006u, info.product_version_ms);
    EXPECT_EQ(0x00070008u, info.product_version_ls);
    EXPECT_EQ(0x3Fu, info.file_flags_mask);
    EXPECT_EQ(static_cast<std::uint32_t>(VS_FF_PRERELEASE), info.file_flags);
    EXPECT_EQ(static_cast<std::uint32_t>(VOS_NT_WINDOWS32), info.file_os);
    EXPECT_EQ(static_cast<std::uint32_t>(VFT_DLL), info.file_type);
    EXPECT_EQ(0u, info.file_subtype);
    EXPECT_EQ(0u, info.file_date_ms);
    EXPECT_EQ(0u, info.file_date_ls);
    EXPECT_EQ(0x0409, info.language);
    EXPECT_EQ(0x04B0, info.code_page);
    expect_strings({L"Sample Company", L"Sample Product", L"sample_internal", L"sample.dll",
                    L"Copyright (C) Sample Company"},
                   info);
}

// What is missing from a resource stays at its default; the rest is read.
TEST(file_version_info, partial_resources)
{
    const struct {
        const char* scenario;
        const char* dll;
        std::uint32_t file_version_ms;
        std::uint16_t language;
        std::uint16_t code_page;
        expected_strings strings;
    } cases[] = {
        {"no translation table: numbers only", VARNOX_VERSION_NO_TRANSLATION, 0x00020000, 0, 0,
         {L"", L"", L"", L"", L""}},
        {"no InternalName", VARNOX_VERSION_NO_INTERNAL_NAME, 0x00030001, 0x0409, 0x04B0,
         {L"Sample Company", L"Sample Product", L"", L"sample.dll", L"Copyright (C) Sample Company"}},
        {"two translation entries: the first wins", VARNOX_VERSION_TWO_TRANSLATIONS, 0x00040000, 0x0407, 0x04E4,
         {L"Beispiel GmbH", L"Beispielprodukt", L"beispiel", L"beispiel.dll", L"Copyright (C) Beispiel GmbH"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const file_version_info info = file_version_info::get_file_version_info(windows_path_of_unix(c.dll));
        EXPECT_EQ(c.file_version_ms, info.file_version_ms);
        EXPECT_EQ(c.language, info.language);
        EXPECT_EQ(c.code_page, info.code_page);
        expect_strings(c.strings, info);
    }
}

// The system's kernel32.dll carries a version resource with a product version of 10.0 or later.
TEST(file_version_info, system_kernel32)
{
    const std::wstring path = varnox::windows::get_system_folder() + L"\\kernel32.dll";
    const file_version_info info = file_version_info::get_file_version_info(path);
    EXPECT_GE(HIWORD(info.product_version_ms), 10u);
    EXPECT_NE(0u, HIWORD(info.product_version_ls));
    EXPECT_EQ(static_cast<std::uint32_t>(VFT_DLL), info.file_type);
    EXPECT_NE(0, info.language);
    EXPECT_FALSE(info.company_name.empty());
    EXPECT_FALSE(info.original_filename.empty());
}

// An empty path is logged and raised with error 87, before anything else is tried.
TEST_F(file_version_info_errors, empty_path)
{
    const thrown error = throw_of(L"");
    ASSERT_TRUE(error.caught);
    EXPECT_EQ(L"File path is empty.", error.message);
    EXPECT_EQ(L"varnox::windows::file_version_info::get_file_version_info", error.function);
    EXPECT_NE(std::wstring::npos, error.file.find(L"varnox/windows/file_version_info")) << test_support::to_utf8(error.file);
    EXPECT_EQ(42, error.line);
    ASSERT_TRUE(error.has_code);
    EXPECT_EQ(static_cast<std::uint32_t>(ERROR_INVALID_PARAMETER), error.code);
    EXPECT_NE(std::string::npos, log_text().find("|E|file_ver(41) - File path is empty \r\n")) << log_text();
}

// A file that cannot give a version resource is logged and raised with the size query's error.
TEST_F(file_version_info_errors, unreadable_resource)
{
    // Windows answers 1813 (type not found) where resources exist without a
    // version, Wine 1812 (data not found) for both resource cases.
    const struct {
        const char* scenario;
        std::wstring path;
        std::set<std::uint32_t> codes;
    } cases[] = {
        {"missing file", folder.file(L"missing.dll"), {ERROR_FILE_NOT_FOUND}},
        {"resources without a version", windows_path_of_unix(VARNOX_NO_VERSION_RESOURCE),
         {ERROR_RESOURCE_TYPE_NOT_FOUND, ERROR_RESOURCE_DATA_NOT_FOUND}},
        {"no resources at all", windows_path_of_unix(VARNOX_NO_RESOURCES),
         {ERROR_RESOURCE_TYPE_NOT_FOUND, ERROR_RESOURCE_DATA_NOT_FOUND}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const thrown error = throw_of(c.path);
        ASSERT_TRUE(error.caught);
        EXPECT_EQ(L"Can't get the file version info (" + c.path + L")", error.message);
        EXPECT_EQ(L"varnox::windows::file_version_info::get_file_version_info", error.function);
        EXPECT_EQ(50, error.line);
        ASSERT_TRUE(error.has_code);
        EXPECT_EQ(1u, c.codes.count(error.code)) << test_support::to_utf8(test_support::error_text(error.code));
        // The logged code is the raised one.
        EXPECT_NE(std::string::npos, log_text().find("|E|file_ver(49) - Can't get the file version info (" +
                                                     test_support::to_utf8(c.path) + ") [Error: " +
                                                     std::to_string(error.code) + "] \r\n"))
            << log_text();
    }
}

// A file that loses its version resource between the size query and the load
// is logged and raised with the load's error, not read as an empty record.
TEST_F(file_version_info_errors, failed_load)
{
    const struct {
        const char* scenario;
        file_version_info::resource_loader load;
        std::set<std::uint32_t> codes;
    } cases[] = {
        {"deleted", &load_after_deleting, {ERROR_FILE_NOT_FOUND}},
        {"replaced by a file without a version", &load_after_replacing,
         {ERROR_RESOURCE_TYPE_NOT_FOUND, ERROR_RESOURCE_DATA_NOT_FOUND}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const std::wstring path = folder.file(L"changing.dll");
        ASSERT_TRUE(::CopyFileW(windows_path_of_unix(VARNOX_VERSION_FULL).c_str(), path.c_str(), FALSE));
        const thrown error = throw_of(path, c.load);
        ASSERT_TRUE(error.caught);
        EXPECT_EQ(L"Can't load the file version info (" + path + L")", error.message);
        EXPECT_EQ(L"varnox::windows::file_version_info::get_file_version_info", error.function);
        EXPECT_EQ(58, error.line);
        ASSERT_TRUE(error.has_code);
        EXPECT_EQ(1u, c.codes.count(error.code)) << test_support::to_utf8(test_support::error_text(error.code));
        EXPECT_NE(std::string::npos, log_text().find("|E|file_ver(57) - Can't load the file version info (" +
                                                     test_support::to_utf8(path) + ") [Error: " +
                                                     std::to_string(error.code) + "] \r\n"))
            << log_text();
    }
}
