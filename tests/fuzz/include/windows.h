#pragma once
// Stand-in for <windows.h> in the native build of the fuzz targets: the types, constants and functions
// that the product's files compiled there name. wchar_t is UTF-16 (-fshort-wchar), as on Windows;
// WinShim.cpp implements the functions (unreached ones stop the run).
#include <stddef.h>
#include <stdint.h>

#include "WideRuntime.h"

#define WINAPI
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int64_t LONGLONG;
typedef unsigned int UINT;
typedef DWORD LCID;
typedef wchar_t WCHAR;
typedef const wchar_t* LPCWSTR;
typedef wchar_t* LPWSTR;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef void* HANDLE;
typedef HANDLE HDC;
typedef HANDLE HRSRC;
typedef HANDLE HGLOBAL;
typedef HANDLE HMODULE;
typedef HANDLE HWND;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
struct SYSTEMTIME {
    WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
union LARGE_INTEGER {
    LONGLONG QuadPart;
};
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define MAKEINTRESOURCEW(i) ((LPCWSTR)(uintptr_t)(WORD)(i))
#define LOWORD(l) ((WORD)((uintptr_t)(l)&0xFFFF))
#define HIWORD(l) ((WORD)(((uintptr_t)(l) >> 16) & 0xFFFF))

#define CP_ACP 0
#define LOCALE_USER_DEFAULT 0x0400
#define DATE_SHORTDATE 0x00000001
#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define SM_CYFULLSCREEN 17
#define LOGPIXELSX 88
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_APPEND_DATA 0x0004
#define DELETE 0x00010000
#define CREATE_NEW 1
#define OPEN_ALWAYS 4
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000
#define FILE_BEGIN 0

#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_INVALID_NAME 123
#define ERROR_ENVVAR_NOT_FOUND 203
#define ERROR_ALREADY_EXISTS 183
#define ERROR_FILE_EXISTS 80
#define ERROR_FILENAME_EXCED_RANGE 206

extern "C" {
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD error);

// Text
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR bytes, int byteCount, LPWSTR wide,
                               int wideChars);
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideChars, LPSTR bytes,
                               int byteCount, LPCSTR defaultChar, BOOL* usedDefault);
BOOL WINAPI IsDBCSLeadByte(BYTE byte);
DWORD WINAPI GetEnvironmentVariableW(LPCWSTR name, LPWSTR value, DWORD valueChars);
int WINAPI GetDateFormatW(LCID locale, DWORD flags, const SYSTEMTIME* time, LPCWSTR format, LPWSTR date,
                          int dateChars);
void WINAPI GetLocalTime(SYSTEMTIME* time);

// Files and folders
DWORD WINAPI GetCurrentDirectoryW(DWORD chars, LPWSTR path);
BOOL WINAPI SetCurrentDirectoryW(LPCWSTR path);
DWORD WINAPI GetFullPathNameW(LPCWSTR path, DWORD chars, LPWSTR full, LPWSTR* name);
BOOL WINAPI CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security);
BOOL WINAPI DeleteFileW(LPCWSTR path);
BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags);
DWORD WINAPI GetTempPathW(DWORD chars, LPWSTR path);
HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD attributes, HANDLE templateFile);
BOOL WINAPI ReadFile(HANDLE file, void* bytes, DWORD count, DWORD* read, void* overlapped);
BOOL WINAPI WriteFile(HANDLE file, const void* bytes, DWORD count, DWORD* written, void* overlapped);
BOOL WINAPI GetFileSizeEx(HANDLE file, LARGE_INTEGER* size);
BOOL WINAPI SetFilePointerEx(HANDLE file, LARGE_INTEGER to, LARGE_INTEGER* now, DWORD method);
BOOL WINAPI CloseHandle(HANDLE handle);
BOOL WINAPI GetFileTime(HANDLE file, FILETIME* created, FILETIME* accessed, FILETIME* written);
BOOL WINAPI SetFileTime(HANDLE file, const FILETIME* created, const FILETIME* accessed,
                        const FILETIME* written);
BOOL WINAPI DosDateTimeToFileTime(WORD date, WORD time, FILETIME* fileTime);
BOOL WINAPI LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc);
DWORD WINAPI GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR fallback, LPWSTR value,
                                      DWORD valueChars, LPCWSTR file);
BOOL WINAPI WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file);

// Resources and the display
HRSRC WINAPI FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource);
void* WINAPI LockResource(HGLOBAL resource);
DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource);
HDC WINAPI CreateDCW(LPCWSTR driver, LPCWSTR device, LPCWSTR port, const void* mode);
BOOL WINAPI DeleteDC(HDC dc);
int WINAPI GetDeviceCaps(HDC dc, int index);
int WINAPI GetSystemMetrics(int index);
}
