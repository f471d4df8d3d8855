#include "shell/IntegrationSequence.h"

#include "install/InstallOptions.h"
#include "install/PathHelpers.h"
#include "shell/DerivedText.h"
#include "shell/FileTypeRegistration.h"
#include "shell/ProgramRegistration.h"
#include "shell/Shortcuts.h"
#include "shell/UninstallEntry.h"

#include <wchar.h>

int FormInstallFolder(const wchar_t* targetFolder, wchar_t* folder) {
    folder[0] = L'\0';
    wchar_t work[kOptionsFolderChars];
    CopyText(work, kOptionsFolderChars, targetFolder);
    TrimBlanks(work);
    size_t length = wcslen(work);
    if (length > 0 && work[length - 1] != L'\\')
        ++length;
    if (length > kLongestInstallFolder)
        return 0;
    CopyText(folder, kPathChars, work);
    AppendBackslash(folder);
    return 1;
}

int InstallFolderFits(const wchar_t* targetFolder) {
    wchar_t folder[kPathChars];
    return FormInstallFolder(targetFolder, folder);
}

int WriteShellRegistration(RegistryWriter& registry, WindowsFamily family, int windows8OrLater,
                           const wchar_t* folder, int thumbnailsShortcut, int associationsConfirmed,
                           int associationsRequested, const int* associationSelection,
                           int associationsForAllUsers) {
    wchar_t executable[kPathChars];
    wchar_t openCommand[kPathChars];
    if (!JoinText(executable, kPathChars, {folder, L"gl_main32.exe"}) ||
        !JoinText(openCommand, kPathChars, {L"\"", executable, L"\" \"%1\""}))
        return 0;

    if (thumbnailsShortcut && family == Vista)
        RegisterFolderVerbs(registry, executable);
    RegisterProgramClass(registry, openCommand);
    WriteUninstallEntry(registry, folder);
    // The capability values of the file-type pass go into the key made here.
    if (family == Vista)
        RegisterApplicationKey(registry, executable);

    // A declined question counts exactly like an empty selection.
    static const int noSelection[kAssociationFlags] = {};
    FileTypePass pass = {family,
                         windows8OrLater,
                         associationsConfirmed ? associationSelection : noSelection,
                         associationsConfirmed ? associationsRequested : 0,
                         associationsForAllUsers,
                         executable,
                         openCommand};
    return RegisterFileTypes(registry, pass);
}

int RegisterWithShell(int associationsConfirmed, int associationsRequested, const wchar_t* targetFolder,
                      int startMenuGroup, int desktopShortcut, int thumbnailsShortcut,
                      int shortcutsForAllUsers, const int* associationSelection,
                      int associationsForAllUsers) {
    WindowsFamily family = ClassifyWindowsFamily();
    wchar_t folder[kPathChars];
    wchar_t executable[kPathChars];
    // The driver refuses longer folders; here they only mean that nothing is derived from them.
    if (!FormInstallFolder(targetFolder, folder) ||
        !JoinText(executable, kPathChars, {folder, L"gl_main32.exe"}))
        return 1;

    if (startMenuGroup)
        CreateStartMenuGroup(folder, shortcutsForAllUsers);
    if (desktopShortcut)
        CreateDesktopShortcut(executable, L"Glimmerly.lnk", NULL, L"Glimmerly - Bildbetrachter", NULL, 0,
                              shortcutsForAllUsers);
    if (thumbnailsShortcut)
        CreateDesktopShortcut(executable, L"Glimmerly Thumbnails.lnk", executable, L"Glimmerly - Thumbnails",
                              L"/thumbs", 7, shortcutsForAllUsers);

    if (WriteShellRegistration(SystemRegistry(), family, IsWindows8OrLater(), folder, thumbnailsShortcut,
                               associationsConfirmed, associationsRequested, associationSelection,
                               associationsForAllUsers))
        NotifyAssociationsChanged();
    return 1;
}
