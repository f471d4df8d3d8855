#pragma once
#include "install/InstallResult.h"

// The first and the last line of the full log (install/StepLog.h): the product version, the command line,
// the Windows version and whether the process runs elevated; the outcome, its exit status and meaning.
void LogRunStart(const wchar_t* commandLine);
void LogRunOutcome(InstallResult result);
