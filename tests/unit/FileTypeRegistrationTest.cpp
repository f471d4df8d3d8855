#include "shell/FileTypeRegistration.h"

#include "ExpectedFileTypes.h"
#include "RecordingRegistry.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {

const std::wstring kExe = L"C:\\Programme\\Glimmerly\\gl_main32.exe";
const std::wstring kOpen = L"\"C:\\Programme\\Glimmerly\\gl_main32.exe\" \"%1\"";
const std::wstring kFileExts = L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.";
const std::wstring kMachineClasses = L"HKLM\\SOFTWARE\\Classes\\";
const std::wstring kCapabilities = L"HKLM\\SOFTWARE\\Glimmerly\\Capabilities\\FileAssociations";
const wchar_t* const kAppClasses[] = {
    L"AppXvhc4p7vz4b485xfp46hhk3fq3grkdgjg", L"AppXk0g4vb8gvt7b93tg50ybcy892pge6jmt",
    L"AppX43hnxtbyyps62jhe9sqpdzxn1790zetc", L"AppX9rkaq77s0jzh1tyccadx9ghba15r6t3h",
    L"AppX6eg8h5sxqq90pv53845wmnbewywdqq5h"};

std::wstring Upper(std::wstring text) {
    for (auto& ch : text)
        ch = (wchar_t)towupper(ch);
    return text;
}

std::wstring IconOf(int row) {
    std::wstring icon = kExpectedRows[row].icon;
    return icon == L"%1" ? icon : kExe + icon;
}

class FileTypePassTest : public ::testing::Test {
  protected:
    // Runs the pass on the rows given; the capabilities key exists as the program registration leaves it.
    int Run(WindowsFamily family, std::vector<int> rows, int allUsers = 0, int windows8 = 0) {
        registry.keys[RecordingRegistry::Lower(kCapabilities)];
        for (int row : rows)
            selection[row] = 1;
        FileTypePass pass = {family,   windows8,     selection,     rows.empty() ? 0 : 1,
                             allUsers, kExe.c_str(), kOpen.c_str(), HKEY_LOCAL_MACHINE};
        int notify = RegisterFileTypes(registry, pass);
        EXPECT_EQ(registry.OpenHandles(), 0u);
        return notify;
    }
    // The three keys of a class with the data of the registration table.
    void ExpectClass(const std::wstring& suffix, const std::wstring& icon) {
        SCOPED_TRACE(suffix);
        std::wstring key = kMachineClasses + L"Glimmerly." + suffix;
        EXPECT_EQ(registry.Value(key, L""), L"Glimmerly " + Upper(suffix) + L" File");
        EXPECT_EQ(registry.Value(key + L"\\shell\\open\\command", L""), kOpen);
        EXPECT_EQ(registry.Value(key + L"\\DefaultIcon", L""), icon);
    }
    std::set<std::wstring> MachineExtensionKeys() {
        std::set<std::wstring> result;
        for (const auto& key : registry.KeysUnder(L"hklm\\software\\classes\\."))
            result.insert(key.substr(22));
        return result;
    }
    std::set<std::wstring> UserKeys() { return registry.KeysUnder(L"hkcu\\"); }
    std::set<std::wstring> ClassKeys() {
        std::set<std::wstring> result;
        for (const auto& key : registry.KeysUnder(L"hklm\\software\\classes\\glimmerly."))
            if (key.find(L'\\', 32) == std::wstring::npos)
                result.insert(key.substr(22));
        return result;
    }

    RecordingRegistry registry;
    int selection[64] = {};
};

TEST_F(FileTypePassTest, XpWithRowTwoWritesTheUsersFileExtsInOrder) {
    EXPECT_EQ(Run(Xp, {2}), 1);
    std::vector<std::wstring> expected;
    for (const wchar_t* extension : {L"bmp", L"dib"}) {
        std::wstring fileExts = kFileExts + extension;
        std::wstring key = kMachineClasses + L"Glimmerly.bmp";
        std::vector<std::wstring> steps = {
            L"set " + fileExts + L" = ",
            L"open " + fileExts + L" (all access)",
            L"value " + fileExts + L" : ProgID = Glimmerly.bmp",
            L"close " + fileExts,
            L"set " + key + L" = Glimmerly BMP File",
            L"set " + key + L"\\shell\\open\\command = " + kOpen,
            L"set " + key + L"\\DefaultIcon = " + kExe + L",0",
        };
        expected.insert(expected.end(), steps.begin(), steps.end());
    }
    EXPECT_EQ(registry.log, expected);
    EXPECT_TRUE(MachineExtensionKeys().empty());
    EXPECT_TRUE(registry.Values(kCapabilities)->empty());
}

