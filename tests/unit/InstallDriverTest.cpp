#include "driver/InstallDriver.h"
#include "driver/SetupChoices.h"
#include "framework/Interaction.h"
#include "install/PathHelpers.h"

#include "TestFiles.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <stdio.h>
#include <string>
#include <vector>

namespace {

struct Shown {
    std::wstring text, caption;
    unsigned type;
};
std::vector<Shown> shown;

int RecordMessage(HWND, const wchar_t* text, const wchar_t* caption, unsigned type) {
    shown.push_back({text, caption, type});
    return IDOK;
}
const Interaction recording = {RecordMessage, NULL, NULL, NULL, NULL, NULL};

std::wstring LoadText(int id) {
    wchar_t text[1024] = L"";
    LoadStringW(GetModuleHandleW(NULL), id, text, 1024);
    return text;
}

// Runs in a scratch folder, the current directory, where a silent run writes its log.
class Driver : public ::testing::Test {
  protected:
    void SetUp() override {
        shown.clear();
        SetInteraction(&recording);
        GetCurrentDirectoryW(kPathChars, previous);
        wchar_t temp[kPathChars];
        GetTempPathW(kPathChars, temp);
        folder = std::wstring(temp) + L"glimmerly-driver-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder.c_str(), NULL);
        SetCurrentDirectoryW(folder.c_str());
        ResetInstallOptions(options);
    }
    void TearDown() override {
        SetInteraction(NULL);
        SetCurrentDirectoryW(previous);
        DeleteFileW((folder + L"\\Glimmerly_Install.log").c_str());
        RemoveDirectoryW(folder.c_str());
    }
    std::string Log() {
        std::string data;
        ReadFileBytes(L"Glimmerly_Install.log", &data);
        return data;
    }
    wchar_t previous[kPathChars];
    std::wstring folder;
    InstallOptions options;
};

TEST_F(Driver, EmptyFolderInTheWizardShowsStringFive) {
    options.silent = 0;
    options.caption = L"Glimmerly Setup";
    EXPECT_EQ(RunInstallation(options), kInstallInvalidFolder);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, LoadText(5));
    EXPECT_EQ(shown[0].caption, L"Glimmerly Setup");
    EXPECT_EQ(shown[0].type, (unsigned)(MB_OK | MB_ICONERROR));
    EXPECT_EQ(Log(), "");
}

TEST_F(Driver, FolderOfBlanksIsStringElevenNotFive) {
    wcscpy(options.targetFolder, L"    ");
    EXPECT_EQ(RunInstallation(options), kInstallFolderNotCreated);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, LoadText(11));
}

TEST_F(Driver, SilentFailuresAreLoggedNeverShown) {
    options.silent = 1;
    wcscpy(options.targetFolder, L"    ");
    EXPECT_EQ(RunInstallation(options), kInstallFolderNotCreated);
    wcscpy(options.targetFolder, L"Q:\\Missing\\Glimmerly");
    EXPECT_EQ(RunInstallation(options), kInstallFolderNotCreated);
    EXPECT_TRUE(shown.empty());
    std::string log = Log();
    EXPECT_NE(log.find("h\xE4ndisch zu erstellen.: \r\n------"), std::string::npos) << log;
    EXPECT_NE(log.find("Laufwerk Q: nicht gefunden!\r\n\r\nBitte w\xE4hlen Sie ein Zielverzeichnis auf einem "
                       "vorhandenen Laufwerk.: Q:\\Missing\\Glimmerly\\\r\n------"),
              std::string::npos)
        << log;
}

// The wizard's box names the folder as the silent log does, and a missing drive by its letter.
TEST_F(Driver, FolderThatCannotBeCreatedIsNamedInTheWizardsBox) {
    // A file stands where a folder on the way would have to be.
    FILE* blocker = _wfopen((folder + L"\\Datei").c_str(), L"wb");
    ASSERT_NE(blocker, nullptr);
    fclose(blocker);
    const std::wstring underFile = folder + L"\\Datei\\Glimmerly\\";
    const struct {
        std::wstring folder, text;
    } cases[] = {
        {underFile, LoadText(11) + L": " + underFile},
        {L"Q:\\Missing\\Glimmerly",
         L"Laufwerk Q: nicht gefunden!\n\nBitte w\u00E4hlen Sie ein Zielverzeichnis auf "
         L"einem vorhandenen Laufwerk.: Q:\\Missing\\Glimmerly\\"},
    };
    options.silent = 0;
    for (const auto& c : cases) {
        shown.clear();
        wcscpy(options.targetFolder, c.folder.c_str());
        EXPECT_EQ(RunInstallation(options), kInstallFolderNotCreated) << c.folder;
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, c.text);
    }
    EXPECT_EQ(Log(), "");
    DeleteFileW((folder + L"\\Datei").c_str());
}

