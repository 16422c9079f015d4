#include "varnox/common/exception.h"

#include "varnox/common/log.h"

namespace varnox {

std::wstring compose_exception_message(const boost::exception* error)
{
    std::wstring text;
    if (error == nullptr)
        return text;
    if (const auto* file = boost::get_error_info<throw_wfile_>(*error))
        text = format_wstring(L"%s", *file);
    const int* line = boost::get_error_info<boost::throw_line>(*error);
    if (line && *line != -1)
        text = format_wstring(L"%s(%d)", text.c_str(), *line);
    if (const auto* function = boost::get_error_info<throw_wfunction_>(*error))
        text = format_wstring(L"%s : %s", text.c_str(), *function);
    if (const auto* message = boost::get_error_info<throw_wmessage_>(*error))
        text = format_wstring(L"%s - %s", text.c_str(), message->c_str());
    if (const auto* code = boost::get_error_info<throw_errorno_>(*error))
        text = format_wstring(L"%s (0x%08X)", text.c_str(), *code);
    return text;
}

} // namespace varnox
