#pragma once
#include <windows.h>

// Reaching files and folders in places another program of the user can prepare: a link, junction or
// mount point anywhere on the way, or a file's second name (hard link), is refused, never followed. A refusal
// leaves kLinkMetError as the last error (ERROR_STOPPED_ON_SYMLINK).
enum : DWORD { kLinkMetError = 681 };

// CreateFileW for such a place (FILE_FLAG_BACKUP_SEMANTICS for a folder). The handle is given only
// after the file it opens proved to be the one path names: CREATE_ALWAYS and TRUNCATE_EXISTING empty it
// after that check, CREATE_NEW and OPEN_ALWAYS create it while its folder is held open, so the folder
// cannot be swapped for a link in between.
HANDLE OpenWithoutLink(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags);

// 1 when the open handle is the file or folder path names, reached without a link; else 0 with
// kLinkMetError as the last error.
int HandleIsAt(HANDLE handle, const wchar_t* path);

// The final path of an open file or folder as the system resolves it ("\\?\C:\..."), through every link on
// the way; 0 where the system cannot tell (before Vista) or it needs more than chars.
int FinalPathOf(HANDLE handle, wchar_t* out, DWORD chars);

// The name the system keeps for an open file or folder, in its own form ("\Device\...\name"), through
// every link on the way: one question where FinalPathOf asks several. 0 where the system cannot tell or it
// needs more than chars.
int ObjectNameOf(HANDLE handle, wchar_t* out, DWORD chars);

// What an open file or folder is, asked through the handle alone and not of its volume (which Wine asks
// of another process, a thousand times slower): attributes, reparse tag, number of names, whether a
// folder, its number on the volume and its size. 0 where the system does not tell.
struct HandleFacts {
    DWORD attributes, tag;
    DWORD links;
    int folder;
    LONGLONG number, size;
};
int QueryHandleFacts(HANDLE handle, HandleFacts* facts);

// Creates the folder path and any missing parent; 1 when every folder on the way is there and none is
// a link.
int CreateFoldersWithoutLink(const wchar_t* path);

// Deletes the file path through a checked handle; 1 when it is gone (also when it was not there).
int DeleteWithoutLink(const wchar_t* path);

// Marks the open file (opened with DELETE access) to go when its last handle closes; where that is refused,
// a read-only file loses the attribute through the handle (opened with FILE_WRITE_ATTRIBUTES as well) and
// is marked again. 1 when marked.
int DeleteThroughHandle(HANDLE file);

// Renames the open file (opened with DELETE access) to path, replacing a file there unless replace is 0;
// the handle, not a
// name, says what moves, so a link put in its place meanwhile is not followed. 1 when done.
int RenameOpenFile(HANDLE file, const wchar_t* path, int replace = 1);

// Creates the file name (one name, no folder) new in the open folder, as CreateFileW with CREATE_NEW would:
// the name is looked up from the handle, so no folder on the way is reached by its name again, and nothing
// that already has the name is opened, a link among them. INVALID_HANDLE_VALUE with the error set
// (ERROR_FILE_EXISTS where anything has the name, ERROR_INVALID_NAME for more than one name).
HANDLE CreateNewIn(HANDLE folder, const wchar_t* name, DWORD access, DWORD share);

// Opens the folder path, reached without a link, so that it cannot be renamed, replaced or removed while
// the handle lives (no FILE_SHARE_DELETE); INVALID_HANDLE_VALUE otherwise.
HANDLE HoldFolder(const wchar_t* path);

// Moves the file or folder from to the name to, replacing a file there, when both are reached without a
// link: from through the handle that moves it, to through its folder, held meanwhile. attributes (unless
// INVALID_FILE_ATTRIBUTES) are then set through that handle, never by name. 1 when done.
int MoveWithoutLink(const wchar_t* from, const wchar_t* to, DWORD attributes);
