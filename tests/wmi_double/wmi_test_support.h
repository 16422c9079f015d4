#pragma once

// Helpers for tests of WMI code: the log lines written during a test, and the
// records of a caught wmi_exception.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace wmi_double {

// A line as the log hands it to its debug output, "<header> |X| text\n":
// the severity letter (0 when the line has no "|X|") and the text.
struct log_line {
    wchar_t letter = 0;
    std::wstring text;
};
log_line parse_log_line(const std::wstring& line);

// Sends every log message up to a threshold to memory while it lives.
class log_capture {
public:
    explicit log_capture(int threshold = 10);
    ~log_capture();
    log_capture(const log_capture&) = delete;
    log_capture& operator=(const log_capture&) = delete;

    // The message texts, each without its header.
    std::vector<std::wstring> messages() const;
    // Whether some message equals text exactly (text after the "|X| " header).
    bool contains(const std::wstring& text) const;
    // The severity letter of the first message equal to text, 0 when none.
    wchar_t letter_of(const std::wstring& text) const;
    void clear();

private:
    int _old_level;
};

struct caught_error {
    bool caught = false;
    // The error is a wmi_exception (catch_error takes the whole family).
    bool wmi = false;
    bool has_code = false;
    std::uint32_t code = 0;
    std::wstring message;
    std::wstring function;
    std::wstring composed;
};

// Runs action and records the wmi_exception that it raises, if any.
caught_error catch_wmi_error(const std::function<void()>& action);
// The same for any error of the exception_base family.
caught_error catch_error(const std::function<void()>& action);

std::wstring hex(std::uint32_t code);

} // namespace wmi_double
