// Holds a named mutex in a process of its own for the mutex tests, through
// the plain Win32 calls. "hold NAME": takes it, signals the event NAME.held,
// waits for NAME.release, releases it. "abandon NAME": takes it and ends
// without releasing. "try NAME": a wait without time-out, reported in the
// exit code.
#include <windows.h>

#include <string>

namespace {

enum exit_code { obtained = 10, timed_out = 11, abandoned = 12, failed = 13, usage = 14 };

HANDLE open_event(const std::wstring& name)
{
    return ::OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name.c_str());
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return usage;
    const std::wstring mode = argv[1];
    const std::wstring name = argv[2];
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex == nullptr)
        return failed;

    if (mode == L"try") {
        switch (::WaitForSingleObject(mutex, 0)) {
        case WAIT_OBJECT_0: return obtained;
        case WAIT_TIMEOUT: return timed_out;
        case WAIT_ABANDONED: return abandoned;
        default: return failed;
        }
    }
    if (::WaitForSingleObject(mutex, 10000) != WAIT_OBJECT_0)
        return failed;
    if (mode == L"abandon")
        return obtained; // the handle closes with the process: the mutex is abandoned
    if (mode != L"hold")
        return usage;

    HANDLE held = open_event(name + L".held");
    HANDLE release = open_event(name + L".release");
    if (held == nullptr || release == nullptr)
        return failed;
    ::SetEvent(held);
    if (::WaitForSingleObject(release, 30000) != WAIT_OBJECT_0)
        return failed;
    return ::ReleaseMutex(mutex) ? obtained : failed;
}
