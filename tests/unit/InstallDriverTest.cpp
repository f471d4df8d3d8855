#include "driver/InstallDriver.h"
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
const Interaction recording = {RecordMessage, NULL, NULL, NULL, NULL};

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
    EXPECT_NE(log.find("h\xE4ndisch zu erstellen.: Q:\\Missing\\Glimmerly\\\r\n------"), std::string::npos)
        << log;
}

} // namespace
