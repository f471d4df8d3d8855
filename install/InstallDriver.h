#pragma once
#include "install/InstallOptions.h"

// Runs one installation. 1 when it ran to its end, 0 when it stopped at a failure that has been
// shown (wizard) or logged (silent).
int RunInstallation(InstallOptions& options);
