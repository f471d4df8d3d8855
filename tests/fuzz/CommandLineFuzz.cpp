// The command line: any text is read for its switches. Only the fields of switches found in the first
// 519 characters change, a folder holds at most a path and no slash, association flags are 0 or 1.
#include "FuzzSupport.h"

#include "app/CommandLine.h"
#include "install/InstallOptions.h"
#include "install/PathHelpers.h"

#include <wchar.h>

namespace {

const wchar_t kUnchanged[] = L"unchanged";
const int kUnchangedNumber = 12345;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Text line = NewText(std::string((const char*)data, size));
    InstallOptions options;
    ResetInstallOptions(options);
    memcpy(options.targetFolder, kUnchanged, sizeof kUnchanged);
    memcpy(options.iniFolder, kUnchanged, sizeof kUnchanged);
    options.desktopShortcut = options.thumbnailsShortcut = options.startMenuGroup =
        options.shortcutsForAllUsers = kUnchangedNumber;

    int silent = HasSilentSwitch(line.get());
    FUZZ_CHECK(silent == (wcsstr(line.get(), L"/silent") != NULL));
    ReadSwitches(line.get(), options);

    Text read = CopyOf(line.get(), kCommandLineCopyChars);
    const struct {
        const wchar_t* name;
        int* field;
    } numbers[] = {{L"/desktop=", &options.desktopShortcut},
                   {L"/thumbs=", &options.thumbnailsShortcut},
                   {L"/group=", &options.startMenuGroup},
                   {L"/allusers=", &options.shortcutsForAllUsers}};
    for (const auto& number : numbers)
        if (wcsstr(read.get(), number.name) == NULL)
            FUZZ_CHECK(*number.field == kUnchangedNumber);

    const struct {
        const wchar_t* name;
        const wchar_t* field;
    } folders[] = {{L"/folder=", options.targetFolder}, {L"/ini=", options.iniFolder}};
    for (const auto& folder : folders) {
        FUZZ_CHECK(wcsnlen(folder.field, kOptionsFolderChars) < kPathChars);
        if (wcsstr(read.get(), folder.name) == NULL)
            FUZZ_CHECK(Same(folder.field, kUnchanged));
        else
            FUZZ_CHECK(wcschr(folder.field, L'/') == NULL);
    }

    int selected = 0;
    for (int flag : options.associationSelection) {
        FUZZ_CHECK(flag == 0 || flag == 1);
        selected += flag;
    }
    FUZZ_CHECK(options.associationsRequested == (selected > 0));
    if (wcsstr(read.get(), L"/assoc=") == NULL)
        FUZZ_CHECK(selected == 0);
    FUZZ_CHECK(options.associationsForAllUsers == (wcsstr(read.get(), L"/assocallusers") != NULL));
    return 0;
}
