#include "framework/SystemLibrary.h"

#include <wchar.h>

HMODULE LoadSystemLibrary(const wchar_t* fileName) {
    wchar_t path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    size_t nameLength = wcslen(fileName);
    if (length == 0 || length + 1 + nameLength >= MAX_PATH)
        return NULL;
    if (path[length - 1] != L'\\')
        path[length++] = L'\\';
    wmemcpy(path + length, fileName, nameLength + 1);
    return LoadLibraryW(path);
}
