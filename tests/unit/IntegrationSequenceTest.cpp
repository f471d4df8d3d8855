#include "shell/IntegrationSequence.h"

#include "install/PathHelpers.h"
#include "install/SkippedFiles.h"
#include "shell/DerivedText.h"
#include "shell/ProgramRegistration.h"
#include "shell/UninstallEntry.h"

#include "RecordingRegistry.h"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace {

typedef std::map<std::wstring, std::wstring> Values;

const std::wstring kUninstall = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Glimmerly";
const std::wstring kFolder = L"C:\\Programme\\Glimmerly\\";
const std::wstring kExe = kFolder + L"gl_main32.exe";
const std::wstring kOpen = L"\"" + kExe + L"\" \"%1\"";
const std::wstring kVerb = L"Durchsuchen mit &Glimmerly";

std::wstring Formed(const std::wstring& target, int* fits = nullptr) {
    wchar_t folder[kPathChars];
    int result = FormInstallFolder(target.c_str(), folder);
    if (fits != nullptr)
        *fits = result;
    return folder;
}

TEST(FormInstallFolder, TrimsAndEndsInOneBackslash) {
    EXPECT_EQ(Formed(L"  D:\\Tools\\Glimmerly  "), L"D:\\Tools\\Glimmerly\\");
    EXPECT_EQ(Formed(L"D:\\Tools\\Glimmerly\\"), L"D:\\Tools\\Glimmerly\\");
    EXPECT_EQ(Formed(L"D:\\Tools\\Glimmerly"), L"D:\\Tools\\Glimmerly\\");
}

TEST(FormInstallFolder, AcceptsFoldersUpTo225CharactersWithTheBackslash) {
    std::wstring base = L"C:\\" + std::wstring(210, L'g');
    struct {
        std::wstring target;
        int fits;
    } cases[] = {
        {base + std::wstring(11, L'x'), 1},         // 224 + backslash
        {base + std::wstring(12, L'x'), 0},         // 225 + backslash
        {base + std::wstring(11, L'x') + L"\\", 1}, // 225 with its backslash
        {base + std::wstring(12, L'x') + L"\\", 0}, // 226
        {L"   " + base + std::wstring(11, L'x') + L"   ", 1},
    };
    for (const auto& c : cases) {
        int fits = -1;
        std::wstring folder = Formed(c.target, &fits);
        EXPECT_EQ(fits, c.fits) << c.target.size();
        EXPECT_EQ(InstallFolderFits(c.target.c_str()), c.fits);
        EXPECT_EQ(folder.size(), c.fits ? 225u : 0u);
    }
}

TEST(JoinText, RefusesToCutAndLeavesNothing) {
    wchar_t buffer[8];
    EXPECT_EQ(JoinText(buffer, 8, {L"abc", L"defg"}), 1);
    EXPECT_STREQ(buffer, L"abcdefg");
    EXPECT_EQ(JoinText(buffer, 8, {L"abcd", L"efgh"}), 0);
    EXPECT_STREQ(buffer, L"");
}

TEST(UninstallEntry, WritesTheNineValuesInOrder) {
    RecordingRegistry registry;
    WriteUninstallEntry(registry, L"D:\\Tools\\Glimmerly\\");
    std::vector<std::wstring> expected = {
        L"set " + kUninstall + L" = ",
        L"open " + kUninstall + L" (all access)",
        L"value " + kUninstall + L" : DisplayName = Glimmerly 4.62 (32-bit)",
        L"value " + kUninstall + L" : UninstallString = \"D:\\Tools\\Glimmerly\\gl_uninstall.exe\"",
        L"value " + kUninstall + L" : Publisher = Glimmerly Works",
        L"value " + kUninstall + L" : InstallLocation = D:\\Tools\\Glimmerly\\",
        L"value " + kUninstall + L" : DisplayVersion = 4.62",
        L"value " + kUninstall + L" : DisplayIcon = D:\\Tools\\Glimmerly\\gl_main32.exe,0",
        L"value " + kUninstall + L" : VersionMajor = dword:4",
        L"value " + kUninstall + L" : VersionMinor = dword:62",
        L"value " + kUninstall + L" : EstimatedSize = dword:6144",
        L"close " + kUninstall,
    };
    EXPECT_EQ(registry.log, expected);
}

