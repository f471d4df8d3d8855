#pragma once
#include <stddef.h>

enum { kKeptSkippedPaths = 16, kSkippedPathChars = 540 };

// The files a run left unwritten (or undeleted) because a link stood in their place: handed down from
// the install driver to the settings and shortcut steps, which note what they skip, so the driver can
// tell the run as it happened. Starts as {}. The first kKeptSkippedPaths paths are kept; every one is
// counted.
struct SkippedFiles {
    int count;
    wchar_t paths[kKeptSkippedPaths][kSkippedPathChars];
};

// Called right after a step of SafePath failed: when it failed for a link (kLinkMetError), notes path
// once. skipped may be null where nobody asks.
void NoteIfLinkMet(SkippedFiles* skipped, const wchar_t* path);
