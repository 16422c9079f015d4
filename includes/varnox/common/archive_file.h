#pragma once

// The archive reader's file layer: every call the reader makes to the file
// system goes through here, so that a build for another platform replaces
// this layer and nothing else.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "varnox/windows/handle.h"

namespace varnox {
namespace archive {

// A system error code carried from the failed call (a Win32 error here);
// 0 means success.
using file_error = std::uint32_t;

// The executable file, read in place at any offset while others may still
// read and write it.
class archive_file {
public:
    // Null when the file cannot be opened.
    static std::shared_ptr<archive_file> open(const std::wstring& path);

    std::uint64_t size() const;
    // Reads up to count bytes at offset; fewer at the end of the file or on a
    // read error, never throws.
    std::size_t read_at(std::uint64_t offset, void* buffer, std::size_t count) const noexcept;

private:
    explicit archive_file(windows::unique_hfile file) : _file(std::move(file)) {}

    windows::unique_hfile _file;
};

// A member's file while it is written: a new file, never an existing one or
// whatever a link at its place points to, that nobody else may write, rename
// or delete until it is finished or discarded. Others may read it.
class target_file {
public:
    // Fails (ERROR_FILE_EXISTS) when anything stands at path.
    static file_error create(const std::wstring& path, target_file& created);

    target_file() = default;
    target_file(target_file&&) = default;
    target_file& operator=(target_file&&) = default;

    bool is_open() const { return _file.valid(); }
    // Appends count bytes at offset, which must be the number written so far.
    file_error write(std::uint64_t offset, const void* data, std::size_t count);
    // Sets the last access and last write time (seconds since 1970, UTC;
    // negative leaves them) and closes the file. A time that cannot be set is
    // no failure, as for the C runtime's utime.
    file_error finish(std::int64_t time);
    // Closes the file if it is open and deletes it, unless it was finished.
    file_error discard();

private:
    static constexpr std::size_t buffer_size = 1u << 20;

    file_error _flush();

    windows::unique_hfile _file;
    std::wstring _path;
    std::uint64_t _written = 0;
    std::vector<char> _buffer;
};

// What a removal found at the path.
enum class removed { nothing, entry, link };

// Removes what stands at path without following it: a file, an empty folder,
// or a link (a symbolic link, a junction or one name of a file with several
// links), never what the link points to.
file_error remove_entry(const std::wstring& path, removed& found);

// Creates the folder and its missing parents; existing folders are fine.
file_error create_folder_chain(const std::wstring& path);

// ERROR_REPARSE_POINT_ENCOUNTERED, which older SDK headers lack.
constexpr file_error error_link_in_the_way = 4395;

// Creates relative's folders (separated by "/" or "\") below root, which
// exists; an existing one there must be a real folder: a link in its place
// gives error_link_in_the_way, a file ERROR_DIRECTORY.
file_error create_folders_below(const std::wstring& root, const std::wstring& relative);

// The system's text for an error code, for the log.
std::wstring error_text(file_error error);

} // namespace archive
} // namespace varnox
