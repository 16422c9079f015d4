#pragma once

#include <string>

// Adds and removes the driver-disabled line of boot.ini: a copy of the default
// line under another description, its switches ending with " /ZMVF:OFF".
// The file is replaced in one step through boot_ini_path + ".tmp"; when that
// fails, the previous file is kept as boot_ini_path + ".backup" and the
// temporary file is moved into place. The file's attributes (read-only, hidden,
// system) are kept on every path. A boot.ini that is missing while an
// interrupted replacement left it whole as the backup or the temporary file is
// first moved back from there.
// Neither operation logs, except for a file that it refuses to rewrite and a
// backup that was or could not be moved back.
class boot_ini_edit {
public:
    explicit boot_ini_edit(std::wstring boot_ini_path);
    virtual ~boot_ini_edit();

    // Appends the line unless the text already contains description anywhere
    // (case-sensitive). True when the file holds the entry afterwards; false
    // when the file is missing, cannot be read whole or is not UTF-8 (then it
    // is left untouched, logged at level 1), has no "default" in "boot loader"
    // or no line for it in "operating systems", or cannot be replaced.
    //
    // Throws boost::filesystem::filesystem_error when the fallback cannot
    // delete the old backup or rename boot.ini to the backup name; boot.ini is
    // then as it was, with its attributes.
    bool add_driver_disabled_entry(std::wstring description);

    // Removes every line that contains description; the kept lines are written
    // one per line, trimmed, without blank lines. True when nothing had to be
    // removed or the file was replaced; false and errors as for adding.
    bool remove_driver_disabled_entry(std::wstring description);

    const std::wstring& boot_ini_path() const { return _boot_ini_path; }

private:
    bool _read(std::wstring& text) const;
    bool _replace(const std::wstring& new_text) const;
    bool _recover_missing() const;

    std::wstring _boot_ini_path;
};

// The fallback of the replacement, on its own: when temporary exists and has a
// "default" in "boot loader", deletes any old backup, renames boot_ini (when it
// still exists) to backup and moves temporary to boot_ini. True when the move
// succeeds; when it fails, the backup is moved back to boot_ini and the result
// is false. The deletion and the rename throw boost::filesystem::filesystem_error.
bool replace_boot_ini_through_backup(const std::wstring& boot_ini, const std::wstring& temporary,
                                     const std::wstring& backup);
