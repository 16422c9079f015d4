// The log's platform calls in the native build for Linux. Formats follow the
// Windows C runtime's wide printf, where "%s" takes a wide string: they are
// rewritten for the C library's, where it takes a narrow one.
#include "varnox/common/log.h"
#include "varnox/common/log_platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <cwchar>
#include <optional>
#include <vector>

#include "varnox/posix/handle.h"
#include "varnox/windows/code_page.h"

namespace varnox {

namespace {

bool is_flag_or_width(wchar_t c) { return std::wcschr(L"-+ #0123456789.*", c) != nullptr && c != L'\0'; }

std::optional<std::string> on_disk(const std::wstring& path)
{
    std::optional<std::string> bytes = windows::to_code_page_exact(path, CP_UTF8);
    if (bytes && bytes->empty())
        return std::nullopt;
    return bytes;
}

} // namespace

// %s and %c take wide text, %S, %C, %hs and %hc narrow text, %I64 is ll.
std::wstring windows_format_for_posix(const wchar_t* format)
{
    std::wstring rewritten;
    for (const wchar_t* at = format; *at;) {
        if (*at != L'%') {
            rewritten += *at++;
            continue;
        }
        rewritten += *at++;
        if (*at == L'%') {
            rewritten += *at++;
            continue;
        }
        while (is_flag_or_width(*at))
            rewritten += *at++;
        wchar_t size = 0;
        if (*at == L'h' || *at == L'l' || *at == L'w') {
            size = *at++;
            // "ll" and "hh" stay as they are.
            if ((size == L'l' || size == L'h') && *at == size) {
                rewritten += size;
                rewritten += *at++;
                size = 0;
            }
        } else if (at[0] == L'I' && at[1] == L'6' && at[2] == L'4') {
            rewritten += L"ll";
            at += 3;
        } else if (*at == L'z' || *at == L'j' || *at == L't' || *at == L'L') {
            rewritten += *at++;
        }
        const wchar_t conversion = *at;
        if (conversion == L'\0')
            break;
        ++at;
        const bool text = conversion == L's' || conversion == L'c' || conversion == L'S' || conversion == L'C';
        if (text) {
            const bool narrow = size == L'h' || ((conversion == L'S' || conversion == L'C') && size == 0);
            if (!narrow)
                rewritten += L'l';
            rewritten += (conversion == L'S' || conversion == L's') ? L's' : L'c';
        } else {
            if (size == L'l' || size == L'h')
                rewritten += size;
            rewritten += conversion;
        }
    }
    return rewritten;
}

std::wstring vformat_wstring(const wchar_t* format, va_list args)
{
    if (format == nullptr)
        return std::wstring();
    const std::wstring posix_format = windows_format_for_posix(format);
    // vswprintf cannot count: the buffer grows until the text fits.
    for (std::size_t size = 256; size <= (1u << 26); size *= 4) {
        std::vector<wchar_t> buffer(size);
        va_list filling;
        va_copy(filling, args);
        const int written = std::vswprintf(buffer.data(), buffer.size(), posix_format.c_str(), filling);
        va_end(filling);
        if (written >= 0 && static_cast<std::size_t>(written) < size)
            return std::wstring(buffer.data(), static_cast<std::size_t>(written));
    }
    return std::wstring();
}

namespace log_platform {

clock_reading local_time()
{
    timeval now{};
    ::gettimeofday(&now, nullptr);
    std::tm local{};
    const std::time_t seconds = now.tv_sec;
    ::localtime_r(&seconds, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
            static_cast<int>(now.tv_usec / 1000)};
}

unsigned thread_id() { return static_cast<unsigned>(::syscall(SYS_gettid)); }

void debugger_output(const wchar_t* text)
{
    const std::string bytes = windows::to_code_page(text ? text : L"", CP_UTF8);
    std::fputs(bytes.c_str(), stderr);
}

bool append_to_file(const std::wstring& path, const std::string& bytes, std::uint64_t& size_after)
{
    const std::optional<std::string> name = on_disk(path);
    if (!name)
        return false;
    posix::unique_fd file(::open(name->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666));
    struct stat status {};
    // A hard link planted at the name goes as a link; a symbolic one fails
    // the opening above and the next write's, so nothing is written through.
    if (file && ::fstat(file.get(), &status) == 0 && status.st_nlink > 1) {
        file.reset();
        if (::unlink(name->c_str()) != 0)
            return false;
        file.reset(::open(name->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
    }
    if (!file)
        return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(file.get(), bytes.data() + done, bytes.size() - done);
        if (written <= 0)
            break;
        done += static_cast<std::size_t>(written);
    }
    if (::fstat(file.get(), &status) != 0)
        return false;
    size_after = static_cast<std::uint64_t>(status.st_size);
    return true;
}

} // namespace log_platform
} // namespace varnox
