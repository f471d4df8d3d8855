#include "app/CommandLine.h"

#include "install/InstallOptions.h"
#include "install/PathHelpers.h"
#include "shell/FileTypeCatalogue.h"

#include <wchar.h>
#include <stdlib.h>
#include <limits.h>

namespace {

// The value of a switch, up to the next forward slash; 0 when the switch is absent.
int FindSwitchValue(const wchar_t* text, const wchar_t* name, wchar_t* value) {
    const wchar_t* found = wcsstr(text, name);
    if (found == NULL)
        return 0;
    CopySwitchValue(found, value, wcslen(name), kPathChars);
    return 1;
}

// Converted like the standard decimal conversion: leading white space and a sign, up to the first
// non-digit; no digits give 0.
int ReadIntegerSwitch(const wchar_t* text, const wchar_t* name, int* field) {
    wchar_t value[kPathChars];
    if (!FindSwitchValue(text, name, value))
        return 0;
    long number = wcstol(value, NULL, 10);
    if (number > INT_MAX)
        number = INT_MAX;
    if (number < INT_MIN)
        number = INT_MIN;
    *field = (int)number;
    return 1;
}

void ReadPathSwitch(const wchar_t* text, const wchar_t* name, wchar_t* field) {
    wchar_t value[kPathChars];
    if (!FindSwitchValue(text, name, value))
        return;
    StripQuotes(value, 1);
    CopyText(field, kOptionsFolderChars, value);
}

} // namespace

int HasSilentSwitch(const wchar_t* commandLine) {
    return commandLine != NULL && wcsstr(commandLine, L"/silent") != NULL;
}

void ReadSwitches(const wchar_t* commandLine, InstallOptions& options) {
    wchar_t copy[kCommandLineCopyChars];
    CopyText(copy, kCommandLineCopyChars, commandLine != NULL ? commandLine : L"");

    ReadPathSwitch(copy, L"/folder=", options.targetFolder);
    ReadIntegerSwitch(copy, L"/desktop=", &options.desktopShortcut);
    ReadIntegerSwitch(copy, L"/thumbs=", &options.thumbnailsShortcut);
    ReadIntegerSwitch(copy, L"/group=", &options.startMenuGroup);
    ReadIntegerSwitch(copy, L"/allusers=", &options.shortcutsForAllUsers);

    int association = 0;
    if (ReadIntegerSwitch(copy, L"/assoc=", &association) && (association == 1 || association == 2)) {
        int count = association == 1 ? imageRowCount : kAssociationFlags;
        for (int i = 0; i < count; ++i)
            options.associationSelection[i] = 1;
        options.associationsRequested = 1;
    }
    if (wcsstr(copy, L"/assocallusers") != NULL)
        options.associationsForAllUsers = 1;
    ReadPathSwitch(copy, L"/ini=", options.iniFolder);
}

void ReadLogSwitch(const wchar_t* commandLine, wchar_t* file) {
    wchar_t copy[kCommandLineCopyChars];
    CopyText(copy, kCommandLineCopyChars, commandLine != NULL ? commandLine : L"");
    file[0] = L'\0';
    ReadPathSwitch(copy, L"/log=", file);
}