TEST(UninstallEntry, OverwritesAnEarlierVersionAndKeepsOtherValues) {
    RecordingRegistry registry;
    registry.keys[RecordingRegistry::Lower(kUninstall)] = {
        {L"", L"old"}, {L"DisplayVersion", L"4.59"}, {L"Comments", L"kept"}};
    WriteUninstallEntry(registry, kFolder.c_str());
    EXPECT_EQ(registry.Value(kUninstall, L""), L"");
    EXPECT_EQ(registry.Value(kUninstall, L"DisplayVersion"), L"4.62");
    EXPECT_EQ(registry.Value(kUninstall, L"VersionMinor"), L"dword:62");
    EXPECT_EQ(registry.Value(kUninstall, L"Comments"), L"kept");
}

TEST(UninstallEntry, WritesNoValueWhenTheKeyCannotBeOpened) {
    RecordingRegistry registry;
    registry.failing = {RecordingRegistry::Lower(kUninstall)};
    WriteUninstallEntry(registry, kFolder.c_str());
    EXPECT_EQ(registry.log, (std::vector<std::wstring>{L"set " + kUninstall + L" = ",
                                                       L"open " + kUninstall + L" (all access)"}));
}

TEST(ProgramRegistration, ProgramClassAndApplicationEntry) {
    RecordingRegistry registry;
    registry.keys[L"hklm\\software\\classes\\glimmerly\\defaulticon"] = {{L"", L"old icon"}};
    RegisterProgramClass(registry, kOpen.c_str());
    EXPECT_EQ(registry.Value(L"HKLM\\SOFTWARE\\Classes\\Glimmerly", L""), L"Glimmerly");
    EXPECT_EQ(registry.Value(L"HKLM\\SOFTWARE\\Classes\\Glimmerly\\shell\\open\\command", L""), kOpen);
    EXPECT_EQ(registry.Values(L"HKLM\\SOFTWARE\\Classes\\Glimmerly\\DefaultIcon"), nullptr);
    EXPECT_EQ(registry.Value(L"HKCR\\Applications\\gl_main32.exe\\shell\\open\\command", L""), kOpen);
    EXPECT_EQ(registry.Value(L"HKCR\\Applications\\gl_main32.exe", L"FriendlyAppName"), L"Glimmerly 32-bit");
    EXPECT_EQ(registry.OpenHandles(), 0u);

    RecordingRegistry denied;
    denied.failing = {L"hkcr\\applications\\gl_main32.exe"};
    RegisterProgramClass(denied, kOpen.c_str());
    EXPECT_EQ(denied.Value(L"HKCR\\Applications\\gl_main32.exe", L"FriendlyAppName"), L"<missing>");
    EXPECT_EQ(denied.Value(L"HKCR\\Applications\\gl_main32.exe\\shell\\open\\command", L""), kOpen);
}

