/* Planted beside a program as version.dll or crypt32.dll: records that it
   was loaded by creating "<its own path>.loaded", and exports what a program
   importing the real library asks for, so that such a program starts. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 16];
        const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcpyW(path + length, L".loaded");
            HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            if (marker != INVALID_HANDLE_VALUE)
                CloseHandle(marker);
        }
    }
    return TRUE;
}

__declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR file, LPDWORD handle)
{
    (void)file;
    (void)handle;
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
}

/* The blobs and prompt as plain pointers: wincrypt.h would declare the import. */
__declspec(dllexport) BOOL WINAPI CryptProtectData(void* in, LPCWSTR description, void* entropy, PVOID reserved,
                                                   void* prompt, DWORD flags, void* out)
{
    (void)in, (void)description, (void)entropy, (void)reserved, (void)prompt, (void)flags, (void)out;
    return FALSE;
}
