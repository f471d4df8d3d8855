#include "install/PayloadExtraction.h"

#include "install/ArchiveFile.h"
#include "install/InstallProgress.h"
#include "install/MappedMember.h"
#include "install/MemberNames.h"
#include "install/MemberWriters.h"
#include "install/PathHelpers.h"
#include "install/ReusedFiles.h"
#include "install/StepLog.h"
#include "install/SwitchOver.h"
#include "install/WorkFolderRemoval.h"

#include <windows.h>
#include <direct.h>
#include <process.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

using namespace membernames;

namespace {

// Tells the wizard how far the walks have come: each MiB, not each block, so its window keeps up. The two
// walks take turns through a lock, so the wizard hears from one at a time.
struct ProgressCount {
    enum { kStep = 1 << 20 };
    const InstallProgress* progress;
    unsigned long long done, total, reported;
    CRITICAL_SECTION lock;

    void Add(unsigned long long bytes) {
        if (progress == NULL || progress->extracted == NULL)
            return;
        EnterCriticalSection(&lock);
        done += bytes;
        if (done - reported >= kStep || done == total) {
            reported = done;
            progress->extracted(progress->context, done, total);
        }
        LeaveCriticalSection(&lock);
    }

    void Member(const char* name) {
        if (progress == NULL || progress->member == NULL)
            return;
        EnterCriticalSection(&lock);
        progress->member(progress->context, name);
        LeaveCriticalSection(&lock);
    }
};

// Reads the open member into blocks for the writers through read (as unzReadCurrentFile); 0 when all of it
// was read.
template <typename Read>
int QueueMemberData(Read read, MemberWriters* writers, ZPOS64_T expected, ProgressCount* count) {
    ZPOS64_T total = 0;
    for (;;) {
        WriterBlock* block = TakeBlock(writers);
        if (block == NULL)
            return -1;
        int got = read(block->data, kWriterBlockBytes);
        if (got <= 0) {
            ReturnBlock(writers, block);
            return (got == 0 && total == expected) ? 0 : -1;
        }
        QueueBlock(writers, block, (unsigned long)got);
        total += (ZPOS64_T)got;
        count->Add((unsigned long long)got);
    }
}

int WriteCurrentMember(unzFile archive, const unz_file_info64& info, const char* name, MemberWriters* writers,
                       int keepPaths, const char* password, const MemoryArchive* checked,
                       ProgressCount* count) {
    const char* base = BaseName(name);
    wchar_t wide[kWideMemberChars];
    if (!ToWide(name, wide) || !IsSafeMemberName(wide))
        return -1;
    if (*base == '\0')
        return QueueMemberFolder(writers, wide) ? 0 : -1;
    // The payload, checked whole against its record, is read where it is mapped (install/MappedMember.h).
    MappedMember mapped;
    int direct = checked != NULL ? OpenMappedMember(&mapped, archive, checked, info) : 0;
    if (direct < 0 || (direct == 0 && unzOpenCurrentFilePassword(archive, password) != UNZ_OK)) {
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
    int read = -1;
    if (ToWide(keepPaths ? name : base, target) && QueueMemberFile(writers, target, folder, info.dosDate)) {
        read = direct
                   ? QueueMemberData(
                         [&](char* into, unsigned size) { return ReadMappedMember(&mapped, into, size); },
                         writers, info.uncompressed_size, count)
                   : QueueMemberData(
                         [&](char* into, unsigned size) { return unzReadCurrentFile(archive, into, size); },
                         writers, info.uncompressed_size, count);
        EndMemberFile(writers);
    }
    // The library checks the CRC-32 of a member it read whole here; the next member is queued only after.
    int whole = direct ? CloseMappedMember(&mapped) == 0 : 1;
    int closed = unzCloseCurrentFile(archive);
    return (read == 0 && whole && closed == UNZ_OK) ? 0 : -1;
}

int ExtractCurrentMember(unzFile archive, MemberWriters* writers, int keepPaths, const char* password,
                         int keepIcons, const MemoryArchive* checked, ProgressCount* count) {
    unz_file_info64 info;
    char name[kMemberNameBytes];
    if (!ReadMemberInfo(archive, &info, name))
        return -1;
    if (keepIcons == 1 && MentionsIcons(name)) {
        LogStep(L"file kept: %hs (the installed icons library is newer or of another maker)", name);
        return 0;
    }
    count->Member(name);
    return WriteCurrentMember(archive, info, name, writers, keepPaths, password, checked, count);
}

} // namespace

namespace {

// Two walks share the members from the two ends of the list: the first takes the large ones, the largest
// first, then the rest in archive order; the second starts at the other end with the small ones, and they
// stop where they meet. Each writes its members itself. Under Wine two walks that both create small
// files create them hardly faster than one (both wait for the same server and the same locks), so the files
// are begun at once, beside the inflating of the large members, not only after them.
struct SharedWalk {
    unz64_file_pos* members;
    size_t count;
    volatile LONG taken, failed;
    int keepPaths, keepIcons;
    const char* password;
    const MemoryArchive* checked;
    ProgressCount* progress;
};

struct Walker {
    SharedWalk* shared;
    unzFile archive;
    int writerThreads;
    int fromBack;
    size_t claimed; // members this walk took from its end
};

// The index of the walk's next member, or the count once every member is taken: the shared count of
// members taken keeps the two ends from passing each other.
size_t ClaimMember(Walker* walker) {
    SharedWalk* shared = walker->shared;
    if ((size_t)InterlockedIncrement(&shared->taken) > shared->count)
        return shared->count;
    size_t n = walker->claimed++;
    return walker->fromBack ? shared->count - 1 - n : n;
}

// Stops at its first error, or before its next member once the other walk stopped at one; either way the
// shared flag tells.
unsigned __stdcall Walk(void* argument) {
    Walker* walker = (Walker*)argument;
    SharedWalk* shared = walker->shared;
    MemberWriters* writers = StartMemberWriters(walker->writerThreads);
    int ok = writers != NULL;
    while (ok && !shared->failed) {
        size_t member = ClaimMember(walker);
        if (member >= shared->count)
            break;
        ok = unzGoToFilePos64(walker->archive, &shared->members[member]) == UNZ_OK &&
             ExtractCurrentMember(walker->archive, writers, shared->keepPaths, shared->password,
                                  shared->keepIcons, shared->checked, shared->progress) == 0;
    }
    if (writers != NULL && FinishMemberWriters(writers) != 0)
        ok = 0;
    if (!ok)
        InterlockedExchange(&shared->failed, 1);
    return 0;
}

// A member this large is inflated alone by one walk for a long while; started last, it would leave the
// other walk idle at the end.
enum : ZPOS64_T { kLargeMemberBytes = 1 << 20 };

struct ListedMember {
    unz64_file_pos place;
    ZPOS64_T size; // 0 for a member below kLargeMemberBytes
    size_t index;
};

// Large members first, the largest first; the rest after them in archive order.
int CompareListed(const void* a, const void* b) {
    const ListedMember* x = (const ListedMember*)a;
    const ListedMember* y = (const ListedMember*)b;
    if (x->size != y->size)
        return x->size > y->size ? -1 : 1;
    return x->index < y->index ? -1 : (x->index > y->index ? 1 : 0);
}

// The members' places in the central directory in the order the walks take them; NULL when they cannot
// be read. largeTenth: 1 when the large members hold a tenth of the member bytes or more.
unz64_file_pos* ListMembers(unzFile archive, size_t* count, int* largeTenth) {
    unz_global_info64 global;
    *count = 0;
    *largeTenth = 0;
    ZPOS64_T allBytes = 0, largeBytes = 0;
    if (unzGetGlobalInfo64(archive, &global) != UNZ_OK || global.number_entry > (1u << 24))
        return NULL;
    size_t entries = (size_t)global.number_entry + 1;
    ListedMember* listed = (ListedMember*)malloc(entries * sizeof(ListedMember));
    unz64_file_pos* members = (unz64_file_pos*)malloc(entries * sizeof(unz64_file_pos));
    size_t n = 0;
    int read = listed != NULL && members != NULL &&
               ForEachMember(archive, [&] {
                   unz_file_info64 info;
                   ListedMember& member = listed[n];
                   member.index = n++;
                   if (unzGetFilePos64(archive, &member.place) != UNZ_OK ||
                       unzGetCurrentFileInfo64(archive, &info, NULL, 0, NULL, 0, NULL, 0) != UNZ_OK)
                       return -1;
                   member.size = info.uncompressed_size >= kLargeMemberBytes ? info.uncompressed_size : 0;
                   allBytes += info.uncompressed_size;
                   largeBytes += member.size;
                   return 0;
               }) == 0;
    if (read) {
        qsort(listed, n, sizeof(ListedMember), CompareListed);
        for (size_t i = 0; i < n; ++i)
            members[i] = listed[i].place;
        *count = n;
        *largeTenth = largeBytes > 0 && largeBytes >= allBytes / 10;
    } else {
        free(members);
        members = NULL;
    }
    free(listed);
    return members;
}

} // namespace

int ExtractAllMembers(unzFile archive, int keepPaths, int, const char* password, int keepIcons,
                      const InstallProgress* progress, unsigned long long total, unzFile second,
                      const MemoryArchive* checked) {
    ProgressCount count = {progress, 0, total, 0, {}};
    InitializeCriticalSection(&count.lock);
    SharedWalk shared = {NULL, 0, 0, 0, keepPaths, keepIcons, password, checked, &count};
    int largeTenth = 0;
    shared.members = ListMembers(archive, &shared.count, &largeTenth);
    // Of small members, one walk inflates while one writer creates and writes the files: under Wine the
    // creating runs at one thread's pace whatever the threads, so a second thread creating files only
    // takes the processor from the inflating. Where large members hold a tenth of the bytes or more, a walk
    // alone would inflate them while its writer has little to do: then two walks share the members and
    // write them themselves, the second starting with the small ones, so that the large ones are inflated
    // beside them.
    if (!largeTenth)
        second = NULL;
    Walker walkers[2] = {{&shared, archive, second != NULL ? 0 : 1, 0, 0}, {&shared, second, 0, 1, 0}};
    HANDLE thread = NULL;
    // The second walk goes as deep as the first (a member set aside goes through the link-safe helper,
    // with a few paths on the stack at each step), so it gets room like a main thread's.
    if (shared.members != NULL && second != NULL)
        thread =
            (HANDLE)_beginthreadex(NULL, 1 << 20, Walk, &walkers[1], STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
    // Where no second thread could be had, the first walk takes every member.
    if (shared.members != NULL)
        Walk(&walkers[0]);
    if (thread != NULL) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    int result = shared.members != NULL && !shared.failed ? 0 : -1;
    free(shared.members);
    DeleteCriticalSection(&count.lock);
    return result;
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
                                    size_t restartChars, const MemoryArchive* checked) {
    unzFile archive = unzOpen2_64(archiveName, functions);
    if (archive == NULL)
        return kInstallFailed;
    // A name that would leave the target folder, or members that cannot fit, fail the archive before
    // anything is written.
    unsigned long long total = 0;
    unz_global_info64 global;
    // The room an earlier run's old files take is free once their removal, under way, is done.
    int fits =
        CheckMemberNames(archive, keepIcons, &total) == 0 && unzGetGlobalInfo64(archive, &global) == UNZ_OK;
    if (fits && !FitsOnVolume(targetFolder, total, global.number_entry)) {
        WorkFolderRemoval::WaitForRunning();
        fits = FitsOnVolume(targetFolder, total, global.number_entry) ||
               (DropReusedFiles(targetFolder) && FitsOnVolume(targetFolder, total, global.number_entry));
    }
    if (!fits) {
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
        // A second reader of the same archive for the second walk; without it, one walk does it all.
        unzFile second = unzOpen2_64(archiveName, functions);
        int staged =
            _wchdir(work.staged) == 0 &&
            ExtractAllMembers(archive, 1, 1, NULL, keepIcons, progress, total, second, checked) == 0 &&
            RemoveUnusedReusedFiles();
        if (second != NULL)
            unzClose(second);
        int back = _wchdir(targetFolder) == 0;
        if (back && staged)
            result = SwitchOver(&work, restartFile, restartChars);
        else if (back)
            RemoveWorkFolder(&work);
    }
    ForgetReusedFiles();
    unzClose(archive);
    if (result == kInstallFailed && previousLength > 0 && previousLength < kTempPathChars)
        SetCurrentDirectoryW(previous);
    return result;
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
                                 restartChars, &payload);
}
