// The parts of the file layer that are the same on every platform.
#include "varnox/common/archive_file.h"

namespace varnox {
namespace archive {

void target_file::_adopt(file_owner file, const std::wstring& path)
{
    _file = std::move(file);
    _path = path;
    _written = 0;
    _buffer.clear();
    _buffer.reserve(buffer_size);
}

file_error target_file::write(std::uint64_t offset, const void* data, std::size_t count)
{
    if (!_file || offset != _written)
        return error_invalid_argument;
    // The inflater hands over 32 KiB at a time; the disk gets fewer, larger
    // writes.
    const char* bytes = static_cast<const char*>(data);
    _buffer.insert(_buffer.end(), bytes, bytes + count);
    _written += count;
    return _buffer.size() >= buffer_size ? _flush() : 0;
}

} // namespace archive
} // namespace varnox
