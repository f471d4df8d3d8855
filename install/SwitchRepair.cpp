#include "install/SwitchPlan.h"

#include "install/SafePath.h"
#include "install/StepLog.h"

#include <stdlib.h>
#include <wchar.h>

namespace switchplan {

int RollBack(const Plan& plan) {
    LogStep(L"rollback of %lu steps", (unsigned long)plan.count);
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
            (!IsReachedWithoutLink(from) || !MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING))) {
            LogStep(L"not given back: %ls", e.path);
            ok = 0;
        } else if (from == paths.aside) {
            SetFileAttributesW(e.path, e.attributes);
            LogStep(L"given back: %ls", e.path);
        } else if (from != NULL) {
            LogStep(L"taken out again: %ls", e.path);
        }
    }
    LogStep(ok ? L"rollback done: the previous installation is back"
               : L"rollback incomplete: the work folder stays for the next run to finish it");
    return ok;
}

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

} // namespace switchplan

using namespace switchplan;

namespace {

// Where the work folder holds only what this run put there, the attributes tell links.
int RemoveWorkFolderChecked(int checkEach) {
    if (!Exists(kWorkFolder))
        return 1;
    return IsReachedWithoutLink(kWorkFolder) && RemoveTree(kWorkFolder, checkEach);
}

} // namespace

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
