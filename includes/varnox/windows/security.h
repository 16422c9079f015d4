#pragma once

#include <windows.h>

#include <vector>

namespace varnox {
namespace windows {

// A security descriptor in self-relative form, owned by this object; empty
// when there is none (an object made with it gets its folder's inherited
// entries).
class security_descriptor {
public:
    security_descriptor() = default;
    explicit security_descriptor(std::vector<BYTE> self_relative) : _bytes(std::move(self_relative)) {}

    bool empty() const { return _bytes.empty(); }
    // Null when empty.
    PSECURITY_DESCRIPTOR get() const
    {
        return _bytes.empty() ? nullptr : const_cast<BYTE*>(_bytes.data());
    }

private:
    std::vector<BYTE> _bytes;
};

// Full control for SYSTEM and the Administrators group, inherited by every
// file and folder below, and protected from the entries of the folder it is
// made in: "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)" in SDDL. Empty when it
// cannot be built.
security_descriptor administrators_only_descriptor();

// Whether the process runs with administrator rights: an elevated token on
// Windows Vista and later, membership of the Administrators group before.
bool is_elevated();

// The descriptor that a scratch folder is made with. Elevated, nobody else may
// open, add, change or swap what the folder holds; otherwise the folder takes
// the temporary folder's entries (the user's own), since a protected one
// would lock the user out of the files the setup unpacks for its own use.
security_descriptor scratch_folder_descriptor(bool elevated);

} // namespace windows
} // namespace varnox
