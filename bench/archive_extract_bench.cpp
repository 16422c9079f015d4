// Extracts one member of a setup file's payload the way install.exe does (the
// scan, open_unzip, unzip::extract) and prints the time taken and the
// process's peak memory.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "payload_locator.h"
#include "varnox/common/archive.h"
#include "varnox/windows/code_page.h"

namespace {

double seconds_since(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Member names and targets travel in the ANSI code page; a path it cannot
// hold exactly is refused.
std::string ansi_of(const std::wstring& text)
{
    const auto converted = varnox::windows::to_code_page_exact(text, CP_ACP);
    if (!converted) {
        std::fprintf(stderr, "not in the ANSI code page: %ls\n", text.c_str());
        std::exit(2);
    }
    return *converted;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: archive_extract_bench SETUP_FILE MEMBER TARGET_FILE\n");
        return 2;
    }
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);
    const auto offset = install::find_payload_offset(argv[1]);
    if (!offset) {
        std::fprintf(stderr, "no payload\n");
        return 1;
    }
    const double scan = seconds_since(start);
    const auto archive = varnox::archive::open_unzip(argv[1], static_cast<std::uint32_t>(*offset));
    if (!archive) {
        std::fprintf(stderr, "payload cannot be opened\n");
        return 1;
    }
    const std::string member = ansi_of(argv[2]);
    ::QueryPerformanceCounter(&start);
    const bool extracted = archive->extract(member, ansi_of(argv[3]));
    const double extract = seconds_since(start);
    if (!extracted) {
        std::fprintf(stderr, "extraction failed\n");
        return 1;
    }

    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    ::GetFileAttributesExW(argv[3], GetFileExInfoStandard, &attributes);
    const double mib =
        static_cast<double>((static_cast<unsigned long long>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow) /
        (1024.0 * 1024.0);
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    std::printf("install.exe reader  %-12s %7.1f MiB in %6.2f s (%7.1f MiB/s), scan %5.3f s, "
                "peak working set %6.1f MiB, peak pagefile %6.1f MiB\n",
                member.c_str(), mib, extract, extract > 0 ? mib / extract : 0.0, scan,
                static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0),
                static_cast<double>(counters.PeakPagefileUsage) / (1024.0 * 1024.0));
    return 0;
}
