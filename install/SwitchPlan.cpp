#include "install/SwitchPlan.h"

#include "install/SafePath.h"
#include "install/StepLog.h"

#include <stdlib.h>
#include <wchar.h>

namespace switchplan {

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

int HoldNewAsideFolder(Plan* plan, const wchar_t* path) {
    if (plan->asideCount == plan->asideCapacity) {
        size_t capacity = plan->asideCapacity ? 2 * plan->asideCapacity : 16;
        Plan::AsideFolder* grown =
            (Plan::AsideFolder*)realloc(plan->asideFolders, capacity * sizeof(Plan::AsideFolder));
        if (grown == NULL)
            return 0;
        plan->asideFolders = grown;
        plan->asideCapacity = capacity;
    }
    Plan::AsideFolder& made = plan->asideFolders[plan->asideCount];
    // Made just now, so held without the checks of the link-safe helper: AsideFoldersInPlace makes them,
    // for every folder at once, right before anything moves.
    const DWORD kShareNoDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
    made.handle =
        CopyText(made.path, kEntryChars, path) && CreateDirectoryW(path, NULL)
            ? CreateFileW(path, FILE_LIST_DIRECTORY | FILE_TRAVERSE, kShareNoDelete, NULL, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL)
            : INVALID_HANDLE_VALUE;
    if (made.handle == INVALID_HANDLE_VALUE)
        return 0;
    plan->asideCount++;
    return 1;
}

void FreePlan(Plan* plan) {
    for (size_t i = 0; i < plan->asideCount; ++i)
        CloseHandle(plan->asideFolders[i].handle);
    free(plan->asideFolders);
    free(plan->entries);
    plan->asideFolders = NULL;
    plan->entries = NULL;
    plan->asideCount = plan->asideCapacity = plan->count = plan->capacity = 0;
}

int AsideFoldersInPlace(const Plan& plan) {
    int ok = 1;
    // The name must still reach the very folder held: one renamed away and replaced by a link (or by
    // another folder) is another file, whatever the names on the way say.
    for (size_t i = 0; ok && i < plan.asideCount; ++i) {
        const DWORD kAllShares = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        HANDLE named = CreateFileW(plan.asideFolders[i].path, FILE_READ_ATTRIBUTES, kAllShares, NULL,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
        BY_HANDLE_FILE_INFORMATION held, found;
        ok = named != INVALID_HANDLE_VALUE &&
             GetFileInformationByHandle(plan.asideFolders[i].handle, &held) &&
             GetFileInformationByHandle(named, &found) &&
             held.dwVolumeSerialNumber == found.dwVolumeSerialNumber &&
             held.nFileIndexHigh == found.nFileIndexHigh && held.nFileIndexLow == found.nFileIndexLow &&
             HandleIsAt(plan.asideFolders[i].handle, plan.asideFolders[i].path);
        if (named != INVALID_HANDLE_VALUE)
            CloseHandle(named);
    }
    return ok;
}

namespace {

// An earlier run that found a file held open left its new file beside it, queued to replace it when
// Windows starts again. Such a file in folder is moved aside before anything else ('D'), so the file
// installed now wins after the restart too (the queued step then finds nothing to move), and is given back
// with its queued step should this run fail. One search a folder: the plan asks nothing per file.
int PlanEarlierReplacements(Plan* plan, const wchar_t* folder) {
    wchar_t pattern[kEntryChars];
    if (!Join(pattern, kEntryChars, folder, L"*", kBesideSuffix))
        return 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    int ok = 1;
    while (ok && search != INVALID_HANDLE_VALUE) {
        PlanEntry entry = {L'D', found.dwFileAttributes, INVALID_HANDLE_VALUE, L""};
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            ok = Join(entry.path, kWideMemberChars, folder, found.cFileName) && Add(plan, entry);
        if (!FindNextFileW(search, &found))
            break;
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return ok;
}

} // namespace

int PlanFolder(Plan* plan, const wchar_t* folder) {
    wchar_t pattern[kEntryChars];
    if (!Join(pattern, kEntryChars, plan->work->staged, L"\\", folder) ||
        !AppendText(pattern, kEntryChars, L"*"))
        return 0;
    if (!PlanEarlierReplacements(plan, folder))
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
        // The writers made every staged entry; a link among them was put there by someone else.
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            !Join(entry.path, kWideMemberChars, folder, found.cFileName)) {
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
            LogStep(L"refused: %ls is a link or of the other kind (file or folder)", entry.path);
            ok = 0;
        } else if (!stagedFolder) {
            entry.kind = L'R';
            ok = Add(plan, entry);
        } else {
            wchar_t aside[kEntryChars], inner[kWideMemberChars];
            ok = Join(aside, kEntryChars, plan->work->aside, L"\\", entry.path) &&
                 HoldNewAsideFolder(plan, aside) && Join(inner, kWideMemberChars, entry.path, L"\\") &&
                 PlanFolder(plan, inner);
        }
    } while (ok && FindNextFileW(search, &found));
    FindClose(search);
    return ok;
}

int WriteJournal(const Plan& plan) {
    HANDLE file = OpenWithoutLink(plan.work->journal, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
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

int ReadJournal(Plan* plan) {
    HANDLE file = OpenWithoutLink(plan->work->journal, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
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
        ok = (entry.kind == L'A' || entry.kind == L'R' || entry.kind == L'D') &&
             CopyText(entry.path, kWideMemberChars, line + 11) && IsSafeMemberName(entry.path) &&
             Add(plan, entry);
        line = end + 1;
    }
    free(text);
    return ok;
}

} // namespace switchplan
