#include "install/SkippedFiles.h"

#include "install/PathHelpers.h"
#include "install/SafePath.h"
#include "install/StepLog.h"

#include <wchar.h>

void NoteIfLinkMet(SkippedFiles* skipped, const wchar_t* path) {
    if (skipped == NULL || GetLastError() != kLinkMetError)
        return;
    // A settings file is written key by key: one refused file is one skipped file.
    int kept = skipped->count < kKeptSkippedPaths ? skipped->count : kKeptSkippedPaths;
    for (int i = 0; i < kept; ++i)
        if (_wcsicmp(skipped->paths[i], path) == 0)
            return;
    LogStep(L"link refused, file skipped: %ls", path);
    if (skipped->count < kKeptSkippedPaths)
        CopyText(skipped->paths[skipped->count], kSkippedPathChars, path);
    ++skipped->count;
}
