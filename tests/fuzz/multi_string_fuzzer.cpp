// The REG_MULTI_SZ item parser. Input: the value's data.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "varnox/windows/registry_multi_string.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto items = varnox::windows::parse_multi_string_units(data, size);
    // Items hold no zero and, with one zero between each two, fit the data.
    std::size_t units = 0;
    for (const std::u16string& item : items) {
        FUZZ_CHECK(item.find(u'\0') == std::u16string::npos);
        units += item.size();
    }
    if (!items.empty())
        FUZZ_CHECK(units + items.size() - 1 <= size / 2);
    if (size / 2 == 0)
        FUZZ_CHECK(items.empty());
    return 0;
}
