#include "varnox/windows/registry_multi_string.h"

namespace varnox {
namespace windows {

std::vector<std::u16string> parse_multi_string_units(const unsigned char* data, std::size_t size)
{
    std::vector<std::u16string> items;
    std::size_t count = size / 2;
    if (count == 0 || data == nullptr)
        return items;
    std::u16string characters(count, u'\0');
    for (std::size_t i = 0; i < count; ++i)
        characters[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    if (characters[count - 1] == u'\0')
        --count;
    std::size_t start = 0;
    for (std::size_t at = 0; at < count; ++at) {
        if (characters[at] != u'\0')
            continue;
        items.emplace_back(characters, start, at - start);
        start = at + 1;
    }
    // Data written without its final zeros still ends in an item: a filter
    // list must not lose its last name to a sloppy writer.
    if (start < count)
        items.emplace_back(characters, start, count - start);
    return items;
}

} // namespace windows
} // namespace varnox
