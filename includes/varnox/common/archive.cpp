#include "varnox/common/archive.h"

#include <algorithm>
#include <cwchar>
#include <limits>

#include "varnox/common/log.h"
#include "varnox/windows/code_page.h"

namespace varnox {
namespace archive {

namespace {

// The paths of log lines: control characters would garble the line itself.
std::wstring shown(const std::wstring& text) { return printable_member_name(text); }

bool is_device_name(const std::wstring& component)
{
    // "CON", "nul.txt", "COM1.tar.gz" and "CON " all open the device.
    std::wstring base = component.substr(0, component.find(L'.'));
    while (!base.empty() && base.back() == L' ')
        base.pop_back();
    for (wchar_t& c : base)
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
        base == L"CONOUT$")
        return true;
    // COM0 to COM9 and LPT0 to LPT9, and with the superscripts 1, 2 and 3.
    if (base.size() != 4 || (base.compare(0, 3, L"COM") != 0 && base.compare(0, 3, L"LPT") != 0))
        return false;
    const wchar_t digit = base[3];
    return (digit >= L'0' && digit <= L'9') || digit == L'\u00b9' || digit == L'\u00b2' || digit == L'\u00b3';
}

bool ends_in_separator(const std::wstring& name)
{
    return !name.empty() && (name.back() == L'/' || name.back() == L'\\');
}

// The folder part of a member's name ("a/b/c.txt" gives "a/b").
std::wstring folder_part(const std::wstring& name)
{
    const size_t last = name.find_last_of(L"/\\");
    return last == std::wstring::npos ? std::wstring() : name.substr(0, last);
}

std::uint16_t little_endian_16(const unsigned char* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

// The miniz reader writes a member's data through this sink.
struct member_sink {
    target_file file;
    file_error error = 0;
};

size_t write_to_sink(void* opaque, mz_uint64 offset, const void* data, size_t count)
{
    member_sink* sink = static_cast<member_sink*>(opaque);
    sink->error = sink->file.write(offset, data, count);
    return sink->error ? 0 : count;
}

void log_folder_error(int line, const std::wstring& folder, file_error error)
{
    if (error == error_link_in_the_way)
        VARNOX_LOG(1, log_source, log_line_folder_link, L"A link stands in place of the folder %s, not extracted",
                   shown(folder).c_str());
    else
        VARNOX_LOG(1, log_source, log_line_folder_not_made, L"Could not create the folder %s: %s (0x%08X)",
                   shown(folder).c_str(), error_text(error).c_str(), error);
    VARNOX_LOG(1, log_source, line, L"%s", L"DecompressArchive could not create directory.");
}

// Removes the old target, whatever stands there, without following a link.
bool remove_old_target(const std::wstring& target)
{
    removed found = removed::nothing;
    if (const file_error error = remove_entry(target, found)) {
        VARNOX_LOG(1, log_source, log_line_old_target_kept, L"Could not remove the old target %s: %s (0x%08X)",
                   shown(target).c_str(), error_text(error).c_str(), error);
        return false;
    }
    if (found == removed::link)
        VARNOX_LOG(2, log_source, log_line_link_removed, L"A link stood in place of %s; the link was removed",
                   shown(target).c_str());
    return true;
}

// The extractions promise a bool: whatever they raise is logged and gives
// false.
template <typename Operation>
bool without_exceptions(Operation&& operation)
{
    try {
        return operation();
    } catch (const std::exception& error) {
        VARNOX_LOG(1, log_source, log_line_extract_error, L"Extraction failed: %s",
                   windows::from_code_page(error.what(), CP_ACP).c_str());
    } catch (...) {
        VARNOX_LOG(1, log_source, log_line_extract_unknown, L"%s", L"Unknown exception");
    }
    return false;
}

// Throw sites of this unit name the source as log readers know it.
[[noreturn]] void raise(const wchar_t* function, int line, const wchar_t* message)
{
    throw_error<unzip_base::exception>(throw_site{log_source, function, __FILE__, "", line}, nullptr, message);
}

} // namespace

bool is_safe_member_name(const std::wstring& name)
{
    if (name.empty())
        return false;
    for (const wchar_t c : name) {
        if (c < 0x20 || c == 0x7F)
            return false;
        // A drive ("C:"), an alternate data stream ("a:b") or a name no
        // Windows file can have.
        if (std::wcschr(L":<>\"|?*", c))
            return false;
    }
    // "/etc", "\\server\share", "\Windows".
    if (name.front() == L'/' || name.front() == L'\\')
        return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of(L"/\\", start);
        if (end == std::wstring::npos)
            end = name.size();
        const std::wstring component = name.substr(start, end - start);
        // Windows drops trailing dots and blanks, so "..." and ".. " act as "..".
        if (!component.empty() && (component.back() == L'.' || component.back() == L' '))
            return false;
        if (is_device_name(component))
            return false;
        start = end + 1;
    }
    return true;
}

std::string stored_member_name(mz_zip_archive& reader, mz_uint index)
{
    const mz_uint size = mz_zip_reader_get_filename(&reader, index, nullptr, 0);
    if (size <= 1)
        return std::string();
    std::string name(size, '\0');
    mz_zip_reader_get_filename(&reader, index, &name[0], size);
    name.resize(size - 1);
    return name;
}

std::optional<std::wstring> member_name_text(const std::string& stored, mz_uint16 bit_flags)
{
    constexpr mz_uint16 utf8_flag = 1u << 11;
    return windows::from_code_page_exact(stored, (bit_flags & utf8_flag) ? CP_UTF8 : CP_ACP);
}

std::optional<std::uint64_t> find_end_record(const archive_file& file, std::uint64_t base_offset,
                                             std::uint64_t size)
{
    constexpr std::uint64_t record_size = 22;
    constexpr std::size_t block_size = 64 * 1024;
    if (size < record_size)
        return std::nullopt;
    std::vector<unsigned char> block(block_size + 3);
    // Blocks from the end backwards; each overlaps the next by three bytes so
    // that no signature falls between two.
    std::uint64_t end = size - record_size + 4;
    while (end >= 4) {
        const std::uint64_t start = end > block_size ? end - block_size : 0;
        const std::size_t count = static_cast<std::size_t>(end - start);
        if (file.read_at(base_offset + start, block.data(), count) != count)
            return std::nullopt;
        for (std::size_t at = count - 4 + 1; at-- > 0;) {
            if (block[at] == 'P' && block[at + 1] == 'K' && block[at + 2] == 5 && block[at + 3] == 6)
                return start + at;
        }
        if (start == 0)
            break;
        end = start + 3;
    }
    return std::nullopt;
}

std::wstring printable_member_name(const std::wstring& name)
{
    std::wstring printable(name);
    for (wchar_t& c : printable)
        if (c < 0x20 || c == 0x7F)
            c = L'?';
    return printable;
}

unzip_base::unzip_base(archive_file* stream, std::uint32_t base_offset)
    : _stream(stream), _reader(), _initialised(false), _base_offset(base_offset)
{
    mz_zip_zero_struct(&_reader);
    _reader.m_pRead = &unzip_base::_read;
    _reader.m_pIO_opaque = this;

    const std::uint64_t file_size = _stream ? _stream->size() : 0;
    const std::uint64_t archive_size = file_size > _base_offset ? file_size - _base_offset : 0;
    if (archive_size > 0 && mz_zip_reader_init(&_reader, archive_size, 0)) {
        if (_reader.m_zip_mode == MZ_ZIP_MODE_READING && mz_zip_reader_get_num_files(&_reader) != 0xFFFF &&
            archive_size + 76 <= 0xFFFFFFFFull) {
            _initialised = true;
            return;
        }
        mz_zip_reader_end(&_reader);
    } else if (archive_size > 0 && _stream) {
        _explain_missing_end_record(archive_size);
    }
    raise(L"varnox::archive::unzip_base::unzip_base", line_initialize_failed, L"Failed to initialize archive.");
}

void unzip_base::_explain_missing_end_record(std::uint64_t archive_size) const
{
    // The reader looks for the end record only near the end of the file; say
    // plainly when it stands further back, behind appended data.
    if (mz_zip_get_last_error(&_reader) != MZ_ZIP_FAILED_FINDING_CENTRAL_DIR)
        return;
    const std::optional<std::uint64_t> record = find_end_record(*_stream, _base_offset, archive_size);
    if (!record) {
        VARNOX_LOG(1, log_source, log_line_end_record_missing, L"%s",
                   L"The archive has no end record: it is cut short or is no zip archive");
        return;
    }
    VARNOX_LOG(1, log_source, log_line_end_record_too_far,
               L"The archive's end record stands %llu bytes before the end of the file, and at most %llu may "
               L"follow it: too much data (a signature, for instance) was appended after the archive",
               static_cast<unsigned long long>(archive_size - *record),
               static_cast<unsigned long long>(end_record_search_reach));
}

unzip_base::~unzip_base()
{
    try {
        cleanup();
    } catch (const exception& error) {
        VARNOX_LOG(1, log_source, log_line_close_failed, L"%s", compose_exception_message(&error).c_str());
    } catch (...) {
        VARNOX_LOG(1, log_source, log_line_close_unknown, L"%s", L"Unknown exception");
    }
    _stream = nullptr;
    _stream_owner.reset();
}

void unzip_base::cleanup()
{
    if (!_initialised)
        return;
    const bool ended = mz_zip_reader_end(&_reader) != MZ_FALSE;
    if (!ended)
        VARNOX_LOG(1, log_source, log_line_end_failed, L"%s", L"mz_zip_reader_end() failed!");
    mz_zip_zero_struct(&_reader);
    _initialised = false;
    if (!ended)
        raise(L"varnox::archive::unzip_base::cleanup", line_finalize_failed, L"Failed to finalize archive .");
}

bool unzip_base::close()
{
    try {
        cleanup();
        return true;
    } catch (const exception& error) {
        VARNOX_LOG(1, log_source, log_line_close_failed, L"%s", compose_exception_message(&error).c_str());
    } catch (...) {
        VARNOX_LOG(1, log_source, log_line_close_unknown, L"%s", L"Unknown exception");
    }
    return false;
}

size_t unzip_base::_read(void* opaque, mz_uint64 offset, void* buffer, size_t count)
{
    const unzip_base* self = static_cast<const unzip_base*>(opaque);
    if (!self->_stream || offset > std::numeric_limits<std::uint64_t>::max() - self->_base_offset)
        return 0;
    return self->_stream->read_at(self->_base_offset + offset, buffer, count);
}

bool unzip_base::contains(const std::string& name) const
{
    if (!_initialised)
        return false;
    return mz_zip_reader_locate_file(&_reader, name.c_str(), nullptr, 0) >= 0;
}

std::optional<unzip::member_digest> unzip_base::digest(const std::string& name) const
{
    if (!_initialised)
        return std::nullopt;
    const int index = mz_zip_reader_locate_file(&_reader, name.c_str(), nullptr, 0);
    mz_zip_archive_file_stat stat;
    if (index < 0 || !mz_zip_reader_file_stat(&_reader, static_cast<mz_uint>(index), &stat) || stat.m_is_directory)
        return std::nullopt;
    return member_digest{stat.m_uncomp_size, stat.m_crc32};
}

std::vector<unzip_base::member_entry> unzip_base::members() const
{
    std::vector<member_entry> entries;
    if (!_initialised)
        return entries;
    const mz_uint count = mz_zip_reader_get_num_files(&_reader);
    entries.reserve(count);
    for (mz_uint index = 0; index < count; ++index) {
        member_entry entry{index, false, stored_member_name(_reader, index), 0, 0, 0, false};
        mz_zip_archive_file_stat stat;
        if (mz_zip_reader_file_stat(&_reader, index, &stat)) {
            entry.readable = stat.m_is_supported != 0;
            entry.bit_flags = stat.m_bit_flag;
            entry.size = stat.m_uncomp_size;
            entry.packed_size = stat.m_comp_size;
            entry.folder = stat.m_is_directory != 0;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool unzip_base::member_data_match(std::uint32_t index) const
{
    if (!_initialised)
        return false;
    const auto discard = [](void*, mz_uint64, const void*, size_t count) -> size_t { return count; };
    return mz_zip_reader_extract_to_callback(&_reader, index, discard, nullptr, 0) != MZ_FALSE;
}

bool unzip_base::_write_member(mz_uint index, std::int64_t time, const std::wstring& target)
{
    member_sink sink;
    if (const file_error error = target_file::create(target, sink.file)) {
        VARNOX_LOG(1, log_source, log_line_target_not_created, L"Could not create %s: %s (0x%08X)",
                   shown(target).c_str(), error_text(error).c_str(), error);
        return false;
    }
    // The reader checks the inflated size and CRC-32 against the directory.
    if (mz_zip_reader_extract_to_callback(&_reader, index, &write_to_sink, &sink, 0)) {
        sink.error = sink.file.finish(time);
        if (!sink.error)
            return true;
    }
    if (sink.error)
        VARNOX_LOG(1, log_source, log_line_target_not_written, L"Could not write %s: %s (0x%08X)",
                   shown(target).c_str(), error_text(sink.error).c_str(), sink.error);
    // Files of earlier members stay; this one's partial file goes.
    if (const file_error error = sink.file.discard())
        VARNOX_LOG(2, log_source, log_line_partial_not_deleted, L"Could not delete the partly written file %s: %s",
                   shown(target).c_str(), error_text(error).c_str());
    return false;
}

bool unzip_base::extract(const std::string& name, const std::string& target)
{
    return without_exceptions([&] { return _extract(name, target); });
}

bool unzip_base::_extract(const std::string& name, const std::string& target)
{
    const std::optional<std::wstring> path = windows::from_code_page_exact(target, CP_ACP);
    if (!path) {
        VARNOX_LOG(1, log_source, log_line_target_not_ansi, L"Target path is not valid text in the ANSI code page: %s",
                   shown(windows::from_code_page(target, CP_ACP)).c_str());
        return false;
    }
    const std::wstring folder = parent_folder(*path);
    if (const file_error error = create_folder_chain(folder)) {
        log_folder_error(log_line_extract_folder, folder, error);
        return false;
    }
    // Gone even when the member turns out to be missing.
    if (!remove_old_target(*path))
        return false;

    const int index = _initialised ? mz_zip_reader_locate_file(&_reader, name.c_str(), nullptr, 0) : -1;
    mz_zip_archive_file_stat stat;
    const bool found = index >= 0 && mz_zip_reader_file_stat(&_reader, static_cast<mz_uint>(index), &stat);
    if (!found || stat.m_is_directory || !stat.m_is_supported ||
        !_write_member(static_cast<mz_uint>(index), stat.m_time, *path)) {
        VARNOX_LOG(1, log_source, log_line_extract_failed, L"%s", L"mz_zip_reader_extract_file_to_file() failed!");
        return false;
    }
    return true;
}

bool unzip_base::_members_overlap()
{
    // An archive bomb makes many members out of the same bytes: entries that
    // share one local header, or a member whose data holds the next one's.
    // Honest archives give each member bytes of its own.
    struct extent {
        std::uint64_t start;
        std::uint64_t end;
        mz_uint index;
    };
    std::vector<extent> extents;
    const mz_uint count = mz_zip_reader_get_num_files(&_reader);
    extents.reserve(count);
    for (mz_uint index = 0; index < count; ++index) {
        mz_zip_archive_file_stat stat;
        if (!mz_zip_reader_file_stat(&_reader, index, &stat))
            continue;
        unsigned char header[30] = {};
        std::uint64_t header_size = sizeof header;
        if (_read(this, stat.m_local_header_ofs, header, sizeof header) == sizeof header)
            header_size += little_endian_16(header + 26) + little_endian_16(header + 28);
        extents.push_back({stat.m_local_header_ofs, stat.m_local_header_ofs + header_size + stat.m_comp_size, index});
    }
    std::sort(extents.begin(), extents.end(), [](const extent& a, const extent& b) {
        return a.start != b.start ? a.start < b.start : a.index < b.index;
    });
    const extent* reaching = nullptr;
    for (const extent& next : extents) {
        if (reaching && next.start < reaching->end) {
            const auto name_of = [this](mz_uint index) {
                return shown(windows::from_code_page(stored_member_name(_reader, index), CP_ACP));
            };
            VARNOX_LOG(1, log_source, log_line_members_overlap,
                       L"Members share their data in the archive, nothing extracted: %s and %s",
                       name_of(reaching->index).c_str(), name_of(next.index).c_str());
            return true;
        }
        if (!reaching || next.end > reaching->end)
            reaching = &next;
    }
    return false;
}

bool unzip_base::extract_all(const std::wstring& folder, std::vector<std::wstring>& files)
{
    return without_exceptions([&] { return _extract_all(folder, files); });
}

bool unzip_base::_extract_all(const std::wstring& folder, std::vector<std::wstring>& files)
{
    if (!_initialised)
        return true;
    if (_members_overlap())
        return false;
    bool folder_made = folder.empty();
    const mz_uint count = mz_zip_reader_get_num_files(&_reader);
    for (mz_uint index = 0; index < count; ++index) {
        mz_zip_archive_file_stat stat;
        if (!mz_zip_reader_file_stat(&_reader, index, &stat)) {
            VARNOX_LOG(1, log_source, log_line_stat_failed, L"%s", L"mz_zip_reader_file_stat() failed!");
            return false;
        }
        const std::string stored = stored_member_name(_reader, index);
        const std::optional<std::wstring> name = member_name_text(stored, stat.m_bit_flag);
        if (!name) {
            VARNOX_LOG(1, log_source, log_line_name_not_text, L"Member name is not valid text, not extracted: %s",
                       shown(windows::from_code_page(stored, CP_ACP)).c_str());
            return false;
        }
        if (!is_safe_member_name(*name)) {
            VARNOX_LOG(1, log_source, log_line_unsafe_member, L"Member name leaves the target folder, not extracted: %s",
                       shown(*name).c_str());
            return false;
        }
        const bool is_folder = stat.m_is_directory || (ends_in_separator(*name) && stat.m_uncomp_size == 0);

        // The target folder as given may lie anywhere; below it, every folder
        // is made here or must be a real folder.
        if (!folder_made) {
            if (const file_error error = create_folder_chain(folder)) {
                log_folder_error(log_line_extract_all_folder, folder, error);
                return false;
            }
            folder_made = true;
        }
        const std::wstring member_folder = is_folder ? *name : folder_part(*name);
        if (const file_error error = create_folders_below(folder, member_folder)) {
            log_folder_error(log_line_extract_all_folder,
                             folder.empty() ? member_folder : folder + path_separator + member_folder, error);
            return false;
        }
        if (is_folder)
            continue;

        const std::wstring target = folder.empty() ? member_path(*name) : folder + path_separator + member_path(*name);
        files.push_back(target);
        if (!remove_old_target(target))
            return false;
        if (!stat.m_is_supported || !_write_member(index, stat.m_time, target)) {
            VARNOX_LOG(1, log_source, log_line_extract_all_failed, L"%s", L"mz_zip_reader_extract_to_file() failed!");
            return false;
        }
    }
    return true;
}

std::shared_ptr<unzip> open_unzip(const std::wstring& path, std::uint32_t offset)
{
    try {
        std::uint64_t size = 0;
        file_error error = 0;
        switch (probe_entry(path, size, error)) {
        case entry_kind::missing:
            return nullptr;
        case entry_kind::other:
            // A folder, or a path whose size cannot be read.
            VARNOX_LOG(1, log_source, log_line_open_unknown, L"%s", L"Unknown exception");
            return nullptr;
        case entry_kind::file:
            break;
        }
        if (size <= offset)
            return nullptr;
        std::shared_ptr<archive_file> stream = archive_file::open(path);
        if (!stream)
            return nullptr;
        auto archive = std::make_shared<unzip_base>(stream.get(), offset);
        archive->_stream_owner = std::move(stream);
        return archive;
    } catch (const unzip_base::exception& error) {
        VARNOX_LOG(1, log_source, log_line_open_failed, L"%s", compose_exception_message(&error).c_str());
    } catch (...) {
        VARNOX_LOG(1, log_source, log_line_open_unknown, L"%s", L"Unknown exception");
    }
    return nullptr;
}

} // namespace archive
} // namespace varnox
