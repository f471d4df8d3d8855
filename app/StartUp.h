#pragma once

// Restricts the library search to the system folder where the system can (SetDefaultDllDirectories).
void RestrictDllSearchPath();

// Visual styles for the non-client area and the controls; the first call loads UxTheme.dll from the
// system folder, later calls repeat only SetThemeAppProperties.
void InitThemeSupport();

// Claims "one setup at a time" for the rest of the process. A setup with administrator rights claims a
// mutex in a private namespace whose boundary holds the Administrators group, which no standard user can
// create or enter (Windows Vista and later), and besides the names below where they are free, so setups
// without those rights see it. Without that namespace, or those rights: a named mutex in the logon
// session and, where the rights allow, one for the whole machine. 0 when another setup holds the lock.
int ClaimSetupLock();

// The calls behind the lock; a seam for the tests.
struct SetupLockCalls {
    int (*elevated)();
    // The prefix of names in the private namespace ("GlimmerlySetup\"); 0 where there is none.
    int (*privateNamespace)(wchar_t* prefix, unsigned chars);
};

// NULL puts the system's calls back.
void SetSetupLockCalls(const SetupLockCalls* calls);
