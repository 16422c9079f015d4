#include "varnox/common/archive_file.h"

#include <windows.h>

#include <algorithm>

namespace varnox {
namespace archive {

namespace {

bool is_separator(wchar_t c) { return c == L'/' || c == L'\\'; }

// The folder part of a path: "C:\a\b" gives "C:\a", "C:\a" gives "C:\",
// "a" gives "".
std::wstring parent_of(const std::wstring& path)
{
    size_t end = path.size();
    while (end > 0 && is_separator(path[end - 1]))
        --end;
    while (end > 0 && !is_separator(path[end - 1]))
        --end;
    if (end == 0)
        return std::wstring();
    size_t parent_end = end;
    while (parent_end > 0 && is_separator(path[parent_end - 1]))
        --parent_end;
    // Keep the separator of a root ("C:\", "\").
    if (parent_end == 0 || path[parent_end - 1] == L':')
        parent_end = end;
    return path.substr(0, parent_end);
}

bool is_missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// FILETIME counts 100 ns ticks since 1601.
constexpr std::uint64_t ticks_per_second = 10000000u;
constexpr std::uint64_t unix_epoch_ticks = 116444736000000000u;

file_error list_below(const std::wstring& folder, const std::wstring& prefix, std::vector<std::wstring>& files)
{
    WIN32_FIND_DATAW found{};
    windows::unique_hfind search(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!search)
        return ::GetLastError();
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const bool folder_entry = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!folder_entry) {
            files.push_back(prefix + name);
        } else if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            if (const file_error error = list_below(folder + L"\\" + name, prefix + name + L"/", files))
                return error;
        }
    } while (::FindNextFileW(search.get(), &found));
    const DWORD error = ::GetLastError();
    return error == ERROR_NO_MORE_FILES ? 0 : error;
}

} // namespace

std::shared_ptr<archive_file> archive_file::open(const std::wstring& path)
{
    // Others may keep reading and writing the executable meanwhile.
    windows::unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return nullptr;
    return std::shared_ptr<archive_file>(new archive_file(std::move(file)));
}

std::int64_t archive_file::modification_time() const
{
    FILETIME written{};
    if (!::GetFileTime(_file.get(), nullptr, nullptr, &written))
        return -1;
    const std::uint64_t ticks = (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    if (ticks < unix_epoch_ticks)
        return -1;
    return static_cast<std::int64_t>((ticks - unix_epoch_ticks) / ticks_per_second);
}

std::uint64_t archive_file::size() const
{
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(_file.get(), &size))
        return 0;
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t archive_file::read_at(std::uint64_t offset, void* buffer, std::size_t count) const noexcept
{
    // Positioned reads: no shared file pointer to seek.
    std::size_t done = 0;
    while (done < count) {
        OVERLAPPED position{};
        const std::uint64_t at = offset + done;
        position.Offset = static_cast<DWORD>(at);
        position.OffsetHigh = static_cast<DWORD>(at >> 32);
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
        DWORD read = 0;
        const BOOL ok = ::ReadFile(_file.get(), static_cast<char*>(buffer) + done, chunk, &read, &position);
        if (!ok || read == 0)
            break;
        done += read;
    }
    return done;
}

entry_kind probe_entry(const std::wstring& path, std::uint64_t& size, file_error& error)
{
    size = 0;
    error = 0;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        error = ::GetLastError();
        return is_missing(error) ? entry_kind::missing : entry_kind::other;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        error = ERROR_DIRECTORY;
        return entry_kind::other;
    }
    size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return entry_kind::file;
}

std::wstring parent_folder(const std::wstring& path)
{
    // A path that ends in a separator names the folder before it.
    size_t end = path.size();
    while (end > 0 && is_separator(path[end - 1]))
        --end;
    if (end < path.size() && end > 0 && path[end - 1] != L':')
        return path.substr(0, end);
    return parent_of(path);
}

file_error list_files_below(const std::wstring& folder, std::vector<std::wstring>& files)
{
    return list_below(folder, std::wstring(), files);
}

std::wstring member_path(const std::wstring& name) { return name; }

file_error move_replacing(const std::wstring& from, const std::wstring& to)
{
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
        return 0;
    return ::GetLastError();
}

