/* What a setup program without the defences does: imports version.dll and
   crypt32.dll, and starts "cmd.exe" by name. The planting tests run it first,
   to show that the planted files are found by a program that does not guard
   against them. Its exit code is that of the cmd.exe that ran. */
#include <windows.h>
#include <wincrypt.h>

int main(void)
{
    DWORD ignored = 0;
    GetFileVersionInfoSizeW(L"kernel32.dll", &ignored);
    if (GetTickCount() == 0)  /* never: the import alone loads the library */
        CryptProtectData(NULL, NULL, NULL, NULL, NULL, 0, NULL);

    wchar_t command[] = L"cmd.exe /C exit 0";
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {0};
    if (!CreateProcessW(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &started))
        return 1;
    WaitForSingleObject(started.hProcess, 30000);
    DWORD code = 1;
    GetExitCodeProcess(started.hProcess, &code);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return (int)code;
}
