// The log's platform calls on Windows.
#include "varnox/common/log.h"
#include "varnox/common/log_platform.h"

#include <windows.h>

#include "varnox/common/archive_file.h"
#include "varnox/windows/handle.h"
#include "varnox/windows/plain_file.h"

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
        DWORD not_plain = 0;
        if (!file || windows::is_plain_file(file.get(), not_plain))
            break;
        file.reset();
        archive::removed found = archive::removed::nothing;
        if (archive::remove_entry(path, found) != 0)
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
