#include "test_support.h"

#include <algorithm>
#include <stdexcept>

#include <boost/filesystem.hpp>

#include "varnox/windows/code_page.h"
#include "varnox/windows/handle.h"

namespace test_support {

std::wstring error_text(DWORD error)
{
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length ? std::wstring(buffer, length) : L"error " + std::to_wstring(error);
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
        text.pop_back();
    return text;
}

temp_folder::temp_folder()
{
    const boost::filesystem::path folder =
        boost::filesystem::temp_directory_path() /
        boost::filesystem::unique_path(L"varnox-test-%%%%-%%%%-%%%%");
    boost::filesystem::create_directories(folder);
    _path = folder.wstring();
}

temp_folder::~temp_folder()
{
    boost::system::error_code ignored;
    boost::filesystem::remove_all(_path, ignored);
}

std::string read_file(const std::wstring& path)
{
    varnox::windows::unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                     nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return std::string();
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return bytes;
}

void write_file(const std::wstring& path, const std::string& bytes)
{
    varnox::windows::unique_hfile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file)
        throw std::runtime_error("cannot create " + to_utf8(path));
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 24));
        DWORD written = 0;
        if (!::WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr))
            throw std::runtime_error("cannot write " + to_utf8(path));
        done += written;
    }
}

bool file_exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::uint64_t file_size(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string to_utf8(const std::wstring& text)
{
    return varnox::windows::to_code_page(text, CP_UTF8);
}

std::wstring from_utf8(const std::string& text)
{
    return varnox::windows::from_code_page(text, CP_UTF8);
}

std::wstring windows_path_of_unix(const std::string& unix_path)
{
    std::wstring path = L"Z:" + from_utf8(unix_path);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

namespace {

struct window_search {
    DWORD process_id;
    std::vector<std::wstring>* titles;
};

BOOL CALLBACK collect_window(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<window_search*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != search->process_id || !::IsWindowVisible(window))
        return TRUE;
    wchar_t title[256] = {};
    ::GetWindowTextW(window, title, 256);
    if (std::find(search->titles->begin(), search->titles->end(), title) == search->titles->end())
        search->titles->push_back(title);
    return TRUE;
}

} // namespace

namespace {

// The current environment with the changes applied, as a CreateProcessW block.
std::wstring environment_block(const environment_changes& changes)
{
    std::vector<std::wstring> entries;
    wchar_t* current = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = current; entry && *entry; entry += wcslen(entry) + 1)
        entries.emplace_back(entry);
    ::FreeEnvironmentStringsW(current);
    for (const auto& change : changes) {
        const std::wstring prefix = change.first + L"=";
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const std::wstring& entry) {
                                         return _wcsnicmp(entry.c_str(), prefix.c_str(), prefix.size()) == 0;
                                     }),
                      entries.end());
        if (!change.second.empty())
            entries.push_back(prefix + change.second);
    }
    std::wstring block;
    for (const auto& entry : entries)
        block += entry + L'\0';
    block += L'\0';
    return block;
}

} // namespace

process_result run_process(const std::wstring& command_line, DWORD timeout_ms,
                           const environment_changes& environment)
{
    process_result result;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring mutable_line = command_line;
    std::wstring block = environment.empty() ? std::wstring() : environment_block(environment);
    if (!::CreateProcessW(nullptr, &mutable_line[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                          block.empty() ? nullptr : &block[0], nullptr, &startup, &info))
        return result;
    varnox::windows::unique_handle process(info.hProcess);
    varnox::windows::unique_handle thread(info.hThread);
    result.started = true;

    const DWORD deadline = ::GetTickCount() + timeout_ms;
    for (;;) {
        window_search search{info.dwProcessId, &result.window_titles};
        ::EnumWindows(&collect_window, reinterpret_cast<LPARAM>(&search));
        if (::WaitForSingleObject(process.get(), 50) == WAIT_OBJECT_0)
            break;
        if (static_cast<LONG>(::GetTickCount() - deadline) >= 0) {
            result.timed_out = true;
            ::TerminateProcess(process.get(), 1);
            ::WaitForSingleObject(process.get(), 5000);
            break;
        }
    }
    ::GetExitCodeProcess(process.get(), &result.exit_code);
    return result;
}

varnox::windows::operating_system operating_system_with(DWORD major, DWORD minor, WORD architecture, DWORD platform)
{
    varnox::windows::operating_system os;
    os.version_info.dwPlatformId = platform;
    os.version_info.dwMajorVersion = major;
    os.version_info.dwMinorVersion = minor;
    os.system_info.wProcessorArchitecture = architecture;
    return os;
}

} // namespace test_support
