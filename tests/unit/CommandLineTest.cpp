#include "app/CommandLine.h"
#include "app/StartUp.h"
#include "install/InstallOptions.h"
#include "shell/FileTypeCatalogue.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <string>

namespace {

InstallOptions Read(const std::wstring& commandLine) {
    InstallOptions options;
    ResetInstallOptions(options);
    ReadSwitches(commandLine.c_str(), options);
    return options;
}

int SelectedRows(const InstallOptions& options) {
    int count = 0;
    for (int flag : options.associationSelection)
        count += flag;
    return count;
}

const wchar_t kProgram[] = L"\"C:\\setup\\glimmerly-setup.exe\" ";

TEST(CommandLine, SilentIsCaseSensitiveAndFoundAnywhere) {
    EXPECT_TRUE(HasSilentSwitch(L"setup.exe /silent"));
    EXPECT_TRUE(HasSilentSwitch(L"setup.exe /desktop=1/silent"));
    EXPECT_FALSE(HasSilentSwitch(L"setup.exe /SILENT /folder=C:\\x"));
    EXPECT_FALSE(HasSilentSwitch(L"setup.exe"));
}

TEST(CommandLine, QuotedFolderWithTrailingBlankIsStripped) {
    InstallOptions options =
        Read(std::wstring(kProgram) + L"/silent /folder=\"C:\\Program Files\\Glimmerly\" /desktop=1");
    EXPECT_STREQ(options.targetFolder, L"C:\\Program Files\\Glimmerly");
    EXPECT_EQ(options.desktopShortcut, 1);
    EXPECT_EQ(options.thumbnailsShortcut, 0);
    EXPECT_EQ(options.startMenuGroup, 0);
    EXPECT_EQ(options.associationsRequested, 0);
}

TEST(CommandLine, ForwardSlashEndsAValue) {
    InstallOptions options = Read(std::wstring(kProgram) + L"/silent /folder=C:/Tools/Glimmerly");
    EXPECT_STREQ(options.targetFolder, L"C:");
}

TEST(CommandLine, AbsentSwitchesLeaveTheDefaults) {
    InstallOptions options;
    ResetInstallOptions(options);
    wcscpy(options.targetFolder, L"C:\\Existing\\");
    wcscpy(options.iniFolder, L"%APPDATA%\\Glimmerly");
    ReadSwitches(L"setup.exe /silent", options);
    EXPECT_STREQ(options.targetFolder, L"C:\\Existing\\");
    EXPECT_STREQ(options.iniFolder, L"%APPDATA%\\Glimmerly");
}

TEST(CommandLine, IntegerValuesFollowTheDecimalConversion) {
    struct Case {
        const wchar_t* text;
        int expected;
    } cases[] = {
        {L"/desktop=yes", 0},
        {L"/desktop= 2", 2},
        {L"/desktop=-1", -1},
        {L"/desktop=7abc", 7},
        {L"/desktop=", 0},
        {L"/desktop=+3", 3},
        {L"/desktop=99999999999", 2147483647},
    };
    for (const Case& c : cases) {
        InstallOptions options = Read(std::wstring(kProgram) + L"/silent " + c.text);
        EXPECT_EQ(options.desktopShortcut, c.expected) << c.text;
    }
}

TEST(CommandLine, EachShortcutSwitchSetsItsOwnField) {
    InstallOptions options = Read(std::wstring(kProgram) + L"/silent /group=1/thumbs=3 /allusers=1");
    EXPECT_EQ(options.startMenuGroup, 1);
    EXPECT_EQ(options.thumbnailsShortcut, 3);
    EXPECT_EQ(options.shortcutsForAllUsers, 1);
    EXPECT_EQ(options.desktopShortcut, 0);
}

TEST(CommandLine, AssociationValues) {
    struct Case {
        const wchar_t* text;
        int rows;
        int requested;
    } cases[] = {
        {L"/assoc=0", 0, 0}, {L"/assoc=1", imageRowCount, 1}, {L"/assoc=2", 64, 1}, {L"/assoc=3", 0, 0},
        {L"/assoc=x", 0, 0},
    };
    for (const Case& c : cases) {
        InstallOptions options = Read(std::wstring(kProgram) + L"/silent " + c.text);
        EXPECT_EQ(SelectedRows(options), c.rows) << c.text;
        EXPECT_EQ(options.associationsRequested, c.requested) << c.text;
        EXPECT_EQ(options.associationsForAllUsers, 0) << c.text;
    }
    InstallOptions images = Read(L"setup.exe /silent /assoc=1");
    EXPECT_EQ(images.associationSelection[48], 1);
    EXPECT_EQ(images.associationSelection[49], 0);
}

TEST(CommandLine, AssocAllUsersAloneSelectsNothing) {
    InstallOptions options = Read(L"setup.exe /silent /assocallusers");
    EXPECT_EQ(options.associationsForAllUsers, 1);
    EXPECT_EQ(options.associationsRequested, 0);
    EXPECT_EQ(SelectedRows(options), 0);
}

TEST(CommandLine, IniFollowedDirectlyBySwitchIsEmpty) {
    InstallOptions options;
    ResetInstallOptions(options);
    wcscpy(options.iniFolder, L"%APPDATA%\\Glimmerly");
    ReadSwitches(L"setup.exe /silent /ini=/desktop=1", options);
    EXPECT_STREQ(options.iniFolder, L"");
    EXPECT_EQ(options.desktopShortcut, 1);
}

TEST(CommandLine, IniKeepsLeadingBlanksAndPercentReferences) {
    InstallOptions options = Read(L"setup.exe /silent /ini=\"%APPDATA%\\Glimmerly\"  /group=1");
    EXPECT_STREQ(options.iniFolder, L"%APPDATA%\\Glimmerly");
    options = Read(L"setup.exe /silent /ini=  D:\\Settings ");
    EXPECT_STREQ(options.iniFolder, L"  D:\\Settings");
}

TEST(CommandLine, OnlyTheFirst519CharactersAreRead) {
    // "/silent" beyond the copy still selects the silent road; switches beyond it are not read.
    std::wstring padding(510, L'x');
    std::wstring line = L"setup.exe " + padding + L" /desktop=1 /silent";
    ASSERT_GT(line.size(), 519u);
    EXPECT_TRUE(HasSilentSwitch(line.c_str()));
    EXPECT_EQ(Read(line).desktopShortcut, 0);

    // A value that starts inside the copy is cut at its end.
    std::wstring cut = L"setup.exe " + std::wstring(495, L'y') + L" /desktop=12345678 /silent";
    EXPECT_EQ(Read(cut).desktopShortcut, 1234);
}

TEST(CommandLine, FolderValueIsBoundedBySwitchLength) {
    std::wstring folder = L"C:\\" + std::wstring(300, L'a');
    InstallOptions options = Read(L"setup.exe /silent /folder=" + folder);
    EXPECT_EQ(wcslen(options.targetFolder), 252u);
    InstallOptions ini = Read(L"setup.exe /silent /ini=" + folder);
    EXPECT_EQ(wcslen(ini.iniFolder), 255u);
}

// The names are claimed for the rest of the process, so every row has a namespace of its own.
const wchar_t* lockPrefix = NULL;
int lockElevated = 0;
int Elevated() {
    return lockElevated;
}
int Namespace(wchar_t* prefix, unsigned chars) {
    return lockPrefix != NULL && wcslen(lockPrefix) < chars && wcscpy(prefix, lockPrefix) != NULL;
}

// A standard user's program that holds "Local\GlimmerlySetup" blocks a setup only where no private
// namespace can be had, or the setup lacks the rights for it; another setup with those rights always does.
TEST(SetupLock, ASquattedNameBlocksOnlyWithoutThePrivateNamespace) {
    HANDLE squatter = CreateMutexW(NULL, FALSE, L"Local\\GlimmerlySetup");
    ASSERT_NE(squatter, nullptr);
    const SetupLockCalls calls = {Elevated, Namespace};
    SetSetupLockCalls(&calls);
    const struct {
        int elevated;
        const wchar_t* prefix;
        int claimed;
    } rows[] = {
        {1, L"Local\\GlimmerlyLockA-", 1}, // the squatter is no setup
        {1, L"Local\\GlimmerlyLockA-", 0}, // a setup with the rights holds it
        {0, L"Local\\GlimmerlyLockB-", 0}, // without the rights: the names as before
        {1, NULL, 0},                      // no private namespace (before Vista, Wine)
    };
    for (const auto& row : rows) {
        lockElevated = row.elevated;
        lockPrefix = row.prefix;
        EXPECT_EQ(ClaimSetupLock(), row.claimed) << row.elevated << (row.prefix != NULL);
    }
    SetSetupLockCalls(NULL);
    CloseHandle(squatter);
}

TEST(CommandLine, LogFileOnBothRoadsUnquotedUpToTheNextSwitch) {
    wchar_t file[kOptionsFolderChars] = L"left over";
    const struct {
        const wchar_t* line;
        const wchar_t* file;
    } cases[] = {
        {L"setup.exe /silent /log=\"C:\\Logs\\Glimmerly Setup.log\" /folder=C:\\G",
         L"C:\\Logs\\Glimmerly Setup.log"},
        {L"setup.exe /log=setup.log", L"setup.log"},
        {L"setup.exe /log=/silent", L""},
        {L"setup.exe /silent /folder=C:\\G", L""},
        {L"setup.exe /LOG=x.log", L""},
    };
    for (const auto& c : cases) {
        ReadLogSwitch(c.line, file);
        EXPECT_STREQ(file, c.file) << c.line;
    }
}

} // namespace
