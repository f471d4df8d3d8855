#pragma once
#include "install/InstallResult.h"

// Every exit status the setup program ends with: what it means and which of the package manager's
// return responses fits it. The README's table, the package manifest (tools/make_manifest.py reads this
// file's rows) and the program's own log all come from these rows, so a new outcome is one row more.
struct ExitStatusRow {
    InstallResult result;
    const char* response; // a value the package manager's manifest allows for ReturnResponse
    const char* meaning;  // the README's "Meaning" column
};

extern const ExitStatusRow kExitStatuses[];
extern const int kExitStatusCount;

// The row of status; NULL for a status no row names.
const ExitStatusRow* FindExitStatus(int status);
