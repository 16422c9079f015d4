/* Planted as cmd.exe where a program looks for it by name (beside itself, in
   its current folder): records that it ran by creating "<its own path>.ran",
   and ends with exit code 42. */
#include <windows.h>

int main(void)
{
    wchar_t path[MAX_PATH + 16];
    const DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        lstrcpyW(path + length, L".ran");
        HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (marker != INVALID_HANDLE_VALUE)
            CloseHandle(marker);
    }
    return 42;
}