// The record of choices, under a scratch key standing for HKLM or HKCU.
class RecordOfChoices : public ::testing::Test {
  protected:
    static void RemoveScratch() {
        for (const wchar_t* below :
             {L"\\SOFTWARE\\Glimmerly\\Setup\\Choices", L"\\SOFTWARE\\Glimmerly\\Setup",
              L"\\SOFTWARE\\Glimmerly", L"\\SOFTWARE", L""})
            RegDeleteKeyW(HKEY_CURRENT_USER, (std::wstring(kScratch) + below).c_str());
    }
    void SetUp() override {
        RemoveScratch();
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kScratch, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &root, NULL),
                  ERROR_SUCCESS);
        ResetInstallOptions(chosen);
    }
    void TearDown() override {
        RegCloseKey(root);
        RemoveScratch();
    }
    void SetSelection(const wchar_t* text) {
        HKEY key;
        ASSERT_EQ(RegOpenKeyExW(root, L"SOFTWARE\\Glimmerly\\Setup\\Choices", 0, KEY_SET_VALUE, &key),
                  ERROR_SUCCESS);
        RegSetValueExW(key, L"AssociationSelection", 0, REG_SZ, (const BYTE*)text,
                       (DWORD)((wcslen(text) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    static constexpr const wchar_t* kScratch = L"Software\\GlimmerlyTest\\Choices";
    HKEY root = NULL;
    InstallOptions chosen;
};

TEST_F(RecordOfChoices, EveryChoiceComesBackAndNothingElse) {
    InstallOptions read;
    ResetInstallOptions(read);
    EXPECT_EQ(ReadRecordedChoicesUnder(root, read), 0) << "no record yet";

    chosen.desktopShortcut = 0, chosen.thumbnailsShortcut = 1, chosen.startMenuGroup = 0;
    chosen.shortcutsForAllUsers = 1, chosen.associationsRequested = 1, chosen.associationsForAllUsers = 1;
    chosen.associationSelection[0] = chosen.associationSelection[48] = chosen.associationSelection[62] = 1;
    wcscpy(chosen.iniFolder, L"%APPDATA%\\Glimmerly");
    wcscpy(chosen.targetFolder, L"C:\\Apps\\Glimmerly\\");
    ASSERT_EQ(RecordChoicesUnder(root, chosen), 1);
    wcscpy(read.targetFolder, L"D:\\Other\\");
    ASSERT_EQ(ReadRecordedChoicesUnder(root, read), 1);
    EXPECT_EQ((std::vector<int>{read.desktopShortcut, read.thumbnailsShortcut, read.startMenuGroup,
                                read.shortcutsForAllUsers, read.associationsRequested,
                                read.associationsForAllUsers}),
              (std::vector<int>{0, 1, 0, 1, 1, 1}));
    for (int i = 0; i < kAssociationFlags; ++i)
        EXPECT_EQ(read.associationSelection[i], i == 0 || i == 48 || i == 62) << i;
    EXPECT_STREQ(read.iniFolder, L"%APPDATA%\\Glimmerly");
    EXPECT_STREQ(read.targetFolder, L"D:\\Other\\") << "the folder comes from the installation itself";

    // The opposite of every choice, so no value can be stuck at one.
    ResetInstallOptions(chosen);
    chosen.desktopShortcut = chosen.startMenuGroup = 1;
    ASSERT_EQ(RecordChoicesUnder(root, chosen), 1);
    ASSERT_EQ(ReadRecordedChoicesUnder(root, read), 1);
    EXPECT_EQ((std::vector<int>{read.desktopShortcut, read.thumbnailsShortcut, read.startMenuGroup,
                                read.shortcutsForAllUsers, read.associationsRequested,
                                read.associationsForAllUsers}),
              (std::vector<int>{1, 0, 1, 0, 0, 0}));
    EXPECT_EQ(read.associationSelection[48], 0);
    EXPECT_STREQ(read.iniFolder, L"") << "the program's folder";
}

TEST_F(RecordOfChoices, DamagedRecordIsNotHalfApplied) {
    ASSERT_EQ(RecordChoicesUnder(root, chosen), 1);
    const std::wstring full(64, L'1');
    for (const std::wstring& selection : {full.substr(1), full + L"1", full.substr(1) + L"x"}) {
        SetSelection(selection.c_str());
        InstallOptions read;
        ResetInstallOptions(read);
        read.desktopShortcut = 7;
        EXPECT_EQ(ReadRecordedChoicesUnder(root, read), 0) << selection.size();
        EXPECT_EQ(read.desktopShortcut, 7);
        EXPECT_EQ(read.associationSelection[0], 0);
    }
}

} // namespace
