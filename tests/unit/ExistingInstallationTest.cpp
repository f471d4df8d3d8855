#include "install/ExistingInstallation.h"
#include "install/InstallOptions.h"
#include "install/PathHelpers.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>
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
    // Stored without its terminating zero, which a reader must not rely on.
    void Register(const wchar_t* command, DWORD type = REG_SZ) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyW(HKEY_LOCAL_MACHINE, kOpenCommandKey, &key), ERROR_SUCCESS);
        LONG result = RegSetValueExW(key, NULL, 0, type, (const BYTE*)command,
                                     (DWORD)(wcslen(command) * sizeof(wchar_t)));
        RegCloseKey(key);
        ASSERT_EQ(result, ERROR_SUCCESS);
    }
    void SetUp() override {
        SetEnvironmentVariableW(L"GLTEST_PROGRAMS", L"C:\\Programme");
        SetEnvironmentVariableW(L"GLTEST_LONG", std::wstring(260, L'x').c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"GLTEST_PROGRAMS", NULL);
        SetEnvironmentVariableW(L"GLTEST_LONG", NULL);
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
        DWORD type;
    } cases[] = {
        {L"\"C:\\Tools\\Glimmerly\\gl_main32.exe\" \"%1\"", 1, L"C:\\Tools\\Glimmerly\\", REG_SZ},
        {L"\"D:\\Program Files\\Glimmerly\\gl_main32.exe\"", 1, L"D:\\Program Files\\Glimmerly\\", REG_SZ},
        {L"\"C:\\Other\\viewer.exe\" \"%1\"", 0, L"", REG_SZ},
        {L"\"C:\\Other\\viewer.exe\" \"C:\\gl_main32.exe\"", 0, L"", REG_SZ},
        {L"C:\\Tools\\Glimmerly\\gl_main32.exe %1", 1, L"C:\\Tools\\Glimmerly\\", REG_SZ},
        {L"", 0, L"", REG_SZ},
        // An expandable command is read as the shell reads it; a plain one stays as it is.
        {L"\"%GLTEST_PROGRAMS%\\Glimmerly\\gl_main32.exe\" \"%1\"", 1, L"C:\\Programme\\Glimmerly\\",
         REG_EXPAND_SZ},
        {L"\"%GLTEST_PROGRAMS%\\Glimmerly\\gl_main32.exe\" \"%1\"", 1, L"%GLTEST_PROGRAMS%\\Glimmerly\\",
         REG_SZ},
        {L"\"%GLTEST_LONG%\\gl_main32.exe\"", 0, L"", REG_EXPAND_SZ},
    };
    for (const Case& c : cases) {
        Register(c.command, c.type);
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

TEST_F(RegisteredCommand, SilentDefaultsFollowTheExistingInstallation) {
    wchar_t defaultFolder[kPathChars];
    GetDefaultInstallFolder(defaultFolder);
    const struct {
        const wchar_t* command;
        const wchar_t* targetFolder;
        const wchar_t* iniFolder;
    } cases[] = {
        {NULL, defaultFolder, L"%APPDATA%\\Glimmerly"},
        {L"\"C:\\Tools\\Glimmerly\\gl_main32.exe\" \"%1\"", L"C:\\Tools\\Glimmerly\\", L""},
    };
    for (const auto& c : cases) {
        if (c.command != NULL)
            Register(c.command);
        InstallOptions options;
        memset(&options, 0x11, sizeof options);
        FillSilentDefaults(options);
        EXPECT_STREQ(options.targetFolder, c.targetFolder);
        EXPECT_STREQ(options.iniFolder, c.iniFolder);
        EXPECT_STREQ(options.caption, L"Glimmerly 32-bit Setup");
        int flags = options.startMenuGroup | options.desktopShortcut | options.thumbnailsShortcut |
                    options.shortcutsForAllUsers | options.associationsForAllUsers |
                    options.associationsRequested | options.silent;
        for (int selected : options.associationSelection)
            flags |= selected;
        EXPECT_EQ(flags, 0);
    }
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
