#include "install/PayloadExtraction.h"

#include "install/ExistingInstallation.h"
#include "install/PathHelpers.h"

#include <windows.h>
#include <direct.h>
#include <errno.h>
#include <iowin32.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

const char* BaseName(const char* name) {
    const char* base = name;
    for (const char* p = name; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\')
            base = p + 1;
    }
    return base;
}

int ToWide(const char* name, wchar_t* wide) {
    return MultiByteToWideChar(CP_ACP, 0, name, -1, wide, kWideMemberChars) != 0;
}

int MentionsIcons(const char* name) {
    char lower[kMemberNameBytes];
    size_t i = 0;
    for (; name[i] != '\0' && i + 1 < kMemberNameBytes; ++i)
        lower[i] = (name[i] >= 'A' && name[i] <= 'Z') ? (char)(name[i] - 'A' + 'a') : name[i];
    lower[i] = '\0';
    return strstr(lower, "icons.dll") != NULL;
}

// Reads the current member's information; 0 when it cannot be read or its name does not fit.
int ReadMemberInfo(unzFile archive, unz_file_info64* info, char* name) {
    if (unzGetCurrentFileInfo64(archive, info, name, kMemberNameBytes, NULL, 0, NULL, 0) != UNZ_OK)
        return 0;
    return info->size_filename < kMemberNameBytes;
}

// Steps through all members, calling visit on each; stops at the first nonzero result.
template <typename Visit> int ForEachMember(unzFile archive, Visit visit) {
    unz_global_info64 global;
    if (unzGetGlobalInfo64(archive, &global) != UNZ_OK)
        return -1;
    if (global.number_entry == 0)
        return 0;
    if (unzGoToFirstFile(archive) != UNZ_OK)
        return -1;
    for (ZPOS64_T i = 0; i < global.number_entry; ++i) {
        if (visit() != 0)
            return -1;
        if (i + 1 < global.number_entry && unzGoToNextFile(archive) != UNZ_OK)
            return -1;
    }
    return 0;
}

int CheckCurrentMember(unzFile archive, char* buffer) {
    unz_file_info64 info;
    char name[kMemberNameBytes];
    wchar_t wide[kWideMemberChars];
    if (!ReadMemberInfo(archive, &info, name) || !ToWide(name, wide) || !IsSafeMemberName(wide))
        return -1;
    if (unzOpenCurrentFile(archive) != UNZ_OK) {
        unzCloseCurrentFile(archive);
        return -1;
    }
    ZPOS64_T total = 0;
    int count;
    while ((count = unzReadCurrentFile(archive, buffer, kCopyBufferBytes)) > 0)
        total += (ZPOS64_T)count;
    // The library checks the CRC-32 only when the recorded size was reached, so the size is compared too.
    int closed = unzCloseCurrentFile(archive);
    return (count == 0 && closed == UNZ_OK && total == info.uncompressed_size) ? 0 : -1;
}

// Copies the open member into file; 0 when all of it was read and written.
int CopyMember(unzFile archive, FILE* file, char* buffer, ZPOS64_T expected) {
    ZPOS64_T total = 0;
    int count;
    while ((count = unzReadCurrentFile(archive, buffer, kCopyBufferBytes)) > 0) {
        if (fwrite(buffer, 1, (size_t)count, file) != (size_t)count)
            return -1;
        total += (ZPOS64_T)count;
    }
    return (count == 0 && total == expected) ? 0 : -1;
}

