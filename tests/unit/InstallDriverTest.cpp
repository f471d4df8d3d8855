#include "driver/InstallDriver.h"
#include "driver/SetupChoices.h"
#include "framework/Interaction.h"
#include "install/FolderProtection.h"
#include "install/InstallProgress.h"
#include "install/InstalledViewer.h"
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

std::vector<std::string> reported;
void RecordExtracted(void*, unsigned long long done, unsigned long long total) {
    reported.push_back(std::to_string(done) + " of " + std::to_string(total) + " bytes");
}
void RecordStep(void*, int step, int steps) {
    reported.push_back("step " + std::to_string(step) + " of " + std::to_string(steps));
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        std::wstring name = found.cFileName, child = path + L"\\" + name;
        if (name != L"." && name != L"..")
            (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveTree(child)
                                                                : (void)DeleteFileW(child.c_str());
    }
    FindClose(search);
    RemoveDirectoryW(path.c_str());
}

// The test program carries the sound payload of the extraction test under the payload's id: "Docs/",
// "Docs/readme.txt" (24 bytes), "top.txt" (3 bytes). Each run ends with the status that names its
// outcome, reports every step in order and logs what the user must know; the registry is a scratch key.
TEST_F(Driver, EachOutcomeHasItsStatusItsStepsAndItsLogLines) {
    HKEY scratch[3];
    const HKEY roots[3] = {HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT, HKEY_CURRENT_USER};
    for (int i = 0; i < 3; ++i) {
        std::wstring name = L"Software\\GlimmerlyDriverTest\\" + std::to_wstring(i);
        ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, name.c_str(), &scratch[i]), ERROR_SUCCESS);
    }
    for (int i = 0; i < 3; ++i)
        RegOverridePredefKey(roots[i], scratch[i]);
    const std::wstring target = folder + L"\\Target\\", links = std::wstring(previous) + L"\\links\\";
    const std::string restart = ": Windows muss neu gestartet werden, um die Installation abzuschlie\337en.";
    const std::string skipped = "\334bersprungen, weil im Pfad ein Link liegt: ";
    const std::string top = std::string(target.begin(), target.end()) + "top.txt" + restart;
    const std::string ini = std::string(links.begin(), links.end()) + "folder-link\\Glimmerly\\gl_main32.ini";
    const struct {
        const char* what;
        bool held, linkedSettings;
        InstallResult result;
        std::vector<std::string> log;
    } rows[] = {
        {"first installation", false, false, kInstallComplete, {}},
        {"a file held open", true, false, kInstallRestartNeeded, {top}},
        {"settings folder below a link", false, true, kInstallLinkSkipped, {skipped + ini}},
        {"both", true, true, kInstallLinkSkipped, {top, skipped + ini}},
        {"again complete", false, false, kInstallComplete, {}},
    };
    const InstallProgress progress = {RecordExtracted, RecordStep, NULL, NULL};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        DeleteFileW(L"Glimmerly_Install.log");
        reported.clear();
        options.silent = 1;
        options.progress = &progress;
        wcscpy(options.targetFolder, target.c_str());
        wcscpy(options.iniFolder, row.linkedSettings ? (links + L"folder-link\\Glimmerly").c_str() : L"");
        HANDLE held = row.held ? CreateFileW((target + L"top.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                             NULL, OPEN_EXISTING, 0, NULL)
                               : INVALID_HANDLE_VALUE;
        EXPECT_EQ(row.held, held != INVALID_HANDLE_VALUE);
        EXPECT_EQ(RunInstallation(options), row.result);
        CloseHandle(held);
        SetCurrentDirectoryW(folder.c_str());
        EXPECT_EQ(reported,
                  (std::vector<std::string>{"27 of 27 bytes", "step 1 of 3", "step 2 of 3", "step 3 of 3"}));
        // An entry: "DATE - hh:mm:ss: MESSAGE", then a line of hyphens.
        std::string log = Log();
        std::vector<std::string> messages;
        const std::string end = "\r\n------------------------------------------------\r\n";
        for (size_t at = 0, next; (next = log.find(end, at)) != std::string::npos; at = next + end.size())
            messages.push_back(log.substr(log.find(" - ", at) + 13, next - log.find(" - ", at) - 13));
        EXPECT_EQ(messages, row.log) << log;
    }
    for (int i = 0; i < 3; ++i) {
        RegOverridePredefKey(roots[i], NULL);
        RegCloseKey(scratch[i]);
    }
    typedef LONG(WINAPI * DeleteTree)(HKEY, const wchar_t*);
    DeleteTree deleteTree =
        (DeleteTree)(void*)GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegDeleteTreeW");
    ASSERT_NE(deleteTree, nullptr);
    deleteTree(HKEY_CURRENT_USER, L"Software\\GlimmerlyDriverTest");
    HKEY session;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_SET_VALUE, &session) == ERROR_SUCCESS) {
        RegDeleteValueW(session, L"PendingFileRenameOperations");
        RegCloseKey(session);
    }
    RemoveTree(folder + L"\\Target");
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
        InstallResult result = RunInstallation(options);
        EXPECT_EQ(result == kInstallFailed, !row.applies) << row.what;
        std::vector<std::wstring> expected;
        if (row.applied != NULL)
            expected.push_back(target + L"|" + descriptor + L"|" + row.applied);
        EXPECT_EQ(security.applied, expected) << row.what;
        if (!row.applies) {
            EXPECT_EQ(GetFileAttributesW(target.c_str()), INVALID_FILE_ATTRIBUTES) << "made, then removed";
            EXPECT_NE(Log().find("Fehler beim Installieren!"), std::string::npos);
        }
        SetCurrentDirectoryW(folder.c_str()); // a completed run leaves the target folder current
        RemoveTree(folder + L"\\Target");
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

// What the finish page would start is held only while it holds the payload member's very bytes: one
// swapped, grown or cut by another program of the user is not.
TEST_F(Driver, OnlyTheFileAsThePayloadHoldsItIsHeld) {
    const std::wstring path = folder + L"\\top.txt";
    const struct {
        const char* bytes;
        bool held;
    } rows[] = {{"top", true}, {"toq", false}, {"top ", false}, {"to", false}};
    for (const auto& row : rows) {
        WriteFileBytes(path, row.bytes);
        HANDLE held = HoldPayloadMember(path.c_str(), 1974, L"ZIP", "top.txt");
        EXPECT_EQ(held != INVALID_HANDLE_VALUE, row.held) << row.bytes;
        if (held != INVALID_HANDLE_VALUE) {
            EXPECT_FALSE(DeleteFileW(path.c_str())) << "no one may change it while it is held";
            CloseHandle(held);
        }
        DeleteFileW(path.c_str());
    }
    EXPECT_EQ(HoldPayloadMember(path.c_str(), 1974, L"ZIP", "top.txt"), INVALID_HANDLE_VALUE) << "missing";
}

} // namespace
