#include "install/ExistingInstallation.h"

#include "install/InstallOptions.h"
#include "install/PathHelpers.h"

#include <windows.h>
#include <stdio.h>
#include <wchar.h>

namespace {

// Reads a string value into a buffer of kPathChars; a value that does not fit counts as absent. A value
// of type REG_EXPAND_SZ is read with its environment references expanded, as the shell reads it.
int ReadRegistryText(HKEY root, const wchar_t* keyName, const wchar_t* valueName, wchar_t* text) {
    text[0] = L'\0';
    HKEY key;
    if (RegOpenKeyExW(root, keyName, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    wchar_t buffer[kPathChars + 1] = L"";
    DWORD type = 0;
    DWORD bytes = kPathChars * sizeof(wchar_t);
    LONG result = RegQueryValueExW(key, valueName, NULL, &type, (BYTE*)buffer, &bytes);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return 0;
    // The stored text need not be terminated.
    buffer[bytes / sizeof(wchar_t) < kPathChars ? bytes / sizeof(wchar_t) : kPathChars - 1] = L'\0';
    if (type == REG_EXPAND_SZ) {
        DWORD length = ExpandEnvironmentStringsW(buffer, text, kPathChars);
        if (length == 0 || length > kPathChars)
            text[0] = L'\0';
        return text[0] != L'\0';
    }
    return CopyText(text, kPathChars, buffer);
}

typedef DWORD(WINAPI* GetSizeFunction)(LPCWSTR, LPDWORD);
typedef BOOL(WINAPI* GetInfoFunction)(LPCWSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* QueryValueFunction)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

} // namespace

int ReadInstalledFolder(wchar_t* folder) {
    folder[0] = L'\0';
    wchar_t command[kPathChars];
    if (!ReadRegistryText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Glimmerly\\shell\\open\\command", NULL,
                          command))
        return 0;
    if (command[0] == L'\0' || wcsstr(command, L"gl_main32.exe") == NULL)
        return 0;

    // The command is the quoted program path followed by its arguments. A command without the
    // opening quote was not written by us: its program path then ends at the first blank.
    const wchar_t* start = command;
    wchar_t end = L' ';
    if (*start == L'"') {
        ++start;
        end = L'"';
    }
    wchar_t program[kPathChars];
    size_t n = 0;
    while (start[n] != L'\0' && start[n] != end && n + 1 < kPathChars) {
        program[n] = start[n];
        ++n;
    }
    program[n] = L'\0';
    if (wcsstr(program, L"gl_main32.exe") == NULL)
        return 0;

    wchar_t result[kPathChars];
    GetPathPart(program, result, kPathDrive | kPathFolder);
    AppendBackslash(result);
    if (result[0] == L'\0')
        return 0;
    CopyText(folder, kPathChars, result);
    return 1;
}

int GetDefaultInstallFolder(wchar_t* folder) {
    CopyText(folder, kPathChars, L"C:\\Glimmerly\\");
    wchar_t programFiles[kPathChars];
    if (!ReadRegistryText(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion",
                          L"ProgramFilesDir", programFiles))
        return 1;
    AppendBackslash(programFiles);
    if (!AppendText(programFiles, kPathChars, L"Glimmerly"))
        return 1;
    CopyText(folder, kPathChars, programFiles);
    return 1;
}

void FillSilentDefaults(InstallOptions& options) {
    ResetInstallOptions(options);
    wchar_t folder[kPathChars];
    if (!ReadInstalledFolder(folder)) {
        GetDefaultInstallFolder(folder);
        CopyText(options.iniFolder, kOptionsFolderChars, L"%APPDATA%\\Glimmerly");
    }
    CopyText(options.targetFolder, kOptionsFolderChars, folder);
}

int ReadFileVersionInfo(const wchar_t* path, wchar_t* version, wchar_t* company, size_t companyChars) {
    version[0] = L'\0';
    if (company != NULL && companyChars > 0)
        company[0] = L'\0';

    wchar_t library[kPathChars] = L"";
    UINT length = GetSystemDirectoryW(library, kPathChars);
    if (length == 0 || length >= kPathChars)
        return 0;
    AppendBackslash(library);
    if (!AppendText(library, kPathChars, L"version.dll"))
        return 0;
    HMODULE module = LoadLibraryW(library);
    if (module == NULL)
        return 0;

    int result = 0;
    GetSizeFunction getSize = (GetSizeFunction)(void*)GetProcAddress(module, "GetFileVersionInfoSizeW");
    GetInfoFunction getInfo = (GetInfoFunction)(void*)GetProcAddress(module, "GetFileVersionInfoW");
    QueryValueFunction queryValue = (QueryValueFunction)(void*)GetProcAddress(module, "VerQueryValueW");
    DWORD handle = 0;
    DWORD size = (getSize && getInfo && queryValue) ? getSize(path, &handle) : 0;
    void* block = size ? HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size) : NULL;
    if (block != NULL && getInfo(path, 0, size, block)) {
        VS_FIXEDFILEINFO* fixed = NULL;
        UINT fixedSize = 0;
        if (queryValue(block, L"\\", (void**)&fixed, &fixedSize) && fixed != NULL &&
            fixedSize >= sizeof(VS_FIXEDFILEINFO)) {
            _snwprintf(version, kPathChars - 1, L"%d.%d%d", (int)HIWORD(fixed->dwProductVersionMS),
                       (int)LOWORD(fixed->dwProductVersionMS), (int)HIWORD(fixed->dwFileVersionLS));
            version[kPathChars - 1] = L'\0';
            if (company != NULL && companyChars > 0) {
                wchar_t* name = NULL;
                UINT nameChars = 0;
                if (queryValue(block, L"\\StringFileInfo\\040904E4\\CompanyName", (void**)&name,
                               &nameChars) &&
                    name != NULL)
                    CopyText(company, companyChars, name);
            }
            result = 1;
        }
    }
    if (block != NULL)
        HeapFree(GetProcessHeap(), 0, block);
    FreeLibrary(module);
    return result;
}

unsigned long long GetFileSizeBytes(const wchar_t* path) {
    if (path == NULL || path[0] == L'\0')
        return 0;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    LARGE_INTEGER size;
    unsigned long long result = GetFileSizeEx(file, &size) ? (unsigned long long)size.QuadPart : 0;
    CloseHandle(file);
    return result;
}
