#pragma once
#include "install/InstallOptions.h"
#include "install/InstallResult.h"
#include "install/SkippedFiles.h"

#include <stddef.h>

// Runs one installation. kInstallComplete, kInstallRestartNeeded or kInstallLinkSkipped when it ran to
// its end; otherwise the failure it stopped at (kInstallInvalidFolder, kInstallFolderNotCreated,
// kInstallFailed), which has been shown (wizard) or logged (silent).
// When it ran to its end, options.targetFolder holds the folder actually installed: absolute (a relative
// text is taken from the current directory at the call), normalised (no blanks at its ends or in
// front of a separator) and ending in a backslash. The extraction, the settings file, the
// registration and the links all used this one text, and the viewer is started from it. A failed run
// leaves targetFolder as the caller gave it. options.iniFolder may be set as well.
// The settings and shortcut files skipped because a link stood in their place go to skipped when
// given, and on the silent road to the install log, a line each.
InstallResult RunInstallation(InstallOptions& options, SkippedFiles* skipped = NULL);

// 1 when the run of that result left the payload's files installed.
int RanToItsEnd(InstallResult result);

// The finish page's line for skipped files: string 15, ": ", the first path and, with more, string 17.
void DescribeSkippedFiles(const SkippedFiles& skipped, wchar_t* line, size_t chars);
