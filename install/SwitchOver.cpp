#include "install/SwitchOver.h"

#include "install/PathHelpers.h"
#include "install/PayloadExtraction.h"
#include "install/SafePath.h"

#include <windows.h>
#include <process.h>
#include <stdlib.h>
#include <wchar.h>

namespace {

// A path below the work folder; and a final path, which may be long.
enum { kEntryChars = kWideMemberChars + 48, kFolderChars = 1024, kJournalBufferChars = 16384 };

// One step of the switch-over. 'A': nothing is installed under that name; the member (a file, or a folder
// with everything in it) is moved into place. 'R': an installed file is moved aside and replaced.
struct PlanEntry {
    wchar_t kind;
    DWORD attributes; // of the installed file, given back with it
    HANDLE aside;     // the installed file moved aside, held until it is deleted through this handle
    wchar_t path[kWideMemberChars];
};

struct Plan {
    PlanEntry* entries;
    size_t count, capacity;
};

int Add(Plan* plan, const PlanEntry& entry) {
    if (plan->count == plan->capacity) {
        size_t capacity = plan->capacity ? 2 * plan->capacity : 256;
        PlanEntry* grown = (PlanEntry*)realloc(plan->entries, capacity * sizeof(PlanEntry));
        if (grown == NULL)
            return 0;
        plan->entries = grown;
        plan->capacity = capacity;
    }
    plan->entries[plan->count++] = entry;
    return 1;
}

int Join(wchar_t* out, size_t capacity, const wchar_t* first, const wchar_t* second,
         const wchar_t* third = L"") {
    return CopyText(out, capacity, first) && AppendText(out, capacity, second) &&
           AppendText(out, capacity, third);
}

int Exists(const wchar_t* path) {
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

int IsDots(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// The staged, aside and beside names of an entry.
struct EntryPaths {
    wchar_t staged[kEntryChars], aside[kEntryChars], beside[kEntryChars];

    int Form(const wchar_t* path) {
        return Join(staged, kEntryChars, kStagedFolder, L"\\", path) &&
               Join(aside, kEntryChars, kAsideFolder, L"\\", path) &&
               Join(beside, kEntryChars, path, kBesideSuffix);
    }
};

// Plans the staged folder's entries below folder ("" or ending in a backslash) against the installed ones.
int PlanFolder(Plan* plan, const wchar_t* folder) {
    wchar_t pattern[kEntryChars];
    if (!Join(pattern, kEntryChars, kStagedFolder, L"\\", folder) || !AppendText(pattern, kEntryChars, L"*"))
        return 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int ok = 1;
    do {
        if (IsDots(found.cFileName))
            continue;
        PlanEntry entry = {L'A', INVALID_FILE_ATTRIBUTES, INVALID_HANDLE_VALUE, L""};
        if (!Join(entry.path, kWideMemberChars, folder, found.cFileName)) {
            ok = 0;
            break;
        }
        int stagedFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.attributes = GetFileAttributesW(entry.path);
        if (entry.attributes == INVALID_FILE_ATTRIBUTES) {
            ok = Add(plan, entry);
            continue;
        }
        // A folder where a file goes, or the reverse, cannot be switched; a link is never gone through (an
        // installed file is checked through the handle that moves it aside).
        int installedFolder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (installedFolder != stagedFolder || (installedFolder && !IsReachedWithoutLink(entry.path))) {
            ok = 0;
        } else if (!stagedFolder) {
            entry.kind = L'R';
            ok = Add(plan, entry);
        } else {
            wchar_t aside[kEntryChars], inner[kWideMemberChars];
            ok = Join(aside, kEntryChars, kAsideFolder, L"\\", entry.path) &&
                 (CreateDirectoryW(aside, NULL) || GetLastError() == ERROR_ALREADY_EXISTS) &&
                 Join(inner, kWideMemberChars, entry.path, L"\\") && PlanFolder(plan, inner);
        }
    } while (ok && FindNextFileW(search, &found));
    FindClose(search);
    return ok;
}

// One line per entry: kind, the installed file's attributes in hex, path. Written through to the disk
// before anything is moved.
int WriteJournal(const Plan& plan) {
    HANDLE file = CreateFileW(kJournal, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    wchar_t* buffer = (wchar_t*)malloc(kJournalBufferChars * sizeof(wchar_t));
    int ok = buffer != NULL;
    size_t used = 0;
    for (size_t i = 0; ok && i <= plan.count; ++i) {
        if (i == plan.count || used + kEntryChars > kJournalBufferChars) {
            DWORD bytes = (DWORD)(used * sizeof(wchar_t)), written = 0;
            ok = WriteFile(file, buffer, bytes, &written, NULL) && written == bytes;
            used = 0;
        }
        if (i < plan.count) {
            const PlanEntry& e = plan.entries[i];
            int length =
                _snwprintf(buffer + used, kEntryChars, L"%c %08lx %ls\n", e.kind, e.attributes, e.path);
            ok = ok && length > 0 && length < kEntryChars;
            used += ok ? (size_t)length : 0;
        }
    }
    ok = ok && FlushFileBuffers(file);
    CloseHandle(file);
    free(buffer);
    return ok;
}

// Reads back what WriteJournal wrote; any line that is not an entry with a safe path fails it.
int ReadJournal(Plan* plan) {
    HANDLE file = CreateFileW(kJournal, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD size = GetFileSize(file, NULL), read = 0;
    wchar_t* text =
        size != INVALID_FILE_SIZE && size < (64u << 20) ? (wchar_t*)malloc(size + sizeof(wchar_t)) : NULL;
    int ok = text != NULL && ReadFile(file, text, size, &read, NULL) && read == size;
    CloseHandle(file);
    if (ok)
        text[size / sizeof(wchar_t)] = L'\0';
    for (wchar_t* line = text; ok && *line != L'\0';) {
        wchar_t* end = wcschr(line, L'\n');
        ok = end != NULL && end - line > 11 && line[1] == L' ' && line[10] == L' ';
        if (!ok)
            break;
        *end = L'\0';
        PlanEntry entry = {line[0], (DWORD)wcstoul(line + 2, NULL, 16), INVALID_HANDLE_VALUE, L""};
        ok = (entry.kind == L'A' || entry.kind == L'R') &&
             CopyText(entry.path, kWideMemberChars, line + 11) && IsSafeMemberName(entry.path) &&
             Add(plan, entry);
        line = end + 1;
    }
    free(text);
    return ok;
}

// Gives back the installed files: every entry, whether the switch-over reached it or not, in reverse. What
// the run had moved into place goes into the work folder, which is removed afterwards.
int RollBack(const Plan& plan) {
    int ok = 1;
    for (size_t i = plan.count; i-- > 0;) {
        const PlanEntry& e = plan.entries[i];
        EntryPaths paths;
        wchar_t undone[kEntryChars];
        if (!paths.Form(e.path) ||
            _snwprintf(undone, kEntryChars, L"%ls\\undone%u", kWorkFolder, (unsigned)i) <= 0) {
            ok = 0;
            continue;
        }
        undone[kEntryChars - 1] = L'\0';
        // Only what is moved is checked: an installed link the switch-over refused stays where it is.
        const wchar_t* from = NULL;
        const wchar_t* to = undone;
        int staged = Exists(paths.staged);
        if (e.kind == L'A' && !staged && Exists(e.path)) {
            from = e.path;
        } else if (e.kind == L'R' && Exists(paths.aside)) {
            from = paths.aside;
            to = e.path;
        } else if (e.kind == L'R' && !staged && Exists(paths.beside)) {
            // Queued for the next start of Windows; without its file the queued step does nothing.
            from = paths.beside;
        }
        if (from != NULL &&
            (!IsReachedWithoutLink(from) || !MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING)))
            ok = 0;
        else if (from == paths.aside)
            SetFileAttributesW(e.path, e.attributes);
    }
    return ok;
}

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
    if (!paths.Form(e.path))
        return 0;
    if (e.kind == L'R' && !MoveAside(e, paths.aside, work->finalBase)) {
        if (GetLastError() != ERROR_SHARING_VIOLATION)
            return 0;
        int first = InterlockedIncrement(&work->queued) == 1;
        return QueueReplacement(e, paths, work->restartFile, work->restartChars, first);
    }
    return MoveFileExW(paths.staged, e.path, 0) != 0;
}

// Stops at the first step that fails, in either share; the rest stay untouched.
unsigned __stdcall CarryOutShare(void* argument) {
    SwitchShare* share = (SwitchShare*)argument;
    SwitchWork* work = share->work;
    for (size_t i = share->first; i < work->plan->count && !work->failed; i += kSwitchThreads) {
        if (!CarryOutEntry(work->plan->entries[i], work))
            InterlockedExchange(&work->failed, 1);
    }
    return 0;
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

// checkEach: every entry is checked for a link; else only by the attributes the search gives.
int RemoveTree(const wchar_t* folder, int checkEach) {
    wchar_t pattern[kEntryChars];
    if (!Join(pattern, kEntryChars, folder, L"\\*"))
        return 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    int ok = 1;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            wchar_t child[kEntryChars];
            if (IsDots(found.cFileName))
                continue;
            if (!Join(child, kEntryChars, folder, L"\\", found.cFileName) ||
                (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                (checkEach && !IsReachedWithoutLink(child))) {
                ok = 0;
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                ok &= RemoveTree(child, checkEach);
            } else if (!DeleteFileW(child)) {
                SetFileAttributesW(child, FILE_ATTRIBUTE_NORMAL);
                ok &= DeleteFileW(child) != 0;
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryW(folder) && ok;
}

// Where the work folder holds only what this run put there, the attributes tell links.
int RemoveWorkFolderChecked(int checkEach) {
    if (!Exists(kWorkFolder))
        return 1;
    return IsReachedWithoutLink(kWorkFolder) && RemoveTree(kWorkFolder, checkEach);
}

} // namespace

int FitsOnVolume(const wchar_t* folder, unsigned long long bytes, unsigned long long files) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(folder, &available, NULL, NULL))
        return 1;
    return bytes + files * kFileSlackBytes <= available.QuadPart;
}

int CreateWorkFolder() {
    if (!CreateDirectoryW(kWorkFolder, NULL))
        return 0;
    SetFileAttributesW(kWorkFolder, FILE_ATTRIBUTE_HIDDEN);
    if (CreateDirectoryW(kStagedFolder, NULL))
        return 1;
    RemoveDirectoryW(kWorkFolder);
    return 0;
}

InstallResult SwitchOver(wchar_t* restartFile, size_t restartChars) {
    wchar_t finalBase[kFolderChars] = L"";
    HANDLE here = CreateFileW(L".", 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (here != INVALID_HANDLE_VALUE && !FinalPathOf(here, finalBase, kFolderChars))
        finalBase[0] = L'\0';
    if (here != INVALID_HANDLE_VALUE)
        CloseHandle(here);
    size_t base = wcslen(finalBase);
    if (base > 0 && finalBase[base - 1] == L'\\')
        finalBase[base - 1] = L'\0';

    Plan plan = {NULL, 0, 0};
    SwitchWork work = {&plan, finalBase, restartFile, restartChars, 0, 0, 0};
    int planned = CreateDirectoryW(kAsideFolder, NULL) && PlanFolder(&plan, L"") && WriteJournal(plan);
    if (planned)
        RunShares(CarryOutShare, &work);
    int done = planned && !work.failed && MoveFileExW(kJournal, kJournalDone, MOVEFILE_WRITE_THROUGH);
    work.deleteAside = done;
    RunShares(ReleaseShare, &work);
    // Where giving back fails, the work folder and its journal stay for the next run to finish the job.
    if (!done && (!planned || RollBack(plan)))
        RemoveWorkFolder();
    free(plan.entries);
    if (!done)
        return kInstallFailed;
    // What is left behind now is the previous version; the next run removes it should this fail.
    RemoveWorkFolder();
    return work.queued > 0 ? kInstallRestartNeeded : kInstallComplete;
}

int RemoveWorkFolder() {
    return RemoveWorkFolderChecked(0);
}

int RepairInterruptedInstallation(const wchar_t* targetFolder) {
    wchar_t previous[kPathChars];
    DWORD length = GetCurrentDirectoryW(kPathChars, previous);
    if (length == 0 || length >= kPathChars || !SetCurrentDirectoryW(targetFolder))
        return 1;
    int ok = 1;
    if (Exists(kWorkFolder)) {
        // Left by another run in a folder others may write: every path is checked before it is touched.
        if (!Exists(kJournalDone) && Exists(kJournal)) {
            Plan plan = {NULL, 0, 0};
            ok = IsReachedWithoutLink(kWorkFolder) && ReadJournal(&plan) && RollBack(plan);
            free(plan.entries);
        }
        ok = ok && RemoveWorkFolderChecked(1);
    }
    SetCurrentDirectoryW(previous);
    return ok;
}

void FindFirstMissingFolder(const wchar_t* folder, wchar_t* first, size_t capacity) {
    first[0] = L'\0';
    if (Exists(folder))
        return;
    // Below the root: "C:\" or "\\server\share\".
    size_t start = 3;
    if (folder[0] == L'\\' && folder[1] == L'\\') {
        int separators = 0;
        for (start = 2; folder[start] != L'\0' && separators < 2; ++start)
            separators += folder[start] == L'\\';
    }
    size_t length = wcslen(folder);
    for (size_t i = start; i <= length && i < capacity; ++i) {
        if (i < length && folder[i] != L'\\')
            continue;
        wcsncpy(first, folder, i);
        first[i] = L'\0';
        if (!Exists(first))
            return;
    }
    first[0] = L'\0';
}

void RemoveCreatedFolders(const wchar_t* folder, const wchar_t* first) {
    size_t stop = wcslen(first);
    wchar_t path[kFolderChars];
    if (stop == 0 || !CopyText(path, kFolderChars, folder))
        return;
    size_t length = wcslen(path);
    while (length > 0 && path[length - 1] == L'\\')
        path[--length] = L'\0';
    while (length >= stop && RemoveDirectoryW(path)) {
        wchar_t* separator = wcsrchr(path, L'\\');
        if (separator == NULL)
            break;
        *separator = L'\0';
        length = wcslen(path);
    }
}

int IsReachedWithoutLink(const wchar_t* path) {
    if (!Exists(path))
        return 1; // nothing there to go through
    HANDLE handle = OpenWithoutLink(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(handle);
    return 1;
}
