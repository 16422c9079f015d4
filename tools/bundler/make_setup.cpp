// make_setup: appends a payload archive to install.exe so that the setup
// program finds and opens it, and checks the result the way install.exe will.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <boost/filesystem.hpp>
#include <miniz.h>

#include "payload_locator.h"
#include "varnox/common/archive.h"
#include "varnox/windows/code_page.h"

namespace {

constexpr int exit_written = 0;
constexpr int exit_refused = 1;
constexpr int exit_usage = 2;

struct refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string utf8_of(const std::wstring& text)
{
    return varnox::windows::to_code_page(text, CP_UTF8);
}

// Member names are stored in UTF-8, which holds every name exactly; the zip
// writer marks them so with the UTF-8 flag.
std::string stored_name_of(const std::wstring& name)
{
    const auto stored = varnox::windows::to_code_page_exact(name, CP_UTF8);
    if (!stored)
        throw refusal("member name is not valid text: " + utf8_of(name));
    return *stored;
}

std::string read_whole(const std::wstring& path)
{
    std::ifstream in(boost::filesystem::path(path).string(), std::ios::binary);
    if (!in)
        throw refusal("cannot read " + utf8_of(path));
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct member {
    std::string name;
    std::wstring path;
};

// The members of a folder, by their paths below it with "/" separators.
std::vector<member> members_of_folder(const std::wstring& folder)
{
    std::vector<member> members;
    const boost::filesystem::path root(folder);
    for (auto it = boost::filesystem::recursive_directory_iterator(root);
         it != boost::filesystem::recursive_directory_iterator(); ++it) {
        if (!boost::filesystem::is_regular_file(it->path()))
            continue;
        std::wstring relative = it->path().wstring().substr(root.wstring().size());
        while (!relative.empty() && (relative.front() == L'\\' || relative.front() == L'/'))
            relative.erase(0, 1);
        std::replace(relative.begin(), relative.end(), L'\\', L'/');
        members.push_back({stored_name_of(relative), it->path().wstring()});
    }
    std::sort(members.begin(), members.end(), [](const member& a, const member& b) { return a.name < b.name; });
    return members;
}

std::string zip_members(const std::vector<member>& members)
{
    if (members.empty())
        throw refusal("no members: an archive without files has no local header for the setup program to find");
    mz_zip_archive writer;
    mz_zip_zero_struct(&writer);
    if (!mz_zip_writer_init_heap(&writer, 0, 0))
        throw refusal("cannot start the zip writer");
    for (const member& m : members) {
        const std::string data = read_whole(m.path);
        if (!mz_zip_writer_add_mem(&writer, m.name.c_str(), data.data(), data.size(), MZ_DEFAULT_LEVEL)) {
            mz_zip_writer_end(&writer);
            throw refusal("cannot add member " + m.name);
        }
    }
    void* buffer = nullptr;
    size_t size = 0;
    const bool finished = mz_zip_writer_finalize_heap_archive(&writer, &buffer, &size);
    std::string archive = finished ? std::string(static_cast<const char*>(buffer), size) : std::string();
    mz_zip_writer_end(&writer);
    if (!finished)
        throw refusal("cannot finish the archive");
    return archive;
}

// The first 4-byte-aligned offset beyond the image's first MiB that is not
// before the image's end.
std::uint64_t payload_offset_for(std::uint64_t image_size)
{
    const std::uint64_t least = std::max<std::uint64_t>(image_size, install::payload_offset_floor + 1);
    return (least + 3) & ~std::uint64_t(3);
}

struct listed_member {
    std::string name;   // as stored, which install.exe's lookups compare
    std::wstring text;  // as install.exe reads it, by the UTF-8 flag
    std::uint64_t size;
    std::uint64_t compressed;
    bool folder;
};

std::vector<listed_member> list_archive(const std::string& archive)
{
    mz_zip_archive reader;
    mz_zip_zero_struct(&reader);
    if (!mz_zip_reader_init_mem(&reader, archive.data(), archive.size(), 0))
        throw refusal("the archive cannot be read");
    std::vector<listed_member> listed;
    for (mz_uint i = 0; i < mz_zip_reader_get_num_files(&reader); ++i) {
        mz_zip_archive_file_stat stat;
        if (!mz_zip_reader_file_stat(&reader, i, &stat)) {
            mz_zip_reader_end(&reader);
            throw refusal("the archive's directory cannot be read");
        }
        const std::string stored = varnox::archive::stored_member_name(reader, i);
        const auto text = varnox::archive::member_name_text(stored, stat.m_bit_flag);
        if (!text) {
            mz_zip_reader_end(&reader);
            throw refusal("member name is not valid text in its encoding: " +
                          utf8_of(varnox::windows::from_code_page(stored, CP_ACP)));
        }
        listed.push_back({stored, *text, stat.m_uncomp_size, stat.m_comp_size, stat.m_is_directory != 0});
    }
    mz_zip_reader_end(&reader);
    return listed;
}

std::string shown(const std::wstring& name) { return utf8_of(varnox::archive::printable_member_name(name)); }

// The file system that install.exe writes to ignores the letter case and the
// kind of separator, and a folder entry names its folder.
std::wstring same_file_key(std::wstring name)
{
    std::replace(name.begin(), name.end(), L'\\', L'/');
    while (!name.empty() && name.back() == L'/')
        name.pop_back();
    if (!name.empty())
        ::CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
    return name;
}

// What install.exe would refuse to extract, or extract over itself.
void check_member_names(const std::vector<listed_member>& listed)
{
    std::map<std::wstring, const listed_member*> seen;
    for (const listed_member& m : listed) {
        if (!varnox::archive::is_safe_member_name(m.text))
            throw refusal("member name would leave the setup program's target folder: " + shown(m.text));
        const auto [at, added] = seen.emplace(same_file_key(m.text), &m);
        if (!added)
            throw refusal("two members of the same name: " + shown(at->second->text) + " and " + shown(m.text));
    }
}

void usage()
{
    std::fputs("usage: make_setup --installer install.exe --output setup.exe\n"
               "                  (--zip payload.zip | --folder members | --member [name=]file ...)\n"
               "Appends the payload to install.exe at the first 4-byte-aligned offset beyond 1 MiB\n"
               "and not before the image's end, then checks that install.exe finds and opens it.\n",
               stderr);
}

int make_setup(const std::vector<std::wstring>& args)
{
    std::wstring installer, output, zip, folder;
    std::vector<member> members;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& option = args[i];
        if (i + 1 >= args.size()) {
            usage();
            return exit_usage;
        }
        const std::wstring& value = args[++i];
        if (option == L"--installer") {
            installer = value;
        } else if (option == L"--output") {
            output = value;
        } else if (option == L"--zip") {
            zip = value;
        } else if (option == L"--folder") {
            folder = value;
        } else if (option == L"--member") {
            const size_t equals = value.find(L'=');
            if (equals != std::wstring::npos)
                members.push_back({stored_name_of(value.substr(0, equals)), value.substr(equals + 1)});
            else
                members.push_back({stored_name_of(boost::filesystem::path(value).filename().wstring()), value});
        } else {
            usage();
            return exit_usage;
        }
    }
    const int sources = !zip.empty() + !folder.empty() + !members.empty();
    if (installer.empty() || output.empty() || sources != 1) {
        usage();
        return exit_usage;
    }

    // A signature inside the image would be taken for the payload.
    if (const auto found = install::find_payload_offset(installer))
        throw refusal("the installer image holds a local header signature at aligned offset 0x" + [&] {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(*found));
            return std::string(hex);
        }() + " beyond 1 MiB; install.exe would take it for its payload");
    const std::string image = read_whole(installer);

