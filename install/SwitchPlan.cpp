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

namespace {

// The same number on the same volume. The volume is told by the names the system keeps for both, which
// include it; only where it cannot tell them is the volume asked, which under Wine is slow.
int SameFolder(HANDLE held, HANDLE named) {
    HandleFacts a, b;
    if (!QueryHandleFacts(held, &a) || !QueryHandleFacts(named, &b) || a.number != b.number)
        return 0;
    wchar_t heldName[kFolderChars], namedName[kFolderChars];
    if (ObjectNameOf(held, heldName, kFolderChars) && ObjectNameOf(named, namedName, kFolderChars))
        return _wcsicmp(heldName, namedName) == 0;
    BY_HANDLE_FILE_INFORMATION x, y;
    return GetFileInformationByHandle(held, &x) && GetFileInformationByHandle(named, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber;
}

} // namespace

int AsideFoldersInPlace(const Plan& plan) {
    int ok = 1;
    // The name must still reach the very folder held: one renamed away and replaced by a link (or by
    // another folder) is another file, whatever the names on the way say.
    for (size_t i = 0; ok && i < plan.asideCount; ++i) {
        const DWORD kAllShares = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        HANDLE named = CreateFileW(plan.asideFolders[i].path, FILE_READ_ATTRIBUTES, kAllShares, NULL,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
        ok = named != INVALID_HANDLE_VALUE && SameFolder(plan.asideFolders[i].handle, named) &&
             HandleIsAt(plan.asideFolders[i].handle, plan.asideFolders[i].path);
        if (named != INVALID_HANDLE_VALUE)
            CloseHandle(named);
    }
    return ok;
}

namespace {

// The entries of an installed folder, listed once and sorted by name without regard to case, so the plan
// asks nothing per file.
struct Listing {
    struct Entry {
        DWORD attributes;
        int matched; // a staged entry of its kind takes its place
        wchar_t name[MAX_PATH];
    } * entries;
    size_t count;
};

int CompareNames(const void* a, const void* b) {
    return _wcsicmp(((const Listing::Entry*)a)->name, ((const Listing::Entry*)b)->name);
}

// 0 when the folder cannot be listed or the memory is missing; a folder that is not there lists nothing.
int List(const wchar_t* folder, Listing* listing) {
    listing->entries = NULL;
    listing->count = 0;
    wchar_t pattern[kEntryChars];
    if (!Join(pattern, kEntryChars, folder, L"*"))
        return 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    size_t capacity = 0;
    int ok = 1;
    do {
        if (IsDots(found.cFileName))
            continue;
        if (listing->count == capacity) {
            capacity = capacity ? 2 * capacity : 64;
            Listing::Entry* grown =
                (Listing::Entry*)realloc(listing->entries, capacity * sizeof(Listing::Entry));
            if (grown == NULL) {
                ok = 0;
                break;
            }
            listing->entries = grown;
        }
        Listing::Entry& entry = listing->entries[listing->count++];
        entry.attributes = found.dwFileAttributes;
        entry.matched = 0;
        CopyText(entry.name, MAX_PATH, found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    if (ok && listing->count > 1)
        qsort(listing->entries, listing->count, sizeof(Listing::Entry), CompareNames);
    return ok;
}

Listing::Entry* Find(const Listing& listing, const wchar_t* name) {
    Listing::Entry key;
    if (!CopyText(key.name, MAX_PATH, name))
        return NULL;
    return (Listing::Entry*)bsearch(&key, listing.entries, listing.count, sizeof(Listing::Entry),
                                    CompareNames);
}

int EndsWith(const wchar_t* name, const wchar_t* suffix) {
    size_t length = wcslen(name), suffixLength = wcslen(suffix);
    return length > suffixLength && _wcsicmp(name + length - suffixLength, suffix) == 0;
}

// An earlier run that found a file held open left its new file beside it, queued to replace it when
// Windows starts again. Such a file in folder is moved aside before anything else ('D'), so the file
// installed now wins after the restart too (the queued step then finds nothing to move), and is given back
// with its queued step should this run fail.
int PlanEarlierReplacements(Plan* plan, const wchar_t* folder, const Listing& installed) {
    for (size_t i = 0; i < installed.count; ++i) {
        const Listing::Entry& found = installed.entries[i];
        PlanEntry entry = {L'D', found.attributes, INVALID_HANDLE_VALUE, L"", 0, 0};
        if (!(found.attributes & FILE_ATTRIBUTE_DIRECTORY) && EndsWith(found.name, kBesideSuffix) &&
            !(Join(entry.path, kWideMemberChars, folder, found.name) && Add(plan, entry)))
            return 0;
    }
    return 1;
}

int PlanFolderListed(Plan* plan, const wchar_t* folder, Listing& installed, int* whole) {
    wchar_t pattern[kEntryChars];
    if (!Join(pattern, kEntryChars, plan->work->staged, L"\\", folder) ||
        !AppendText(pattern, kEntryChars, L"*") || !PlanEarlierReplacements(plan, folder, installed))
        return 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int ok = 1;
    do {
        if (IsDots(found.cFileName))
            continue;
        PlanEntry entry = {L'A', INVALID_FILE_ATTRIBUTES, INVALID_HANDLE_VALUE, L"", 0, 0};
        // The writers made every staged entry; a link among them was put there by someone else.
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            !Join(entry.path, kWideMemberChars, folder, found.cFileName)) {
            ok = 0;
            break;
        }
        int stagedFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        Listing::Entry* listed = Find(installed, found.cFileName);
        // A name the listing spells otherwise (a short name, or case beyond ASCII) is asked for.
        entry.attributes = listed != NULL ? listed->attributes : GetFileAttributesW(entry.path);
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
            if (listed != NULL)
                listed->matched = 1;
        } else {
            wchar_t inner[kWideMemberChars];
            int innerWhole = 0;
            entry.first = plan->count;
            ok = Join(inner, kWideMemberChars, entry.path, L"\\") && PlanFolder(plan, inner, &innerWhole);
            if (ok && innerWhole) {
                entry.kind = L'F';
                ok = Add(plan, entry);
            }
            if (listed != NULL)
                listed->matched = innerWhole;
        }
    } while (ok && FindNextFileW(search, &found));
    FindClose(search);
    for (size_t i = 0; ok && i < installed.count; ++i)
        *whole &= installed.entries[i].matched;
    return ok;
}

} // namespace

int PlanFolder(Plan* plan, const wchar_t* folder, int* whole) {
    Listing installed;
    int wholeHere = 1;
    int ok = List(folder, &installed) && PlanFolderListed(plan, folder, installed, &wholeHere);
    free(installed.entries);
    if (whole != NULL)
        *whole = ok && wholeHere;
    return ok;
}

size_t ListSteps(const Plan& plan, size_t* steps) {
    // The entries below a folder come right before it: walked backwards, a folder switched whole covers
    // them.
    size_t count = 0;
    for (size_t i = plan.count; i-- > 0;) {
        steps[count++] = i;
        if (plan.entries[i].kind == L'F')
            i = plan.entries[i].first;
    }
    for (size_t a = 0, b = count; a + 1 < b; ++a, --b) {
        size_t kept = steps[a];
        steps[a] = steps[b - 1];
        steps[b - 1] = kept;
    }
    return count;
}

int MakeAsideFolders(Plan* plan, const size_t* steps, size_t stepCount) {
    wchar_t made[kWideMemberChars] = L""; // the folder whose aside folders were made last
    // Each folder on the way that the plan does not hold yet; what moves into place needs none.
    auto make = [plan](const wchar_t* aside) {
        for (size_t i = plan->asideCount; i-- > 0;) {
            if (_wcsicmp(plan->asideFolders[i].path, aside) == 0)
                return 1;
        }
        return HoldNewAsideFolder(plan, aside);
    };
    for (size_t s = 0; s < stepCount; ++s) {
        const PlanEntry& e = plan->entries[steps[s]];
        if (e.kind != L'A' && !ForEachAsideFolder(*plan->work, e.path, made, make))
            return 0;
    }
    return 1;
}

void FolderObjectName(const wchar_t* path, wchar_t* base) {
    base[0] = L'\0';
    HANDLE folder = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (folder == INVALID_HANDLE_VALUE)
        return;
    if (!ObjectNameOf(folder, base, kFolderChars))
        base[0] = L'\0';
    CloseHandle(folder);
    size_t length = wcslen(base);
    if (length > 0 && base[length - 1] == L'\\')
        base[length - 1] = L'\0';
}

int HandleIsBelow(HANDLE handle, const wchar_t* base, const wchar_t* path) {
    wchar_t name[kFolderChars], expected[kFolderChars];
    if (base == NULL || base[0] == L'\0' || !ObjectNameOf(handle, name, kFolderChars))
        return -1;
    return Join(expected, kFolderChars, base, L"\\", path) && _wcsicmp(name, expected) == 0;
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
        PlanEntry entry = {line[0], (DWORD)wcstoul(line + 2, NULL, 16), INVALID_HANDLE_VALUE, L"", 0, 0};
        ok = wcschr(L"ARDF", entry.kind) != NULL && entry.kind != L'\0' &&
             CopyText(entry.path, kWideMemberChars, line + 11) && IsSafeMemberName(entry.path) &&
             Add(plan, entry);
        line = end + 1;
    }
    free(text);
    return ok;
}

} // namespace switchplan
