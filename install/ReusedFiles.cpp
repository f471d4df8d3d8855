#include "install/ReusedFiles.h"

#include "framework/SystemLibrary.h"
#include "install/SafePath.h"
#include "install/StepLog.h"
#include "install/SwitchPlan.h"

#include <winternl.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

using namespace switchplan;

namespace {

enum { kListBytes = 65536, kMaxDepth = 32 };

// A file or folder of the taken tree, named relative to the staged folder.
struct Listed {
    size_t name; // into State::names
    LONGLONG id; // the file system's number for the file, as listed
    int folder, plain;
    volatile LONG kept; // a member took it (or it was set aside for one)
};

struct State {
    int completed, parked;
    Listed* entries;
    size_t count, capacity;
    wchar_t* names;
    size_t used, room;
    wchar_t work[kFolderChars]; // the work folder, in full: what is set aside goes there
    wchar_t base[kFolderChars]; // the staged folder's name as the system keeps it
    volatile LONG aside, reused;
    CRITICAL_SECTION lock; // folders are taken one at a time: two writers may want the same one
    int locked;
} state;

// What a directory query gives for each entry (FILE_ID_BOTH_DIR_INFO).
struct DirectoryEntry {
    DWORD next, index;
    LARGE_INTEGER times[4], size, allocation;
    DWORD attributes, nameBytes, eaSize;
    CCHAR shortLength;
    WCHAR shortName[12];
    LARGE_INTEGER id;
    WCHAR name[1];
};

typedef BOOL(WINAPI* DirectoryQuery)(HANDLE, int, LPVOID, DWORD);

const wchar_t* NameOf(const Listed& listed) {
    return state.names + listed.name;
}

int Add(const wchar_t* name, LONGLONG id, int folder, int plain) {
    size_t length = wcslen(name) + 1;
    if (state.count == state.capacity) {
        size_t capacity = state.capacity ? 2 * state.capacity : 256;
        Listed* grown = (Listed*)realloc(state.entries, capacity * sizeof(Listed));
        if (grown == NULL)
            return 0;
        state.entries = grown;
        state.capacity = capacity;
    }
    if (state.used + length > state.room) {
        size_t room = state.room ? 2 * state.room + length : 16384 + length;
        wchar_t* grown = (wchar_t*)realloc(state.names, room * sizeof(wchar_t));
        if (grown == NULL)
            return 0;
        state.names = grown;
        state.room = room;
    }
    memcpy(state.names + state.used, name, length * sizeof(wchar_t));
    Listed listed = {state.used, id, folder, plain, 0};
    state.entries[state.count++] = listed;
    state.used += length;
    return 1;
}

// Lists the folder relative below staged, and every folder in it. 0 for anything but plain files and
// folders (a link, junction or mount point), or a tree too deep.
int ListTree(const wchar_t* staged, const wchar_t* relative, int depth) {
    DirectoryQuery query =
        LoadedSystemFunction<DirectoryQuery>(L"kernel32.dll", "GetFileInformationByHandleEx");
    wchar_t path[kFolderChars];
    if (query == NULL || depth > kMaxDepth ||
        !Join(path, kFolderChars, staged, relative[0] != L'\0' ? L"\\" : L"", relative))
        return 0;
    HANDLE folder = HoldFolder(path);
    void* buffer = folder != INVALID_HANDLE_VALUE ? malloc(kListBytes) : NULL;
    int ok = buffer != NULL;
    size_t first = state.count;
    const int kIdBothDirectoryInfo = 10, kIdBothDirectoryRestartInfo = 11;
    for (int restart = 1; ok && query(folder, restart ? kIdBothDirectoryRestartInfo : kIdBothDirectoryInfo,
                                      buffer, kListBytes);
         restart = 0) {
        for (const DirectoryEntry* entry = (const DirectoryEntry*)buffer; ok;
             entry = (const DirectoryEntry*)((const char*)entry + entry->next)) {
            wchar_t name[kWideMemberChars], child[kFolderChars];
            size_t chars = entry->nameBytes / sizeof(wchar_t);
            if (chars < kWideMemberChars) {
                memcpy(name, entry->name, chars * sizeof(wchar_t));
                name[chars] = L'\0';
            }
            if (chars >= kWideMemberChars || (entry->attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                ok = 0;
            else if (!IsDots(name))
                ok = Join(child, kFolderChars, relative, relative[0] != L'\0' ? L"\\" : L"", name) &&
                     Add(child, entry->id.QuadPart, (entry->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                         // Written over, a file keeps its attributes: only those a new one has are kept.
                         (entry->attributes & ~(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL |
                                                FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)) == 0);
            if (entry->next == 0)
                break;
        }
    }
    ok = ok && GetLastError() == ERROR_NO_MORE_FILES;
    free(buffer);
    if (folder != INVALID_HANDLE_VALUE)
        CloseHandle(folder);
    for (size_t i = first, last = state.count; ok && i < last; ++i) {
        if (state.entries[i].folder) {
            wchar_t child[kFolderChars];
            ok =
                CopyText(child, kFolderChars, NameOf(state.entries[i])) && ListTree(staged, child, depth + 1);
        }
    }
    return ok;
}

int CompareListed(const void* a, const void* b) {
    return _wcsicmp(NameOf(*(const Listed*)a), NameOf(*(const Listed*)b));
}

// The listed entry for path ('/' or '\\' between its names, any case); NULL when none.
Listed* Find(const wchar_t* path, wchar_t* normal) {
    if (state.count == 0 || !CopyText(normal, kWideMemberChars, path))
        return NULL;
    for (wchar_t* c = normal; *c != L'\0'; ++c)
        *c = *c == L'/' ? L'\\' : *c;
    size_t low = 0, high = state.count;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        int order = _wcsicmp(normal, NameOf(state.entries[middle]));
        if (order == 0)
            return &state.entries[middle];
        if (order < 0)
            high = middle;
        else
            low = middle + 1;
    }
    return NULL;
}

// 1 when the open handle is the listed file: the same number, one name, no folder.
int IsListedFile(HANDLE file, const Listed& listed, HandleFacts* facts) {
    return QueryHandleFacts(file, facts) && facts->number == listed.id && facts->links == 1 && !facts->folder;
}

// Moves the file or folder path out of the staged folder into the work folder, where it is removed with it.
int SetAside(const wchar_t* path) {
    wchar_t aside[kFolderChars];
    int length =
        _snwprintf(aside, kFolderChars, L"%ls\\~%ld", state.work, InterlockedIncrement(&state.aside));
    return length > 0 && length < kFolderChars && MoveWithoutLink(path, aside, INVALID_FILE_ATTRIBUTES);
}

void FreeList() {
    free(state.entries);
    free(state.names);
    state.entries = NULL;
    state.names = NULL;
    state.count = state.capacity = state.used = state.room = 0;
}

} // namespace

void ForgetReusedFiles() {
    FreeList();
    state.completed = state.parked = 0;
    state.aside = state.reused = 0;
    state.work[0] = L'\0';
}

void NoteEarlierRun(int completed, const wchar_t* asideFolder) {
    state.completed = completed;
    state.parked = completed && asideFolder != NULL && Exists(asideFolder) && !Exists(kReusedFolder) &&
                   MoveWithoutLink(asideFolder, kReusedFolder, INVALID_FILE_ATTRIBUTES);
}

int ReusedFilesParked() {
    return state.parked;
}

int DropReusedFiles(const wchar_t* targetFolder) {
    wchar_t parked[kFolderChars];
    int dropped = state.parked && Join(parked, kFolderChars, targetFolder, kReusedFolder) &&
                  IsReachedWithoutLink(parked) && RemoveTree(parked);
    state.parked = 0;
    return dropped;
}

int AsideFilesAreStaging() {
    return state.completed;
}

int AdoptReusedFiles(const wchar_t* staged, const wchar_t* workFolder) {
    if (!state.parked)
        return 0;
    state.parked = 0;
    DWORD length = GetFullPathNameW(workFolder, kFolderChars, state.work, NULL);
    if (length == 0 || length >= kFolderChars ||
        !MoveWithoutLink(kReusedFolder, staged, INVALID_FILE_ATTRIBUTES))
        return 0;
    FolderObjectName(staged, state.base);
    int listed = state.base[0] != L'\0' && ListTree(staged, L"", 0);
    size_t folders = 0;
    for (size_t i = 0; i < state.count; ++i)
        folders += state.entries[i].folder;
    if (listed) {
        qsort(state.entries, state.count, sizeof(Listed), CompareListed);
        if (!state.locked) {
            InitializeCriticalSection(&state.lock);
            state.locked = 1;
        }
        LogStep(L"staging over the previous version's files: %lu files in %lu folders",
                (unsigned long)(state.count - folders), (unsigned long)folders);
        return 1;
    }
    // A link in the tree: none of it is used, and the members are staged in a folder of their own.
    FreeList();
    LogStep(L"previous version's files not used (not plain files and folders): set aside");
    SetAside(staged);
    return 0;
}

int TakeReusedFile(const wchar_t* path, HANDLE* handle, unsigned long long* size) {
    wchar_t normal[kWideMemberChars];
    Listed* listed = Find(path, normal);
    if (listed == NULL)
        return 0;
    InterlockedExchange(&listed->kept, 1);
    // The name must be the member's to the letter: written over, the file keeps its own.
    if (!listed->folder && listed->plain && wcscmp(normal, NameOf(*listed)) == 0) {
        HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, NULL);
        HandleFacts facts;
        if (file != INVALID_HANDLE_VALUE && IsListedFile(file, *listed, &facts) &&
            HandleIsBelow(file, state.base, normal) == 1) {
            InterlockedIncrement(&state.reused);
            *handle = file;
            *size = (unsigned long long)facts.size;
            return 1;
        }
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    return SetAside(path) || !Exists(path) ? 0 : -1;
}

int TakeReusedFolder(const wchar_t* path) {
    wchar_t normal[kWideMemberChars];
    Listed* listed = Find(path, normal);
    if (listed == NULL)
        return 1;
    EnterCriticalSection(&state.lock);
    int ok = 1;
    if (InterlockedExchange(&listed->kept, 1) == 0 &&
        (!listed->folder || wcscmp(normal, NameOf(*listed)) != 0))
        ok = SetAside(path) || !Exists(path); // a file where a folder goes, or a folder named otherwise
    LeaveCriticalSection(&state.lock);
    return ok;
}

int RemoveUnusedReusedFiles() {
    // Backwards, so what a folder holds goes before the folder.
    LONG files = 0, folders = 0;
    int ok = 1;
    for (size_t i = state.count; i-- > 0;) {
        const Listed& listed = state.entries[i];
        if (listed.kept)
            continue;
        int gone = listed.folder ? RemoveDirectoryW(NameOf(listed)) || !Exists(NameOf(listed))
                                 : DeleteWithoutLink(NameOf(listed));
        ok &= gone;
        (listed.folder ? folders : files) += gone;
    }
    if (state.count > 0 || state.reused > 0 || state.aside > 0)
        LogStep(
            L"previous version's files written over: %ld; set aside: %ld; deleted: %ld files, %ld folders",
            (long)state.reused, (long)state.aside, (long)files, (long)folders);
    FreeList();
    return ok;
}
