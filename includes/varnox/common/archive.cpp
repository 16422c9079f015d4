#include "varnox/common/archive.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <limits>

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include "varnox/common/log.h"
#include "varnox/windows/code_page.h"

namespace varnox {
namespace archive {

namespace {

// Control characters would garble the log line itself.
std::wstring printable_name(const std::string& name)
{
    std::string shown(name);
    for (char& c : shown) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            c = '?';
    }
    return windows::from_code_page(shown, CP_ACP);
}

bool is_device_name(const std::string& component)
{
    // "CON", "nul.txt", "COM1.tar.gz" and "CON " all open the device.
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL")
        return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
           base[3] <= '9';
}

// Removes what a failed extraction left behind; files of earlier members stay.
void delete_partial_file(const std::string& target)
{
    boost::system::error_code error;
    const boost::filesystem::path path(target);
    if (!boost::filesystem::exists(path, error))
        return;
    boost::filesystem::remove(path, error);
    if (error)
        VARNOX_LOG(2, log_source, log_line_partial_not_deleted, L"Could not delete the partly written file %s: %s",
                   windows::from_code_page(target, CP_ACP).c_str(), windows::from_code_page(error.message(), CP_ACP).c_str());
}

// Creates the folder chain that holds target; false only when the folder was
// missing and its creation made nothing.
bool make_parent_folder(const std::string& target)
{
    const boost::filesystem::path parent = boost::filesystem::path(target).parent_path();
    if (parent.empty() || boost::filesystem::exists(parent))
        return true;
    return boost::filesystem::create_directories(parent);
}

void remove_old_target(const std::string& target)
{
    const boost::filesystem::path path(target);
    if (boost::filesystem::exists(path))
        boost::filesystem::remove(path);
}

// Throw sites of this unit name the source as log readers know it.
[[noreturn]] void raise(const wchar_t* function, int line, const wchar_t* message)
{
    throw_error<unzip_base::exception>(throw_site{log_source, function, __FILE__, "", line}, nullptr, message);
}

} // namespace

bool is_safe_member_name(const std::string& name)
{
    if (name.empty())
        return false;
    for (const char c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return false;
        // A drive ("C:"), an alternate data stream ("a:b") or a name no
        // Windows file can have.
        if (std::strchr(":<>\"|?*", c))
            return false;
    }
    // "/etc", "\\server\share", "\Windows".
    if (name.front() == '/' || name.front() == '\\')
        return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos)
            end = name.size();
        const std::string component = name.substr(start, end - start);
        // Windows drops trailing dots and blanks, so "..." and ".. " act as "..".
        if (!component.empty() && (component.back() == '.' || component.back() == ' '))
            return false;
        if (is_device_name(component))
            return false;
        start = end + 1;
    }
    return true;
}

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
    }
    raise(L"varnox::archive::unzip_base::unzip_base", line_initialize_failed, L"Failed to initialize archive.");
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

bool unzip_base::_extract_member(mz_uint index, const std::string& target)
{
    // The reader checks the inflated size and CRC-32 against the directory.
    if (mz_zip_reader_extract_to_file(&_reader, index, target.c_str(), 0))
        return true;
    delete_partial_file(target);
    return false;
}

bool unzip_base::extract(const std::string& name, const std::string& target)
{
    if (!make_parent_folder(target)) {
        VARNOX_LOG(1, log_source, log_line_extract_folder, L"%s", L"DecompressArchive could not create directory.");
        return false;
    }
    // Gone even when the member turns out to be missing.
    remove_old_target(target);

    const int index = _initialised ? mz_zip_reader_locate_file(&_reader, name.c_str(), nullptr, 0) : -1;
    if (index < 0 || !_extract_member(static_cast<mz_uint>(index), target)) {
        VARNOX_LOG(1, log_source, log_line_extract_failed, L"%s", L"mz_zip_reader_extract_file_to_file() failed!");
        return false;
    }
    return true;
}

bool unzip_base::extract_all(const std::wstring& folder, std::vector<std::wstring>& files)
{
    const std::string narrow_folder = windows::to_code_page(folder, CP_ACP);
    const mz_uint count = _initialised ? mz_zip_reader_get_num_files(&_reader) : 0;
    for (mz_uint index = 0; index < count; ++index) {
        mz_zip_archive_file_stat stat;
        if (!mz_zip_reader_file_stat(&_reader, index, &stat)) {
            std::fputs("mz_zip_reader_file_stat() failed!\n", stdout);
            VARNOX_LOG(1, log_source, log_line_stat_failed, L"%s", L"mz_zip_reader_file_stat() failed!");
            return false;
        }
        const std::string name(stat.m_filename);
        if ((!name.empty() && name.back() == '/') || (stat.m_external_attr & 0x10) != 0)
            continue;
        if (!is_safe_member_name(name)) {
            VARNOX_LOG(1, log_source, log_line_unsafe_member, L"Member name leaves the target folder, not extracted: %s",
                       printable_name(name).c_str());
            return false;
        }

        const std::string target = narrow_folder.empty() ? name : narrow_folder + "\\" + name;
        if (!make_parent_folder(target)) {
            VARNOX_LOG(1, log_source, log_line_extract_all_folder, L"%s",
                       L"DecompressArchive could not create directory.");
            return false;
        }
        files.push_back(windows::from_code_page(target, CP_ACP));
        remove_old_target(target);
        if (!_extract_member(index, target)) {
            VARNOX_LOG(1, log_source, log_line_extract_all_failed, L"%s", L"mz_zip_reader_extract_to_file() failed!");
            return false;
        }
    }
    return true;
}

std::shared_ptr<unzip> open_unzip(const std::wstring& path, std::uint32_t offset)
{
    try {
        const boost::filesystem::path file(path);
        if (!boost::filesystem::exists(file))
            return nullptr;
        if (boost::filesystem::file_size(file) <= offset)
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
