#pragma once

#include <windows.h>

#include <string>

namespace varnox {
namespace windows {

// The first entry that a removal had to leave, and why.
struct removal_failure {
    std::wstring path;
    DWORD error = 0;
};

// Removes folder and everything below it without ever following a link: a
// symbolic link, a junction or any other reparse point below it, or at
// folder itself, is removed as the link it is, and what it points to stays;
// a file with several names loses only this one. Whatever can be removed
// goes, also after an entry that cannot (a file in use); then the result is
// false and failure names the first entry that stayed. A missing folder is
// no failure.
bool remove_folder_tree(const std::wstring& folder, removal_failure& failure);

// Whether the removal goes into an entry with these attributes, as its
// folder lists them (the entry itself, not what a link points to): only into
// a real folder.
bool descends_into(DWORD attributes);

} // namespace windows
} // namespace varnox
