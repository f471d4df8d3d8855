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
