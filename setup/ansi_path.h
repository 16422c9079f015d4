#pragma once

#include <optional>
#include <string>

namespace install {

// The archive reader writes below a folder given in the system's ANSI code
// page. The path after its round trip through that code page, or nothing when
// the round trip does not give back the very same path: a character the code
// page lacks would otherwise come back as a look-alike ("．．" as ".."), and
// the files would go somewhere else.
std::optional<std::wstring> ansi_round_trip(const std::wstring& path);

} // namespace install