int WriteCurrentMember(unzFile archive, const unz_file_info64& info, const char* name, char* buffer,
                       int keepPaths, const char* password) {
    const char* base = BaseName(name);
    wchar_t wide[kWideMemberChars];
    if (!ToWide(name, wide) || !IsSafeMemberName(wide))
        return -1;
    if (*base == '\0') {
        _wmkdir(wide);
        return 0;
    }
    if (unzOpenCurrentFilePassword(archive, password) != UNZ_OK) {
        unzCloseCurrentFile(archive);
        return -1;
    }

    wchar_t target[kWideMemberChars];
    if (!ToWide(keepPaths ? name : base, target)) {
        unzCloseCurrentFile(archive);
        return -1;
    }
    FILE* file = _wfopen(target, L"wb");
    if (file == NULL && keepPaths && base != name) {
        // The folder may have no directory entry, or one that comes later in the archive.
        char folder[kMemberNameBytes];
        size_t length = (size_t)(base - name) - 1;
        memcpy(folder, name, length);
        folder[length] = '\0';
        wchar_t wideFolder[kWideMemberChars];
        if (ToWide(folder, wideFolder))
            CreateMemberFolders(wideFolder);
        file = _wfopen(target, L"wb");
    }
    if (file == NULL) {
        // A file held open by a running viewer, or read-only, is left as it is.
        return unzCloseCurrentFile(archive) == UNZ_OK ? 0 : -1;
    }

    int copied = CopyMember(archive, file, buffer, info.uncompressed_size);
    // Data of a full disk may only fail when the stream is flushed.
    if (fclose(file) != 0)
        copied = -1;
    if (copied != 0) {
        unzCloseCurrentFile(archive);
        return -1;
    }
    SetFileDateFromMember(target, info.dosDate);
    return unzCloseCurrentFile(archive) == UNZ_OK ? 0 : -1;
}

int ExtractCurrentMember(unzFile archive, int keepPaths, const char* password, int keepIcons) {
    unz_file_info64 info;
    char name[kMemberNameBytes];
    if (!ReadMemberInfo(archive, &info, name))
        return -1;
    if (keepIcons == 1 && MentionsIcons(name))
        return 0;
    char* buffer = (char*)malloc(kCopyBufferBytes);
    if (buffer == NULL)
        return -1;
    int result = WriteCurrentMember(archive, info, name, buffer, keepPaths, password);
    free(buffer);
    return result;
}

int VersionThousandths(const wchar_t* version) {
    char text[kPathChars];
    if (WideCharToMultiByte(CP_ACP, 0, version, -1, text, (int)sizeof text, NULL, NULL) == 0)
        text[0] = '\0';
    // volatile keeps the x87 unit from carrying extra precision past each single-precision step.
    volatile float value = (float)atof(text);
    volatile float scaled = value * 1000.0f;
    float result = scaled;
    if (!(result > (float)INT_MIN && result < (float)INT_MAX))
        return result > 0 ? INT_MAX : INT_MIN;
    return (int)result;
}

} // namespace

int IsSafeMemberName(const wchar_t* name) {
    if (name[0] == L'\0' || name[0] == L'/' || name[0] == L'\\' || wcschr(name, L':') != NULL)
        return 0;
    // Windows drops trailing dots and blanks of a component, so ". ." or "..." may climb up as well.
    size_t dots = 0;
    int onlyDots = 1;
    for (const wchar_t* p = name;; ++p) {
        if (*p == L'\0' || *p == L'/' || *p == L'\\') {
            if (onlyDots && dots >= 2)
                return 0;
            if (*p == L'\0')
                return 1;
            dots = 0;
            onlyDots = 1;
        } else if (*p == L'.') {
            ++dots;
        } else if (*p != L' ') {
            onlyDots = 0;
        }
    }
}

int CreateMemberFolders(const wchar_t* folder) {
    if (folder == NULL || folder[0] == L'\0')
        return 0;
    size_t length = wcslen(folder);
    wchar_t* copy = (wchar_t*)malloc((length + 1) * sizeof(wchar_t));
    if (copy == NULL)
        return UNZ_INTERNALERROR;
    memcpy(copy, folder, (length + 1) * sizeof(wchar_t));
    if (copy[length - 1] == L'/')
        copy[--length] = L'\0';

    int result = 1;
    if (_wmkdir(copy) != 0) {
        for (size_t i = 1; i <= length; ++i) {
            if (i < length && copy[i] != L'/' && copy[i] != L'\\')
                continue;
            wchar_t kept = copy[i];
            copy[i] = L'\0';
            int failed = _wmkdir(copy) != 0 && errno == ENOENT;
            copy[i] = kept;
            if (failed) {
                result = 0;
                break;
            }
        }
    }
    free(copy);
    return result;
}

