#pragma once

// The archive reader's file layer: every call that the reader, the payload
// scan and the setup bundler make to the file system goes through here. The
// Windows build implements it in archive_file.cpp, the native build for
// Linux in archive_file_posix.cpp; nothing else differs between them.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include "varnox/windows/handle.h"
#else
#include "varnox/posix/handle.h"
#endif

namespace varnox {
namespace archive {

// A system error code carried from the failed call (a Win32 error on
// Windows, an errno value elsewhere); 0 means success.
using file_error = std::uint32_t;

#ifdef _WIN32
using file_owner = windows::unique_hfile;
#else
using file_owner = posix::unique_fd;
#endif

// The executable file, read in place at any offset while others may still
// read and write it.
class archive_file {
public:
    // Null when the file cannot be opened.
    static std::shared_ptr<archive_file> open(const std::wstring& path);

    std::uint64_t size() const;
    // The last write time in seconds since 1970 (UTC); -1 when unknown.
    std::int64_t modification_time() const;
    // Reads up to count bytes at offset; fewer at the end of the file or on a
    // read error, never throws.
    std::size_t read_at(std::uint64_t offset, void* buffer, std::size_t count) const noexcept;

private:
    explicit archive_file(file_owner file) : _file(std::move(file)) {}

    file_owner _file;
};

// A member's file while it is written: a new file, never an existing one or
// whatever a link at its place points to, that nobody else may write, rename
// or delete until it is finished or discarded. Others may read it.
class target_file {
public:
    // Fails (error_file_exists()) when anything stands at path.
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

    // Takes the newly made file at path over.
    void _adopt(file_owner file, const std::wstring& path);
    file_error _flush();

    file_owner _file;
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

// What stands at a path, for the reader's opening: a file with its size,
// nothing, or something else (a folder; error holds why it is no file).
enum class entry_kind { missing, file, other };
entry_kind probe_entry(const std::wstring& path, std::uint64_t& size, file_error& error);

// The folder part of a path, as the platform reads paths: "C:\a\b" gives
// "C:\a", "C:\a" gives "C:\", "a" gives "" (on Linux "/a/b" gives "/a").
std::wstring parent_folder(const std::wstring& path);

// The files below folder (following no link to a folder), by their paths
// relative to it with "/" between the parts, in no particular order.
file_error list_files_below(const std::wstring& folder, std::vector<std::wstring>& files);

// The separator that joins a folder and a name into a path.
#ifdef _WIN32
constexpr wchar_t path_separator = L'\\';
#else
constexpr wchar_t path_separator = L'/';
#endif

// A member's name as a path below the target folder: on Windows as stored
// (both kinds of slash separate folders there), elsewhere with a backslash as "/".
std::wstring member_path(const std::wstring& name);

// Moves the file at from to the name to, replacing a file there.
file_error move_replacing(const std::wstring& from, const std::wstring& to);

#ifdef _WIN32
// ERROR_REPARSE_POINT_ENCOUNTERED, which older SDK headers lack.
constexpr file_error error_link_in_the_way = 4395;
// ERROR_INVALID_PARAMETER.
constexpr file_error error_invalid_argument = 87;
#else
constexpr file_error error_link_in_the_way = ELOOP;
constexpr file_error error_invalid_argument = EINVAL;
#endif

// Creates relative's folders (separated by "/" or "\") below root, which
// exists; an existing one there must be a real folder: a link in its place
// gives error_link_in_the_way, a file ERROR_DIRECTORY (ENOTDIR).
file_error create_folders_below(const std::wstring& root, const std::wstring& relative);

// The system's text for an error code, for the log.
std::wstring error_text(file_error error);

} // namespace archive
} // namespace varnox
