#pragma once
#include "install/InstallResult.h"

#include <stddef.h>

// An installation is all or nothing. The members are written into a hidden work folder inside the target
// folder (the same volume, so files move by renaming); only when every one is written and checked does a
// short switch-over move each installed file aside and the new one into place, and at the end the old
// ones are removed: those moved aside one by one at once, the folders moved aside whole by the next run,
// which writes its members over them where their record allows (install/ReusedFiles.h) and else deletes
// them (install/WorkFolderRemoval.h). Before the switch-over begins, its plan is written to a journal in the
// work folder, so a run that was killed is undone by the next one; once the switch-over is done the journal
// is marked so.
//
// Paths below are relative to the current directory, which is the target folder, unless said otherwise.

// The work folder, and in it the staged members, the installed files moved aside, the journal of a
// switch-over under way and the same journal once the switch-over is done. Each run makes its work folder
// anew; where something it cannot remove safely holds the usual name, it takes another one
// ("~glimmerly-setup-" and a number), and only the record of its journal tells a later run which is its.
constexpr const wchar_t* kWorkFolder = L"~glimmerly-setup";
// Appended to an installed file's name for the new file that replaces it when Windows starts again.
constexpr const wchar_t* kBesideSuffix = L"~glimmerly-new";

enum { kWorkFolderChars = 64 };

struct WorkFolder {
    wchar_t name[kWorkFolderChars], staged[kWorkFolderChars], aside[kWorkFolderChars],
        journal[kWorkFolderChars], done[kWorkFolderChars];
    // The work folder and its staged folder, held from their creation to their removal so that neither
    // can be renamed or replaced by a link meanwhile.
    void* held[2];

    // Forms the names below the work folder name (relative to the target folder).
    int Name(const wchar_t* folderName);
};

// A seam for the tests: called at each named step of an installation ("staging", "switching"), with the
// target folder current. NULL (the product's) does nothing.
typedef void (*InstallStepHook)(const wchar_t* step);
void SetInstallStepHook(InstallStepHook hook);
void ReachStep(const wchar_t* step);

// Room every staged file may take beyond its bytes: the rounding to a cluster and its entry.
enum { kFileSlackBytes = 4096 };

// 1 when the volume of folder (absolute) has room for bytes of member data in files files, or when the
// system cannot tell (the writes find out then); 0 when it certainly has not.
int FitsOnVolume(const wchar_t* folder, unsigned long long bytes, unsigned long long files);

// Creates a new work folder, hidden, with its folder of staged members, and holds both. 0 when none can be
// made (RepairInterruptedInstallation removes what a killed run left).
int CreateWorkFolder(WorkFolder* work);

// Moves every staged member into place, the installed files aside, and removes the work folder; where
// folders moved aside whole hold old files, it keeps them there, its journal marked done and recorded.
// An installed file that another program holds open (a sharing violation when it is moved aside) stays:
// the new one is put beside it (kBesideSuffix) and queued to replace it at the next start of Windows;
// a read-only one loses the attribute and is replaced. kInstallComplete; kInstallRestartNeeded when
// something was queued (restartFile, when not NULL, gets the first such file's full path);
// kInstallFailed when anything else could not be moved, or the queueing was refused, after everything
// was moved back. A link or junction in the target folder, or a folder where a file goes (or the reverse),
// fails it before anything moved.
InstallResult SwitchOver(WorkFolder* work, wchar_t* restartFile, size_t restartChars);

// Lets go of the work folder and removes it with everything in it, never through a link (a link met stays,
// and with it the folders that hold it). 1 when it is gone.
int RemoveWorkFolder(WorkFolder* work);

// Undoes or finishes what a killed run left in targetFolder (absolute, ending in a backslash); the current
// directory stays. Only a journal whose record names it (install/JournalRecord.h) is carried out, and only
// where every path it names is reached without a link inside targetFolder; any other work folder is
// removed without following a link, and refused (when not NULL) is set. A work folder with nothing to
// carry out (a completed upgrade's old files) is handed to later, when given, which removes it while the
// run goes on. 0 when a recorded journal could not be carried out whole.
class WorkFolderRemoval;
int RepairInterruptedInstallation(const wchar_t* targetFolder, int* refused = NULL,
                                  WorkFolderRemoval* later = NULL);

// The outermost folder of folder (absolute) that does not exist yet, into first (capacity chars); empty
// when folder exists. After a failed first installation RemoveCreatedFolders removes those of them that
// are empty again, from folder up to first.
void FindFirstMissingFolder(const wchar_t* folder, wchar_t* first, size_t capacity);
void RemoveCreatedFolders(const wchar_t* folder, const wchar_t* first);

// 1 when nothing is at path or it is reached without a link, junction or mount point (install/SafePath.h).
int IsReachedWithoutLink(const wchar_t* path);
