#include "ansi_path.h"

#include <windows.h>

#include "varnox/windows/code_page.h"

namespace install {

std::optional<std::wstring> ansi_round_trip(const std::wstring& path)
{
    const std::optional<std::string> narrow = varnox::windows::to_code_page_exact(path, CP_ACP);
    if (!narrow)
        return std::nullopt;
    std::optional<std::wstring> back = varnox::windows::from_code_page_exact(*narrow, CP_ACP);
    if (!back || *back != path)
        return std::nullopt;
    return back;
}

} // namespace install
