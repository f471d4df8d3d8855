#pragma once
#include "install/InstallOptions.h"

// Runs one installation. 1 when it ran to its end, 0 when it stopped at a failure that has been
// shown (wizard) or logged (silent).
// When it yields 1, options.targetFolder holds the folder actually installed: absolute (a relative
// text is taken from the current directory at the call), normalised (no blanks at its ends or in
// front of a separator) and ending in a backslash. The extraction, the settings file, the
// registration and the links all used this one text, and the viewer is started from it. A run that
// yields 0 leaves targetFolder as the caller gave it. options.iniFolder may be set as well.
int RunInstallation(InstallOptions& options);
