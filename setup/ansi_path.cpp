#include "ansi_path.h"

#include <windows.h>

#include "varnox/windows/code_page.h"

namespace install {

std::optional<std::wstring> ansi_round_trip(const std::wstring& path)
{
    const std::wstring back =
        varnox::windows::from_code_page(varnox::windows::to_code_page(path, CP_ACP), CP_ACP);
    if (back != path)
        return std::nullopt;
    return back;
}

} // namespace install
