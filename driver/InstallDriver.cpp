#include "driver/InstallDriver.h"

#include "framework/Interaction.h"
#include "install/FolderProtection.h"
#include "install/InstallLog.h"
#include "install/InstallProgress.h"
#include "install/PathHelpers.h"
#include "install/PayloadExtraction.h"
#include "install/SettingsFile.h"
#include "install/StepLog.h"
#include "install/SwitchOver.h"
#include "install/WorkFolderRemoval.h"
#include "res/resource.h"
#include "shell/IntegrationSequence.h"

#include <windows.h>
#include <wchar.h>

namespace {

enum { kMessageChars = 1024, kLogMessageChars = kMessageChars + kOptionsFolderChars + 4 };

void LoadMessage(int id, wchar_t* text) {
    text[0] = L'\0';
    int length = LoadStringW(GetModuleHandleW(NULL), id, text, kMessageChars);
    text[length > 0 && length < kMessageChars ? length : 0] = L'\0';
}

// Shows a failure in the wizard, or logs it on the silent road with the folder before or after it; a
// folder after the message is named in the wizard's box too. A message with a %s names the drive.
void ReportFailure(const InstallOptions& options, int id, const wchar_t* folder, bool folderFirst) {
    wchar_t message[kMessageChars];
    LoadMessage(id, message);
    if (wcsstr(message, L"%s") != NULL) {
        wchar_t drive[3] = {folder[0], folder[0] != L'\0' ? folder[1] : L'\0', L'\0'};
        wchar_t format[kMessageChars];
        CopyText(format, kMessageChars, message);
        _snwprintf(message, kMessageChars - 1, format, drive);
        message[kMessageChars - 1] = L'\0';
    }
    LogStep(L"told: %ls (%ls)", message, folder);
    wchar_t entry[kLogMessageChars];
    _snwprintf(entry, kLogMessageChars - 1, L"%s: %s", folderFirst ? folder : message,
               folderFirst ? message : folder);
    entry[kLogMessageChars - 1] = L'\0';
    if (!options.silent) {
        ShowMessageBox(GetActiveWindow(), folderFirst || folder[0] == L'\0' ? message : entry,
                       options.caption, MB_OK | MB_ICONERROR);
        return;
    }
    AppendInstallLog(entry);
}

// A folder on a drive letter that names no drive at all: no rights or policies would help there.
bool OnMissingDrive(const wchar_t* folder) {
    if (folder[0] == L'\0' || folder[1] != L':')
        return false;
    wchar_t root[4] = {folder[0], L':', L'\\', L'\0'};
    return GetDriveTypeW(root) == DRIVE_NO_ROOT_DIR;
}

// A work folder this setup did not record: a warning, not a failure, since the run goes on.
void ReportWorkRefused(const InstallOptions& options, const wchar_t* folder) {
    if (options.silent) {
        ReportFailure(options, IDS_WORK_REFUSED, folder, true);
        return;
    }
    wchar_t message[kMessageChars];
    LoadMessage(IDS_WORK_REFUSED, message);
    LogStep(L"told: %ls (%ls)", message, folder);
    ShowMessageBox(GetActiveWindow(), message, options.caption, MB_OK | MB_ICONWARNING);
}

void ReportStep(const InstallOptions& options, int step) {
    if (options.progress != NULL && options.progress->step != NULL)
        options.progress->step(options.progress->context, step, kInstallationSteps);
}

void LogOptions(const InstallOptions& o) {
    int types = 0;
    for (int i = 0; i < kAssociationFlags; ++i)
        types += o.associationSelection[i] != 0;
    LogStep(L"options: %ls road; folder \"%ls\"; start menu group %d; desktop link %d; thumbnails link %d; "
            L"links for all users %d; file types %d (%ls, for all users %d); settings folder \"%ls\"",
            o.silent ? L"silent" : L"wizard", o.targetFolder, o.startMenuGroup, o.desktopShortcut,
            o.thumbnailsShortcut, o.shortcutsForAllUsers, types,
            o.associationsRequested ? L"asked" : L"not asked", o.associationsForAllUsers, o.iniFolder);
}

// The folders a run made: from first (without a backslash at its end; empty when it made none) down to
// folder, each a line.
void LogCreatedFolders(const wchar_t* folder, const wchar_t* first) {
    wchar_t path[kOptionsFolderChars];
    size_t start = wcslen(first);
    if (start == 0 || !CopyText(path, kOptionsFolderChars, folder))
        return;
    for (size_t i = start;; ++i) {
        if (path[i] != L'\\' && path[i] != L'\0')
            continue;
        wchar_t kept = path[i];
        path[i] = L'\0';
        LogStep(L"folder created: %ls", path);
        path[i] = kept;
        if (kept == L'\0' || path[i + 1] == L'\0')
            break;
    }
}

} // namespace

int RanToItsEnd(InstallResult result) {
    return result == kInstallComplete || result == kInstallRestartNeeded || result == kInstallLinkSkipped;
}

void DescribeSkippedFiles(const SkippedFiles& skipped, wchar_t* line, size_t chars) {
    wchar_t message[kMessageChars];
    LoadMessage(IDS_LINK_SKIPPED, message);
    wchar_t more[kMessageChars] = L"";
    if (skipped.count > 1) {
        wchar_t format[kMessageChars];
        LoadMessage(IDS_MORE_SKIPPED, format);
        _snwprintf(more, kMessageChars - 1, format, skipped.count - 1);
        more[kMessageChars - 1] = L'\0';
    }
    _snwprintf(line, chars - 1, L"%s: %s%s%s", message, skipped.count > 0 ? skipped.paths[0] : L"",
               more[0] != L'\0' ? L" " : L"", more);
    line[chars - 1] = L'\0';
}

