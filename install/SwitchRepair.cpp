#include "install/SwitchPlan.h"

#include "install/JournalRecord.h"
#include "install/ReusedFiles.h"
#include "install/SafePath.h"
#include "install/StepLog.h"
#include "install/WorkFolderRemoval.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace switchplan {

namespace {

const wchar_t* kSessionManager = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// Takes the last step queued for the next start of Windows that moves source (a full path) out of the
// queue, so the queue is as it was before this run added it; kept steps for source (an earlier run's) stay.
void ForgetQueuedRename(const wchar_t* source, size_t kept) {
    HKEY key = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return;
    DWORD type = 0, bytes = 0;
    wchar_t* queue = NULL;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", NULL, &type, NULL, &bytes) == ERROR_SUCCESS &&
        type == REG_MULTI_SZ &&
        (queue = (wchar_t*)calloc(bytes / sizeof(wchar_t) + 2, sizeof(wchar_t))) != NULL &&
        RegQueryValueExW(key, L"PendingFileRenameOperations", NULL, &type, (BYTE*)queue, &bytes) ==
            ERROR_SUCCESS) {
        // Pairs of NT names: the source, then the target ("!" in front: replacing it), or empty to delete.
        size_t chars = bytes / sizeof(wchar_t), found = chars, end = 0, matches = 0;
        for (size_t at = 0; at < chars && queue[at] != L'\0';) {
            size_t target = at + wcslen(queue + at) + 1;
            size_t next = target < chars ? target + wcslen(queue + target) + 1 : chars;
            const wchar_t* name = queue + at;
            if (wcsncmp(name, L"\\??\\", 4) == 0 && _wcsicmp(name + 4, source) == 0) {
                found = at;
                end = next;
                ++matches;
            }
            at = next;
        }
        if (matches > kept) {
            memmove(queue + found, queue + end, (chars - end) * sizeof(wchar_t));
            size_t left = chars - (end - found);
            if (left <= 1 || queue[0] == L'\0')
                RegDeleteValueW(key, L"PendingFileRenameOperations");
            else
                RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ, (const BYTE*)queue,
                               (DWORD)(left * sizeof(wchar_t)));
        }
    }
    free(queue);
    RegCloseKey(key);
}

// Whether the plan, before entry end, moves aside an earlier run's replacement of path.
int HasEarlierReplacement(const Plan& plan, size_t end, const wchar_t* path) {
    wchar_t beside[kWideMemberChars];
    if (!Join(beside, kWideMemberChars, path, kBesideSuffix))
        return 0;
    for (size_t i = 0; i < end; ++i) {
        if (plan.entries[i].kind == L'D' && _wcsicmp(plan.entries[i].path, beside) == 0)
            return 1;
    }
    return 0;
}

} // namespace

int RollBack(const Plan& plan) {
    LogStep(L"rollback of %lu steps", (unsigned long)plan.count);
    int ok = 1;
    for (size_t i = plan.count; i-- > 0;) {
        const PlanEntry& e = plan.entries[i];
        EntryPaths paths;
        wchar_t undone[kEntryChars];
        if (!paths.Form(*plan.work, e.path) ||
            _snwprintf(undone, kEntryChars, L"%ls\\undone%u", plan.work->name, (unsigned)i) <= 0) {
            ok = 0;
            continue;
        }
        undone[kEntryChars - 1] = L'\0';
        // Only what is moved is checked: an installed link the switch-over refused stays where it is.
        const wchar_t* from = NULL;
        const wchar_t* to = undone;
        DWORD attributes = INVALID_FILE_ATTRIBUTES;
        int staged = Exists(paths.staged);
        if (e.kind == L'F' && Exists(paths.aside) && (!staged || !Exists(e.path))) {
            // Moved aside whole, and the staged folder into place unless killed in between: the new one
            // goes into the work folder first, then the old one comes back as it was.
            if (!staged && Exists(e.path) && !MoveWithoutLink(e.path, undone, INVALID_FILE_ATTRIBUTES)) {
                LogStep(L"not given back: %ls", e.path);
                ok = 0;
                continue;
            }
            from = paths.aside;
            to = e.path;
        } else if (e.kind == L'A' && !staged && Exists(e.path)) {
            from = e.path;
        } else if ((e.kind == L'R' || e.kind == L'D') && Exists(paths.aside)) {
            from = paths.aside;
            to = e.path;
            attributes = e.attributes;
        } else if (e.kind == L'R' && !staged && Exists(paths.beside)) {
            // Queued for the next start of Windows; without its file the queued step does nothing.
            from = paths.beside;
        }
        // An earlier run's step for the same file stays, for its file given back below.
        wchar_t queued[kFolderChars];
        DWORD length = from == paths.beside ? GetFullPathNameW(from, kFolderChars, queued, NULL) : 0;
        if (from != NULL && !MoveWithoutLink(from, to, attributes)) {
            LogStep(L"not given back: %ls", e.path);
            ok = 0;
        } else if (from == paths.aside) {
            LogStep(e.kind == L'F' ? L"folder given back whole: %ls" : L"given back: %ls", e.path);
            // A folder given back whole gives back every file below it, which the entries right before
            // it name.
            size_t length = wcslen(e.path);
            for (size_t j = i; e.kind == L'F' && StepLogOpen() && j-- > 0;) {
                const PlanEntry& inner = plan.entries[j];
                if (_wcsnicmp(inner.path, e.path, length) != 0 || inner.path[length] != L'\\')
                    break;
                if (inner.kind != L'F')
                    LogStep(inner.kind == L'R' ? L"given back: %ls" : L"taken out again: %ls", inner.path);
            }
        } else if (from != NULL) {
            if (length > 0 && length < kFolderChars)
                ForgetQueuedRename(queued, HasEarlierReplacement(plan, i, e.path));
            LogStep(L"taken out again: %ls", e.path);
        }
    }
    LogStep(ok ? L"rollback done: the previous installation is back"
               : L"rollback incomplete: the work folder stays for the next run to finish it");
    return ok;
}

