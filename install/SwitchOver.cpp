#include "install/SwitchOver.h"

#include "install/JournalRecord.h"
#include "install/ReusedFiles.h"
#include "install/SafePath.h"
#include "install/SwitchPlan.h"
#include "install/SwitchSteps.h"
#include "install/StepLog.h"

#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

using namespace switchplan;

namespace {

// 1 when the installed folder name (no backslash at the end) was moved aside whole.
int MovedWhole(const Plan& plan, const wchar_t* name) {
    for (size_t i = 0; i < plan.count; ++i)
        if (plan.entries[i].kind == L'F' && plan.entries[i].movedWhole &&
            _wcsicmp(plan.entries[i].path, name) == 0)
            return 1;
    return 0;
}

// What could not be deleted after the switch-over (a program of the old installation still running) is
// queued for deletion when Windows starts again; the run then needs the restart, and a later run removes
// the work folder. A folder moved aside whole had no file open, and stays for that later run as it is.
// The number of such files; restartFile gets the first one's installed name.
int QueueLeftovers(const Plan& plan, const wchar_t* folder, const wchar_t* installed, wchar_t* restartFile,
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
                count += !MovedWhole(plan, name) && Join(inner, kWideMemberChars, name, L"\\")
                             ? QueueLeftovers(plan, path, inner, restartFile, restartChars)
                             : 0;
            } else if (IsReachedWithoutLink(path)) {
                // Where the system refuses to queue it, a later run removes it all the same; a link
                // stays, never queued for a deletion that might follow it.
                MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
                LogStep(L"old file left for the restart (in use): %ls", name);
                if (count++ == 0 && restartFile != NULL && restartFile[0] == L'\0')
                    NameForRestart(name, restartFile, restartChars);
            }
        }
        if (!FindNextFileW(search, &found)) {
            FindClose(search);
            break;
        }
    }
    return count;
}

// Lets go of the work folder, and removes its staged folder, empty now, but keeps the folders moved aside
// whole and the mark of the switch-over done, which tells the next run that all of it may go.
void KeepOldFolders(WorkFolder* folders, long files, long count) {
    LetGoOfWorkFolder(folders);
    RemoveTree(folders->staged);
    LogStep(L"old installation kept for the next run to delete: %ld files in %ld folders moved aside whole, "
            L"in %ls",
            files, count, folders->name);
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
            if (AdoptReusedFiles(work->staged, work->name) || CreateDirectoryW(work->staged, NULL))
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
    wchar_t base[kFolderChars], target[kPathChars];
    DWORD targetLength = GetCurrentDirectoryW(kPathChars, target);
    if (targetLength == 0 || targetLength >= kPathChars)
        return kInstallFailed;
    FolderObjectName(L".", base);

    Plan plan = {folders, NULL, 0, 0, NULL, 0, 0};
    SwitchWork work = {&plan, NULL, 0, base, restartFile, restartChars, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    // The journal is recorded before anything moves: a later run carries out no other.
    int planned = HoldNewAsideFolder(&plan, folders->aside) && PlanFolder(&plan, L"");
    size_t* steps = planned ? (size_t*)malloc((plan.count + 1) * sizeof(size_t)) : NULL;
    planned = steps != NULL;
    if (planned) {
        work.steps = steps;
        work.stepCount = ListSteps(plan, steps);
    }
    planned = planned && MakeAsideFolders(&plan, steps, work.stepCount) && WriteJournal(plan) &&
              RecordJournal(target, folders->name, folders->journal, AsideFilesAreStaging());
    ReachStep(L"switching");
    // The folders the installed files go into were made by this run and are held; one that was renamed
    // and replaced by a link meanwhile would lead the files elsewhere.
    planned = planned && AsideFoldersInPlace(plan);
    LogStep(planned ? L"switch-over: %lu steps" : L"switch-over refused", (unsigned long)plan.count);
    if (planned)
        CarryOutEarlierReplacements(&work);
    if (planned && !work.failed)
        CarryOutSteps(&work);
    int done =
        planned && !work.failed && MoveFileExW(folders->journal, folders->done, MOVEFILE_WRITE_THROUGH);
    if (done)
        LogStep(
            L"switch-over moved: %ld folders whole (aside and into place), %ld files aside, %ld entries into "
            L"place",
            work.foldersWhole, work.filesAside, work.intoPlace);
    work.deleteAside = done;
    ReleaseAside(&work);
    if (done)
        LogStep(L"old files deleted (moved aside one by one): %ld", work.filesDeleted);
    // Where giving back fails, the work folder and its journal stay for the next run to finish the job.
    int givenBack = !done && (!planned || RollBack(plan));
    int left =
        done && work.filesLeft > 0 ? QueueLeftovers(plan, folders->aside, L"", restartFile, restartChars) : 0;
    FreePlan(&plan);
    free(steps);
    if (givenBack && RemoveWorkFolder(folders))
        ForgetJournal(target);
    LogStep(done ? L"switch-over done" : L"switch-over failed");
    if (!done)
        return kInstallFailed;
    // What is left behind now is the previous version; the next run removes it should this fail. Where the
    // folders moved aside whole hold old files, they stay, hidden and recorded: deleting them here would
    // cost this run a question to the system per file, while the next run deletes them as it stages, and
    // the uninstaller with everything else.
    if (work.filesKept > 0)
        KeepOldFolders(folders, work.filesKept, work.foldersWhole);
    else if (RemoveWorkFolder(folders) && !RecordInstalled(target, folders->name))
        ForgetJournal(target);
    return left > 0 || work.queued > 0 ? kInstallRestartNeeded : kInstallComplete;
}
