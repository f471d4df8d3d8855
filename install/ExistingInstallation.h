#pragma once
#include <stddef.h>

// Folder of the installed viewer from the registered open command, ending in a backslash.
// 1 when found, else 0 and an empty buffer. folder holds at least 260 characters.
int ReadInstalledFolder(wchar_t* folder);

// Default target folder: "ProgramFilesDir" followed by "\Glimmerly", else "C:\Glimmerly\". Always 1.
int GetDefaultInstallFolder(wchar_t* folder);

struct InstallOptions;

// The silent road's record before its switches are read: every flag 0, the silent caption, and the
// folder of an existing installation with an empty settings folder, or else the default folder with
// the settings in "%APPDATA%\Glimmerly".
void FillSilentDefaults(InstallOptions& options);

// Version text "%d.%d%d" (product major, product minor, file version's third part) and the
// "CompanyName" of block 040904E4. 1 when the fixed version information could be read.
// version holds at least 260 characters; company may be null.
int ReadFileVersionInfo(const wchar_t* path, wchar_t* version, wchar_t* company, size_t companyChars);

// Size of a file in bytes; 0 for a missing or empty path or a file that cannot be opened.
unsigned long long GetFileSizeBytes(const wchar_t* path);
