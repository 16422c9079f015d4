// Figures for the console process runner, each next to a plain
// CreateProcessW baseline measured in the same run:
// - how long after a child's exit each returns (20 runs),
// - how fast each captures 1 MiB of child output.
// Usage: process_runner_bench.exe <path of process_child.exe>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "varnox/windows/handle.h"
#include "varnox/windows/process.h"

using varnox::windows::unique_handle;

namespace {

double frequency()
{
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
}

long long now()
{
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return t.QuadPart;
}

// The baselines. Waiting first suits a short output that fits into the pipe
// (the exit latency); reading until the pipe breaks suits a long one.
enum class plain_mode { wait_then_read, read_then_wait };

std::string plain_run(std::wstring command, plain_mode mode, long long* ended = nullptr)
{
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, TRUE};
    HANDLE read_handle = nullptr, write_handle = nullptr;
    if (!::CreatePipe(&read_handle, &write_handle, &attributes, 0))
        return std::string();
    unique_handle read_end(read_handle), write_end(write_handle);
    ::SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end.get();
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &info))
        return std::string();
    unique_handle process(info.hProcess), thread(info.hThread);
    write_end.reset();
    std::string output;
    char buffer[65536];
    DWORD read = 0;
    if (mode == plain_mode::wait_then_read) {
        ::WaitForSingleObject(process.get(), INFINITE);
        if (ended)
            *ended = now();
        DWORD available = 0;
        if (::PeekNamedPipe(read_end.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0
            && ::ReadFile(read_end.get(), buffer, std::min<DWORD>(available, sizeof(buffer)), &read, nullptr))
            output.append(buffer, read);
        return output;
    }
    while (::ReadFile(read_end.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        output.append(buffer, read);
    ::WaitForSingleObject(process.get(), INFINITE);
    return output;
}

struct summary {
    double min, median, max;
};

summary summarise(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return {values.front(), values[values.size() / 2], values.back()};
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: process_runner_bench.exe <process_child.exe>\n");
        return 2;
    }
    const std::wstring child = L"\"" + std::wstring(argv[1]) + L"\" ";
    const double ticks_per_ms = frequency() / 1000.0;

    // The child prints the performance counter just before it exits; the
    // time from there to the return is what each way of running adds.
    constexpr int runs = 20;
    std::vector<double> runner_latency, plain_latency;
    for (int i = 0; i < runs; ++i) {
        std::wstring output;
        varnox::windows::exec_console_application_with_timeout(child + L"stamp", output, true, 0);
        const long long returned = now();
        runner_latency.push_back((returned - std::stoll(output)) / ticks_per_ms);

        long long plain_returned = 0;
        const std::string plain = plain_run(child + L"stamp", plain_mode::wait_then_read, &plain_returned);
        plain_latency.push_back((plain_returned - std::stoll(plain)) / ticks_per_ms);
    }
    const summary runner_exit = summarise(runner_latency);
    const summary plain_exit = summarise(plain_latency);
    std::printf("return after the child's exit, %d runs (ms): min / median / max\n", runs);
    std::printf("  runner                 %8.2f %8.2f %8.2f\n", runner_exit.min, runner_exit.median, runner_exit.max);
    std::printf("  CreateProcess and wait %8.2f %8.2f %8.2f\n", plain_exit.min, plain_exit.median, plain_exit.max);

    // 1 MiB of output, 5 runs each, whole run from start to return.
    constexpr int capture_runs = 5;
    std::vector<double> runner_ms, plain_ms;
    size_t runner_bytes = 0, plain_bytes = 0;
    for (int i = 0; i < capture_runs; ++i) {
        std::wstring output;
        long long start = now();
        varnox::windows::exec_console_application_with_timeout(child + L"mebibyte", output, true, 0);
        runner_ms.push_back((now() - start) / ticks_per_ms);
        runner_bytes = output.size();

        start = now();
        const std::string plain = plain_run(child + L"mebibyte", plain_mode::read_then_wait);
        plain_ms.push_back((now() - start) / ticks_per_ms);
        plain_bytes = plain.size();
    }
    const summary runner_capture = summarise(runner_ms);
    const summary plain_capture = summarise(plain_ms);
    std::printf("capture of 1 MiB, %d runs (ms): min / median / max, MiB/s at the median\n", capture_runs);
    std::printf("  runner                 %8.2f %8.2f %8.2f  %8.2f  (%zu characters)\n", runner_capture.min,
                runner_capture.median, runner_capture.max, 1000.0 / runner_capture.median, runner_bytes);
    std::printf("  CreateProcess and read %8.2f %8.2f %8.2f  %8.2f  (%zu bytes)\n", plain_capture.min,
                plain_capture.median, plain_capture.max, 1000.0 / plain_capture.median, plain_bytes);
    return 0;
}
