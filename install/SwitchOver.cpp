#include "install/SwitchOver.h"

#include "install/JournalRecord.h"
#include "install/SafePath.h"
#include "install/SwitchPlan.h"
#include "install/StepLog.h"

#include <windows.h>
#include <process.h>
#include <stdlib.h>
#include <wchar.h>

using namespace switchplan;

namespace {

// Whether the open file is the installed file e names below the target folder, whose final path is
// finalBase (empty where the system cannot tell): not a link, nor reached through one. The attributes
// come from the plan (asking the handle costs Wine an open of the file); Wine's stand-in for a link does
// not show as a reparse point, so the final path tells there.
int IsInstalledFile(HANDLE file, const PlanEntry& e, const wchar_t* finalBase) {
    if (e.attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    wchar_t final[kFolderChars], expected[kFolderChars];
    return finalBase[0] == L'\0' ||
           (FinalPathOf(file, final, kFolderChars) &&
            Join(expected, kFolderChars, finalBase, L"\\", e.path) && _wcsicmp(final, expected) == 0);
}

// Moves an installed file aside through one handle, which proves it is the file the plan names and stays
// open until the old file is deleted through it; a read-only one loses the attribute. A file another
// program holds open fails with ERROR_SHARING_VIOLATION.
int MoveAside(PlanEntry& e, const wchar_t* aside, const wchar_t* finalBase) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = CreateFileW(e.path, DELETE | FILE_READ_ATTRIBUTES, share, NULL, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED &&
        (e.attributes & FILE_ATTRIBUTE_READONLY) &&
        SetFileAttributesW(e.path, e.attributes & ~FILE_ATTRIBUTE_READONLY))
        file = CreateFileW(e.path, DELETE | FILE_READ_ATTRIBUTES, share, NULL, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    if (!IsInstalledFile(file, e, finalBase) || !RenameOpenFile(file, aside)) {
        CloseHandle(file);
        SetLastError(kLinkMetError);
        return 0;
    }
    e.aside = file;
    return 1;
}

// Moves a staged entry (a file, or a folder moved whole) into place through a handle that proves it is
// the one the writers made where they made it: an entry swapped for a link meanwhile is not moved, and
// nothing at the installed name is replaced.
int MoveIntoPlace(const PlanEntry& e, const EntryPaths& paths, const wchar_t* finalBase) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE staged = CreateFileW(paths.staged, DELETE | FILE_READ_ATTRIBUTES, share, NULL, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (staged == INVALID_HANDLE_VALUE)
        return 0;
    wchar_t final[kFolderChars], expected[kFolderChars];
    // Where the system cannot tell the final path (Wine past MAX_PATH), the plan's attributes have spoken.
    int inPlace =
        finalBase[0] == L'\0' || !FinalPathOf(staged, final, kFolderChars) ||
        (Join(expected, kFolderChars, finalBase, L"\\", paths.staged) && _wcsicmp(final, expected) == 0);
    int moved = inPlace && RenameOpenFile(staged, e.path, 0);
    CloseHandle(staged);
    if (!inPlace) {
        LogStep(L"link refused: %ls", paths.staged);
        SetLastError(kLinkMetError);
    }
    return moved;
}

// A file held open by another program: the new one waits beside it and replaces it when Windows starts
// again. 0 where that cannot be queued (without the rights to).
int QueueReplacement(const PlanEntry& e, const EntryPaths& paths, wchar_t* restartFile, size_t restartChars,
                     int first) {
    if (!MoveFileExW(paths.staged, paths.beside, MOVEFILE_REPLACE_EXISTING))
        return 0;
    if (!MoveFileExW(paths.beside, e.path, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING))
        return 0;
    if (first && restartFile != NULL) {
        DWORD length = GetFullPathNameW(e.path, (DWORD)restartChars, restartFile, NULL);
        if (length == 0 || length >= restartChars)
            CopyText(restartFile, restartChars, e.path);
    }
    LogStep(L"file left for the restart (held open): %ls", e.path);
    return 1;
}

// The switch-over's steps are independent of each other (a folder moved whole has no step inside it), so
// two threads share them: Wine's server, which does the file system work, then always has the next
// request at hand. Each thread takes every second step of the plan.
enum { kSwitchThreads = 2 };

struct SwitchWork {
    Plan* plan;
    const wchar_t* finalBase;
    wchar_t* restartFile;
    size_t restartChars;
    int deleteAside; // for the release: the files moved aside go with their handles
    volatile LONG failed;
    volatile LONG queued; // files replaced at the next start of Windows
};

struct SwitchShare {
    SwitchWork* work;
    size_t first;
};

// One step of the plan; 0 when it failed.
int CarryOutEntry(PlanEntry& e, SwitchWork* work) {
    EntryPaths paths;
    if (!paths.Form(*work->plan->work, e.path))
        return 0;
    if (e.kind == L'D') {
        if (!MoveAside(e, paths.aside, work->finalBase))
            return 0;
        LogStep(L"earlier replacement taken over: %ls", e.path);
        return 1;
    }
    if (e.kind == L'R' && !MoveAside(e, paths.aside, work->finalBase)) {
        if (GetLastError() == kLinkMetError)
            LogStep(L"link refused: %ls", e.path);
        if (GetLastError() != ERROR_SHARING_VIOLATION)
            return 0;
        int first = InterlockedIncrement(&work->queued) == 1;
        return QueueReplacement(e, paths, work->restartFile, work->restartChars, first);
    }
    if (!MoveIntoPlace(e, paths, work->finalBase))
        return 0;
    LogStep(e.kind == L'R' ? L"file replaced: %ls" : L"moved into place: %ls", e.path);
    return 1;
}

// Stops at the first step that fails, in either share; the rest stay untouched.
unsigned __stdcall CarryOutShare(void* argument) {
    SwitchShare* share = (SwitchShare*)argument;
    SwitchWork* work = share->work;
    for (size_t i = share->first; i < work->plan->count && !work->failed; i += kSwitchThreads) {
        PlanEntry& e = work->plan->entries[i];
        if (e.kind != L'D' && !CarryOutEntry(e, work))
            InterlockedExchange(&work->failed, 1);
    }
    return 0;
}

// An earlier run's replacements go aside before any new file can be queued in their place.
void CarryOutEarlierReplacements(SwitchWork* work) {
    for (size_t i = 0; i < work->plan->count && !work->failed; ++i) {
        PlanEntry& e = work->plan->entries[i];
        if (e.kind == L'D' && !CarryOutEntry(e, work))
            work->failed = 1;
    }
}

// What could not be deleted after the switch-over (a program of the old installation still running) is
// queued for deletion when Windows starts again; the run then needs the restart, and a later run removes
// the work folder. The number of such files; restartFile gets the first one's installed name.
int QueueLeftovers(const wchar_t* folder, const wchar_t* installed, wchar_t* restartFile,
                   size_t restartChars) {
    wchar_t pattern[kEntryChars];
    WIN32_FIND_DATAW found;
    HANDLE search =
        Join(pattern, kEntryChars, folder, L"\\*") ? FindFirstFileW(pattern, &found) : INVALID_HANDLE_VALUE;
    int count = 0;
    while (search != INVALID_HANDLE_VALUE) {
        wchar_t path[kEntryChars], name[kWideMemberChars];
        if (!IsDots(found.cFileName) && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
            Join(path, kEntryChars, folder, L"\\", found.cFileName) &&
            Join(name, kWideMemberChars, installed, found.cFileName)) {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                wchar_t inner[kWideMemberChars];
                count += Join(inner, kWideMemberChars, name, L"\\")
                             ? QueueLeftovers(path, inner, restartFile, restartChars)
                             : 0;
            } else {
                // Where the system refuses to queue it, a later run removes it all the same.
                MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
                LogStep(L"old file left for the restart (in use): %ls", name);
                if (count++ == 0 && restartFile != NULL && restartFile[0] == L'\0') {
                    DWORD length = GetFullPathNameW(name, (DWORD)restartChars, restartFile, NULL);
                    if (length == 0 || length >= restartChars)
                        CopyText(restartFile, restartChars, name);
                }
            }
        }
        if (!FindNextFileW(search, &found)) {
            FindClose(search);
            break;
        }
    }
    return count;
}

// Closes the handles of the files moved aside; after a completed switch-over the files go with them.
unsigned __stdcall ReleaseShare(void* argument) {
    typedef BOOL(WINAPI * SetInformation)(HANDLE, int, void*, DWORD);
    // Windows Vista and later; before, the work folder's removal deletes them by name.
    SetInformation set = (SetInformation)(void*)GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                               "SetFileInformationByHandle");
    const int kFileDispositionInfo = 4;
    BOOLEAN disposition = TRUE;
    SwitchShare* share = (SwitchShare*)argument;
    Plan* plan = share->work->plan;
    for (size_t i = share->first; i < plan->count; i += kSwitchThreads) {
        HANDLE& file = plan->entries[i].aside;
        if (file == INVALID_HANDLE_VALUE)
            continue;
        if (share->work->deleteAside && set != NULL)
            set(file, kFileDispositionInfo, &disposition, sizeof disposition);
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
    return 0;
}

// Runs every share of the work, the first on this thread; a share whose thread cannot be started runs
// here too.
void RunShares(unsigned(__stdcall* run)(void*), SwitchWork* work) {
    SwitchShare shares[kSwitchThreads];
    HANDLE threads[kSwitchThreads];
    int started = 0;
    for (int k = 0; k < kSwitchThreads; ++k) {
        shares[k].work = work;
        shares[k].first = (size_t)k;
        HANDLE thread = k == 0 ? NULL
                               : (HANDLE)_beginthreadex(NULL, 65536, run, &shares[k],
                                                        STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
        if (thread != NULL)
            threads[started++] = thread;
        else if (k > 0)
            run(&shares[k]);
    }
    run(&shares[0]);
    if (started > 0)
        WaitForMultipleObjects((DWORD)started, threads, TRUE, INFINITE);
    for (int k = 0; k < started; ++k)
        CloseHandle(threads[k]);
}

} // namespace

int FitsOnVolume(const wchar_t* folder, unsigned long long bytes, unsigned long long files) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(folder, &available, NULL, NULL))
        return 1;
    return bytes + files * kFileSlackBytes <= available.QuadPart;
}

