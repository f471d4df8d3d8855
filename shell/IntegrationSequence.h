#pragma once
#include "install/InstallProgress.h"
#include "shell/RegistryWriter.h"
#include "shell/ShellActions.h"
#include "shell/VersionChecks.h"

struct SkippedFiles;

// The longest installation folder, trailing backslash included, that the setup accepts. Every path
// that lands in it then stays within the Windows limit of 259 characters (the longest, a toolbar
// skin of the payload, adds 34), and so does every command and link target derived from it (the
// thumbnails command adds 28). The install driver refuses longer folders.
enum { kLongestInstallFolder = 225 };

// The installation folder as the sequence uses it: blanks trimmed and a trailing backslash, in a buffer
// of kPathChars. 0 and an empty buffer when it would be longer than kLongestInstallFolder.
int FormInstallFolder(const wchar_t* targetFolder, wchar_t* folder);

// 1 when FormInstallFolder accepts the folder.
int InstallFolderFits(const wchar_t* targetFolder);

// Shortcuts, program registration, uninstall entry and file types, in their fixed order. Always 1; a
// shortcut or group folder left alone because a link stands there is noted in skipped.
int RegisterWithShell(int associationsConfirmed, int associationsRequested, const wchar_t* targetFolder,
                      int startMenuGroup, int desktopShortcut, int thumbnailsShortcut,
                      int shortcutsForAllUsers, const int* associationSelection, int associationsForAllUsers,
                      SkippedFiles& skipped, const InstallProgress* progress = NULL);

// What the sequence asks of the running system, once per run.
struct SystemTraits {
    WindowsFamily family;
    int windows8OrLater;
    int wow64; // a 32-bit process on 64-bit Windows
};
SystemTraits QuerySystemTraits();

// The sequence for one system: links, folder and drive verbs, program class and application entry,
// uninstall entry, application key, file types and, when associations changed, the notification.
// folder comes from FormInstallFolder. Always 1.
int RunIntegrationSequence(RegistryWriter& registry, ShellActions& shell, const SystemTraits& system,
                           const wchar_t* folder, int associationsConfirmed, int associationsRequested,
                           int startMenuGroup, int desktopShortcut, int thumbnailsShortcut,
                           int shortcutsForAllUsers, const int* associationSelection,
                           int associationsForAllUsers, SkippedFiles& skipped,
                           const InstallProgress* progress = NULL);
