// The log's platform calls on Windows.
#include "varnox/common/log.h"
#include "varnox/common/log_platform.h"

#include <windows.h>

#include "varnox/common/archive_file.h"
#include "varnox/windows/handle.h"

namespace varnox {

std::wstring vformat_wstring(const wchar_t* format, va_list args)
{
    if (format == nullptr)
        return std::wstring();
    va_list counting;
    va_copy(counting, args);
    const int length = ::_vscwprintf(format, counting);
    va_end(counting);
    if (length <= 0)
        return std::wstring();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    va_list filling;
    va_copy(filling, args);
    const int written = ::_vsnwprintf(&text[0], text.size(), format, filling);
    va_end(filling);
    text.resize(written < 0 ? 0 : static_cast<size_t>(written));
    return text;
}

namespace log_platform {

namespace {

// Whether an open file is a file of its own: not a link, nor one of several
// names of a file.
bool is_plain_file(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION information = {};
    return ::GetFileInformationByHandle(file, &information) &&
           (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
           information.nNumberOfLinks <= 1;
}

} // namespace

clock_reading local_time()
{
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

unsigned thread_id() { return ::GetCurrentThreadId(); }

void debugger_output(const wchar_t* text) { ::OutputDebugStringW(text); }

bool remove_name(const std::wstring& path)
{
    archive::removed found = archive::removed::nothing;
    return archive::remove_entry(path, found) == 0;
}

bool move_name(const std::wstring& from, const std::wstring& to)
{
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
        return true;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The temporary folder of a run as LocalSystem is C:\Windows\Temp, where
// anyone may create names: the log's own name may hold a planted link.
bool append_to_file(const std::wstring& path, const std::string& bytes, std::uint64_t& size_after)
{
    constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    constexpr DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    windows::unique_hfile file;
    for (const DWORD disposition : {static_cast<DWORD>(OPEN_ALWAYS), static_cast<DWORD>(CREATE_NEW)}) {
        file.reset(::CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, share, nullptr, disposition,
                                 flags, nullptr));
        if (!file || is_plain_file(file.get()))
            break;
        file.reset();
        if (!remove_name(path))
            break;
    }
    if (!file)
        return false;
    DWORD written = 0;
    ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.get(), &size))
        return false;
    size_after = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

} // namespace log_platform
} // namespace varnox
