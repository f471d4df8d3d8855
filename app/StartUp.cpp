#include "app/StartUp.h"

#include "framework/SystemLibrary.h"

#include <windows.h>
#include <wchar.h>

void RestrictDllSearchPath() {
    wchar_t kernel[MAX_PATH];
    UINT length = GetSystemDirectoryW(kernel, MAX_PATH);
    if (length == 0 || length + 14 >= MAX_PATH)
        return;
    if (kernel[length - 1] != L'\\')
        kernel[length++] = L'\\';
    wmemcpy(kernel + length, L"kernel32.dll", 13);
    HMODULE module = GetModuleHandleW(kernel);
    if (module == NULL)
        return;
    typedef BOOL(WINAPI * SetDirectories)(DWORD);
    SetDirectories setDirectories = (SetDirectories)(void*)GetProcAddress(module, "SetDefaultDllDirectories");
    if (setDirectories != NULL)
        setDirectories(0x800); // LOAD_LIBRARY_SEARCH_SYSTEM32
}

void InitThemeSupport() {
    typedef void(WINAPI * SetProperties)(DWORD);
    static bool looked = false;
    static SetProperties setProperties = NULL;
    if (!looked) {
        looked = true;
        setProperties = SystemFunction<SetProperties>(L"UxTheme.dll", "SetThemeAppProperties");
    }
    if (setProperties != NULL)
        setProperties(3); // STAP_ALLOW_NONCLIENT | STAP_ALLOW_CONTROLS
}

namespace {

// 1 when this process now holds the mutex, 0 when another process does, -1 when the namespace is
// closed to this process. The handle of a claimed mutex stays open until the process ends.
int ClaimMutex(const wchar_t* name) {
    HANDLE mutex = CreateMutexW(NULL, FALSE, name);
    DWORD error = GetLastError();
    if (mutex != NULL) {
        if (error != ERROR_ALREADY_EXISTS)
            return 1;
        CloseHandle(mutex);
        return 0;
    }
    if (error != ERROR_ACCESS_DENIED)
        return -1;
    // The setup of another user made it, and its rights keep this process out: it exists all the same.
    mutex = OpenMutexW(SYNCHRONIZE, FALSE, name);
    error = GetLastError();
    if (mutex != NULL)
        CloseHandle(mutex);
    return mutex != NULL || error == ERROR_ACCESS_DENIED ? 0 : -1;
}

} // namespace

int ClaimSetupLock() {
    if (ClaimMutex(L"Local\\GlimmerlySetup") == 0)
        return 0;
    return ClaimMutex(L"Global\\GlimmerlySetup") != 0;
}
