#pragma once

// Owners of the POSIX handles that the native build's file layer opens.

#include <dirent.h>
#include <unistd.h>

#include "varnox/common/unique_any.h"

namespace varnox {
namespace posix {

struct file_descriptor_traits {
    using pointer = int;
    static pointer invalid() noexcept { return -1; }
    static void close(pointer value) noexcept { ::close(value); }
};

struct directory_traits {
    using pointer = DIR*;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer value) noexcept { ::closedir(value); }
};

using unique_fd = unique_any<file_descriptor_traits>;
using unique_dir = unique_any<directory_traits>;

} // namespace posix
} // namespace varnox