void SetFileDateFromMember(const wchar_t* path, unsigned long dosDateTime) {
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    FILETIME created, accessed, written, local, utc;
    if (GetFileTime(file, &created, &accessed, &written) &&
        DosDateTimeToFileTime(HIWORD(dosDateTime), LOWORD(dosDateTime), &local) &&
        LocalFileTimeToFileTime(&local, &utc))
        SetFileTime(file, &utc, &accessed, &utc);
    CloseHandle(file);
}

int CheckAllMembers(unzFile archive) {
    char* buffer = (char*)malloc(kCopyBufferBytes);
    if (buffer == NULL)
        return -1;
    int result = ForEachMember(archive, [&] { return CheckCurrentMember(archive, buffer); });
    free(buffer);
    return result;
}

int ExtractAllMembers(unzFile archive, int keepPaths, int, const char* password, int keepIcons) {
    return ForEachMember(archive,
                         [&] { return ExtractCurrentMember(archive, keepPaths, password, keepIcons); });
}

int ExtractArchive(const wchar_t* archivePath, const wchar_t* targetFolder, int keepIcons) {
    if (archivePath == NULL || archivePath[0] == L'\0')
        return -1;
    zlib_filefunc64_def functions;
    fill_win32_filefunc64W(&functions);
    unzFile archive = unzOpen2_64(archivePath, &functions);
    if (archive == NULL)
        return -1;
    // A payload that fails the check leaves every file of an earlier installation as it was.
    if (CheckAllMembers(archive) != 0) {
        unzClose(archive);
        return -1;
    }

    wchar_t previous[kTempPathChars];
    DWORD previousLength = GetCurrentDirectoryW(kTempPathChars, previous);
    if (_wchdir(targetFolder) != 0) {
        unzClose(archive);
        return -1;
    }
    int result = ExtractAllMembers(archive, 1, 1, NULL, keepIcons);
    unzClose(archive);
    if (result != 0 && previousLength > 0 && previousLength < kTempPathChars)
        SetCurrentDirectoryW(previous);
    return result;
}

int ExtractPayload(int resourceId, const wchar_t* resourceType, const wchar_t* tempFileName,
                   const wchar_t* targetFolder, int keepIcons) {
    HRSRC found = FindResourceW(NULL, MAKEINTRESOURCEW(resourceId), resourceType);
    HGLOBAL loaded = found != NULL ? LoadResource(NULL, found) : NULL;
    const void* bytes = loaded != NULL ? LockResource(loaded) : NULL;
    DWORD size = found != NULL ? SizeofResource(NULL, found) : 0;
    if (bytes == NULL || size == 0)
        return -1;

    wchar_t tempPath[kTempPathChars] = L"";
    DWORD length = GetTempPathW(kTempPathChars - 1, tempPath);
    if (length == 0 || length >= kTempPathChars - 1)
        return -1;
    if (tempPath[length - 1] != L'\\' && !AppendText(tempPath, kTempPathChars, L"\\"))
        return -1;
    if (!AppendText(tempPath, kTempPathChars, tempFileName))
        return -1;

    FILE* file = _wfopen(tempPath, L"wb");
    if (file == NULL)
        return -1;
    size_t written = fwrite(bytes, 1, size, file);
    int closed = fclose(file);
    int result = -1;
    if (written == size && closed == 0)
        result = ExtractArchive(tempPath, targetFolder, keepIcons);
    _wremove(tempPath);
    return result;
}

int DecideKeepIcons(const wchar_t* iconsPath) {
    wchar_t version[kPathChars];
    wchar_t company[kPathChars];
    if (!ReadFileVersionInfo(iconsPath, version, company, kPathChars))
        return 0;
    return KeepIconsForVersion(version, GetFileSizeBytes(iconsPath), company);
}

int KeepIconsForVersion(const wchar_t* version, unsigned long long sizeBytes, const wchar_t* company) {
    int installed = VersionThousandths(version);
    int threshold = VersionThousandths(L"4.30");
    if (installed > threshold)
        return 1;
    if (installed == threshold && sizeBytes != kIconsLibraryBytes)
        return 1;
    return _wcsicmp(company, L"Glimmerly Works") != 0 ? 1 : 0;
}