    std::string archive;
    if (!zip.empty()) {
        archive = read_whole(zip);
        if (archive.size() < 4 || std::memcmp(archive.data(), "PK\3\4", 4) != 0)
            throw refusal("the zip file does not begin with a local header (empty, or data in front of it)");
    } else {
        archive = zip_members(folder.empty() ? members : members_of_folder(folder));
    }
    const std::vector<listed_member> listed = list_archive(archive);
    check_member_names(listed);

    const std::uint64_t offset = payload_offset_for(image.size());
    if (offset + archive.size() > 0x7FFFFFFFu)
        throw refusal("the setup file would exceed 2 GiB");
    {
        std::ofstream out(boost::filesystem::path(output).string(), std::ios::binary | std::ios::trunc);
        out.write(image.data(), static_cast<std::streamsize>(image.size()));
        const std::string padding(static_cast<size_t>(offset - image.size()), '\0');
        out.write(padding.data(), static_cast<std::streamsize>(padding.size()));
        out.write(archive.data(), static_cast<std::streamsize>(archive.size()));
        out.close();
        if (!out)
            throw refusal("cannot write " + utf8_of(output));
    }

    // Exactly as install.exe does it: the scan, the opening, the lookups.
    const auto located = install::find_payload_offset(output);
    if (!located || static_cast<std::uint64_t>(*located) != offset)
        throw refusal("install.exe would not find the payload at its offset");
    const auto opened = varnox::archive::open_unzip(output, static_cast<std::uint32_t>(offset));
    if (!opened)
        throw refusal("install.exe could not open the payload");
    for (const listed_member& m : listed)
        if (!opened->contains(m.name))
            throw refusal("install.exe does not find the member " + m.name);

    std::printf("wrote %s\n", utf8_of(output).c_str());
    std::printf("image %llu bytes, payload at offset 0x%llX (%llu), archive %llu bytes, %u members\n",
                static_cast<unsigned long long>(image.size()), static_cast<unsigned long long>(offset),
                static_cast<unsigned long long>(offset), static_cast<unsigned long long>(archive.size()),
                static_cast<unsigned>(listed.size()));
    for (const listed_member& m : listed)
        std::printf("  %12llu %12llu  %s%s\n", static_cast<unsigned long long>(m.size),
                    static_cast<unsigned long long>(m.compressed), shown(m.text).c_str(), m.folder ? "  (folder)" : "");
    return exit_written;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring output;
    try {
        const std::vector<std::wstring> args(argv + 1, argv + argc);
        for (size_t i = 0; i + 1 < args.size(); ++i)
            if (args[i] == L"--output")
                output = args[i + 1];
        return make_setup(args);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_setup: %s\n", error.what());
    }
    // Never leave a setup file that install.exe would misread.
    if (!output.empty())
        ::DeleteFileW(output.c_str());
    return exit_refused;
}
