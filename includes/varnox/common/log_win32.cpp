// The log's platform calls on Windows.
#include "varnox/common/log.h"
#include "varnox/common/log_platform.h"

#include <windows.h>

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

clock_reading local_time()
{
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

unsigned thread_id() { return ::GetCurrentThreadId(); }

void debugger_output(const wchar_t* text) { ::OutputDebugStringW(text); }

bool file_exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool delete_file(const std::wstring& path) { return ::DeleteFileW(path.c_str()) != FALSE; }

bool move_file(const std::wstring& from, const std::wstring& to)
{
    return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != FALSE;
}

bool append_to_file(const std::wstring& path, const std::string& bytes, std::uint64_t& size_after)
{
    windows::unique_hfile file(::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
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
