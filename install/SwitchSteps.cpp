#include "install/SwitchSteps.h"

#include "install/SafePath.h"
#include "install/StepLog.h"

#include <windows.h>
#include <process.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace switchplan {

namespace {

// Each of the two threads takes every second step.
enum { kSwitchThreads = 2 };

// Whether the open file is the installed file e names below the target folder, whose object name is base
// (empty where the system cannot tell): not a link, nor reached through one. The attributes come from the
// plan (asking the handle costs Wine an open of the file); Wine's stand-in for a link does not show as a
// reparse point, so the name the system keeps for the file tells there.
int IsInstalledFile(HANDLE file, const PlanEntry& e, const wchar_t* base) {
    if (e.attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    return base[0] == L'\0' || HandleIsBelow(file, base, e.path) == 1;
}

// Opens path with the right to move it, the entry itself rather than where a link leads; folder allows a
// folder too.
HANDLE OpenToMove(const wchar_t* path, int folder) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0);
    return CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES, share, NULL, OPEN_EXISTING, flags, NULL);
}

// Moves an installed file aside through one handle, which proves it is the file the plan names and stays
// open until the old file is deleted through it; a read-only one loses the attribute. A file another
// program holds open fails with ERROR_SHARING_VIOLATION.
int MoveAside(PlanEntry& e, const wchar_t* aside, const wchar_t* base) {
    HANDLE file = OpenToMove(e.path, 0);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED &&
        (e.attributes & FILE_ATTRIBUTE_READONLY) &&
        SetFileAttributesW(e.path, e.attributes & ~FILE_ATTRIBUTE_READONLY))
        file = OpenToMove(e.path, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    if (!IsInstalledFile(file, e, base) || !RenameOpenFile(file, aside)) {
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
int MoveIntoPlace(const PlanEntry& e, const EntryPaths& paths, const wchar_t* base) {
    HANDLE staged = OpenToMove(paths.staged, 1);
    if (staged == INVALID_HANDLE_VALUE)
        return 0;
    // Where the system cannot tell the name (Wine past MAX_PATH), the plan's attributes have spoken.
    int inPlace = HandleIsBelow(staged, base, paths.staged) != 0;
    int moved = inPlace && RenameOpenFile(staged, e.path, 0);
    CloseHandle(staged);
    if (!inPlace) {
        LogStep(L"link refused: %ls", paths.staged);
        SetLastError(kLinkMetError);
    }
    return moved;
}

// Moves an installed folder aside whole through a handle that proves it is the folder the plan names; the
// system refuses where a program has a file in it open, or holds the folder itself.
int MoveFolderAside(const PlanEntry& e, const EntryPaths& paths, const wchar_t* base) {
    HANDLE folder = OpenToMove(e.path, 1);
    if (folder == INVALID_HANDLE_VALUE)
        return 0;
    HandleFacts facts;
    int checked = QueryHandleFacts(folder, &facts) &&
                  (facts.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
                      FILE_ATTRIBUTE_DIRECTORY &&
                  HandleIsBelow(folder, base, e.path) != 0;
    int moved = checked && RenameOpenFile(folder, paths.aside, 0);
    DWORD error = checked ? GetLastError() : kLinkMetError;
    CloseHandle(folder);
    SetLastError(error);
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
    if (first && restartFile != NULL)
        NameForRestart(e.path, restartFile, restartChars);
    LogStep(L"file left for the restart (held open): %ls", e.path);
    return 1;
}

struct SwitchShare {
    SwitchWork* work;
    size_t first;
};

int CarryOutFolder(size_t index, SwitchWork* work);

// One step of the plan; 0 when it failed.
int CarryOutEntry(PlanEntry& e, SwitchWork* work) {
    if (e.kind == L'F')
        return CarryOutFolder((size_t)(&e - work->plan->entries), work);
    EntryPaths paths;
    if (!paths.Form(*work->plan->work, e.path))
        return 0;
    if (e.kind == L'D') {
        if (!MoveAside(e, paths.aside, work->base))
            return 0;
        InterlockedIncrement(&work->filesAside);
        LogStep(L"earlier replacement taken over: %ls", e.path);
        return 1;
    }
    if (e.kind == L'R' && !MoveAside(e, paths.aside, work->base)) {
        if (GetLastError() == kLinkMetError)
            LogStep(L"link refused: %ls", e.path);
        if (GetLastError() != ERROR_SHARING_VIOLATION)
            return 0;
        int first = InterlockedIncrement(&work->queued) == 1;
        return QueueReplacement(e, paths, work->restartFile, work->restartChars, first);
    }
    if (e.kind == L'R')
        InterlockedIncrement(&work->filesAside);
    if (!MoveIntoPlace(e, paths, work->base))
        return 0;
    InterlockedIncrement(&work->intoPlace);
    LogStep(e.kind == L'R' ? L"file replaced: %ls" : L"moved into place: %ls", e.path);
    return 1;
}

// The folders below the aside folder that a folder's entries go into one by one, made as they are needed
// and held until its entries are done: none is there before (the folder was to go there whole).
struct AsideFolders {
    HANDLE* held;
    size_t count;
    wchar_t made[kWideMemberChars];

    int Make(const WorkFolder& work, const wchar_t* path) {
        return ForEachAsideFolder(work, path, made, [this](const wchar_t* aside) -> int {
            if (!CreateDirectoryW(aside, NULL))
                return GetLastError() == ERROR_ALREADY_EXISTS; // an outer one made by the plan, or here
            HANDLE* grown = (HANDLE*)realloc(held, (count + 1) * sizeof(HANDLE));
            if (grown == NULL)
                return 0;
            held = grown;
            held[count] = HoldFolder(aside);
            if (held[count] == INVALID_HANDLE_VALUE)
                return 0;
            ++count;
            return 1;
        });
    }

    void Release() {
        for (size_t i = 0; i < count; ++i)
            CloseHandle(held[i]);
        free(held);
    }
};

// A folder of the installation that holds nothing but members of the payload: two moves for all its
// files. Where the system refuses to move it (on Windows, a program has a file in it open), its entries
// are carried out one by one, as in any other folder; a folder below it is then no longer moved whole.
int CarryOutFolder(size_t index, SwitchWork* work) {
    PlanEntry& e = work->plan->entries[index];
    EntryPaths paths;
    if (!paths.Form(*work->plan->work, e.path))
        return 0;
    if (MoveFolderAside(e, paths, work->base)) {
        if (!MoveIntoPlace(e, paths, work->base))
            return 0;
        e.movedWhole = 1;
        InterlockedIncrement(&work->foldersWhole);
        LogStep(L"folder replaced whole: %ls", e.path);
        long replaced = 0;
        for (size_t i = e.first; i < index; ++i) {
            const PlanEntry& inner = work->plan->entries[i];
            replaced += inner.kind == L'R';
            if (inner.kind != L'F' && StepLogOpen())
                LogStep(inner.kind == L'R' ? L"file replaced: %ls" : L"moved into place: %ls", inner.path);
        }
        InterlockedExchangeAdd(&work->filesKept, replaced);
        return 1;
    }
    if (GetLastError() == kLinkMetError) {
        LogStep(L"link refused: %ls", e.path);
        return 0;
    }
    LogStep(L"folder in use, its files one by one: %ls", e.path);
    AsideFolders aside = {NULL, 0, L""};
    int ok = 1;
    for (size_t i = e.first; ok && i < index && !work->failed; ++i) {
        PlanEntry& inner = work->plan->entries[i];
        if (inner.kind != L'F')
            ok = aside.Make(*work->plan->work, inner.path) && CarryOutEntry(inner, work);
    }
    aside.Release();
    return ok && !work->failed;
}

// Stops at the first step that fails, in either share; the rest stay untouched.
unsigned __stdcall CarryOutShare(void* argument) {
    SwitchShare* share = (SwitchShare*)argument;
    SwitchWork* work = share->work;
    for (size_t s = share->first; s < work->stepCount && !work->failed; s += kSwitchThreads) {
        PlanEntry& e = work->plan->entries[work->steps[s]];
        if (e.kind != L'D' && !CarryOutEntry(e, work))
            InterlockedExchange(&work->failed, 1);
    }
    return 0;
}

// Closes the handles of the files moved aside one by one; after a completed switch-over the files go with
// them. The folders moved aside whole stay in the work folder for a later run.
unsigned __stdcall ReleaseShare(void* argument) {
    SwitchShare* share = (SwitchShare*)argument;
    SwitchWork* work = share->work;
    Plan* plan = work->plan;
    for (size_t i = share->first; i < plan->count; i += kSwitchThreads) {
        HANDLE& file = plan->entries[i].aside;
        if (file == INVALID_HANDLE_VALUE)
            continue;
        if (work->deleteAside)
            InterlockedIncrement(DeleteThroughHandle(file) ? &work->filesDeleted : &work->filesLeft);
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
                               : (HANDLE)_beginthreadex(NULL, 1 << 20, run, &shares[k],
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

void CarryOutEarlierReplacements(SwitchWork* work) {
    for (size_t i = 0; i < work->plan->count && !work->failed; ++i) {
        PlanEntry& e = work->plan->entries[i];
        if (e.kind == L'D' && !CarryOutEntry(e, work))
            work->failed = 1;
    }
}

void CarryOutSteps(SwitchWork* work) {
    RunShares(CarryOutShare, work);
}

void ReleaseAside(SwitchWork* work) {
    RunShares(ReleaseShare, work);
}

} // namespace switchplan
