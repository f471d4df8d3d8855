#pragma once
#include <windows.h>

// Libraries beyond kernel, user, GDI, registry and common controls are bound on first use, by their
// full path in the system folder, so a planted library beside the setup program is never loaded.
HMODULE LoadSystemLibrary(const wchar_t* fileName);

// The entry of a system library, or null; the library stays loaded for the life of the process.
template <class Function> Function SystemFunction(const wchar_t* fileName, const char* name) {
    HMODULE module = LoadSystemLibrary(fileName);
    return module != NULL ? (Function)(void*)GetProcAddress(module, name) : NULL;
}

// The entry of a library every process has loaded (kernel32, ntdll) where newer systems have it, or null;
// asked by name, with no load, so it costs nothing on paths taken for every file.
template <class Function> Function LoadedSystemFunction(const wchar_t* fileName, const char* name) {
    HMODULE module = GetModuleHandleW(fileName);
    return module != NULL ? (Function)(void*)GetProcAddress(module, name) : NULL;
}
