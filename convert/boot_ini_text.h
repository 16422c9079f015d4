#pragma once

// The text handling of the boot.ini editor, as pure functions of the file's
// text (line feeds as line ends): the editor reads and writes the file around
// them, and the native build fuzzes them.

#include <string>

// The journal driver's boot option, with its leading blank.
constexpr wchar_t boot_ini_driver_option[] = L" /ZMVF:OFF";

// The default line's switches with the driver option once, at the end: the
// value from its first "/" outside the quoted name, every " /ZMVF:OFF"
// removed, then " /ZMVF:OFF" appended (alone for a value without switches).
std::wstring driver_disabled_switches(const std::wstring& default_value);

// The added line: key="description" switches.
std::wstring driver_disabled_line(const std::wstring& default_key, const std::wstring& description,
                                  const std::wstring& default_value);

// The text without its trailing blanks and line ends, then a line feed, the
// line and a line feed.
std::wstring text_with_line_added(const std::wstring& text, const std::wstring& line);

// Every line that does not contain description, trimmed, each followed by a
// line feed; empty lines go. Lines end at every carriage return and line feed.
std::wstring text_without_lines_containing(const std::wstring& text, const std::wstring& description);
