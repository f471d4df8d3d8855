#include "shell/IntegrationSequence.h"

#include "install/InstallOptions.h"
#include "install/PathHelpers.h"
#include "shell/DerivedText.h"
#include "shell/FileTypeRegistration.h"
#include "shell/ProgramRegistration.h"
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

namespace {

// The registry part of the sequence; 1 when the shell must be told that associations changed.
int WriteShellRegistration(RegistryWriter& registry, const SystemTraits& system, const wchar_t* folder,
                           const wchar_t* executable, int thumbnailsShortcut, int associationsConfirmed,
                           int associationsRequested, const int* associationSelection,
                           int associationsForAllUsers) {
    wchar_t openCommand[kPathChars];
    if (!JoinText(openCommand, kPathChars, {L"\"", executable, L"\" \"%1\""}))
        return 0;

    if (thumbnailsShortcut && system.family == Vista)
        RegisterFolderVerbs(registry, executable);
    RegisterProgramClass(registry, openCommand);
    WriteUninstallEntry(registry, folder);
    // The capability values of the file-type pass go into the key made here.
    RegistryRoot applicationRoot = ApplicationKeyRoot(system.wow64);
    if (system.family == Vista)
        RegisterApplicationKey(registry, executable, applicationRoot);

    // A declined question counts exactly like an empty selection.
    static const int noSelection[kAssociationFlags] = {};
    FileTypePass pass = {system.family,
                         system.windows8OrLater,
                         associationsConfirmed ? associationSelection : noSelection,
                         associationsConfirmed ? associationsRequested : 0,
                         associationsForAllUsers,
                         executable,
                         openCommand,
                         applicationRoot};
    return RegisterFileTypes(registry, pass);
}

// The settings file was step 1 of the installation's three after the extraction.
void ReportIntegrationStep(const InstallProgress* progress, int step) {
    if (progress != NULL && progress->step != NULL)
        progress->step(progress->context, step, kInstallationSteps);
}

} // namespace

SystemTraits QuerySystemTraits() {
    SystemTraits system = {ClassifyWindowsFamily(), IsWindows8OrLater(), IsWow64()};
    return system;
}

int RunIntegrationSequence(RegistryWriter& registry, ShellActions& shell, const SystemTraits& system,
                           const wchar_t* folder, int associationsConfirmed, int associationsRequested,
                           int startMenuGroup, int desktopShortcut, int thumbnailsShortcut,
                           int shortcutsForAllUsers, const int* associationSelection,
                           int associationsForAllUsers, SkippedFiles& skipped,
                           const InstallProgress* progress) {
    wchar_t executable[kPathChars];
    if (!JoinText(executable, kPathChars, {folder, L"gl_main32.exe"}))
        return 1;

    ReportIntegrationStep(progress, 2);
    if (startMenuGroup)
        shell.CreateStartMenuGroup(folder, shortcutsForAllUsers, skipped);
    if (desktopShortcut)
        shell.CreateDesktopShortcut(executable, L"Glimmerly.lnk", NULL, L"Glimmerly - Bildbetrachter", NULL,
                                    0, shortcutsForAllUsers, skipped);
    if (thumbnailsShortcut)
        shell.CreateDesktopShortcut(executable, L"Glimmerly Thumbnails.lnk", executable,
                                    L"Glimmerly - Thumbnails", L"/thumbs", 7, shortcutsForAllUsers, skipped);

    ReportIntegrationStep(progress, 3);
    if (WriteShellRegistration(registry, system, folder, executable, thumbnailsShortcut,
                               associationsConfirmed, associationsRequested, associationSelection,
                               associationsForAllUsers))
        NotifyAssociationsChanged(shell);
    return 1;
}

int RegisterWithShell(int associationsConfirmed, int associationsRequested, const wchar_t* targetFolder,
                      int startMenuGroup, int desktopShortcut, int thumbnailsShortcut,
                      int shortcutsForAllUsers, const int* associationSelection, int associationsForAllUsers,
                      SkippedFiles& skipped, const InstallProgress* progress) {
    SystemTraits system = QuerySystemTraits();
    wchar_t folder[kPathChars];
    // The driver refuses longer folders; here they only mean that nothing is derived from them.
    if (!FormInstallFolder(targetFolder, folder))
        return 1;
    return RunIntegrationSequence(SystemRegistry(), SystemShell(), system, folder, associationsConfirmed,
                                  associationsRequested, startMenuGroup, desktopShortcut, thumbnailsShortcut,
                                  shortcutsForAllUsers, associationSelection, associationsForAllUsers,
                                  skipped, progress);
}