file_error target_file::create(const std::wstring& path, target_file& created)
{
    // CREATE_NEW never opens what stands at the path, so a link planted after
    // the old target was removed makes this fail rather than be followed.
    // Readers are welcome; writers, renames and deletions wait until the end.
    windows::unique_hfile file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return ::GetLastError();
    created._adopt(std::move(file), path);
    return 0;
}

file_error target_file::_flush()
{
    std::size_t done = 0;
    while (done < _buffer.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(_buffer.size() - done, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(_file.get(), _buffer.data() + done, chunk, &written, nullptr))
            return ::GetLastError();
        if (written == 0)
            return ERROR_WRITE_FAULT;
        done += written;
    }
    _buffer.clear();
    return 0;
}

file_error target_file::finish(std::int64_t time)
{
    if (!_file)
        return ERROR_INVALID_HANDLE;
    if (const file_error error = _flush())
        return error;
    if (time >= 0) {
        // As the C runtime's utime does: access and write time, creation kept.
        const std::uint64_t ticks = static_cast<std::uint64_t>(time) * ticks_per_second + unix_epoch_ticks;
        FILETIME stamp{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        ::SetFileTime(_file.get(), nullptr, &stamp, &stamp);
    }
    if (!::CloseHandle(_file.release()))
        return ::GetLastError();
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
    if (!::DeleteFileW(path.c_str())) {
        const DWORD error = ::GetLastError();
        return is_missing(error) ? 0 : error;
    }
    return 0;
}

file_error remove_entry(const std::wstring& path, removed& found)
{
    found = removed::nothing;
    // The entry itself, not what a link at its place points to.
    DWORD attributes = 0;
    DWORD links = 1;
    {
        windows::unique_hfile entry(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                                  nullptr));
        if (!entry) {
            const DWORD error = ::GetLastError();
            if (is_missing(error))
                return 0;
            // Unknown: deleting it tells whether there is anything.
            attributes = ::GetFileAttributesW(path.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES)
                attributes = 0;
        } else {
            BY_HANDLE_FILE_INFORMATION information{};
            if (::GetFileInformationByHandle(entry.get(), &information)) {
                attributes = information.dwFileAttributes;
                links = information.nNumberOfLinks;
            }
        }
    }
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
                      ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && links > 1);
    // Both remove a symbolic link or junction itself, and DeleteFileW one
    // name of a file with several.
    const BOOL deleted = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(path.c_str())
                                                                 : ::DeleteFileW(path.c_str());
    if (!deleted) {
        const DWORD error = ::GetLastError();
        return is_missing(error) ? 0 : error;
    }
    found = link ? removed::link : removed::entry;
    return 0;
}

file_error create_folder_chain(const std::wstring& path)
{
    if (path.empty())
        return 0;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : ERROR_ALREADY_EXISTS;
    const std::wstring parent = parent_of(path);
    if (!parent.empty() && parent != path) {
        if (const file_error error = create_folder_chain(parent))
            return error;
    }
    if (::CreateDirectoryW(path.c_str(), nullptr))
        return 0;
    const DWORD error = ::GetLastError();
    // Made meanwhile by someone else, or a root that cannot be made.
    const DWORD now = ::GetFileAttributesW(path.c_str());
    if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    return error;
}

file_error create_folders_below(const std::wstring& root, const std::wstring& relative)
{
    std::wstring path = root;
    size_t start = 0;
    while (start < relative.size()) {
        size_t end = start;
        while (end < relative.size() && !is_separator(relative[end]))
            ++end;
        if (end > start) {
            if (!path.empty() && !is_separator(path.back()))
                path += L'\\';
            path.append(relative, start, end - start);
            DWORD attributes = ::GetFileAttributesW(path.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                if (!::CreateDirectoryW(path.c_str(), nullptr)) {
                    const DWORD error = ::GetLastError();
                    if (error != ERROR_ALREADY_EXISTS)
                        return error;
                }
                attributes = ::GetFileAttributesW(path.c_str());
            }
            if (attributes == INVALID_FILE_ATTRIBUTES)
                return ::GetLastError();
            // A link planted here would take the files elsewhere.
            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
                return error_link_in_the_way;
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
                return ERROR_DIRECTORY;
        }
        start = end + 1;
    }
    return 0;
}

std::wstring error_text(file_error error)
{
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length ? std::wstring(buffer, length) : std::wstring();
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}

} // namespace archive
} // namespace varnox
