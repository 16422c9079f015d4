#pragma once

// The items of REG_MULTI_SZ data, as a pure function of its bytes: the
// registry class reads values with it, and the native build fuzzes it.

#include <cstddef>
#include <string>
#include <vector>

namespace varnox {
namespace windows {

// The items of REG_MULTI_SZ data (UTF-16, little-endian): each
// zero-terminated run of characters inside the size (rounded down to whole
// characters), a final zero left out; characters after the last zero make
// an item too.
std::vector<std::u16string> parse_multi_string_units(const unsigned char* data, std::size_t size);

} // namespace windows
} // namespace varnox