TEST_F(FileTypePassTest, XpForAllUsersAlsoPointsTheMachineExtensions) {
    Run(Xp, {2}, 1);
    EXPECT_EQ(MachineExtensionKeys(), (std::set<std::wstring>{L".bmp", L".dib"}));
    EXPECT_EQ(registry.Value(kMachineClasses + L".bmp", L""), L"Glimmerly.bmp");
    EXPECT_EQ(registry.Value(kMachineClasses + L".dib", L""), L"Glimmerly.bmp");
    EXPECT_EQ(registry.Value(kFileExts + L"dib", L"ProgID"), L"Glimmerly.bmp");
    ExpectClass(L"bmp", kExe + L",0");
}

TEST_F(FileTypePassTest, XpAndOlderWithNothingSelectedWriteNothing) {
    for (WindowsFamily family : {Xp, Older}) {
        registry.log.clear();
        EXPECT_EQ(Run(family, {}, 1), 0);
        EXPECT_TRUE(registry.log.empty()) << family;
    }
}

TEST_F(FileTypePassTest, VistaWithNothingSelectedRegistersEveryClassAndCapability) {
    EXPECT_EQ(Run(Vista, {}, 0, 1), 0);
    std::set<std::wstring> classes;
    std::map<std::wstring, std::wstring> capabilities;
    for (int row = 0; row < 63; ++row)
        for (const auto& extension : ExpectedExtensions(row)) {
            classes.insert(L"glimmerly." + extension.second);
            capabilities[L"." + extension.first] = L"Glimmerly." + extension.second;
            ExpectClass(extension.second, IconOf(row));
        }
    EXPECT_EQ(classes.size(), 69u);
    EXPECT_EQ(ClassKeys(), classes);
    EXPECT_EQ(capabilities.size(), 87u);
    EXPECT_EQ(*registry.Values(kCapabilities), capabilities);
    EXPECT_EQ(MachineExtensionKeys(), (std::set<std::wstring>{L".jpg", L".png", L".tif"}));
    EXPECT_EQ(registry.Value(kMachineClasses + L".tif", L""), L"Glimmerly.tif");
    EXPECT_TRUE(UserKeys().empty()) << "no UserChoice and no NoOpenWith";
}

TEST_F(FileTypePassTest, VistaRow23OnWindows7RenewsTheUserChoices) {
    registry.keys[RecordingRegistry::Lower(kFileExts + L"jpg\\UserChoice")][L"Hash"] = L"old";
    EXPECT_EQ(Run(Vista, {23}), 1);
    for (const wchar_t* extension : {L"jpg", L"jpeg", L"jfif", L"jpe"}) {
        SCOPED_TRACE(extension);
        std::wstring userChoice = kFileExts + extension + L"\\UserChoice";
        EXPECT_EQ(registry.Value(kMachineClasses + L"." + extension, L""), L"Glimmerly.jpg");
        EXPECT_LT(registry.Position(L"delete " + userChoice), registry.Position(L"create " + userChoice));
        EXPECT_EQ(*registry.Values(userChoice),
                  (std::map<std::wstring, std::wstring>{{L"Progid", L"Glimmerly.jpg"}}));
    }
    EXPECT_EQ(MachineExtensionKeys(),
              (std::set<std::wstring>{L".jpg", L".jpeg", L".jfif", L".jpe", L".png", L".tif"}));
    EXPECT_TRUE(registry.KeysUnder(L"hkcu\\software\\classes").empty());
    EXPECT_EQ(registry.Values(kFileExts + L"png\\UserChoice"), nullptr);
}

TEST_F(FileTypePassTest, VistaOnWindows8MarksThePackagedAppsLast) {
    EXPECT_EQ(Run(Vista, {23}, 0, 1), 1);
    size_t lastFileType =
        registry.Position(L"value " + kFileExts + L"jpe\\UserChoice : Progid = Glimmerly.jpg");
    for (const wchar_t* appClass : kAppClasses) {
        std::wstring key = L"HKCU\\SOFTWARE\\Classes\\" + std::wstring(appClass);
        EXPECT_GT(registry.Position(L"create " + key), lastFileType);
        EXPECT_EQ(*registry.Values(key), (std::map<std::wstring, std::wstring>{{L"NoOpenWith", L""}}));
    }
    EXPECT_EQ(registry.log.size(),
              registry.Position(L"close HKCU\\SOFTWARE\\Classes\\" + std::wstring(kAppClasses[4])) + 1);
}

