#include "install/PayloadExtraction.h"

#include "install/ArchiveFile.h"
#include "install/ExistingInstallation.h"
#include "install/InstallProgress.h"
#include "install/MemberWriters.h"
#include "install/PathHelpers.h"
#include "install/StepLog.h"
#include "install/SwitchOver.h"

#include <windows.h>
#include <direct.h>
#include <errno.h>
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

int CheckCurrentName(unzFile archive, int keepIcons, unsigned long long* total) {
    unz_file_info64 info;
    char name[kMemberNameBytes];
    wchar_t wide[kWideMemberChars];
    if (!ReadMemberInfo(archive, &info, name) || !ToWide(name, wide) || !IsSafeMemberName(wide))
        return -1;
    if (!(keepIcons == 1 && MentionsIcons(name)))
        *total += info.uncompressed_size;
    return 0;
}

// Tells the wizard how far the walk has come: each MiB, not each block, so its window keeps up.
struct ProgressCount {
    enum { kStep = 1 << 20 };
    const InstallProgress* progress;
    unsigned long long done, total, reported;

    void Add(unsigned long long bytes) {
        done += bytes;
        if (progress != NULL && progress->extracted != NULL && (done - reported >= kStep || done == total)) {
            reported = done;
            progress->extracted(progress->context, done, total);
        }
    }
};

// Reads the open member into blocks for the writers; 0 when all of it was read.
int QueueMemberData(unzFile archive, MemberWriters* writers, ZPOS64_T expected, ProgressCount* count) {
    ZPOS64_T total = 0;
    for (;;) {
        WriterBlock* block = TakeBlock(writers);
        if (block == NULL)
            return -1;
        int read = unzReadCurrentFile(archive, block->data, kWriterBlockBytes);
        if (read <= 0) {
            ReturnBlock(writers, block);
            return (read == 0 && total == expected) ? 0 : -1;
        }
        QueueBlock(writers, block, (unsigned long)read);
        total += (ZPOS64_T)read;
        count->Add((unsigned long long)read);
    }
}

int WriteCurrentMember(unzFile archive, const unz_file_info64& info, const char* name, MemberWriters* writers,
                       int keepPaths, const char* password, ProgressCount* count) {
    const char* base = BaseName(name);
    wchar_t wide[kWideMemberChars];
    if (!ToWide(name, wide) || !IsSafeMemberName(wide))
        return -1;
    if (*base == '\0')
        return QueueMemberFolder(writers, wide) ? 0 : -1;
    if (unzOpenCurrentFilePassword(archive, password) != UNZ_OK) {
        unzCloseCurrentFile(archive);
        return -1;
    }

    wchar_t target[kWideMemberChars];
    wchar_t folder[kWideMemberChars] = L"";
    if (keepPaths && base != name) {
        char narrow[kMemberNameBytes];
        size_t length = (size_t)(base - name) - 1;
        memcpy(narrow, name, length);
        narrow[length] = '\0';
        if (!ToWide(narrow, folder))
            folder[0] = L'\0';
    }
    if (!ToWide(keepPaths ? name : base, target) || !QueueMemberFile(writers, target, folder, info.dosDate)) {
        unzCloseCurrentFile(archive);
        return -1;
    }
    int read = QueueMemberData(archive, writers, info.uncompressed_size, count);
    EndMemberFile(writers);
    // The library checks the CRC-32 of a member read whole here; the next member is queued only after.
    int closed = unzCloseCurrentFile(archive);
    return (read == 0 && closed == UNZ_OK) ? 0 : -1;
}

