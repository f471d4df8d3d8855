#pragma once

enum { kOptionsFolderChars = 520, kAssociationFlags = 64 };

struct InstallProgress;

// The choices of one installation, filled by the silent road or the wizard and handed to RunInstallation.
struct InstallOptions {
    wchar_t targetFolder[kOptionsFolderChars];
    int startMenuGroup;
    int desktopShortcut;
    int thumbnailsShortcut;
    int shortcutsForAllUsers;
    wchar_t iniFolder[kOptionsFolderChars];
    int associationSelection[kAssociationFlags];
    int associationsForAllUsers;
    int associationsRequested;
    int silent;
    const wchar_t* caption;
    // Where the installation reports how far it has come; NULL for none (the silent road).
    const InstallProgress* progress;
};

// Every flag 0, both folders and the selection cleared, the caption of the silent road.
void ResetInstallOptions(InstallOptions& options);
