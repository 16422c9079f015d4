#include "varnox/windows/text_file.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "varnox/windows/code_page.h"
#include "varnox/windows/handle.h"

namespace varnox {
namespace windows {

namespace {

// False with the last error set when a read fails before the end of the file.
bool read_all_bytes(const std::wstring& path, std::string& bytes)
{
    unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    char buffer[16384];
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr))
            return false;
        if (read == 0)
            return true;
        bytes.append(buffer, read);
    }
}

} // namespace

bool decode_utf8(const std::string& bytes, std::wstring& text)
{
    text.clear();
    text.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            text.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        size_t length = 0;
        std::uint32_t code_point = 0;
        // The allowed range of the second byte; it excludes overlong forms,
        // surrogates and code points beyond U+10FFFF.
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code_point = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code_point = lead & 0x0F;
            if (lead == 0xE0)
                low = 0xA0;
            if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code_point = lead & 0x07;
            if (lead == 0xF0)
                low = 0x90;
            if (lead == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (bytes.size() - i < length)
            return false;
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if (next < low || next > high)
                return false;
            low = 0x80;
            high = 0xBF;
            code_point = (code_point << 6) | (next & 0x3F);
        }
        if (code_point >= 0x10000) {
            code_point -= 0x10000;
            text.push_back(static_cast<wchar_t>(0xD800 + (code_point >> 10)));
            text.push_back(static_cast<wchar_t>(0xDC00 + (code_point & 0x3FF)));
        } else {
            text.push_back(static_cast<wchar_t>(code_point));
        }
        i += length;
    }
    return true;
}

text_file_read read_whole_text_file(const std::wstring& path, std::wstring& text)
{
    text.clear();
    std::string bytes;
    if (!read_all_bytes(path, bytes))
        return text_file_read::unreadable;
    // CR and LF never occur inside a multi-byte sequence: the pairs can be
    // folded before decoding.
    std::string folded;
    folded.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            continue;
        folded.push_back(bytes[i]);
    }
    if (!decode_utf8(folded, text)) {
        text.clear();
        return text_file_read::not_utf8;
    }
    return text_file_read::complete;
}

std::wstring read_text_file(const std::wstring& path)
{
    std::wstring text;
    read_whole_text_file(path, text);
    return text;
}

bool write_text_file(const std::wstring& path, const std::wstring& text)
{
    std::wstring crlf;
    crlf.reserve(text.size() + text.size() / 16 + 2);
    for (const wchar_t c : text) {
        if (c == L'\n')
            crlf.push_back(L'\r');
        crlf.push_back(c);
    }
    const std::string bytes = to_code_page(crlf, CP_UTF8);

    unique_hfile file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
        DWORD written = 0;
        if (!::WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr))
            return false;
        if (written == 0) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        done += written;
    }
    if (!::FlushFileBuffers(file.get()))
        return false;
    // A close that fails loses what the flush did not cover.
    if (!::CloseHandle(file.release()))
        return false;
    return true;
}

} // namespace windows
} // namespace varnox
