#include "install/MemberFile.h"

#include "install/PathHelpers.h"
#include "install/ReusedFiles.h"
#include "install/SafePath.h"
#include "install/StepLog.h"

#include <wchar.h>

namespace {

// A member's file is always new: a name taken already was put there by someone else. Below the top it is
// made by its name in the folder this walk holds.
void* CreateNewMemberFile(void* folder, const wchar_t* path) {
    if (folder == NULL)
        return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           NULL);
    const wchar_t* name = path + wcslen(path);
    while (name > path && name[-1] != L'/' && name[-1] != L'\\')
        --name;
    return CreateNewIn(folder, name, GENERIC_WRITE, FILE_SHARE_READ);
}

MemberFileCreator memberFileCreator = CreateNewMemberFile;

// The member's file: written over where the staging lies over the previous version's files
// (install/ReusedFiles.h), else created new.
HANDLE CreateMemberFile(HANDLE folder, const wchar_t* path, MemberFile* file) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    int taken = TakeReusedFile(path, &handle, &file->oldSize);
    return taken > 0 ? handle : taken == 0 ? (HANDLE)memberFileCreator(folder, path) : INVALID_HANDLE_VALUE;
}

// Makes the member folder (relative, '/' or '\\' between its names) with those above it, and holds it
// while this thread writes into it, so it cannot be swapped for a link meanwhile. An existing folder on
// the way that is a link or junction is refused: the work folder held only what it listed when the walk
// began. The handle held; NULL for the top (no folder); INVALID_HANDLE_VALUE when it cannot be had.
HANDLE HoldMemberFolder(HeldFolders* held, const wchar_t* folder) {
    wchar_t path[kWideMemberChars];
    if (!CopyText(path, kWideMemberChars, folder))
        return INVALID_HANDLE_VALUE;
    size_t length = wcslen(path);
    while (length > 0 && (path[length - 1] == L'/' || path[length - 1] == L'\\'))
        path[--length] = L'\0';
    if (length == 0)
        return NULL;
    for (int i = 0; i < held->count; ++i) {
        if (wcscmp(path, held->folder[i].path) == 0)
            return held->folder[i].handle;
    }
    for (size_t i = 1; i <= length; ++i) {
        if (i < length && path[i] != L'/' && path[i] != L'\\')
            continue;
        wchar_t kept = path[i];
        path[i] = L'\0';
        int made = TakeReusedFolder(path) &&
                   (CreateDirectoryW(path, NULL) ||
                    (GetLastError() == ERROR_ALREADY_EXISTS &&
                     (GetFileAttributesW(path) & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ==
                         FILE_ATTRIBUTE_DIRECTORY));
        path[i] = kept;
        if (!made)
            return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = HoldFolder(path);
    if (handle == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    int slot = held->count;
    if (held->count < kHeldFolders) {
        ++held->count;
    } else {
        slot = held->next;
        CloseHandle(held->folder[slot].handle);
        held->next = (slot + 1) % kHeldFolders;
    }
    held->folder[slot].handle = handle;
    CopyText(held->folder[slot].path, kWideMemberChars, path);
    return handle;
}

} // namespace

void LetGoOfFolders(HeldFolders* held) {
    for (int i = 0; i < held->count; ++i)
        CloseHandle(held->folder[i].handle);
    held->count = held->next = 0;
}

MemberFile StartMember(int isFolder, const wchar_t* path, const wchar_t* folder, unsigned long dosDate,
                       int failed, HeldFolders* held) {
    MemberFile file = {INVALID_HANDLE_VALUE, failed, dosDate, 0, 0};
    if (failed)
        return file;
    if (isFolder) {
        file.failed = HoldMemberFolder(held, path) == INVALID_HANDLE_VALUE;
        if (!file.failed)
            LogStep(L"staged folder: %ls", path);
        return file;
    }
    HANDLE parent = HoldMemberFolder(held, folder);
    file.handle =
        parent != INVALID_HANDLE_VALUE ? CreateMemberFile(parent, path, &file) : INVALID_HANDLE_VALUE;
    file.failed = file.handle == INVALID_HANDLE_VALUE;
    return file;
}

void WriteBlock(MemberFile* file, const WriterBlock* block) {
    if (file->handle == INVALID_HANDLE_VALUE || file->failed)
        return;
    DWORD written = 0;
    if (!WriteFile(file->handle, block->data, block->length, &written, NULL) || written != block->length)
        file->failed = 1;
    file->written += written;
}

int CloseMemberFile(MemberFile* file, const wchar_t* path) {
    if (file->handle != INVALID_HANDLE_VALUE) {
        // A file written over ends where the member does; one that was no longer than the member does
        // already, and so does a new one.
        if (!file->failed && file->oldSize > file->written && !SetEndOfFile(file->handle))
            file->failed = 1;
        if (!file->failed)
            SetFileDateFromMember(file->handle, file->dosDate);
        CloseHandle(file->handle);
        file->handle = INVALID_HANDLE_VALUE;
        if (!file->failed)
            LogStep(L"file written: %ls", path);
    }
    return !file->failed;
}

void SetMemberFileCreator(MemberFileCreator creator) {
    memberFileCreator = creator != NULL ? creator : CreateNewMemberFile;
}
