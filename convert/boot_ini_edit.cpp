#include "convert/boot_ini_edit.h"

#include <windows.h>

#include <boost/filesystem.hpp>

#include <cwchar>

#include "convert/boot_ini_text.h"
#include "varnox/common/log.h"
#include "varnox/windows/text_file.h"

namespace {

const wchar_t log_source[] = L"convert/boot_ini_edit";

// Fixed line numbers that log readers key on.
constexpr int line_unreadable_log = 61;
constexpr int line_not_utf8_log = 64;
constexpr int line_backup_restored_log = 92;
constexpr int line_backup_not_restored_log = 118;

// Whether a file of that name may exist: only a name that is certainly not
// there counts as missing.
bool present(const std::wstring& path)
{
    boost::system::error_code error;
    return boost::filesystem::status(path, error).type() != boost::filesystem::file_not_found;
}

// A value of the file, or empty when the key is missing or empty. The buffer
// grows for long lines, which a fixed buffer would cut.
std::wstring read_profile(const wchar_t* section, const std::wstring& key, const std::wstring& path)
{
    for (DWORD size = 1024; size <= 65536; size *= 2) {
        std::wstring value(size, L'\0');
        const DWORD length = ::GetPrivateProfileStringW(section, key.c_str(), L"", &value[0], size, path.c_str());
        if (length + 1 < size) {
            value.resize(length);
            return value;
        }
    }
    return std::wstring();
}

// Clears the read-only attribute for the replacement and gives boot.ini the
// attributes it had once the operation ends, also when an error passes: the
// replacement does not keep hidden and system everywhere (Wine's ReplaceFileW,
// the fallback's move). The thread's last error is kept.
class attribute_keeper {
public:
    explicit attribute_keeper(const std::wstring& path) : _path(path), _original(::GetFileAttributesW(path.c_str()))
    {
        if (_original != INVALID_FILE_ATTRIBUTES && (_original & FILE_ATTRIBUTE_READONLY))
            ::SetFileAttributesW(_path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }

    ~attribute_keeper()
    {
        const DWORD last_error = ::GetLastError();
        _restore();
        ::SetLastError(last_error);
    }

    attribute_keeper(const attribute_keeper&) = delete;
    attribute_keeper& operator=(const attribute_keeper&) = delete;

private:
    static constexpr DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                      FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_TEMPORARY;

    void _restore() const
    {
        if (_original == INVALID_FILE_ATTRIBUTES)
            return;
        const DWORD current = ::GetFileAttributesW(_path.c_str());
        const DWORD wanted = _original & settable;
        if (current == INVALID_FILE_ATTRIBUTES || (current & settable) == wanted)
            return;
        // Hidden and system first: Wine takes no further attribute on a file
        // that is already read-only.
        const DWORD writable = wanted & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        ::SetFileAttributesW(_path.c_str(), writable ? writable : FILE_ATTRIBUTE_NORMAL);
        if (wanted & FILE_ATTRIBUTE_READONLY)
            ::SetFileAttributesW(_path.c_str(), wanted);
    }

    std::wstring _path;
    DWORD _original;
};

} // namespace

boot_ini_edit::boot_ini_edit(std::wstring boot_ini_path) : _boot_ini_path(std::move(boot_ini_path)) {}

boot_ini_edit::~boot_ini_edit() = default;

bool boot_ini_edit::add_driver_disabled_entry(std::wstring description)
{
    std::wstring text;
    if (!_read(text))
        return false;
    if (text.find(description) != std::wstring::npos)
        return true;

    attribute_keeper attributes(_boot_ini_path);
    const std::wstring default_key = read_profile(L"boot loader", L"default", _boot_ini_path);
    if (default_key.empty())
        return false;
    const std::wstring default_value = read_profile(L"operating systems", default_key, _boot_ini_path);
    if (default_value.empty())
        return false;

    return _replace(text_with_line_added(text, driver_disabled_line(default_key, description, default_value)));
}

bool boot_ini_edit::remove_driver_disabled_entry(std::wstring description)
{
    std::wstring text;
    if (!_read(text))
        return false;
    if (text.find(description) == std::wstring::npos)
        return true;

    attribute_keeper attributes(_boot_ini_path);
    return _replace(text_without_lines_containing(text, description));
}

// False for a missing file; a file that is there but cannot be read whole, or
// is not UTF-8, is never rewritten from what could be read.
bool boot_ini_edit::_read(std::wstring& text) const
{
    if (!present(_boot_ini_path) && !_recover_missing())
        return false;
    switch (varnox::windows::read_whole_text_file(_boot_ini_path, text)) {
    case varnox::windows::text_file_read::complete:
        return true;
    case varnox::windows::text_file_read::unreadable: {
        const DWORD read_error = ::GetLastError();
        VARNOX_LOG(1, log_source, line_unreadable_log, L"Can't read %s [Error: %d]; it is left unchanged",
                   _boot_ini_path.c_str(), static_cast<int>(read_error));
        return false;
    }
    case varnox::windows::text_file_read::not_utf8:
        VARNOX_LOG(1, log_source, line_not_utf8_log, L"%s is not UTF-8 text; it is left unchanged",
                   _boot_ini_path.c_str());
        return false;
    }
    return false;
}

// Whether a file holds a boot.ini that a machine starts from: a default
// entry and its line.
bool is_whole_boot_ini(const std::wstring& path)
{
    const std::wstring default_key = read_profile(L"boot loader", L"default", path);
    return !default_key.empty() && !read_profile(L"operating systems", default_key, path).empty();
}

// A run killed in the middle of a replacement can leave boot.ini missing: the
// fallback, between its two renames, leaves it under the backup name, and a
// ReplaceFileW that has removed it leaves the new file under the temporary
// name. A machine without boot.ini does not start, so the first whole one of
// the two (the backup: it was boot.ini) goes back in place before anything else.
bool boot_ini_edit::_recover_missing() const
{
    for (const std::wstring& left : {_boot_ini_path + L".backup", _boot_ini_path + L".tmp"}) {
        if (!present(left) || !is_whole_boot_ini(left))
            continue;
        if (!::MoveFileExW(left.c_str(), _boot_ini_path.c_str(), 0)) {
            const DWORD error = ::GetLastError();
            VARNOX_LOG(1, log_source, line_backup_not_restored_log, L"Can't move %s back to %s [Error: %d]",
                       left.c_str(), _boot_ini_path.c_str(), static_cast<int>(error));
            return false;
        }
        VARNOX_LOG(2, log_source, line_backup_restored_log, L"%s was missing; moved %s back in its place",
                   _boot_ini_path.c_str(), left.c_str());
        return true;
    }
    return false;
}

bool boot_ini_edit::_replace(const std::wstring& new_text) const
{
    const std::wstring temporary = _boot_ini_path + L".tmp";
    // A temporary file that was not written completely never replaces boot.ini.
    if (!varnox::windows::write_text_file(temporary, new_text))
        return false;
    if (::ReplaceFileW(_boot_ini_path.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                       nullptr))
        return true;
    return replace_boot_ini_through_backup(_boot_ini_path, temporary, _boot_ini_path + L".backup");
}

bool replace_boot_ini_through_backup(const std::wstring& boot_ini, const std::wstring& temporary,
                                     const std::wstring& backup)
{
    namespace fs = boost::filesystem;
    if (!present(temporary) || read_profile(L"boot loader", L"default", temporary).empty())
        return false;

    fs::remove(backup);
    // Windows' ReplaceFileW can fail after it has removed the file it replaces
    // (ERROR_UNABLE_TO_MOVE_REPLACEMENT): then there is nothing to keep.
    const bool boot_ini_present = present(boot_ini);
    if (boot_ini_present)
        fs::rename(boot_ini, backup);

    boost::system::error_code moved;
    fs::rename(temporary, boot_ini, moved);
    if (!moved)
        return true;
    if (boot_ini_present) {
        boost::system::error_code restored;
        fs::rename(backup, boot_ini, restored);
        if (restored)
            VARNOX_LOG(1, log_source, line_backup_not_restored_log, L"Can't move %s back to %s [Error: %d]",
                       backup.c_str(), boot_ini.c_str(), restored.value());
    }
    ::SetLastError(static_cast<DWORD>(moved.value()));
    return false;
}
