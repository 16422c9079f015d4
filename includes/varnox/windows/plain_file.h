#pragma once

#include <windows.h>

namespace varnox {
namespace windows {

// Whether an open file is a file of its own: no folder, no reparse point, and
// no other name (a hard link) through which its content could change. When it
// is not, error is ERROR_CANT_ACCESS_FILE, or the error of reading the file's
// facts.
bool is_plain_file(HANDLE file, DWORD& error);

} // namespace windows
} // namespace varnox
