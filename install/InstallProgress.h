#pragma once

// The steps after the extraction: the settings file, the links, the file types.
enum { kInstallationSteps = 3 };

// How far an installation has come, for the wizard's progress bar. The calls come from the threads that
// install, one at a time; any pointer may be NULL, and the silent road passes no progress at all.
struct InstallProgress {
    // Bytes of member data extracted so far, against all the payload holds.
    void (*extracted)(void* context, unsigned long long done, unsigned long long total);
    // After the extraction: step of steps (the settings file; the links; the file types) has begun.
    void (*step)(void* context, int step, int steps);
    // The member about to be written, by its name in the archive; called for every member, so it should
    // only take note.
    void (*member)(void* context, const char* name);
    void* context;
};
