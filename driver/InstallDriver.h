#pragma once
#include "install/InstallOptions.h"
#include "install/InstallResult.h"

// Runs one installation. kInstallComplete or kInstallRestartNeeded when it ran to its end; otherwise
// the failure it stopped at (kInstallInvalidFolder, kInstallFolderNotCreated, kInstallFailed), which
// has been shown (wizard) or logged (silent).
// When it ran to its end, options.targetFolder holds the folder actually installed: absolute (a relative
// text is taken from the current directory at the call), normalised (no blanks at its ends or in
// front of a separator) and ending in a backslash. The extraction, the settings file, the
// registration and the links all used this one text, and the viewer is started from it. A failed run
// leaves targetFolder as the caller gave it. options.iniFolder may be set as well.
InstallResult RunInstallation(InstallOptions& options);
