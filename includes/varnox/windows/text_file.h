#pragma once

#include <string>

namespace varnox {
namespace windows {

// Text files in UTF-8 without a byte-order mark, with CR LF line ends on disk
// and LF in memory. A byte-order mark gets no handling of its own: it is read as
// U+FEFF and written back as such.

enum class text_file_read {
    complete,   // the whole file was read and decoded
    unreadable, // it could not be opened or read to its end; the thread's last error says why
    not_utf8,   // its bytes are not valid UTF-8
};

// Reads the whole file into text; each CR LF pair becomes one LF, a lone CR
// stays. text is empty unless the result is complete, so that a part of a file
// is never taken for all of it.
text_file_read read_whole_text_file(const std::wstring& path, std::wstring& text);

// The whole file as text, or the empty string when it cannot be read whole or
// is not UTF-8.
std::wstring read_text_file(const std::wstring& path);

// Creates or truncates the file and writes text as UTF-8, each LF as CR LF,
// flushed to the disk before the file is closed. False, with the thread's last
// error set, when the file cannot be created or written completely.
bool write_text_file(const std::wstring& path, const std::wstring& text);

// Strict UTF-8 (no overlong forms, surrogates or code points beyond U+10FFFF)
// to UTF-16; false at the first invalid or incomplete sequence.
bool decode_utf8(const std::string& bytes, std::wstring& text);

} // namespace windows
} // namespace varnox
