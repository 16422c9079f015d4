// The file layer of the native build for Linux: the same promises as the
// Windows one (archive_file.cpp) over POSIX calls. Paths are UTF-8 on disk.
#include "varnox/common/archive_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "varnox/windows/code_page.h"

namespace varnox {
namespace archive {

namespace {

// The path's bytes as the file system takes them; empty when the text has
// no UTF-8 form (then errno is EILSEQ).
std::optional<std::string> on_disk(const std::wstring& path)
{
    std::optional<std::string> bytes = windows::to_code_page_exact(path, CP_UTF8);
    if (!bytes || bytes->empty() || bytes->find('\0') != std::string::npos) {
        errno = bytes && bytes->empty() ? ENOENT : EILSEQ;
        return std::nullopt;
    }
    return bytes;
}

file_error error_now() { return static_cast<file_error>(errno); }

bool is_separator(wchar_t c, bool backslash_too) { return c == L'/' || (backslash_too && c == L'\\'); }

file_error list_below(const std::string& folder, const std::wstring& prefix, std::vector<std::wstring>& files)
{
    posix::unique_dir listing(::opendir(folder.c_str()));
    if (!listing)
        return error_now();
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(listing.get());
        if (!entry)
            return error_now();
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::optional<std::wstring> text = windows::from_code_page_exact(name, CP_UTF8);
        if (!text)
            return EILSEQ;
        const std::string path = folder + "/" + name;
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0)
            return error_now();
        // A link to a file counts as the file; a link to a folder is not
        // followed.
        if (S_ISLNK(status.st_mode) && ::stat(path.c_str(), &status) != 0)
            continue;
        if (S_ISREG(status.st_mode)) {
            files.push_back(prefix + *text);
        } else if (S_ISDIR(status.st_mode)) {
            struct stat own {};
            if (::lstat(path.c_str(), &own) == 0 && !S_ISLNK(own.st_mode)) {
                if (const file_error error = list_below(path, prefix + *text + L"/", files))
                    return error;
            }
        }
    }
}

} // namespace

std::shared_ptr<archive_file> archive_file::open(const std::wstring& path)
{
    const std::optional<std::string> bytes = on_disk(path);
    if (!bytes)
        return nullptr;
    // Others may keep reading and writing the file meanwhile.
    posix::unique_fd file(::open(bytes->c_str(), O_RDONLY | O_CLOEXEC));
    if (!file)
        return nullptr;
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        return nullptr;
    if (!S_ISREG(status.st_mode)) {
        errno = EISDIR;
        return nullptr;
    }
    return std::shared_ptr<archive_file>(new archive_file(std::move(file)));
}

std::int64_t archive_file::modification_time() const
{
    struct stat status {};
    if (::fstat(_file.get(), &status) != 0)
        return -1;
    return static_cast<std::int64_t>(status.st_mtime);
}

std::uint64_t archive_file::size() const
{
    struct stat status {};
    if (::fstat(_file.get(), &status) != 0 || status.st_size < 0)
        return 0;
    return static_cast<std::uint64_t>(status.st_size);
}

std::size_t archive_file::read_at(std::uint64_t offset, void* buffer, std::size_t count) const noexcept
{
    std::size_t done = 0;
    while (done < count) {
        const std::uint64_t at = offset + done;
        if (at > static_cast<std::uint64_t>(INT64_MAX))
            break;
        const std::size_t chunk = std::min<std::size_t>(count - done, 1u << 30);
        const ssize_t read = ::pread(_file.get(), static_cast<char*>(buffer) + done, chunk, static_cast<off_t>(at));
        if (read < 0 && errno == EINTR)
            continue;
        if (read <= 0)
            break;
        done += static_cast<std::size_t>(read);
    }
    return done;
}

entry_kind probe_entry(const std::wstring& path, std::uint64_t& size, file_error& error)
{
    size = 0;
    error = 0;
    const std::optional<std::string> bytes = on_disk(path);
    struct stat status {};
    if (!bytes || ::stat(bytes->c_str(), &status) != 0) {
        error = error_now();
        return error == ENOENT || error == ENOTDIR ? entry_kind::missing : entry_kind::other;
    }
    if (!S_ISREG(status.st_mode)) {
        error = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
        return entry_kind::other;
    }
    size = static_cast<std::uint64_t>(status.st_size);
    return entry_kind::file;
}

std::wstring parent_folder(const std::wstring& path)
{
    size_t end = path.size();
    while (end > 0 && path[end - 1] == L'/')
        --end;
    if (end == 0)
        return path.empty() ? std::wstring() : std::wstring(L"/");
    // A path that ends in a separator names the folder before it.
    if (end < path.size())
        return path.substr(0, end);
    const size_t slash = path.rfind(L'/', end - 1);
    if (slash == std::wstring::npos)
        return std::wstring();
    size_t parent_end = slash;
    while (parent_end > 0 && path[parent_end - 1] == L'/')
        --parent_end;
    return parent_end == 0 ? std::wstring(L"/") : path.substr(0, parent_end);
}

