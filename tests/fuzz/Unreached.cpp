// What the fuzzed files name in functions that no fuzz target reaches: Windows functions, and product
// functions of files the native build leaves out. A call means a target went further than this build
// was made for, so the run stops there.
#include "install/ExistingInstallation.h"
#include "install/SafePath.h"
#include "install/StepLog.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

[[noreturn]] void Unreached(const char* name) {
    fprintf(stderr, "%s: not reached by any fuzz target, so the native build has no stand-in\n", name);
    abort();
}

} // namespace

extern "C" {

#define GLIMMERLY_UNREACHED(result, name, parameters)                                                        \
    result WINAPI name parameters {                                                                          \
        Unreached(#name);                                                                                    \
    }

GLIMMERLY_UNREACHED(int, WideCharToMultiByte, (UINT, DWORD, LPCWSTR, int, LPSTR, int, LPCSTR, BOOL*))
GLIMMERLY_UNREACHED(DWORD, GetTempPathW, (DWORD, LPWSTR))
GLIMMERLY_UNREACHED(BOOL, GetFileTime, (HANDLE, FILETIME*, FILETIME*, FILETIME*))
GLIMMERLY_UNREACHED(BOOL, SetFileTime, (HANDLE, const FILETIME*, const FILETIME*, const FILETIME*))
GLIMMERLY_UNREACHED(BOOL, DosDateTimeToFileTime, (WORD, WORD, FILETIME*))
GLIMMERLY_UNREACHED(BOOL, LocalFileTimeToFileTime, (const FILETIME*, FILETIME*))
GLIMMERLY_UNREACHED(DWORD, GetPrivateProfileStringW, (LPCWSTR, LPCWSTR, LPCWSTR, LPWSTR, DWORD, LPCWSTR))
GLIMMERLY_UNREACHED(BOOL, WritePrivateProfileStringW, (LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR))
GLIMMERLY_UNREACHED(HRSRC, FindResourceW, (HMODULE, LPCWSTR, LPCWSTR))
GLIMMERLY_UNREACHED(HGLOBAL, LoadResource, (HMODULE, HRSRC))
GLIMMERLY_UNREACHED(void*, LockResource, (HGLOBAL))
GLIMMERLY_UNREACHED(DWORD, SizeofResource, (HMODULE, HRSRC))
GLIMMERLY_UNREACHED(HDC, CreateDCW, (LPCWSTR, LPCWSTR, LPCWSTR, const void*))
GLIMMERLY_UNREACHED(BOOL, DeleteDC, (HDC))
GLIMMERLY_UNREACHED(int, GetDeviceCaps, (HDC, int))
GLIMMERLY_UNREACHED(int, GetSystemMetrics, (int))

} // extern "C"

int GetDefaultInstallFolder(wchar_t*) {
    Unreached("GetDefaultInstallFolder");
}

int ReadFileVersionInfo(const wchar_t*, wchar_t*, wchar_t*, size_t) {
    Unreached("ReadFileVersionInfo");
}

unsigned long long GetFileSizeBytes(const wchar_t*) {
    Unreached("GetFileSizeBytes");
}

int CreateFoldersWithoutLink(const wchar_t*) {
    Unreached("CreateFoldersWithoutLink");
}

// No fuzz target opens the full log: its lines go nowhere, as in a run without /log=.
void LogStep(const wchar_t*, ...) {}
