#pragma once
// The switch-over's plan and its journal, shared by the switch-over and by the rollback and repair that
// give back what it moved (install/SwitchOver.h).
#include "install/PathHelpers.h"
#include "install/PayloadExtraction.h"
#include "install/SwitchOver.h"

#include <windows.h>
#include <wchar.h>

namespace switchplan {

// A path below the work folder; and a final path, which may be long.
enum { kEntryChars = kWideMemberChars + 48, kFolderChars = 1024, kJournalBufferChars = 16384 };

// One step of the switch-over. 'A': nothing is installed under that name; the member (a file, or a folder
// with everything in it) is moved into place. 'R': an installed file is moved aside and replaced. 'D': an
// earlier run's replacement waiting for the restart is moved aside (before any other step) and deleted.
// 'F': an installed folder that holds nothing but members of the payload is moved aside whole and the
// staged one into place; the entries below it come right before it, and are carried out one by one only
// where the system refuses to move the folder (a program has a file in it open).
struct PlanEntry {
    wchar_t kind;
    DWORD attributes; // of the installed file, given back with it
    HANDLE aside;     // the installed file moved aside, held until it is deleted through this handle
    wchar_t path[kWideMemberChars];
    size_t first;   // 'F': the first of the entries below the folder
    int movedWhole; // 'F': the folder was moved whole (its old files are deleted with it)
};

struct Plan {
    const WorkFolder* work;
    PlanEntry* entries;
    size_t count, capacity;
    // The folders made below the aside folder for the plan, held until the plan is freed; each is checked
    // again right before anything moves into it.
    struct AsideFolder {
        HANDLE handle;
        wchar_t path[kEntryChars];
    } * asideFolders;
    size_t asideCount, asideCapacity;
};

// Closes what the plan holds and frees it.
void FreePlan(Plan* plan);

int Add(Plan* plan, const PlanEntry& entry);

inline int Join(wchar_t* out, size_t capacity, const wchar_t* first, const wchar_t* second,
                const wchar_t* third = L"") {
    return CopyText(out, capacity, first) && AppendText(out, capacity, second) &&
           AppendText(out, capacity, third);
}

inline int Exists(const wchar_t* path) {
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

inline int IsDots(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// The staged, aside and beside names of an entry.
struct EntryPaths {
    wchar_t staged[kEntryChars], aside[kEntryChars], beside[kEntryChars];

    int Form(const WorkFolder& work, const wchar_t* path) {
        return Join(staged, kEntryChars, work.staged, L"\\", path) &&
               Join(aside, kEntryChars, work.aside, L"\\", path) &&
               Join(beside, kEntryChars, path, kBesideSuffix);
    }
};

// Plans the staged folder's entries below folder ("" or ending in a backslash) against the installed ones,
// listed once. A link among the staged entries, or among the installed folders, fails it. whole (when not
// NULL) is set to 1 when every installed entry in folder has a staged entry of its kind: the folder may be
// switched whole.
int PlanFolder(Plan* plan, const wchar_t* folder, int* whole = NULL);

// The steps carried out on their own, in plan order, into steps (plan.count places): every entry that
// lies in no folder switched whole ('F'), and those folders. Returns their count.
size_t ListSteps(const Plan& plan, size_t* steps);

// The full name of an installed entry (path relative to the target folder) into restartFile, for the run's
// message that Windows must start again; the relative one where the full one does not fit.
inline void NameForRestart(const wchar_t* path, wchar_t* restartFile, size_t restartChars) {
    DWORD length = GetFullPathNameW(path, (DWORD)restartChars, restartFile, NULL);
    if (length == 0 || length >= restartChars)
        CopyText(restartFile, restartChars, path);
}

// Calls make(aside) for every folder below the aside folder on the way to the folder of the entry path,
// the outer ones first, and keeps that folder in made (kWideMemberChars): nothing when it is the one made
// names already, or when path lies in the target folder itself (the aside folder is made first). 0 when
// a name does not fit or make returns 0.
template <class Make>
int ForEachAsideFolder(const WorkFolder& work, const wchar_t* path, wchar_t* made, Make make) {
    wchar_t folder[kWideMemberChars];
    CopyText(folder, kWideMemberChars, path);
    wchar_t* last = wcsrchr(folder, L'\\');
    if (last == NULL)
        return 1;
    last[1] = L'\0';
    if (wcscmp(folder, made) == 0)
        return 1;
    for (wchar_t* separator = wcschr(folder, L'\\'); separator != NULL;
         separator = wcschr(separator + 1, L'\\')) {
        *separator = L'\0';
        wchar_t aside[kEntryChars];
        int named = Join(aside, kEntryChars, work.aside, L"\\", folder);
        *separator = L'\\';
        if (!named || !make(aside))
            return 0;
    }
    CopyText(made, kWideMemberChars, folder);
    return 1;
}

// Makes a folder below the work folder (none is there before the plan: the aside folder and those in it)
// and holds it with the plan.
int HoldNewAsideFolder(Plan* plan, const wchar_t* path);

// Makes the folders below the aside folder that the steps move installed entries into, each once.
int MakeAsideFolders(Plan* plan, const size_t* steps, size_t stepCount);

// 1 when every folder the plan holds below the aside folder is still where its name says, with no link.
int AsideFoldersInPlace(const Plan& plan);

// One line per entry: kind, the installed file's attributes in hex, path. Written through to the disk
// before anything is moved.
int WriteJournal(const Plan& plan);

// Reads back what WriteJournal wrote, through a handle reached without a link; any line that is not an
// entry with a safe path fails it.
int ReadJournal(Plan* plan);

// Gives back the installed files: every entry, whether the switch-over reached it or not, in reverse. What
// the run had moved into place goes into the work folder, which is removed afterwards. Every move is made
// through the link-safe helper: from a place reached without a link, into a folder reached without one.
int RollBack(const Plan& plan);

// Removes folder and everything in it, never through a link: every entry is deleted through a handle that
// proved it is no link; a link met is left where it is, and with it the folders that hold it. base (when
// not NULL) is the object name of the current folder (ObjectNameOf), against which a file's handle is
// checked at the cost of one question; without it, or where the system cannot tell, the link-safe
// helper checks every folder on the way. Where folder is not relative to the current folder, base names
// the folder its first skip characters (and a backslash) name.
struct TreeTally {
    LONG files, folders; // deleted
};
int RemoveTree(const wchar_t* folder, const wchar_t* base = NULL, TreeTally* tally = NULL, size_t skip = 0);

// Closes the work folder's handles on itself and its staged folder.
void LetGoOfWorkFolder(WorkFolder* work);

// The object name of the folder at path (ObjectNameOf) without a backslash at the end, into base
// (kFolderChars): the base of RemoveTree and HandleIsBelow. Empty where the system cannot tell.
void FolderObjectName(const wchar_t* path, wchar_t* base);

// 1 when the open file or folder is the one at path (relative to the current folder), whose object name
// base is given as for RemoveTree; -1 where the system cannot tell.
int HandleIsBelow(HANDLE handle, const wchar_t* base, const wchar_t* path);

} // namespace switchplan