TEST(ProgramRegistration, ApplicationKeyAndCapabilities) {
    RecordingRegistry registry;
    registry.keys[L"hklm\\software\\registeredapplications"];
    RegisterApplicationKey(registry, kExe.c_str(), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(registry.Value(L"HKLM\\SOFTWARE\\Glimmerly\\shell\\open\\command", L""), L"\"" + kExe + L"\"");
    EXPECT_EQ(
        *registry.Values(L"HKLM\\SOFTWARE\\Glimmerly\\Capabilities"),
        (Values{{L"ApplicationDescription",
                 L"Picture viewer, editor and converter - one of the most popular viewers worldwide"}}));
    ASSERT_NE(registry.Values(L"HKLM\\SOFTWARE\\Glimmerly\\Capabilities\\FileAssociations"), nullptr);
    EXPECT_TRUE(registry.Values(L"HKLM\\SOFTWARE\\Glimmerly\\Capabilities\\FileAssociations")->empty());
    EXPECT_EQ(*registry.Values(L"HKLM\\SOFTWARE\\RegisteredApplications"),
              (Values{{L"Glimmerly", L"SOFTWARE\\Glimmerly\\Capabilities"}}));
    EXPECT_EQ(registry.OpenHandles(), 0u);

    // Without the list of registered applications the rest is still written.
    RecordingRegistry bare;
    RegisterApplicationKey(bare, kExe.c_str(), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(bare.Values(L"HKLM\\SOFTWARE\\RegisteredApplications"), nullptr);
    EXPECT_NE(bare.Values(L"HKLM\\SOFTWARE\\Glimmerly\\Capabilities\\FileAssociations"), nullptr);
}

TEST(ProgramRegistration, FolderAndDriveVerbs) {
    RecordingRegistry registry;
    RegisterFolderVerbs(registry, kExe.c_str());
    std::wstring command = L"\"" + kExe + L"\" \"%1\" /thumbs";
    EXPECT_EQ(registry.log,
              (std::vector<std::wstring>{
                  L"set HKLM\\SOFTWARE\\Classes\\Directory\\shell\\" + kVerb + L" = " + kVerb,
                  L"set HKLM\\SOFTWARE\\Classes\\Directory\\shell\\" + kVerb + L"\\command = " + command,
                  L"set HKLM\\SOFTWARE\\Classes\\Drive\\shell\\" + kVerb + L" = " + kVerb,
                  L"set HKLM\\SOFTWARE\\Classes\\Drive\\shell\\" + kVerb + L"\\command = " + command,
              }));
}

// Links and shell notifications go into the registry's log, so their order among the writes shows.
class RecordingShell : public ShellActions {
  public:
    explicit RecordingShell(std::vector<std::wstring>& log) : log_(log) {}
    void CreateStartMenuGroup(const wchar_t* folder, int allUsers, SkippedFiles&) override {
        log_.push_back(L"group " + std::wstring(folder) + L" all users " + std::to_wstring(allUsers));
    }
    void CreateDesktopShortcut(const wchar_t* target, const wchar_t* linkName, const wchar_t*, const wchar_t*,
                               const wchar_t*, int, int allUsers, SkippedFiles&) override {
        log_.push_back(L"desktop " + std::wstring(linkName) + L" -> " + target + L" all users " +
                       std::to_wstring(allUsers));
    }
    void SetSystemParameter(UINT action, UINT flags) override {
        log_.push_back(L"parameter " + std::to_wstring(action) + L" " + std::to_wstring(flags));
    }
    void ChangeNotify(LONG event, UINT flags) override {
        log_.push_back(L"notify " + std::to_wstring(event) + L" " + std::to_wstring(flags));
    }

  private:
    std::vector<std::wstring>& log_;
};

// SystemParametersInfoW(SPI_SETICONS, SPIF_UPDATEINIFILE | SPIF_SENDCHANGE), then
// SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH | SHCNF_FLUSHNOWAIT).
const std::vector<std::wstring> kNotification = {L"parameter 88 3", L"notify 134217728 12288"};

class Sequence : public ::testing::Test {
  protected:
    // Runs the sequence with the start-menu group and the desktop link; 1 when it ended with the icon
    // refresh and the association notification, 0 when it made neither, -1 for anything else.
    int Run(RecordingRegistry& registry, WindowsFamily family, int windows8, int thumbnails, int confirmed,
            std::vector<int> rows, int wow64 = 0) {
        registry.keys[L"hklm\\software\\registeredapplications"];
        registry.keys[L"hklm64\\software\\registeredapplications"];
        int selection[64] = {};
        for (int row : rows)
            selection[row] = 1;
        RecordingShell shell(registry.log);
        SystemTraits system = {family, windows8, wow64};
        SkippedFiles skipped = {};
        EXPECT_EQ(RunIntegrationSequence(registry, shell, system, kFolder.c_str(), confirmed,
                                         rows.empty() ? 0 : 1, 1, 1, thumbnails, 0, selection, 0, skipped),
                  1);
        std::vector<std::wstring> notifications;
        for (const auto& line : registry.log)
            if (line.compare(0, 10, L"parameter ") == 0 || line.compare(0, 7, L"notify ") == 0)
                notifications.push_back(line);
        if (notifications.empty())
            return 0;
        bool last = registry.log.size() >= 2 &&
                    std::vector<std::wstring>(registry.log.end() - 2, registry.log.end()) == kNotification;
        return notifications == kNotification && last ? 1 : -1;
    }
    size_t First(const RecordingRegistry& registry, const std::wstring& start) {
        for (size_t i = 0; i < registry.log.size(); ++i)
            if (registry.log[i].compare(0, start.size(), start) == 0)
                return i;
        return registry.log.size();
    }
};

TEST_F(Sequence, VistaWritesInTheFixedOrder) {
    RecordingRegistry registry;
    EXPECT_EQ(Run(registry, Vista, 0, 1, 1, {31}), 1);
    std::vector<size_t> positions = {
        First(registry, L"group " + kFolder + L" all users 0"),
        First(registry, L"desktop Glimmerly.lnk -> " + kExe),
        First(registry, L"desktop Glimmerly Thumbnails.lnk -> " + kExe),
        First(registry, L"set HKLM\\SOFTWARE\\Classes\\Directory\\shell\\"),
        First(registry, L"set HKLM\\SOFTWARE\\Classes\\Glimmerly = "),
        First(registry, L"set HKCR\\Applications\\"),
        First(registry, L"set " + kUninstall),
        First(registry, L"create HKLM\\SOFTWARE\\Glimmerly"),
        First(registry, L"set HKLM\\SOFTWARE\\Classes\\Glimmerly.ani"),
        First(registry,
              L"create HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.png"),
        First(registry, kNotification[0]),
    };
    for (size_t i = 1; i < positions.size(); ++i)
        EXPECT_LT(positions[i - 1], positions[i]) << i;
    EXPECT_LT(positions.back(), registry.log.size());
    // The capability values reach the key that the application step made.
    EXPECT_EQ(registry.Values(L"HKLM\\SOFTWARE\\Glimmerly\\Capabilities\\FileAssociations")->size(), 87u);
}

TEST_F(Sequence, NotifiesTheShellOnlyWhenAssociationsWereWritten) {
    const struct {
        WindowsFamily family;
        int confirmed;
        std::vector<int> rows;
        int notified;
    } cases[] = {
        {Vista, 1, {23}, 1}, {Xp, 1, {2}, 1}, {Older, 1, {16}, 1},
        {Vista, 1, {}, 0},   {Xp, 1, {}, 0},  {Vista, 0, {23}, 0},
    };
    for (const auto& c : cases) {
        RecordingRegistry registry;
        EXPECT_EQ(Run(registry, c.family, 1, 0, c.confirmed, c.rows), c.notified)
            << c.family << " confirmed " << c.confirmed << " rows " << c.rows.size();
    }
}

TEST_F(Sequence, UnderWow64OnlyTheApplicationKeyAndItsEntryGoToThe64BitView) {
    for (int wow64 : {0, 1}) {
        SCOPED_TRACE(wow64);
        RecordingRegistry registry;
        Run(registry, Vista, 1, 1, 1, {23}, wow64);
        for (const auto& line : registry.log) {
            bool applicationKey = line.find(L"\\SOFTWARE\\Glimmerly") != std::wstring::npos ||
                                  line.find(L"\\SOFTWARE\\RegisteredApplications") != std::wstring::npos;
            EXPECT_EQ(line.find(L"HKLM64\\") != std::wstring::npos, wow64 && applicationKey) << line;
        }
        std::wstring root = wow64 ? L"HKLM64" : L"HKLM";
        const Values* capabilities =
            registry.Values(root + L"\\SOFTWARE\\Glimmerly\\Capabilities\\FileAssociations");
        ASSERT_NE(capabilities, nullptr);
        EXPECT_EQ(capabilities->size(), 87u);
        EXPECT_EQ(registry.Value(root + L"\\SOFTWARE\\RegisteredApplications", L"Glimmerly"),
                  L"SOFTWARE\\Glimmerly\\Capabilities");
        EXPECT_EQ(registry.Value(kUninstall, L"InstallLocation"), kFolder);
    }
}
TEST_F(Sequence, XpWritesNoVerbsAndNoApplicationKey) {
    RecordingRegistry registry;
    EXPECT_EQ(Run(registry, Xp, 0, 1, 1, {}), 0);
    EXPECT_TRUE(registry.KeysUnder(L"hklm\\software\\classes\\directory").empty());
    EXPECT_TRUE(registry.KeysUnder(L"hklm\\software\\glimmerly").empty());
    EXPECT_TRUE(registry.KeysUnder(L"hklm\\software\\classes\\glimmerly.").empty());
    EXPECT_TRUE(registry.Values(L"HKLM\\SOFTWARE\\RegisteredApplications")->empty());
    EXPECT_EQ(registry.Value(L"HKLM\\SOFTWARE\\Classes\\Glimmerly\\shell\\open\\command", L""), kOpen);
    EXPECT_EQ(registry.Value(kUninstall, L"InstallLocation"), kFolder);
}

TEST_F(Sequence, VistaWithoutThumbnailsWritesNoVerbs) {
    RecordingRegistry registry;
    Run(registry, Vista, 1, 0, 1, {});
    EXPECT_TRUE(registry.KeysUnder(L"hklm\\software\\classes\\directory").empty());
    EXPECT_TRUE(registry.KeysUnder(L"hklm\\software\\classes\\drive").empty());
    EXPECT_EQ(registry.Value(L"HKLM\\SOFTWARE\\RegisteredApplications", L"Glimmerly"),
              L"SOFTWARE\\Glimmerly\\Capabilities");
    EXPECT_TRUE(registry.KeysUnder(L"hkcu\\").empty()) << "nothing selected: no NoOpenWith";
}

TEST_F(Sequence, ADeclinedQuestionEqualsAnEmptySelection) {
    for (WindowsFamily family : {Xp, Vista, Older}) {
        RecordingRegistry declined, empty;
        EXPECT_EQ(Run(declined, family, 1, 0, 0, {2, 23, 62}), 0);
        Run(empty, family, 1, 0, 1, {});
        EXPECT_EQ(declined.log, empty.log) << family;
    }
}

} // namespace
