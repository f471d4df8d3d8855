#include "install/ExitStatus.h"

// One row a line, in the README's order; the tools read the rows back, so each keeps this shape.
const ExitStatusRow kExitStatuses[] = {
    {kInstallComplete, "success", "installed completely"},
    {kInstallRestartNeeded, "rebootRequiredToFinish",
     "installed; a file that another program holds open is replaced when Windows restarts"},
    {kInstallCancelled, "cancelledByUser",
     "the user left the wizard before installing (\"&Beenden\", Esc or the close box, answered with Yes)"},
    {kInstallFailed, "custom",
     "the installation failed (a damaged program, a full disk, no rights to write)"},
    {kInstallAlreadyRunning, "installInProgress",
     "another setup of the viewer is running; this one did nothing"},
    {kInstallInvalidFolder, "invalidParameter", "the target folder is empty"},
    {kInstallFolderNotCreated, "custom",
     "the target folder cannot be created (a missing drive, no rights, a name too long)"},
    {kInstallViewerRunning, "packageInUse", "the viewer is running; nothing was installed"},
    {kInstallLinkSkipped, "custom",
     "installed, except for settings or shortcut files skipped because a link or junction stood in their "
     "place (another program may have planted it); nothing is undone"},
};

const int kExitStatusCount = sizeof kExitStatuses / sizeof kExitStatuses[0];

const ExitStatusRow* FindExitStatus(int status) {
    for (int i = 0; i < kExitStatusCount; ++i)
        if ((int)kExitStatuses[i].result == status)
            return &kExitStatuses[i];
    return nullptr;
}