namespace {

// Deletes the file path through a handle whose name the system keeps is base's with path: one question,
// where the link-safe helper asks for every folder on the way. A read-only file loses the attribute
// through the handle. The name is compared from path's character skip on. -1 where the system cannot tell
// the name.
int DeleteBelow(const wchar_t* path, const wchar_t* base, size_t skip) {
    const DWORD kAllShares = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kAllShares, NULL,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    int below = HandleIsBelow(file, base, path + skip);
    int deleted = below == 1 && DeleteThroughHandle(file);
    CloseHandle(file);
    return below == 1 ? deleted : below;
}

} // namespace

int RemoveTree(const wchar_t* folder, const wchar_t* base, TreeTally* tally, size_t skip) {
    // Below the work folder, checked by its remover, the search tells a folder link; a file is deleted
    // only through a handle that proved it is where its name says, so not even one reached through a
    // link that went unnoticed is.
    wchar_t pattern[kFolderChars];
    if (!Join(pattern, kFolderChars, folder, L"\\*"))
        return 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    int ok = 1;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            wchar_t child[kFolderChars];
            if (IsDots(found.cFileName))
                continue;
            if (!Join(child, kFolderChars, folder, L"\\", found.cFileName) ||
                (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                ok = 0;
                continue;
            }
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                ok &= RemoveTree(child, base, tally, skip);
                continue;
            }
            int deleted = base != NULL ? DeleteBelow(child, base, skip) : -1;
            // A read-only file loses the attribute first; a link is refused by both.
            if (deleted < 0)
                deleted = DeleteWithoutLink(child) ||
                          (IsReachedWithoutLink(child) && SetFileAttributesW(child, FILE_ATTRIBUTE_NORMAL) &&
                           DeleteWithoutLink(child));
            ok &= deleted;
            if (deleted && tally != NULL)
                InterlockedIncrement(&tally->files);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    ok = ok && RemoveDirectoryW(folder);
    if (ok && tally != NULL)
        InterlockedIncrement(&tally->folders);
    return ok;
}

} // namespace switchplan

using namespace switchplan;

namespace {

// A name this setup gives its work folders: kWorkFolder, alone or with a suffix, and nothing that leads
// elsewhere.
int IsWorkFolderName(const wchar_t* name) {
    size_t prefix = wcslen(kWorkFolder);
    return _wcsnicmp(name, kWorkFolder, prefix) == 0 && (name[prefix] == L'\0' || name[prefix] == L'-') &&
           wcspbrk(name, L"\\/:") == NULL && IsSafeMemberName(name);
}

// 1 when every path of the plan lies in a folder reached without a link from the target folder.
int StaysInside(const Plan& plan) {
    for (size_t i = 0; i < plan.count; ++i) {
        wchar_t folder[kWideMemberChars];
        CopyText(folder, kWideMemberChars, plan.entries[i].path);
        wchar_t* last = wcsrchr(folder, L'\\');
        if (last != NULL && (*last = L'\0', !IsReachedWithoutLink(folder)))
            return 0;
    }
    return 1;
}

// Carries out the recorded work folder's journal: the switch-over is undone where it was not marked
// done. -1 when there is a journal this setup did not write or whose paths lead out of the folder, which
// is then not carried out; 0 when carrying it out failed.
int CarryOutRecordedJournal(const wchar_t* targetFolder, const WorkFolder& work) {
    if (Exists(work.done))
        return 1; // the switch-over was done: what is left is the previous version, to be removed
    if (!Exists(work.journal))
        return 1; // killed while staging: nothing moved yet
    if (!JournalMatchesRecord(targetFolder, work.journal))
        return -1;
    Plan plan = {&work, NULL, 0, 0, NULL, 0, 0};
    int ok = ReadJournal(&plan) ? (StaysInside(plan) ? RollBack(plan) : -1) : -1;
    FreePlan(&plan);
    return ok;
}

} // namespace

