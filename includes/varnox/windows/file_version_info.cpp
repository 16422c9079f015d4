#include "varnox/windows/file_version_info.h"

#include <windows.h>

#include <cwchar>

#include "varnox/common/log.h"
#include "varnox/windows/handle.h"
#include "varnox/windows/system_library.h"

namespace varnox {
namespace windows {

namespace {

const wchar_t log_source[] = L"varnox/windows/file_version_info";
const wchar_t function_name[] = L"varnox::windows::file_version_info::get_file_version_info";

// Fixed line numbers that log readers key on.
constexpr int line_empty_path_log = 41;
constexpr int line_empty_path_throw = 42;
constexpr int line_no_resource_log = 49;
constexpr int line_no_resource_throw = 50;
constexpr int line_no_memory_log = 53;
constexpr int line_no_memory_throw = 54;
constexpr int line_load_failed_log = 57;
constexpr int line_load_failed_throw = 58;

// version.dll is no KnownDLL: it comes from the system folder, loaded once,
// never imported (a copy beside the executable would be loaded instead).
struct version_library {
    system_library library{L"version.dll"};
    decltype(&::GetFileVersionInfoSizeW) get_size =
        library.function<decltype(&::GetFileVersionInfoSizeW)>("GetFileVersionInfoSizeW");
    decltype(&::GetFileVersionInfoW) get_info =
        library.function<decltype(&::GetFileVersionInfoW)>("GetFileVersionInfoW");
    decltype(&::VerQueryValueW) query_value = library.function<decltype(&::VerQueryValueW)>("VerQueryValueW");

    // The last error of a call that cannot be made.
    DWORD missing_error() const { return library.loaded() ? ERROR_PROC_NOT_FOUND : library.load_error(); }
};

const version_library& version()
{
    static const version_library instance;
    return instance;
}

DWORD get_file_version_info_size(const wchar_t* path, DWORD* handle)
{
    if (!version().get_size) {
        ::SetLastError(version().missing_error());
        return 0;
    }
    return version().get_size(path, handle);
}

BOOL get_file_version_info(const wchar_t* path, DWORD size, void* block)
{
    if (!version().get_info) {
        ::SetLastError(version().missing_error());
        return FALSE;
    }
    return version().get_info(path, 0, size, block);
}

BOOL ver_query_value(const void* block, const wchar_t* sub_block, void** value, UINT* length)
{
    if (!version().query_value)
        return FALSE;
    return version().query_value(block, sub_block, value, length);
}

// The string value at sub_block, or nothing when the query fails.
bool query_string(const void* block, const wchar_t* sub_block, std::wstring& value)
{
    void* text = nullptr;
    UINT length = 0;
    if (!ver_query_value(block, sub_block, &text, &length) || text == nullptr)
        return false;
    value = static_cast<const wchar_t*>(text);
    return true;
}

bool load_from_platform(const std::wstring& path, std::uint32_t size, void* block)
{
    return get_file_version_info(path.c_str(), size, block) != FALSE;
}

} // namespace

file_version_info file_version_info::get_file_version_info(const std::wstring& path)
{
    return get_file_version_info(path, &load_from_platform);
}

file_version_info file_version_info::get_file_version_info(const std::wstring& path, resource_loader load)
{
    file_version_info info;

    if (path.empty()) {
        VARNOX_LOG(1, log_source, line_empty_path_log, L"File path is empty");
        const std::uint32_t code = ERROR_INVALID_PARAMETER;
        throw_error<file_version_info_exception>(VARNOX_THROW_SITE(function_name, line_empty_path_throw),
                                                 &code, format_message(L"File path is empty."));
    }

    DWORD ignored_handle = 0;
    const DWORD size = get_file_version_info_size(path.c_str(), &ignored_handle);
    if (size == 0) {
        const std::uint32_t code = ::GetLastError();
        VARNOX_LOG(1, log_source, line_no_resource_log, L"Can't get the file version info (%s) [Error: %d]",
                   path.c_str(), static_cast<int>(code));
        throw_error<file_version_info_exception>(VARNOX_THROW_SITE(function_name, line_no_resource_throw),
                                                 &code,
                                                 format_message(L"Can't get the file version info (%s)", path));
    }

    unique_hglobal block(::GlobalAlloc(GPTR, size));
    if (!block) {
        const std::uint32_t code = ::GetLastError();
        VARNOX_LOG(1, log_source, line_no_memory_log,
                   L"Can't allocate memory for the file version info (%s) [Error: %d]", path.c_str(),
                   static_cast<int>(code));
        throw_error<file_version_info_exception>(
            VARNOX_THROW_SITE(function_name, line_no_memory_throw), &code,
            format_message(L"Can't allocate memory for the file version info (%s)", path));
    }
    void* data = block.get(); // GPTR memory is fixed: the handle is the address.
    // A file that changed since the size query (replaced, removed) fails here.
    const bool loaded = load(path, size, data);
    if (!loaded) {
        const std::uint32_t code = ::GetLastError();
        VARNOX_LOG(1, log_source, line_load_failed_log, L"Can't load the file version info (%s) [Error: %d]",
                   path.c_str(), static_cast<int>(code));
        throw_error<file_version_info_exception>(VARNOX_THROW_SITE(function_name, line_load_failed_throw), &code,
                                                 format_message(L"Can't load the file version info (%s)", path));
    }

    void* root = nullptr;
    UINT root_length = 0;
    if (ver_query_value(data, L"\\", &root, &root_length) && root != nullptr
        && root_length >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(root);
        info.file_version_ms = fixed->dwFileVersionMS;
        info.file_version_ls = fixed->dwFileVersionLS;
        info.product_version_ms = fixed->dwProductVersionMS;
        info.product_version_ls = fixed->dwProductVersionLS;
        info.file_flags_mask = fixed->dwFileFlagsMask;
        info.file_flags = fixed->dwFileFlags;
        info.file_os = fixed->dwFileOS;
        info.file_type = fixed->dwFileType;
        info.file_subtype = fixed->dwFileSubtype;
        info.file_date_ms = fixed->dwFileDateMS;
        info.file_date_ls = fixed->dwFileDateLS;
    }

    void* translation = nullptr;
    UINT translation_length = 0;
    if (ver_query_value(data, L"\\VarFileInfo\\Translation", &translation, &translation_length)
        && translation != nullptr && translation_length > 1) {
        const auto* entry = static_cast<const WORD*>(translation);
        info.language = entry[0];
        // A table of a single byte or word has no code page to read.
        if (translation_length >= 2 * sizeof(WORD))
            info.code_page = entry[1];

        const struct {
            const wchar_t* name;
            std::wstring file_version_info::*field;
        } strings[] = {
            {L"CompanyName", &file_version_info::company_name},
            {L"ProductName", &file_version_info::product_name},
            {L"InternalName", &file_version_info::internal_name},
            {L"LegalCopyright", &file_version_info::legal_copyright},
            {L"OriginalFilename", &file_version_info::original_filename},
        };
        for (const auto& string : strings) {
            wchar_t sub_block[128] = {};
            ::_snwprintf(sub_block, 127, L"\\StringFileInfo\\%04x%04x\\%ls", info.language, info.code_page,
                         string.name);
            query_string(data, sub_block, info.*string.field);
        }
    }

    return info;
}

} // namespace windows
} // namespace varnox
