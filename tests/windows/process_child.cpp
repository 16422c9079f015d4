// A child for the console process runner's tests; the first argument picks
// what it does.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void write_bytes(HANDLE handle, const char* bytes, DWORD size)
{
    while (size > 0) {
        DWORD written = 0;
        if (!::WriteFile(handle, bytes, size, &written, nullptr) || written == 0)
            return;
        bytes += written;
        size -= written;
    }
}

void write_out(const std::string& bytes)
{
    write_bytes(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()));
}

// "abc...xyzabc...": every byte tells its position modulo 26.
std::string pattern(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + i % 26);
    return bytes;
}

unsigned long number(int argc, char** argv, int index, unsigned long fallback)
{
    return argc > index ? std::strtoul(argv[index], nullptr, 0) : fallback;
}

// "中文" in code page 950 (Big5), else in 936 (GBK). In Big5 the second
// byte of "中" is a lead byte too.
std::string chinese(unsigned long code_page)
{
    return code_page == 950 ? "\xA4\xA4\xA4\xE5" : "\xD6\xD0\xCE\xC4";
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "exit") {
        // exit CODE: no output at all.
        ::ExitProcess(static_cast<UINT>(number(argc, argv, 2, 0)));
    } else if (mode == "print") {
        // print SIZE: SIZE pattern bytes in one write.
        write_out(pattern(number(argc, argv, 2, 0)));
    } else if (mode == "nul") {
        // 600 bytes in one write, a NUL byte at offset 100.
        std::string bytes = pattern(600);
        bytes[100] = '\0';
        write_out(bytes);
    } else if (mode == "stderr") {
        write_out("to stdout");
        write_bytes(::GetStdHandle(STD_ERROR_HANDLE), "to stderr", 9);
    } else if (mode == "sleep") {
        // sleep MS [CODE]: writes "started", sleeps, exits with CODE.
        write_out("started");
        ::Sleep(number(argc, argv, 2, 0));
        ::ExitProcess(static_cast<UINT>(number(argc, argv, 3, 0)));
    } else if (mode == "forever") {
        write_out("started");
        ::Sleep(INFINITE);
    } else if (mode == "chatty") {
        // Writes without a pause and never ends, in blocks large enough that
        // the pipe almost always holds output when the runner looks.
        std::string block;
        while (block.size() < 65536)
            block += "still here\n";
        for (;;)
            write_out(block);
    } else if (mode == "stdin") {
        // Reads its standard input to the end, then tells how much it got.
        char buffer[4096];
        unsigned long total = 0;
        DWORD read = 0;
        while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof(buffer), &read, nullptr) && read > 0)
            total += read;
        write_out("input: " + std::to_string(total) + " bytes");
    } else if (mode == "ansi") {
        // ansi CP: "中文" in code page 936 or 950.
        write_out(chinese(number(argc, argv, 2, 936)));
    } else if (mode == "double_byte") {
        // double_byte CP: "a" and 600 times "中文" in code page 936 or 950, in
        // one write, so that a character straddles every 512-byte boundary.
        const std::string characters = chinese(number(argc, argv, 2, 936));
        std::string bytes = "a";
        for (int i = 0; i < 600; ++i)
            bytes += characters;
        write_out(bytes);
    } else if (mode == "stamp") {
        // The performance counter just before the exit, for the benchmark.
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        write_out(std::to_string(now.QuadPart));
    } else if (mode == "mebibyte") {
        // 1 MiB in writes of 64 KiB, for the benchmark.
        const std::string block = pattern(65536);
        for (int i = 0; i < 16; ++i)
            write_out(block);
    } else {
        return 2;
    }
    return 0;
}
