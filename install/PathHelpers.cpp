#include "install/PathHelpers.h"

#include <windows.h>
#include <wchar.h>

int CopyText(wchar_t* dest, size_t capacity, const wchar_t* source) {
    if (capacity == 0)
        return 0;
    size_t i = 0;
    for (; source[i] != L'\0'; ++i) {
        if (i + 1 >= capacity) {
            dest[i] = L'\0';
            return 0;
        }
        dest[i] = source[i];
    }
    dest[i] = L'\0';
    return 1;
}

int AppendText(wchar_t* dest, size_t capacity, const wchar_t* source) {
    size_t length = wcsnlen(dest, capacity);
    if (length >= capacity)
        return 0;
    return CopyText(dest + length, capacity - length, source);
}

void AppendBackslash(wchar_t* path) {
    size_t n = wcsnlen(path, kPathChars);
    if (n >= 1 && n <= kPathChars - 2 && path[n - 1] != L'\\') {
        path[n] = L'\\';
        path[n + 1] = L'\0';
    }
}

void TrimBlanks(wchar_t* path) {
    size_t n = wcslen(path);
    while (n > 0 && path[n - 1] == L' ')
        path[--n] = L'\0';
    if (path[0] != L' ' || n >= kPathChars)
        return;
    size_t lead = 0;
    while (path[lead] == L' ')
        ++lead;
    wmemmove(path, path + lead, n - lead + 1);
}

int CreateDirectoryChain(wchar_t* path) {
    if (path[0] == L'\0')
        return 0;
    TrimBlanks(path);
    if (path[0] == L'\0')
        return 0;
    AppendBackslash(path);

    wchar_t previous[kPathChars] = L"";
    GetCurrentDirectoryW(kPathChars, previous);
    if (!SetCurrentDirectoryW(path)) {
        wchar_t work[kPathChars] = L"";
        size_t used = 0;
        size_t i = 0;
        if (path[0] == L'\\' && path[1] == L'\\') {
            work[0] = work[1] = L'\\';
            work[2] = L'\0';
            used = 2;
            i = 2;
        }
        size_t length = wcslen(path);
        size_t end = length < kPathChars ? length : kPathChars;
        for (; i < end; ++i) {
            if (path[i] != L'\\') {
                // The work buffer keeps room for the terminator; longer paths are cut.
                if (used + 1 < kPathChars) {
                    work[used++] = path[i];
                    work[used] = L'\0';
                }
                continue;
            }
            TrimBlanks(work);
            CreateDirectoryW(work, NULL);
            used = wcslen(work);
            if (used + 1 < kPathChars) {
                work[used++] = L'\\';
                work[used] = L'\0';
            }
        }
        CopyText(path, kPathChars, work);
        AppendBackslash(path);
        GetCurrentDirectoryW(kPathChars, previous);
        if (!SetCurrentDirectoryW(path))
            return 0;
    }
    SetCurrentDirectoryW(previous);
    return 1;
}

namespace {

// Drops the blanks at the start and the end of text and in front of every separator; the new length.
size_t DropBlanks(wchar_t* text) {
    size_t used = 0;
    for (size_t i = 0; text[i] != L'\0'; ++i) {
        if (text[i] == L' ' && used == 0)
            continue;
        if (text[i] == L'\\' || text[i] == L'/')
            while (used > 0 && text[used - 1] == L' ')
                --used;
        text[used++] = text[i];
    }
    while (used > 0 && text[used - 1] == L' ')
        --used;
    text[used] = L'\0';
    return used;
}

} // namespace

int NormaliseFolder(wchar_t* folder, size_t capacity) {
    size_t used = DropBlanks(folder);
    if (used > 0 && folder[used - 1] != L'\\' && used + 1 < capacity)
        folder[used++] = L'\\';
    folder[used] = L'\0';
    if (used == 0 || used >= kPathChars)
        return 0;

    wchar_t full[kPathChars];
    DWORD length = GetFullPathNameW(folder, kPathChars, full, NULL);
    if (length == 0 || length >= kPathChars - 1)
        return 0;
    // The full path loses the last dot of a name ("a ." is "a ") and turns slashes into backslashes.
    DropBlanks(full);
    AppendBackslash(full);
    return CopyText(folder, capacity, full);
}

void GetPathPart(const wchar_t* path, wchar_t* dest, int mask) {
    dest[0] = L'\0';
    if (path == NULL || path[0] == L'\0')
        return;
    // Split as the C runtime does: drive "X:", folder up to the last separator, name, extension
    // from the last full stop of the name.
    size_t length = wcslen(path);
    size_t folderStart = (length >= 2 && path[1] == L':') ? 2 : 0;
    size_t nameStart = folderStart;
    for (size_t i = folderStart; i < length; ++i)
        if (path[i] == L'\\' || path[i] == L'/')
            nameStart = i + 1;
    size_t extensionStart = length;
    for (size_t i = length; i > nameStart; --i)
        if (path[i - 1] == L'.') {
            extensionStart = i - 1;
            break;
        }
    struct {
        int bit;
        size_t from, to;
    } parts[] = {{kPathDrive, 0, folderStart},
                 {kPathFolder, folderStart, nameStart},
                 {kPathName, nameStart, extensionStart},
                 {kPathExtension, extensionStart, length}};
    for (const auto& part : parts) {
        if (!(mask & part.bit))
            continue;
        size_t used = wcslen(dest);
        for (size_t i = part.from; i < part.to && used + 1 < kPathChars; ++i)
            dest[used++] = path[i];
        dest[used] = L'\0';
        if (part.bit == kPathFolder)
            AppendBackslash(dest);
    }
}

void StripQuotes(wchar_t* value, int trimAgain) {
    size_t n = wcslen(value);
    if (n == 0)
        return;
    while (n > 0 && value[n - 1] == L' ')
        value[--n] = L'\0';
    if (n > 0 && value[n - 1] == L'"')
        value[--n] = L'\0';
    if (value[0] == L'"') {
        wmemmove(value, value + 1, n);
        --n;
    }
    if (trimAgain)
        while (n > 0 && value[n - 1] == L' ')
            value[--n] = L'\0';
}

size_t CopySwitchValue(const wchar_t* source, wchar_t* dest, size_t start, size_t limit) {
    size_t length = wcslen(source);
    size_t bound = length < limit ? length : limit;
    // The destination is a path buffer: never more than kPathChars - 1 characters.
    if (bound > start + kPathChars - 1)
        bound = start + kPathChars - 1;
    size_t i = start;
    size_t used = 0;
    for (; i < bound && source[i] != L'/'; ++i)
        dest[used++] = source[i];
    dest[used] = L'\0';
    return i;
}