int ExtractCurrentMember(unzFile archive, MemberWriters* writers, int keepPaths, const char* password,
                         int keepIcons, ProgressCount* count) {
    unz_file_info64 info;
    char name[kMemberNameBytes];
    if (!ReadMemberInfo(archive, &info, name))
        return -1;
    if (keepIcons == 1 && MentionsIcons(name)) {
        LogStep(L"file kept: %hs (the installed icons library is newer or of another maker)", name);
        return 0;
    }
    if (count->progress != NULL && count->progress->member != NULL)
        count->progress->member(count->progress->context, name);
    return WriteCurrentMember(archive, info, name, writers, keepPaths, password, count);
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

void SetFileDateFromMember(void* handle, unsigned long dosDateTime) {
    FILETIME local, utc;
    if (DosDateTimeToFileTime(HIWORD(dosDateTime), LOWORD(dosDateTime), &local) &&
        LocalFileTimeToFileTime(&local, &utc))
        SetFileTime((HANDLE)handle, &utc, NULL, &utc);
}

int CheckMemberNames(unzFile archive, int keepIcons, unsigned long long* total) {
    unsigned long long bytes = 0;
    int checked = ForEachMember(archive, [&] { return CheckCurrentName(archive, keepIcons, &bytes); });
    if (total != NULL)
        *total = bytes;
    return checked;
}

int ExtractAllMembers(unzFile archive, int keepPaths, int, const char* password, int keepIcons,
                      const InstallProgress* progress, unsigned long long total) {
    MemberWriters* writers = StartMemberWriters(kWriterThreads);
    if (writers == NULL)
        return -1;
    ProgressCount count = {progress, 0, total, 0};
    int walked = ForEachMember(archive, [&] {
        return ExtractCurrentMember(archive, writers, keepPaths, password, keepIcons, &count);
    });
    int written = FinishMemberWriters(writers);
    return (walked == 0 && written == 0) ? 0 : -1;
}

int PayloadMatchesRecord(const void* bytes, unsigned long size, const void* record,
                         unsigned long recordSize) {
    if (bytes == NULL || record == NULL || recordSize != kPayloadRecordBytes)
        return 0;
    const unsigned char* r = (const unsigned char*)record;
    unsigned long recordedSize = r[0] | (r[1] << 8) | (r[2] << 16) | ((unsigned long)r[3] << 24);
    unsigned long recordedCrc = r[4] | (r[5] << 8) | (r[6] << 16) | ((unsigned long)r[7] << 24);
    return size == recordedSize && crc32(0L, (const Bytef*)bytes, (uInt)size) == recordedCrc;
}

InstallResult ExtractArchive(const wchar_t* archivePath, const wchar_t* targetFolder, int keepIcons,
                             const InstallProgress* progress, wchar_t* restartFile, size_t restartChars) {
    if (archivePath == NULL || archivePath[0] == L'\0')
        return kInstallFailed;
    zlib_filefunc64_def functions;
    FillArchiveFileFunctions(&functions);
    return ExtractArchiveThrough(&functions, archivePath, targetFolder, keepIcons, progress, restartFile,
                                 restartChars);
}

InstallResult ExtractArchiveThrough(zlib_filefunc64_def* functions, const void* archiveName,
                                    const wchar_t* targetFolder, int keepIcons,
                                    const InstallProgress* progress, wchar_t* restartFile,
                                    size_t restartChars) {
    unzFile archive = unzOpen2_64(archiveName, functions);
    if (archive == NULL)
        return kInstallFailed;
    // A name that would leave the target folder, or members that cannot fit, fail the archive before
    // anything is written.
    unsigned long long total = 0;
    unz_global_info64 global;
    if (CheckMemberNames(archive, keepIcons, &total) != 0 || unzGetGlobalInfo64(archive, &global) != UNZ_OK ||
        !FitsOnVolume(targetFolder, total, global.number_entry)) {
        unzClose(archive);
        return kInstallFailed;
    }

    wchar_t previous[kTempPathChars];
    DWORD previousLength = GetCurrentDirectoryW(kTempPathChars, previous);
    InstallResult result = kInstallFailed;
    WorkFolder work;
    if (_wchdir(targetFolder) == 0 && CreateWorkFolder(&work)) {
        ReachStep(L"staging");
        LogStep(L"staging %llu bytes in %lu members in %ls%ls", total, (unsigned long)global.number_entry,
                targetFolder, work.staged);
        int staged = _wchdir(work.staged) == 0 &&
                     ExtractAllMembers(archive, 1, 1, NULL, keepIcons, progress, total) == 0;
        int back = _wchdir(targetFolder) == 0;
        if (back && staged)
            result = SwitchOver(&work, restartFile, restartChars);
        else if (back)
            RemoveWorkFolder(&work);
    }
    unzClose(archive);
    if (result == kInstallFailed && previousLength > 0 && previousLength < kTempPathChars)
        SetCurrentDirectoryW(previous);
    return result;
}

int MeasurePayload(int resourceId, const wchar_t* resourceType, unsigned long long* bytes,
                   unsigned long long* files) {
    unsigned long size = 0;
    MemoryArchive payload = {OwnResource(resourceId, resourceType, &size), size};
    if (payload.bytes == NULL)
        return 0;
    zlib_filefunc64_def functions;
    FillMemoryArchiveFunctions(&functions);
    unzFile archive = unzOpen2_64(&payload, &functions);
    if (archive == NULL)
        return 0;
    unz_global_info64 global;
    int measured = CheckMemberNames(archive, 0, bytes) == 0 && unzGetGlobalInfo64(archive, &global) == UNZ_OK;
    unzClose(archive);
    if (measured)
        *files = global.number_entry;
    return measured;
}

InstallResult ExtractPayload(int resourceId, const wchar_t* resourceType, const wchar_t* targetFolder,
                             int keepIcons, const InstallProgress* progress, wchar_t* restartFile,
                             size_t restartChars) {
    unsigned long size = 0, recordSize = 0;
    const void* bytes = OwnResource(resourceId, resourceType, &size);
    const void* record = OwnResource(resourceId, kPayloadRecordType, &recordSize);
    // A program damaged after it was built (a broken download) changes no file of an installation: the
    // build checked every member, so matching its record stands for checking them all again.
    if (!PayloadMatchesRecord(bytes, size, record, recordSize))
        return kInstallFailed;
    // Read where it is mapped: a file in the temporary folder could be swapped or linked elsewhere by
    // another program of the user between the check and the extraction.
    MemoryArchive payload = {bytes, size};
    zlib_filefunc64_def functions;
    FillMemoryArchiveFunctions(&functions);
    return ExtractArchiveThrough(&functions, &payload, targetFolder, keepIcons, progress, restartFile,
                                 restartChars);
}
