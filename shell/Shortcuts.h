#pragma once

struct SkippedFiles;

// Special folder by its CSIDL number, ending in a backslash; the Windows folder when the shell cannot
// name it. buffer holds kPathChars characters. Always 1.
int GetSpecialFolder(wchar_t* buffer, int csidl);

// Saves folder + linkName as a shell link. arguments and iconPath may be null. 1 when saved. Each of
// these notes in skipped a link file (or group folder) it leaves alone because a link stands there.
int CreateShortcut(const wchar_t* folder, const wchar_t* linkName, const wchar_t* target,
                   const wchar_t* arguments, const wchar_t* iconPath, int iconIndex, SkippedFiles& skipped);

// The same on the user's desktop, or the common desktop for all users, with an optional description.
int CreateDesktopShortcut(const wchar_t* target, const wchar_t* linkName, const wchar_t* iconPath,
                          const wchar_t* description, const wchar_t* arguments, int iconIndex, int allUsers,
                          SkippedFiles& skipped);

// The "Glimmerly" folder in the programs menu with the viewer, its thumbnails, the uninstaller (not
// on systems that report 6.2), the text files and the help; the links of 4.59 and 4.60 are removed.
// folder is the installation folder with its trailing backslash. The result of the last link.
int CreateStartMenuGroup(const wchar_t* folder, int allUsers, SkippedFiles& skipped);
