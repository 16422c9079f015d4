#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <miniz.h>

#include "varnox/common/exception.h"
#include "varnox/windows/handle.h"

namespace varnox {
namespace archive {

// The payload archive as the setup jobs see it.
class unzip {
public:
    // True when the archive holds a member of exactly this stored name (ASCII
    // letters in any case, folders included, "/" as separator).
    virtual bool contains(const std::string& name) const = 0;
    // Writes one member to target (a path in the ANSI code page).
    virtual bool extract(const std::string& name, const std::string& target) = 0;
    // Writes every file member below folder and lists the paths it writes.
    virtual bool extract_all(const std::wstring& folder, std::vector<std::wstring>& files) = 0;

protected:
    ~unzip() = default;
};

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

private:
    friend std::shared_ptr<unzip> open_unzip(const std::wstring& path, std::uint32_t offset);

    static size_t _read(void* opaque, mz_uint64 offset, void* buffer, size_t count);
    bool _extract_member(mz_uint index, const std::string& target);

    archive_file* _stream;
    mutable mz_zip_archive _reader;
    std::shared_ptr<archive_file> _stream_owner;
    bool _initialised;
    std::uint32_t _base_offset;
};

// The archive at offset inside the file at path; empty when there is none
// that can be read. Never raises.
std::shared_ptr<unzip> open_unzip(const std::wstring& path, std::uint32_t offset);

// Whether a member's stored name, written below a folder, stays inside it:
// relative, no drive, no ":", no "." or ".." part, no device name, no
// control character.
bool is_safe_member_name(const std::string& name);

// Fixed numbers of the log entries and raised messages of this unit.
constexpr wchar_t log_source[] = L"varnox/common/archive";
constexpr int log_line_open_failed = 310;
constexpr int log_line_open_unknown = 314;
constexpr int log_line_extract_folder = 362;
constexpr int log_line_extract_failed = 368;
constexpr int log_line_stat_failed = 379;
constexpr int log_line_extract_all_folder = 389;
constexpr int log_line_unsafe_member = 385;
constexpr int log_line_extract_all_failed = 396;
constexpr int log_line_partial_not_deleted = 398;
constexpr int line_initialize_failed = 406;
constexpr int log_line_close_failed = 416;
constexpr int log_line_close_unknown = 419;
constexpr int log_line_end_failed = 448;
constexpr int line_finalize_failed = 454;

} // namespace archive
} // namespace varnox
