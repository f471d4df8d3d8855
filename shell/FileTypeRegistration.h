#pragma once
#include "shell/RegistryWriter.h"
#include "shell/ShellActions.h"
#include "shell/VersionChecks.h"

// The registry part of one file-type pass; what the caller decided beforehand comes in here.
struct FileTypePass {
    WindowsFamily family;
    int windows8OrLater;
    const int* selection; // one flag per catalogue row, already cleared when the user declined
    int associationsRequested;
    int associationsForAllUsers; // consulted in the Xp family only
    const wchar_t* executable;   // installation folder followed by gl_main32.exe
    const wchar_t* openCommand;
    RegistryRoot applicationRoot; // where the program registration put the application key
};

// Registers the classes of the selected rows (of every row on Vista and later) and makes the
// selected extensions the default. 1 when the shell must be told that associations changed.
int RegisterFileTypes(RegistryWriter& registry, const FileTypePass& pass);

// capabilities: the application's FileAssociations key, open for the pass (NULL where it could not be
// opened, or before Vista).
void RegisterFileType(RegistryWriter& registry, const wchar_t* extension, const wchar_t* classSuffix,
                      const wchar_t* openCommand, const wchar_t* iconValue, int xpFamily, int vistaFamily,
                      int associationsForAllUsers, int selected, RegistryRoot applicationRoot,
                      RegistryKey* capabilities);
void AddCapabilityAssociation(RegistryKey& capabilities, const wchar_t* extension,
                              const wchar_t* classSuffix);
void MarkAppClassesNoOpenWith(RegistryWriter& registry);

// Refreshes the icons and tells the shell that associations changed.
void NotifyAssociationsChanged(ShellActions& shell);
