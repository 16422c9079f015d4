// Times the payload scan over a file against a plain sequential read of the
// same file, in the same run, and prints both.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "payload_locator.h"
#include "varnox/windows/handle.h"

namespace {

double seconds_since(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

unsigned long long plain_read(const wchar_t* path)
{
    varnox::windows::unique_hfile file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                     OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    std::vector<char> buffer(256 * 1024);
    unsigned long long total = 0;
    DWORD read = 0;
    while (file && ::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) && read)
        total += read;
    return total;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: payload_scan_bench FILE [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 2 ? _wtoi(argv[2]) : 5;
    double best_scan = 1e9, best_read = 1e9;
    long long found = -1;
    unsigned long long bytes = 0;
    for (int i = 0; i < rounds; ++i) {
        LARGE_INTEGER start;
        ::QueryPerformanceCounter(&start);
        const auto offset = install::find_payload_offset(argv[1]);
        const double scan = seconds_since(start);
        found = offset ? *offset : -1;

        ::QueryPerformanceCounter(&start);
        bytes = plain_read(argv[1]);
        const double read = seconds_since(start);
        if (scan < best_scan)
            best_scan = scan;
        if (read < best_read)
            best_read = read;
    }
    const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
    std::printf("file: %.1f MiB, payload offset: %lld, best of %d rounds\n", mib, found, rounds);
    std::printf("payload scan:    %8.1f ms  %8.1f MiB/s\n", best_scan * 1000, mib / best_scan);
    std::printf("sequential read: %8.1f ms  %8.1f MiB/s\n", best_read * 1000, mib / best_read);
    std::printf("scan / read:     %8.2f\n", best_scan / best_read);
    return 0;
}