int WorkFolder::Name(const wchar_t* folderName) {
    return CopyText(name, kWorkFolderChars, folderName) && Join(staged, kWorkFolderChars, name, L"\\new") &&
           Join(aside, kWorkFolderChars, name, L"\\old") &&
           Join(journal, kWorkFolderChars, name, L"\\switch.log") &&
           Join(done, kWorkFolderChars, name, L"\\switch.done");
}

namespace {

InstallStepHook stepHook = NULL;

} // namespace

void SetInstallStepHook(InstallStepHook hook) {
    stepHook = hook;
}

void ReachStep(const wchar_t* step) {
    if (stepHook != NULL)
        stepHook(step);
}

int CreateWorkFolder(WorkFolder* work) {
    work->held[0] = work->held[1] = INVALID_HANDLE_VALUE;
    // A name no run of this setup chose before, where the usual one is taken by something that stayed.
    unsigned number = (unsigned)GetTickCount() ^ ((unsigned)GetCurrentProcessId() << 12);
    for (int attempt = 0; attempt < 8; ++attempt, number = number * 69069u + 1u) {
        wchar_t name[kWorkFolderChars];
        _snwprintf(name, kWorkFolderChars, attempt == 0 ? L"%ls" : L"%ls-%08x", kWorkFolder, number);
        name[kWorkFolderChars - 1] = L'\0';
        if (!work->Name(name) || !CreateDirectoryW(work->name, NULL))
            continue;
        work->held[0] = HoldFolder(work->name);
        if (work->held[0] != INVALID_HANDLE_VALUE) {
            SetFileAttributesW(work->name, FILE_ATTRIBUTE_HIDDEN);
            if (CreateDirectoryW(work->staged, NULL))
                work->held[1] = HoldFolder(work->staged);
        }
        if (work->held[1] != INVALID_HANDLE_VALUE)
            return 1;
        RemoveWorkFolder(work);
        return 0;
    }
    return 0;
}

