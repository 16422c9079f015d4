#include "varnox/windows/folder_removal.h"

#include <cwchar>

#include "varnox/common/archive_file.h"
#include "varnox/windows/handle.h"

namespace varnox {
namespace windows {

namespace {

void note(removal_failure& failure, const std::wstring& path, DWORD error)
{
    if (failure.error == 0) {
        failure.path = path;
        failure.error = error;
    }
}

// Removes one entry as it stands: a link goes as a link.
void remove_one(const std::wstring& path, removal_failure& failure)
{
    archive::removed found = archive::removed::nothing;
    if (const archive::file_error error = archive::remove_entry(path, found))
        note(failure, path, error);
}

void remove_below(const std::wstring& folder, removal_failure& failure)
{
    WIN32_FIND_DATAW entry;
    unique_hfind listing(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!listing) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            note(failure, folder, error);
        return;
    }
    do {
        if (std::wcscmp(entry.cFileName, L".") == 0 || std::wcscmp(entry.cFileName, L"..") == 0)
            continue;
        const std::wstring path = folder + L"\\" + entry.cFileName;
        if (descends_into(entry.dwFileAttributes))
            remove_below(path, failure);
        remove_one(path, failure);
    } while (::FindNextFileW(listing.get(), &entry));
    const DWORD error = ::GetLastError();
    if (error != ERROR_NO_MORE_FILES)
        note(failure, folder, error);
}

} // namespace

bool descends_into(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool remove_folder_tree(const std::wstring& folder, removal_failure& failure)
{
    failure = removal_failure();
    // The folder's own entry, as its parent lists it: a junction in its
    // place shows as a link, not as the folder it leads to.
    WIN32_FIND_DATAW entry;
    {
        const unique_hfind found(::FindFirstFileW(folder.c_str(), &entry));
        if (!found) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                return true;
            note(failure, folder, error);
            return false;
        }
    }
    if (descends_into(entry.dwFileAttributes))
        remove_below(folder, failure);
    remove_one(folder, failure);
    return failure.error == 0;
}

} // namespace windows
} // namespace varnox
