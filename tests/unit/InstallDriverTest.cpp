#include "driver/InstallDriver.h"
#include "framework/Interaction.h"
#include "install/FolderProtection.h"
#include "install/PathHelpers.h"

#include "TestFiles.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>
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

// The folder protection as the tests answer it: each call and what the folder held when the DACL was set.
struct {
    int elevated, keepsAcls, onlyAdministrators, applies;
    std::vector<std::wstring> applied; // "folder|descriptor|entries in the folder"
} security;
int Elevated() {
    return security.elevated;
}
int KeepsAcls(const wchar_t*) {
    return security.keepsAcls;
}
int OnlyAdministrators(const wchar_t*) {
    return security.onlyAdministrators;
}
int Apply(const wchar_t* folder, const wchar_t* sddl) {
    std::wstring entries;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((std::wstring(folder) + L"*").c_str(), &found);
    while (search != INVALID_HANDLE_VALUE) {
        if (found.cFileName[0] != L'.')
            entries += std::wstring(L" ") + found.cFileName;
        if (!FindNextFileW(search, &found)) {
            FindClose(search);
            break;
        }
    }
    security.applied.push_back(std::wstring(folder) + L"|" + sddl + L"|" + entries);
    return security.applies;
}
const FolderSecurity answered = {Elevated, KeepsAcls, OnlyAdministrators, Apply};

// An elevated run makes the target folder one only administrators can change before it writes anything
// into it, whether it made the folder or found it; it leaves a folder that already is such, every folder
// of a run without those rights or on a volume without ACLs, and fails before writing where it cannot.
TEST_F(Driver, TheTargetFolderIsProtectedBeforeAnythingIsWrittenIntoIt) {
    const std::wstring target = folder + L"\\Target\\";
    const std::wstring descriptor = L"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
    const struct {
        const char* what;
        int elevated, keepsAcls, onlyAdministrators, applies;
        bool existing;
        const wchar_t* applied; // what the folder held then; NULL: not asked for
    } rows[] = {
        {"created by the run", 1, 1, 0, 1, false, L""},
        // Before the leftover of a killed run is dealt with, which writes too.
        {"there already, with a user's file", 1, 1, 0, 1, true, L" user.txt ~glimmerly-setup"},
        {"already for administrators only", 1, 1, 1, 1, true, NULL},
        {"not elevated", 0, 1, 0, 1, true, NULL},
        {"a volume without ACLs", 1, 0, 0, 1, true, NULL},
        {"the DACL cannot be set", 1, 1, 0, 0, false, L""},
    };
    SetFolderSecurity(&answered);
    options.silent = 1;
    for (const auto& row : rows) {
        security = {row.elevated, row.keepsAcls, row.onlyAdministrators, row.applies, {}};
        if (row.existing) {
            CreateDirectoryW(target.c_str(), NULL);
            WriteFileBytes(target + L"user.txt", "u");
            CreateDirectoryW((target + L"~glimmerly-setup").c_str(), NULL);
        }
        wcscpy(options.targetFolder, target.c_str());
        EXPECT_NE(RunInstallation(options), kInstallComplete) << row.what; // this program has no payload
        std::vector<std::wstring> expected;
        if (row.applied != NULL)
            expected.push_back(target + L"|" + descriptor + L"|" + row.applied);
        EXPECT_EQ(security.applied, expected) << row.what;
        if (!row.applies) {
            EXPECT_EQ(GetFileAttributesW(target.c_str()), INVALID_FILE_ATTRIBUTES) << "made, then removed";
            EXPECT_NE(Log().find("Fehler beim Installieren!"), std::string::npos);
        }
        DeleteFileW((target + L"user.txt").c_str());
        RemoveDirectoryW((target + L"~glimmerly-setup").c_str());
        RemoveDirectoryW((target + L"Plugins").c_str());
        RemoveDirectoryW(target.c_str());
    }
    SetFolderSecurity(NULL);
}

// What counts as a folder that only administrators can change, from descriptors as the system gives them.
TEST(FolderProtection, OnlyAdministratorsSystemAndTrustedInstallerMayWrite) {
    const std::wstring installer = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    const struct {
        std::wstring sddl;
        int only;
    } rows[] = {
        {kAdministratorsOnlySddl, 1},
        // Below "Program Files": TrustedInstaller owns it, CREATOR OWNER names whoever creates inside.
        {L"O:" + installer + L"D:PAI(A;;FA;;;" + installer + L")(A;OICIIO;GA;;;CO)(A;;0x1301bf;;;SY)" +
             L"(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)",
         1},
        // Created below a drive's root: Authenticated Users may modify.
        {L"O:BAD:AI(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)", 0},
        // Users may create below it, though not change it.
        {L"O:BAD:PAI(A;OICI;FA;;;BA)(A;CIIO;DCLC;;;BU)", 0},
        // Owned by a user, who may change the DACL whatever it says.
        {L"O:BUD:PAI(A;OICI;FA;;;BA)", 0},
        // CREATOR OWNER on the folder itself is whoever created it.
        {L"O:BAD:PAI(A;;FA;;;CO)", 0},
    };
    for (const auto& row : rows) {
        PSECURITY_DESCRIPTOR descriptor = NULL;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(row.sddl.c_str(), SDDL_REVISION_1,
                                                                         &descriptor, NULL));
        EXPECT_EQ(GrantsWriteOnlyToAdministrators(descriptor), row.only)
            << std::string(row.sddl.begin(), row.sddl.end());
        LocalFree(descriptor);
    }
    // No DACL at all lets everyone do everything.
    SECURITY_DESCRIPTOR open;
    PSID administrators = NULL;
    ASSERT_TRUE(ConvertStringSidToSidW(L"BA", &administrators));
    InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&open, administrators, FALSE);
    SetSecurityDescriptorDacl(&open, TRUE, NULL, FALSE);
    EXPECT_EQ(GrantsWriteOnlyToAdministrators(&open), 0);
    LocalFree(administrators);
}

} // namespace
