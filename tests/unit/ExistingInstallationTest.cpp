#include "install/ExistingInstallation.h"
#include "install/PathHelpers.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <string>

namespace {

const wchar_t kOpenCommandKey[] = L"SOFTWARE\\Classes\\Glimmerly\\shell\\open\\command";

std::wstring Fixture(const char* relative) {
    std::string path = std::string(GLIMMERLY_FIXTURE_DIR) + "/" + relative;
    return std::wstring(path.begin(), path.end());
}

std::wstring SampleIcons() {
    std::string path = std::string(GLIMMERLY_PRODUCT_DIR) + "/payload/stage/Plugins/Icons.dll";
    return std::wstring(path.begin(), path.end());
}

TEST(ReadFileVersionInfo, VersionTextAndCompanyOfBlock040904E4) {
    struct Case {
        std::wstring file;
        int result;
        const wchar_t* version;
        const wchar_t* company;
    } cases[] = {
        {SampleIcons(), 1, L"4.30", L"Glimmerly Works"},
        {Fixture("icons/icons_431.dll"), 1, L"4.31", L"Glimmerly Works"},
        {Fixture("icons/icons_420_unicode_block.dll"), 1, L"4.20", L""},
        {Fixture("icons/icons_no_version.dll"), 0, L"", L""},
        {Fixture("icons/missing.dll"), 0, L"", L""},
    };
    for (const Case& c : cases) {
        wchar_t version[kPathChars] = L"x";
        wchar_t company[kPathChars] = L"x";
        EXPECT_EQ(ReadFileVersionInfo(c.file.c_str(), version, company, kPathChars), c.result) << c.file;
        EXPECT_STREQ(version, c.version) << c.file;
        EXPECT_STREQ(company, c.company) << c.file;
    }
}

TEST(ReadFileVersionInfo, CompanyIsCutToItsBuffer) {
    wchar_t version[kPathChars];
    wchar_t company[6] = L"";
    ASSERT_EQ(ReadFileVersionInfo(SampleIcons().c_str(), version, company, 6), 1);
    EXPECT_STREQ(company, L"Glimm");
    EXPECT_EQ(ReadFileVersionInfo(SampleIcons().c_str(), version, NULL, 0), 1);
}

TEST(GetFileSizeBytes, SizeOrZero) {
    EXPECT_EQ(GetFileSizeBytes(Fixture("icons/icons_430_exact.dll").c_str()), 226816u);
    EXPECT_EQ(GetFileSizeBytes(Fixture("icons/missing.dll").c_str()), 0u);
    EXPECT_EQ(GetFileSizeBytes(L""), 0u);
    EXPECT_EQ(GetFileSizeBytes(NULL), 0u);
}

// The registered open command in this test's prefix; removed again afterwards.
class RegisteredCommand : public ::testing::Test {
  protected:
    void Register(const wchar_t* command) {
        ASSERT_EQ(RegSetValueW(HKEY_LOCAL_MACHINE, kOpenCommandKey, REG_SZ, command,
                               (DWORD)(wcslen(command) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kOpenCommandKey);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Glimmerly\\shell\\open");
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Glimmerly\\shell");
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Glimmerly");
    }
};

TEST_F(RegisteredCommand, FolderOfTheQuotedProgramPath) {
    struct Case {
        const wchar_t* command;
        int result;
        const wchar_t* folder;
    } cases[] = {
        {L"\"C:\\Tools\\Glimmerly\\gl_main32.exe\" \"%1\"", 1, L"C:\\Tools\\Glimmerly\\"},
        {L"\"D:\\Program Files\\Glimmerly\\gl_main32.exe\"", 1, L"D:\\Program Files\\Glimmerly\\"},
        {L"\"C:\\Other\\viewer.exe\" \"%1\"", 0, L""},
        {L"\"C:\\Other\\viewer.exe\" \"C:\\gl_main32.exe\"", 0, L""},
        {L"C:\\Tools\\Glimmerly\\gl_main32.exe %1", 1, L"C:\\Tools\\Glimmerly\\"},
        {L"", 0, L""},
    };
    for (const Case& c : cases) {
        Register(c.command);
        wchar_t folder[kPathChars] = L"x";
        EXPECT_EQ(ReadInstalledFolder(folder), c.result) << c.command;
        EXPECT_STREQ(folder, c.folder) << c.command;
    }
}

TEST_F(RegisteredCommand, NoKeyMeansNoInstallation) {
    wchar_t folder[kPathChars] = L"x";
    EXPECT_EQ(ReadInstalledFolder(folder), 0);
    EXPECT_STREQ(folder, L"");
}

TEST(GetDefaultInstallFolder, ProgramFilesFollowedByGlimmerly) {
    wchar_t programFiles[kPathChars] = L"";
    DWORD bytes = sizeof programFiles - sizeof(wchar_t);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion", 0,
                            KEY_QUERY_VALUE, &key),
              ERROR_SUCCESS);
    ASSERT_EQ(RegQueryValueExW(key, L"ProgramFilesDir", NULL, NULL, (BYTE*)programFiles, &bytes),
              ERROR_SUCCESS);
    RegCloseKey(key);
    wchar_t folder[kPathChars];
    EXPECT_EQ(GetDefaultInstallFolder(folder), 1);
    EXPECT_EQ(std::wstring(folder), std::wstring(programFiles) + L"\\Glimmerly");
}

} // namespace
