#pragma once
// The switch-over's steps, carried out on two threads, and the release of what they moved aside
// (install/SwitchOver.h).
#include "install/SwitchPlan.h"

namespace switchplan {

// The switch-over's steps are independent of each other (a folder moved whole has no step inside it), so
// two threads share them: Wine's server, which does the file system work, then always has the next
// request at hand. Each thread takes every second step of the plan.
struct SwitchWork {
    Plan* plan;
    const size_t* steps; // the steps carried out on their own (ListSteps)
    size_t stepCount;
    const wchar_t* base; // the object name of the target folder, or empty
    wchar_t* restartFile;
    size_t restartChars;
    int deleteAside; // for the release: the files moved aside go with their handles
    volatile LONG failed;
    volatile LONG queued; // files replaced at the next start of Windows
    volatile LONG foldersWhole, filesAside, intoPlace, filesDeleted; // for the log
    volatile LONG filesLeft; // moved aside one by one and not deleted (a program still running)
    volatile LONG filesKept; // the old files in the folders moved aside whole
};

// Moves every earlier run's replacement aside, before any new file can be queued in its place.
void CarryOutEarlierReplacements(SwitchWork* work);

// Carries out the steps; the first that fails, in either thread, stops both and sets work->failed.
void CarryOutSteps(SwitchWork* work);

// Closes the handles of the files moved aside one by one; with work->deleteAside the files go with them.
void ReleaseAside(SwitchWork* work);

} // namespace switchplan