void switchplan::LetGoOfWorkFolder(WorkFolder* work) {
    for (int i = 1; i >= 0; --i) {
        if (work->held[i] != INVALID_HANDLE_VALUE && work->held[i] != NULL)
            CloseHandle(work->held[i]);
        work->held[i] = INVALID_HANDLE_VALUE;
    }
}

int RemoveWorkFolder(WorkFolder* work) {
    LetGoOfWorkFolder(work);
    return !Exists(work->name) || (IsReachedWithoutLink(work->name) && RemoveTree(work->name));
}

int RepairInterruptedInstallation(const wchar_t* targetFolder, int* refused, WorkFolderRemoval* later) {
    ForgetReusedFiles();
    wchar_t previous[kPathChars];
    DWORD length = GetCurrentDirectoryW(kPathChars, previous);
    if (length == 0 || length >= kPathChars || !SetCurrentDirectoryW(targetFolder))
        return 1;
    int ok = 1, distrusted = 0;
    wchar_t recorded[kWorkNameChars] = L"";
    WorkFolder work;
    work.held[0] = work.held[1] = INVALID_HANDLE_VALUE;
    // A work folder with nothing to carry out (no journal, or one marked done) goes on later's thread.
    auto removeLater = [&](WorkFolder& folder) {
        return later != NULL && !Exists(folder.journal) && later->Add(targetFolder, folder.name);
    };
    int mark = 0;
    if (RecordedWorkFolder(targetFolder, recorded, &mark)) {
        if (IsWorkFolderName(recorded) && work.Name(recorded) && Exists(work.name)) {
            int carried = IsReachedWithoutLink(work.name) ? CarryOutRecordedJournal(targetFolder, work) : -1;
            distrusted = carried < 0;
            ok = carried != 0;
            // A completed run installed its staging; the files it moved aside, when they were the staging
            // of the run before, are staged over anew by a run that stages (one that hands its removals
            // to later; the uninstaller removes them).
            if (carried > 0 && Exists(work.done) && JournalMatchesRecord(targetFolder, work.done))
                NoteEarlierRun(1, mark == kRecordAsideIsStaging && later != NULL ? work.aside : NULL);
        } else if (mark == kRecordInstalled) {
            NoteEarlierRun(1, NULL);
        }
        // Where giving back failed, the work folder and its record stay for the next run; a journal not
        // carried out is never looked at again.
        int removed = ok && (!Exists(work.name) || removeLater(work) || RemoveWorkFolder(&work));
        if (removed || distrusted)
            ForgetJournal(targetFolder);
    }
    // Any other work folder was left by a run killed before it had a journal, or put there by someone
    // else: nothing in it is carried out, and what can be removed without following a link goes.
    wchar_t pattern[kWorkFolderChars];
    _snwprintf(pattern, kWorkFolderChars, L"%ls*", kWorkFolder);
    pattern[kWorkFolderChars - 1] = L'\0';
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    while (ok && search != INVALID_HANDLE_VALUE) {
        WorkFolder other;
        other.held[0] = other.held[1] = INVALID_HANDLE_VALUE;
        if (IsWorkFolderName(found.cFileName) && _wcsicmp(found.cFileName, recorded) != 0 &&
            !(ReusedFilesParked() && _wcsicmp(found.cFileName, kReusedFolder) == 0) &&
            other.Name(found.cFileName)) {
            // A switch-over marked done left only files to remove (a program that was still running).
            distrusted |= Exists(other.journal);
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !removeLater(other))
                RemoveWorkFolder(&other);
        }
        if (!FindNextFileW(search, &found))
            break;
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    if (later != NULL)
        later->Start();
    if (refused != NULL)
        *refused = distrusted;
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