InstallResult RunInstallation(InstallOptions& options, SkippedFiles* skipped) {
    // The record is the caller's when it asks for the names, and is filled anew by every run.
    SkippedFiles own;
    SkippedFiles& record = skipped != NULL ? *skipped : own;
    record.count = 0;
    LogOptions(options);
    wchar_t started[kPathChars];
    DWORD startedLength = GetCurrentDirectoryW(kPathChars, started);
    wchar_t folder[kOptionsFolderChars];
    CopyText(folder, kOptionsFolderChars, options.targetFolder);
    if (folder[0] == L'\0') {
        ReportFailure(options, IDS_INVALID_FOLDER, folder, false);
        return kInstallInvalidFolder;
    }
    // A first installation that fails removes the folders it made, the plug-ins folder below too.
    wchar_t created[kOptionsFolderChars] = L"", createdPlugins[kOptionsFolderChars] = L"";
    // The folder is formed once, before anything is created, and every later step names this one text.
    // A longer folder would leave no room for the paths and commands derived from it.
    int fits = NormaliseFolder(folder, kOptionsFolderChars) && InstallFolderFits(folder);
    if (fits && OnMissingDrive(folder)) {
        ReportFailure(options, IDS_DRIVE_MISSING, folder, false);
        return kInstallFolderNotCreated;
    }
    if (fits)
        FindFirstMissingFolder(folder, created, kOptionsFolderChars);
    if (!fits || !CreateDirectoryChain(folder)) {
        ReportFailure(options, IDS_CANNOT_CREATE_FOLDER, folder, false);
        return kInstallFolderNotCreated;
    }
    LogCreatedFolders(folder, created);
    // Nothing is written into the folder before only administrators can change it (an elevated run).
    if (!ProtectTargetFolder(folder)) {
        RemoveCreatedFolders(folder, created);
        ReportFailure(options, IDS_INSTALL_FAILED, folder, true);
        return kInstallFailed;
    }
    // What a killed run left is undone first, so the icons library below is the installed one. A work
    // folder this setup did not record is not carried out; the run says so and goes on. The old files an
    // earlier upgrade left are deleted meanwhile, and this run ends only when they are gone.
    int refused = 0;
    WorkFolderRemoval earlier;
    int repaired = RepairInterruptedInstallation(folder, &refused, &earlier);
    if (refused)
        ReportWorkRefused(options, folder);

    wchar_t plugins[kOptionsFolderChars];
    _snwprintf(plugins, kPathChars - 1, L"%sPlugins", folder);
    plugins[kPathChars - 1] = L'\0';
    FindFirstMissingFolder(plugins, createdPlugins, kOptionsFolderChars);
    if (CreateDirectoryChain(plugins))
        LogCreatedFolders(plugins, createdPlugins);
    wchar_t icons[kOptionsFolderChars];
    _snwprintf(icons, kOptionsFolderChars - 1, L"%sIcons.dll", plugins);
    icons[kOptionsFolderChars - 1] = L'\0';
    int keepIcons = DecideKeepIcons(icons);

    wchar_t restartFile[kOptionsFolderChars + kWideMemberChars] = L"";
    InstallResult extracted = repaired
                                  ? ExtractPayload(IDR_PAYLOAD, L"ZIP", folder, keepIcons, options.progress,
                                                   restartFile, kOptionsFolderChars + kWideMemberChars)
                                  : kInstallFailed;
    if (extracted != kInstallComplete && extracted != kInstallRestartNeeded) {
        RemoveCreatedFolders(plugins, createdPlugins);
        RemoveCreatedFolders(folder, created);
        ReportFailure(options, IDS_INSTALL_FAILED, folder, true);
        return kInstallFailed;
    }
    // The log lies where the setup was started; a completed extraction leaves the target folder current.
    if (extracted == kInstallRestartNeeded && options.silent && startedLength > 0 &&
        startedLength < kPathChars) {
        SetCurrentDirectoryW(started);
        ReportFailure(options, IDS_RESTART_NEEDED, restartFile, true);
        SetCurrentDirectoryW(folder);
    }

    // From here on the run completes: the caller's record names the folder that holds the files.
    CopyText(options.targetFolder, kOptionsFolderChars, folder);
    wchar_t settingsFile[kOptionsFolderChars + 32];
    ReportStep(options, 1);
    WriteInitialSettings(options, settingsFile, sizeof settingsFile / sizeof settingsFile[0], record);

    int associationsConfirmed = 1;
    if (options.associationsRequested && !options.silent) {
        wchar_t question[kMessageChars];
        LoadMessage(IDS_CONFIRM_ASSOCIATIONS, question);
        if (ShowMessageBox(GetActiveWindow(), question, options.caption,
                           MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION) == IDNO)
            associationsConfirmed = 0;
    }

    RegisterWithShell(associationsConfirmed, options.associationsRequested, options.targetFolder,
                      options.startMenuGroup, options.desktopShortcut, options.thumbnailsShortcut,
                      options.shortcutsForAllUsers, options.associationSelection,
                      options.associationsForAllUsers, record, options.progress);
    ConvertSettingsToUnicode(settingsFile, &record);
    // Nothing is undone for a skipped file: the run says which were left out, and ends with its own status.
    if (record.count > 0) {
        if (options.silent && startedLength > 0 && startedLength < kPathChars)
            SetCurrentDirectoryW(started);
        for (int i = 0; options.silent && i < record.count && i < kKeptSkippedPaths; ++i)
            ReportFailure(options, IDS_LINK_SKIPPED, record.paths[i], false);
        return kInstallLinkSkipped;
    }
    return extracted == kInstallRestartNeeded ? kInstallRestartNeeded : kInstallComplete;
}
