#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <miniz.h>

#include "varnox/common/archive_file.h"
#include "varnox/common/exception.h"

namespace varnox {
namespace archive {

// The payload archive as the setup jobs see it.
class unzip {
public:
    // True when the archive holds a member of exactly this stored name (ASCII
    // letters in any case, folders included, "/" as separator).
    virtual bool contains(const std::string& name) const = 0;
    // Writes one member to target (a path in the ANSI code page). Errors are
    // logged and give false; none escapes.
    virtual bool extract(const std::string& name, const std::string& target) = 0;
    // Writes every member below folder (folder entries as folders) and lists
    // the files it writes. Refuses, before writing anything, an archive whose
    // members share their data. Errors are logged and give false.
    virtual bool extract_all(const std::wstring& folder, std::vector<std::wstring>& files) = 0;

    // What the archive's directory says of a file member's data, so that a
    // file extracted earlier can be checked against it.
    struct member_digest {
        std::uint64_t size;
        std::uint32_t crc32;
    };
    // The digest of the file member of exactly this stored name; nothing when
    // there is none.
    virtual std::optional<member_digest> digest(const std::string& name) const = 0;

protected:
    ~unzip() = default;
};

// An archive that begins at base_offset inside a file and runs to its end,
// read through the miniz zip reader.
class unzip_base : public virtual unzip {
public:
    class exception : public exception_base {};

    // Raises unzip_base::exception when no readable archive is there.
    unzip_base(archive_file* stream, std::uint32_t base_offset);
    virtual ~unzip_base();

    unzip_base(const unzip_base&) = delete;
    unzip_base& operator=(const unzip_base&) = delete;

    // Ends the reader and logs instead of raising; false when that failed.
    virtual bool close();
    // Ends the reader; raises unzip_base::exception when that fails.
    void cleanup();

    bool contains(const std::string& name) const override;
    bool extract(const std::string& name, const std::string& target) override;
    bool extract_all(const std::wstring& folder, std::vector<std::wstring>& files) override;
    std::optional<member_digest> digest(const std::string& name) const override;

    // A member's directory entry, for a check of the archive as a whole.
    struct member_entry {
        std::uint32_t index;
        bool readable;     // false when the reader cannot read the entry
        std::string name;  // as stored, whole
        std::uint16_t bit_flags;
        std::uint64_t size;
        std::uint64_t packed_size;
        bool folder;
    };
    std::vector<member_entry> members() const;
    // Inflates a file member without writing it anywhere, with the reader's
    // own checks of its size and CRC-32: true when its data are whole.
    bool member_data_match(std::uint32_t index) const;

private:
    friend std::shared_ptr<unzip> open_unzip(const std::wstring& path, std::uint32_t offset);

    static size_t _read(void* opaque, mz_uint64 offset, void* buffer, size_t count);
    void _explain_missing_end_record(std::uint64_t archive_size) const;
    bool _extract(const std::string& name, const std::string& target);
    bool _extract_all(const std::wstring& folder, std::vector<std::wstring>& files);
    bool _members_overlap();
    bool _write_member(mz_uint index, std::int64_t time, const std::wstring& target);

    archive_file* _stream;
    mutable mz_zip_archive _reader;
    std::shared_ptr<archive_file> _stream_owner;
    bool _initialised;
    std::uint32_t _base_offset;
};

// The archive at offset inside the file at path; empty when there is none
// that can be read. Never raises.
std::shared_ptr<unzip> open_unzip(const std::wstring& path, std::uint32_t offset);

// Whether a member's name, written below a folder, stays inside it: relative,
// no drive, no ":", no "." or ".." part, no device name, no control
// character.
bool is_safe_member_name(const std::wstring& name);

// A member's whole stored name; miniz's statistics cut it at 511 bytes.
std::string stored_member_name(mz_zip_archive& reader, mz_uint index);

// A stored name as text: UTF-8 when the entry's UTF-8 flag (general-purpose
// bit 11) is set, the ANSI code page otherwise. Empty when the bytes are not
// valid text in that encoding.
std::optional<std::wstring> member_name_text(const std::string& stored, mz_uint16 bit_flags);

// How many bytes may follow the archive's end record: its comment's greatest
// length. The reader looks for the record no further back than that.
constexpr std::uint64_t end_record_search_reach = 0xFFFF + 22;

// Where the end-of-central-directory record of the archive that takes the
// first size bytes of file at base_offset begins, relative to base_offset:
// the last signature with room for the record, however far back. Empty when
// there is none.
std::optional<std::uint64_t> find_end_record(const archive_file& file, std::uint64_t base_offset,
                                             std::uint64_t size);

// A name made fit for a log line or a message: control characters as "?".
std::wstring printable_member_name(const std::wstring& name);

// Fixed numbers of the log entries and raised messages of this unit.
constexpr wchar_t log_source[] = L"varnox/common/archive";
constexpr int log_line_open_failed = 310;
constexpr int log_line_end_record_too_far = 311;
constexpr int log_line_end_record_missing = 312;
constexpr int log_line_open_unknown = 314;
constexpr int log_line_extract_folder = 362;
constexpr int log_line_target_not_ansi = 363;
constexpr int log_line_folder_not_made = 364;
constexpr int log_line_folder_link = 365;
constexpr int log_line_old_target_kept = 366;
constexpr int log_line_target_not_created = 367;
constexpr int log_line_extract_failed = 368;
constexpr int log_line_target_not_written = 369;
constexpr int log_line_extract_error = 370;
constexpr int log_line_extract_unknown = 371;
constexpr int log_line_link_removed = 372;
constexpr int log_line_stat_failed = 379;
constexpr int log_line_name_not_text = 380;
constexpr int log_line_extract_all_folder = 389;
constexpr int log_line_unsafe_member = 385;
constexpr int log_line_members_overlap = 386;
constexpr int log_line_extract_all_failed = 396;
constexpr int log_line_partial_not_deleted = 398;
constexpr int line_initialize_failed = 406;
constexpr int log_line_close_failed = 416;
constexpr int log_line_close_unknown = 419;
constexpr int log_line_end_failed = 448;
constexpr int line_finalize_failed = 454;

} // namespace archive
} // namespace varnox
