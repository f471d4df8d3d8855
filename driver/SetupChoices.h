#pragma once
#include "install/InstallOptions.h"

#include <windows.h>

// The wizard's record of the choices of its last successful installation, so that an upgrade offers
// them again: the shortcut boxes and their all-users choice, the association selection and its all-users
// box, the settings folder. Kept under HKLM where this run may write there, else under HKCU.
extern const wchar_t kChoicesKey[];

// Writes the record of options; 1 when one of the two roots took it.
int RecordChoices(const InstallOptions& options);

// Fills the choices the record holds into options (the folders stay as they were); 1 when a record was
// found, 0 leaves options untouched. HKCU's record is the newer one when both exist.
int ReadRecordedChoices(InstallOptions& options);

// The same on the given roots, for the tests.
int RecordChoicesUnder(HKEY root, const InstallOptions& options);
int ReadRecordedChoicesUnder(HKEY root, InstallOptions& options);