InstallResult SwitchOver(WorkFolder* folders, wchar_t* restartFile, size_t restartChars) {
    wchar_t finalBase[kFolderChars] = L"", target[kPathChars];
    DWORD targetLength = GetCurrentDirectoryW(kPathChars, target);
    if (targetLength == 0 || targetLength >= kPathChars)
        return kInstallFailed;
    HANDLE here = CreateFileW(L".", 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (here != INVALID_HANDLE_VALUE && !FinalPathOf(here, finalBase, kFolderChars))
        finalBase[0] = L'\0';
    if (here != INVALID_HANDLE_VALUE)
        CloseHandle(here);
    size_t base = wcslen(finalBase);
    if (base > 0 && finalBase[base - 1] == L'\\')
        finalBase[base - 1] = L'\0';

    Plan plan = {folders, NULL, 0, 0, NULL, 0, 0};
    SwitchWork work = {&plan, finalBase, restartFile, restartChars, 0, 0, 0};
    // The journal is recorded before anything moves: a later run carries out no other.
    int planned = HoldNewAsideFolder(&plan, folders->aside) && PlanFolder(&plan, L"") && WriteJournal(plan) &&
                  RecordJournal(target, folders->name, folders->journal);
    ReachStep(L"switching");
    // The folders the installed files go into were made by this run and are held; one that was renamed
    // and replaced by a link meanwhile would lead the files elsewhere.
    planned = planned && AsideFoldersInPlace(plan);
    LogStep(planned ? L"switch-over: %lu steps" : L"switch-over refused", (unsigned long)plan.count);
    if (planned)
        CarryOutEarlierReplacements(&work);
    if (planned && !work.failed)
        RunShares(CarryOutShare, &work);
    int done =
        planned && !work.failed && MoveFileExW(folders->journal, folders->done, MOVEFILE_WRITE_THROUGH);
    work.deleteAside = done;
    RunShares(ReleaseShare, &work);
    // Where giving back fails, the work folder and its journal stay for the next run to finish the job.
    int givenBack = !done && (!planned || RollBack(plan));
    FreePlan(&plan);
    if (givenBack && RemoveWorkFolder(folders))
        ForgetJournal(target);
    LogStep(done ? L"switch-over done" : L"switch-over failed");
    if (!done)
        return kInstallFailed;
    // What is left behind now is the previous version; the next run removes it should this fail.
    if (RemoveWorkFolder(folders))
        ForgetJournal(target);
    else if (QueueLeftovers(folders->aside, L"", restartFile, restartChars) > 0)
        return kInstallRestartNeeded;
    return work.queued > 0 ? kInstallRestartNeeded : kInstallComplete;
}
