#pragma once

// The outcome of one run of the setup program, which is also its exit status on both roads. Deployment
// tools know the Windows Installer's numbers (3010, 1602, 1603, 1618); the failures that have their own
// message carry the Win32 error that names them, so a script can tell them apart.
enum InstallResult {
    kInstallComplete = 0,
    kInstallRestartNeeded = 3010,  // ERROR_SUCCESS_REBOOT_REQUIRED: complete once Windows has restarted
    kInstallCancelled = 1602,      // ERROR_INSTALL_USEREXIT: the user ended the wizard
    kInstallFailed = 1603,         // ERROR_INSTALL_FAILURE: string 7, the previous installation is back
    kInstallAlreadyRunning = 1618, // ERROR_INSTALL_ALREADY_RUNNING: another setup runs
    kInstallInvalidFolder = 123,   // ERROR_INVALID_NAME: string 5
    kInstallFolderNotCreated = 82, // ERROR_CANNOT_MAKE: string 11
    kInstallViewerRunning = 170,   // ERROR_BUSY: string 10
    // ERROR_STOPPED_ON_SYMLINK: complete but for the settings or shortcut files skipped because a link
    // stood in their place; it wins over kInstallRestartNeeded, as the files it names need the user.
    kInstallLinkSkipped = 681,
};