TEST_F(FileTypePassTest, OlderFamilyRegistersTheSelectedRowsOnTheMachineOnly) {
    EXPECT_EQ(Run(Older, {16, 19}, 1), 1);
    EXPECT_EQ(MachineExtensionKeys(), (std::set<std::wstring>{L".gif", L".ico"}));
    EXPECT_EQ(registry.Value(kMachineClasses + L".ico", L""), L"Glimmerly.ico");
    EXPECT_EQ(ClassKeys(), (std::set<std::wstring>{L"glimmerly.gif", L"glimmerly.ico"}));
    ExpectClass(L"gif", kExe + L",0");
    ExpectClass(L"ico", L"%1");
    EXPECT_TRUE(UserKeys().empty());
    EXPECT_TRUE(registry.Values(kCapabilities)->empty());
}

TEST_F(FileTypePassTest, MediaRowsUseTheirOwnIcons) {
    Run(Older, {49, 50, 53, 57});
    struct {
        const wchar_t* suffix;
        const wchar_t* icon;
    } cases[] = {{L"swf", L",0"}, {L"flv", L",0"}, {L"ttf", L",0"}, {L"mpg", L",9"},
                 {L"mpe", L",9"}, {L"mid", L",8"}, {L"rmi", L",8"}};
    for (const auto& c : cases)
        ExpectClass(c.suffix, kExe + c.icon);
    EXPECT_EQ(ClassKeys(),
              (std::set<std::wstring>{L"glimmerly.swf", L"glimmerly.flv", L"glimmerly.ttf", L"glimmerly.mpg",
                                      L"glimmerly.mpe", L"glimmerly.mid", L"glimmerly.rmi"}));
    EXPECT_EQ(registry.Value(kMachineClasses + L".mpeg", L""), L"Glimmerly.mpg");
}

// Before an extension is pointed at a class of ours, what it named is kept for the uninstaller; a name of
// ours was kept by an earlier installation already, with what was there before it.
TEST_F(FileTypePassTest, KeepsWhatItReplacesForTheUninstaller) {
    const std::wstring defaults = L"HKLM\\SOFTWARE\\Glimmerly\\EarlierDefaults";
    const std::wstring choices = L"HKCU\\Software\\Glimmerly\\EarlierChoices";
    struct {
        WindowsFamily family;
        std::vector<int> rows;
        std::wstring key, name, before, record, extension, recorded;
    } cases[] = {
        {Vista, {}, kMachineClasses + L".png", L"", L"pngfile", defaults, L".png", L"pngfile"},
        {Vista, {}, kMachineClasses + L".png", L"", L"Glimmerly.png", defaults, L".png", L"<missing>"},
        {Vista,
         {23},
         kFileExts + L"jpeg\\UserChoice",
         L"Progid",
         L"Other.jpg",
         choices,
         L".jpeg",
         L"Other.jpg"},
        {Xp, {2}, kFileExts + L"dib", L"ProgID", L"Paint.Picture", choices, L".dib", L"Paint.Picture"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key + L" " + c.before);
        registry = RecordingRegistry();
        std::fill(std::begin(selection), std::end(selection), 0);
        registry.keys[RecordingRegistry::Lower(c.key)][c.name] = c.before;
        Run(c.family, c.rows);
        EXPECT_EQ(registry.Value(c.record, c.extension), c.recorded);
        EXPECT_EQ(registry.Value(c.key, c.name).rfind(L"Glimmerly.", 0), 0u);
    }
}

TEST_F(FileTypePassTest, AFailedOpenSkipsOnlyItsOwnWrites) {
    registry.failing = {RecordingRegistry::Lower(kFileExts + L"bmp")};
    Run(Xp, {2});
    EXPECT_EQ(registry.Value(kFileExts + L"dib", L"ProgID"), L"Glimmerly.bmp");
    EXPECT_EQ(registry.Value(kFileExts + L"bmp", L"ProgID"), L"<missing>");
    ExpectClass(L"bmp", kExe + L",0");
}

TEST_F(FileTypePassTest, VistaSkipsWhatItCannotOpenOrCreate) {
    registry.failing = {
        RecordingRegistry::Lower(kCapabilities), RecordingRegistry::Lower(kFileExts + L"gif\\UserChoice"),
        RecordingRegistry::Lower(L"HKCU\\SOFTWARE\\Classes\\" + std::wstring(kAppClasses[1]))};
    EXPECT_EQ(Run(Vista, {16, 19}, 0, 1), 1);
    EXPECT_TRUE(registry.Values(kCapabilities)->empty());
    EXPECT_EQ(registry.Values(kFileExts + L"gif\\UserChoice"), nullptr);
    EXPECT_EQ(registry.Value(kFileExts + L"ico\\UserChoice", L"Progid"), L"Glimmerly.ico");
    EXPECT_EQ(ClassKeys().size(), 69u);
    int marked = 0;
    for (const wchar_t* appClass : kAppClasses)
        marked += registry.Value(L"HKCU\\SOFTWARE\\Classes\\" + std::wstring(appClass), L"NoOpenWith") == L"";
    EXPECT_EQ(marked, 4);
}

} // namespace