file_error list_files_below(const std::wstring& folder, std::vector<std::wstring>& files)
{
    const std::optional<std::string> bytes = on_disk(folder);
    if (!bytes)
        return error_now();
    return list_below(*bytes, std::wstring(), files);
}

std::wstring member_path(const std::wstring& name)
{
    std::wstring path(name);
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return path;
}

file_error move_replacing(const std::wstring& from, const std::wstring& to)
{
    const std::optional<std::string> source = on_disk(from);
    const std::optional<std::string> target = source ? on_disk(to) : std::nullopt;
    if (!target)
        return error_now();
    return ::rename(source->c_str(), target->c_str()) == 0 ? 0 : error_now();
}

file_error target_file::create(const std::wstring& path, target_file& created)
{
    const std::optional<std::string> bytes = on_disk(path);
    if (!bytes)
        return error_now();
    // O_EXCL never opens what stands at the path, a link included.
    posix::unique_fd file(::open(bytes->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!file)
        return error_now();
    created._adopt(std::move(file), path);
    return 0;
}

file_error target_file::_flush()
{
    std::size_t done = 0;
    while (done < _buffer.size()) {
        const ssize_t written = ::write(_file.get(), _buffer.data() + done, _buffer.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return error_now();
        if (written == 0)
            return EIO;
        done += static_cast<std::size_t>(written);
    }
    _buffer.clear();
    return 0;
}

file_error target_file::finish(std::int64_t time)
{
    if (!_file)
        return EBADF;
    if (const file_error error = _flush())
        return error;
    if (time >= 0) {
        const struct timespec stamps[2] = {{static_cast<time_t>(time), 0}, {static_cast<time_t>(time), 0}};
        ::futimens(_file.get(), stamps);
    }
    if (::close(_file.release()) != 0)
        return error_now();
    _path.clear();
    return 0;
}

file_error target_file::discard()
{
    _file.reset();
    _buffer.clear();
    if (_path.empty())
        return 0;
    const std::wstring path = std::move(_path);
    _path.clear();
    const std::optional<std::string> bytes = on_disk(path);
    if (!bytes)
        return error_now();
    if (::unlink(bytes->c_str()) != 0 && errno != ENOENT)
        return error_now();
    return 0;
}

file_error remove_entry(const std::wstring& path, removed& found)
{
    found = removed::nothing;
    const std::optional<std::string> bytes = on_disk(path);
    if (!bytes)
        return error_now();
    struct stat status {};
    if (::lstat(bytes->c_str(), &status) != 0)
        return errno == ENOENT || errno == ENOTDIR ? 0 : error_now();
    const bool link = S_ISLNK(status.st_mode) || (!S_ISDIR(status.st_mode) && status.st_nlink > 1);
    const int removed_now = S_ISDIR(status.st_mode) ? ::rmdir(bytes->c_str()) : ::unlink(bytes->c_str());
    if (removed_now != 0)
        return errno == ENOENT ? 0 : error_now();
    found = link ? removed::link : removed::entry;
    return 0;
}

file_error create_folder_chain(const std::wstring& path)
{
    if (path.empty())
        return 0;
    const std::optional<std::string> bytes = on_disk(path);
    if (!bytes)
        return error_now();
    struct stat status {};
    if (::stat(bytes->c_str(), &status) == 0)
        return S_ISDIR(status.st_mode) ? 0 : EEXIST;
    const std::wstring parent = parent_folder(path);
    if (!parent.empty() && parent != path) {
        if (const file_error error = create_folder_chain(parent))
            return error;
    }
    if (::mkdir(bytes->c_str(), 0777) == 0)
        return 0;
    const file_error error = error_now();
    // Made meanwhile by someone else.
    if (::stat(bytes->c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        return 0;
    return error;
}

file_error create_folders_below(const std::wstring& root, const std::wstring& relative)
{
    std::wstring path = root;
    size_t start = 0;
    while (start < relative.size()) {
        size_t end = start;
        while (end < relative.size() && !is_separator(relative[end], true))
            ++end;
        if (end > start) {
            if (!path.empty() && path.back() != L'/')
                path += L'/';
            path.append(relative, start, end - start);
            const std::optional<std::string> bytes = on_disk(path);
            if (!bytes)
                return error_now();
            struct stat status {};
            if (::lstat(bytes->c_str(), &status) != 0) {
                if (::mkdir(bytes->c_str(), 0777) != 0 && errno != EEXIST)
                    return error_now();
                if (::lstat(bytes->c_str(), &status) != 0)
                    return error_now();
            }
            // A link planted here would take the files elsewhere.
            if (S_ISLNK(status.st_mode))
                return error_link_in_the_way;
            if (!S_ISDIR(status.st_mode))
                return ENOTDIR;
        }
        start = end + 1;
    }
    return 0;
}

std::wstring error_text(file_error error)
{
    char buffer[256] = {};
    // The GNU strerror_r returns its text, which need not be in the buffer.
    const char* text = ::strerror_r(static_cast<int>(error), buffer, sizeof buffer);
    return windows::from_code_page(text ? text : "", CP_UTF8);
}

} // namespace archive
} // namespace varnox
