#pragma once
// An upgrade over an upgraded installation finds the version before the installed one in the earlier
// work folder, moved aside whole, with the same names the new members take. Deleting those files beside
// the staging and creating every member anew costs the file system (and Wine's server) more than the
// writing itself; so that tree becomes the new staged folder, and each member is written over the file
// of its name. Only a tree whose files a run of this setup recorded as its own staging is taken (the
// journal record, install/JournalRecord.h), and each file only when it is the very one listed when the
// tree was taken: not a link, not a second name, nothing put in its place since. A file that is not is
// set aside in the work folder and the member gets a file of its own; what no member took is deleted
// before the switch-over, so nothing old is ever installed.
//
// Paths of the writers are relative to the staged folder, the current directory while they write.
#include <windows.h>

// Where the repair parks the tree until the new work folder takes it (a work folder name, so a run killed
// in between leaves nothing a later run would not remove).
constexpr const wchar_t* kReusedFolder = L"~glimmerly-setup-reused";

// Forgets what an earlier run in this process left noted.
void ForgetReusedFiles();

// The repair's findings: completed is 1 when the recorded earlier run completed (the installed files
// are its staging); when its record says the files it moved aside were a recorded run's staging too,
// asideFolder (relative to the target folder, the current directory) is parked under kReusedFolder.
void NoteEarlierRun(int completed, const wchar_t* asideFolder);

// 1 when the repair parked a tree (its name is then no leftover to remove).
int ReusedFilesParked();

// 1 when the files this run's switch-over moves aside are a recorded run's staging (for its record).
int AsideFilesAreStaging();

// Deletes the parked tree in targetFolder (absolute), where its room is needed; 1 when there was one and it
// went.
int DropReusedFiles(const wchar_t* targetFolder);

// Moves the parked tree in as staged (relative to the target folder) and lists it; 0 when there is none,
// or it holds anything but plain files and folders, and staged is still to be made (a rejected tree is
// set aside into workFolder).
int AdoptReusedFiles(const wchar_t* staged, const wchar_t* workFolder);

// For a writer: 1 with *handle open for writing over the listed file path, and *size its size (held without
// write sharing, no other program can change it meanwhile); 0 when path gets a new file (not listed, or
// set aside); -1 when the listed file could be neither written over nor set aside.
int TakeReusedFile(const wchar_t* path, HANDLE* handle, unsigned long long* size);

// For a writer, before it makes the member folder path: a listed folder of that name stays; a file, or a
// folder named in another case, is set aside. 0 when it could not be.
int TakeReusedFolder(const wchar_t* path);

// After the staging: deletes the listed files and folders no member took. 1 when they are gone.
int RemoveUnusedReusedFiles();
