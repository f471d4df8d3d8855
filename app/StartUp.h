#pragma once

// Restricts the library search to the system folder where the system can (SetDefaultDllDirectories).
void RestrictDllSearchPath();

// Visual styles for the non-client area and the controls; the first call loads UxTheme.dll from the
// system folder, later calls repeat only SetThemeAppProperties.
void InitThemeSupport();

// Claims "one setup at a time" for the rest of the process: a named mutex in the logon session and,
// where the rights allow, one for the whole machine. 0 when another setup holds either of them.
int ClaimSetupLock();
