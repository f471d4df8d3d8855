#include "install/SwitchPlan.h"

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
            LogStep(L"refused: %ls is a link or of the other kind (file or folder)", entry.path);
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

} // namespace switchplan
