#include "install/PayloadExtraction.h"

#include "install/ArchiveFile.h"
#include "install/InstallProgress.h"
#include "install/MemberWriters.h"
#include "install/SwitchOver.h"

#include "TestFiles.h"
#include "TestZip.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include <windows.h>
#include <iowin32.h>
#include <stdio.h>
#include <string>
#include <vector>

namespace {

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring CurrentDirectory() {
    wchar_t buffer[kTempPathChars] = L"";
    GetCurrentDirectoryW(kTempPathChars, buffer);
    return buffer;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFile(const std::wstring& path) {
    std::string data;
    return ReadFileBytes(path, &data) ? data : "<missing>";
}

void WriteFile(const std::wstring& path, const std::string& data) {
    WriteFileBytes(path, data);
}

FILETIME LastWriteTime(const std::wstring& path) {
    FILETIME times[3] = {};
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        GetFileTime(file, &times[0], &times[1], &times[2]);
        CloseHandle(file);
    }
    return times[2];
}

unsigned long long Ticks(const FILETIME& time) {
    return ((unsigned long long)time.dwHighDateTime << 32) | time.dwLowDateTime;
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

// Names of the entries directly in a folder, sorted.
std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// Every file below a folder (path with '/' -> bytes) and every empty folder (path ending in '/').
std::map<std::string, std::string> Tree(const std::wstring& folder, const std::string& prefix = "") {
    std::map<std::string, std::string> files;
    std::vector<std::wstring> names = FolderEntries(folder);
    if (names.empty() && !prefix.empty())
        files[prefix] = "";
    for (const std::wstring& name : names) {
        std::string narrow = prefix + std::string(name.begin(), name.end());
        if (IsFolder(folder + L"\\" + name)) {
            std::map<std::string, std::string> inner = Tree(folder + L"\\" + name, narrow + "/");
            files.insert(inner.begin(), inner.end());
        } else {
            files[narrow] = ReadFile(folder + L"\\" + name);
        }
    }
    return files;
}

// A scratch folder with an empty target folder in it; the current directory is put back afterwards.
class Extraction : public ::testing::Test {
  protected:
    void SetUp() override {
        startDirectory = CurrentDirectory();
        wchar_t temp[kTempPathChars];
        GetTempPathW(kTempPathChars, temp);
        root = std::wstring(temp) + L"glimmerly-extract-" + std::to_wstring(GetCurrentProcessId());
        RemoveTree(root);
        CreateDirectoryW(root.c_str(), NULL);
        target = root + L"\\target\\";
        CreateDirectoryW(target.c_str(), NULL);
        archive = root + L"\\payload.zip";
    }
    void TearDown() override {
        SetCurrentDirectoryW(startDirectory.c_str());
        RemoveTree(root);
    }
    InstallResult Extract(const std::vector<TestMember>& members, int keepIcons = 0,
                          const InstallProgress* progress = NULL) {
        WriteFile(archive, BuildTestZip(members));
        return ExtractArchive(archive.c_str(), target.c_str(), keepIcons, progress, NULL, 0);
    }
    std::wstring InTarget(const std::string& name) {
        std::wstring path = target + Widen(name);
        for (wchar_t& c : path)
            c = c == L'/' ? L'\\' : c;
        return path;
    }

    std::wstring startDirectory, root, target, archive;
};

TEST(IsSafeMemberName, OnlyNamesThatStayBelowTheFolder) {
    const struct {
        const wchar_t* name;
        int safe;
    } cases[] = {
        {L"gl_main32.exe", 1},
        {L"Plugins/Icons.dll", 1},
        {L"Toolbars/", 1},
        {L"a\\b\\c.txt", 1},
        {L"a..b/c..", 1},
        {L".hidden/./x", 1},
        {L"", 0},
        {L"/etc/x", 0},
        {L"\\x.txt", 0},
        {L"\\\\server\\share\\x", 0},
        {L"C:/x.txt", 0},
        {L"C:x.txt", 0},
        {L"a/b.txt:stream", 0},
        {L"..", 0},
        {L"../x.txt", 0},
        {L"a/../../x.txt", 0},
        {L"a\\..\\..\\x.txt", 0},
        {L"a/..", 0},
        {L"a/.../x.txt", 0},
        {L"a/. ./x.txt", 0},
        {L"a/.. /x.txt", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsSafeMemberName(c.name), c.safe) << c.name;
}

TEST(KeepIconsForVersion, RuleOfVersionSizeAndCompany) {
    const struct {
        const wchar_t* version;
        unsigned long long size;
        const wchar_t* company;
        int keep;
    } cases[] = {
        {L"4.31", 226816, L"Glimmerly Works", 1},
        {L"4.31", 1000, L"Glimmerly Works", 1},
        {L"5.00", 226816, L"Glimmerly Works", 1},
        {L"4.312", 226816, L"Glimmerly Works", 1},
        {L"4.30", 226816, L"Glimmerly Works", 0},
        {L"4.30", 226816, L"GLIMMERLY works", 0},
        {L"4.3", 226816, L"Glimmerly Works", 0},
        {L"4.30", 226817, L"Glimmerly Works", 1},
        {L"4.30", 0, L"Glimmerly Works", 1},
        {L"4.30", 226816, L"Other Company", 1},
        {L"4.30", 226816, L"", 1},
        {L"4.20", 226816, L"Other Company", 1},
        {L"4.20", 5000, L"Other Company", 1},
        {L"4.20", 5000, L"Glimmerly Works", 0},
        {L"4.29", 226816, L"glimmerly works", 0},
        {L"4.20", 5000, L"Glimmerly Works Inc.", 1},
        {L"0.00", 0, L"Glimmerly Works", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KeepIconsForVersion(c.version, c.size, c.company), c.keep)
            << c.version << " " << c.size << " " << c.company;
}

// Libraries with version resources, built by the tests' build (see tests/CMakeLists.txt).
TEST(DecideKeepIcons, InstalledLibrariesOfEachKind) {
    const std::wstring folder = L"Z:" + Widen(GLIMMERLY_FIXTURE_DIR) + L"/icons/";
    const struct {
        const wchar_t* file;
        int keep;
    } cases[] = {
        {L"icons_431.dll", 1},
        {L"icons_430_exact.dll", 0},
        {L"icons_430_other_size.dll", 1},
        {L"icons_420_other_company.dll", 1},
        {L"icons_420.dll", 0},
        {L"icons_420_unicode_block.dll", 1},
        {L"icons_no_version.dll", 0},
        {L"missing.dll", 0},
    };
    ASSERT_TRUE(Exists(folder + L"icons_430_exact.dll")) << "fixtures missing in " << folder;
    for (const auto& c : cases)
        EXPECT_EQ(DecideKeepIcons((folder + c.file).c_str()), c.keep) << c.file;
}

std::vector<std::pair<unsigned long long, unsigned long long>> progressCalls;
void RecordProgress(void*, unsigned long long done, unsigned long long total) {
    progressCalls.push_back({done, total});
}
std::vector<std::string> membersNamed;
void RecordMember(void*, const char* name) {
    membersNamed.push_back(name);
}

TEST_F(Extraction, WritesFoldersAndFilesAndStaysInTheTarget) {
    std::string big(3000000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = (char)((i * 7919) >> 5);
    std::vector<TestMember> members = {
        DirectoryEntry("Plugins/"),
        FileMember("gl_main32.exe", "MZ viewer"),
        FileMember("Plugins/big.bin", big),
        FileMember("Html/page.html", "<html></html>", false),
        DirectoryEntry("Html/"),
        FileMember("Deep/er/still/file.txt", "deep"),
        FileMember("empty.txt", ""),
        DirectoryEntry("Empty/"),
    };
    progressCalls.clear();
    membersNamed.clear();
    const InstallProgress progress = {RecordProgress, NULL, RecordMember, NULL};
    ASSERT_EQ(Extract(members, 0, &progress), kInstallComplete);
    // About one call per MiB, the last one at the end, never a step back.
    const unsigned long long total = big.size() + 9 + 13 + 4;
    ASSERT_EQ(progressCalls.size(), 3u);
    EXPECT_EQ(progressCalls.back(), std::make_pair(total, total));
    EXPECT_TRUE(progressCalls[0].first < progressCalls[1].first && progressCalls[1].first < total);
    // Each member by its name in the archive, in archive order, as it is reached.
    EXPECT_EQ(membersNamed,
              (std::vector<std::string>{"Plugins/", "gl_main32.exe", "Plugins/big.bin", "Html/page.html",
                                        "Html/", "Deep/er/still/file.txt", "empty.txt", "Empty/"}));

    EXPECT_EQ(ReadFile(InTarget("gl_main32.exe")), "MZ viewer");
    EXPECT_EQ(ReadFile(InTarget("Plugins/big.bin")), big);
    EXPECT_EQ(ReadFile(InTarget("Html/page.html")), "<html></html>");
    EXPECT_EQ(ReadFile(InTarget("Deep/er/still/file.txt")), "deep");
    EXPECT_EQ(ReadFile(InTarget("empty.txt")), "");
    EXPECT_TRUE(IsFolder(InTarget("Empty")));
    EXPECT_EQ(CurrentDirectory() + L"\\", target);
}

TEST_F(Extraction, FilesCarryTheMemberDateAsLocalTime) {
    const struct {
        int year, month, day, hour, minute, second;
    } dates[] = {{2019, 11, 23, 14, 7, 36}, {1999, 1, 1, 0, 0, 0}, {2024, 7, 15, 23, 59, 58}};
    std::vector<TestMember> members;
    for (size_t i = 0; i < 3; ++i) {
        TestMember member = FileMember("dated" + std::to_string(i) + ".txt", "x");
        const auto& d = dates[i];
        member.dosDateTime = TestMember::DosDateTime(d.year, d.month, d.day, d.hour, d.minute, d.second);
        members.push_back(member);
    }
    ASSERT_EQ(Extract(members), kInstallComplete);

    for (size_t i = 0; i < 3; ++i) {
        std::wstring path = InTarget("dated" + std::to_string(i) + ".txt");
        FILETIME times[3] = {}, local;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        GetFileTime(file, &times[0], &times[1], &times[2]);
        CloseHandle(file);
        for (int which : {0, 2}) {
            SYSTEMTIME shown;
            FileTimeToLocalFileTime(&times[which], &local);
            FileTimeToSystemTime(&local, &shown);
            const auto& d = dates[i];
            EXPECT_EQ(shown.wYear, d.year);
            EXPECT_EQ(shown.wMonth, d.month);
            EXPECT_EQ(shown.wDay, d.day);
            EXPECT_EQ(shown.wHour, d.hour);
            EXPECT_EQ(shown.wMinute, d.minute);
            EXPECT_EQ(shown.wSecond, d.second);
        }
    }
}

TEST_F(Extraction, ExistingFilesAreOverwrittenWholeAndOthersStay) {
    CreateDirectoryW(InTarget("Help").c_str(), NULL);
    WriteFile(InTarget("Help/readme.txt"), "an older and much longer text");
    WriteFile(InTarget("Help/notes.txt"), "the user's");
    ASSERT_EQ(Extract({FileMember("Help/readme.txt", "new"), FileMember("Help/Deep/more.txt", "more")}),
              kInstallComplete);
    EXPECT_EQ(ReadFile(InTarget("Help/readme.txt")), "new");
    EXPECT_EQ(ReadFile(InTarget("Help/Deep/more.txt")), "more");
    EXPECT_EQ(ReadFile(InTarget("Help/notes.txt")), "the user's");
    EXPECT_EQ(FolderEntries(target), std::vector<std::wstring>{L"Help"});
}

TEST_F(Extraction, KeepIconsSkipsEveryNameContainingIconsDll) {
    const char* names[] = {"Plugins/Icons.dll",     "Plugins/MyIcons.dll", "Other/deep/ICONS.DLL",
                           "Plugins/icons.dll.bak", "Plugins/Icon.dll",    "Plugins/Icons.dl"};
    const bool mentionsIcons[] = {true, true, true, true, false, false};
    for (int flag : {0, 1, 2}) {
        SCOPED_TRACE(flag);
        std::vector<TestMember> members;
        for (const char* name : names)
            members.push_back(FileMember(name, "new"));
        CreateDirectoryW(InTarget("Plugins").c_str(), NULL);
        WriteFile(InTarget("Plugins/Icons.dll"), "installed");
        ASSERT_EQ(Extract(members, flag), kInstallComplete);
        for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
            bool skipped = flag == 1 && mentionsIcons[i];
            std::string expected = skipped ? "<missing>" : "new";
            if (skipped && std::string(names[i]) == "Plugins/Icons.dll")
                expected = "installed";
            EXPECT_EQ(ReadFile(InTarget(names[i])), expected) << names[i];
        }
        SetCurrentDirectoryW(startDirectory.c_str());
        RemoveTree(target);
        CreateDirectoryW(target.c_str(), NULL);
    }
}

// An archive that cannot be walked fails before any member is written: the installed file keeps its
// contents and date.
TEST_F(Extraction, UnreadableArchiveWritesNothing) {
    const std::string good = BuildTestZip({FileMember("a.txt", "first"), FileMember("c.txt", "third")});
    std::string truncated = BuildTestZip({FileMember("a.txt", "first"), FileMember("Plugins/b.dll", "x")});
    truncated.resize(truncated.size() / 2);
    std::string cutInCentral = good.substr(0, good.size() - 30) + good.substr(good.size() - 22);
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"truncated", truncated},
        {"central directory damaged", cutInCentral},
        {"not an archive", "just some text, no archive at all"},
    };

    WriteFile(InTarget("a.txt"), "installed");
    FILETIME installedTime = LastWriteTime(InTarget("a.txt"));
    for (const auto& c : cases) {
        WriteFile(archive, c.bytes);
        EXPECT_EQ(ExtractArchive(archive.c_str(), target.c_str(), 0, NULL, NULL, 0), kInstallFailed)
            << c.what;
        EXPECT_EQ(ReadFile(InTarget("a.txt")), "installed") << c.what;
        EXPECT_EQ(Ticks(LastWriteTime(InTarget("a.txt"))), Ticks(installedTime)) << c.what;
        EXPECT_EQ(FolderEntries(target), std::vector<std::wstring>{L"a.txt"}) << c.what;
        EXPECT_EQ(CurrentDirectory(), startDirectory) << c.what;
    }
}

// An upgrade that fails gives back the installation as it was: a damaged member (the library checks each
// one as it is read, behind the payload's record) or a folder in the way of a member.
TEST_F(Extraction, FailedUpgradeGivesBackTheInstallation) {
    TestMember badCrc = FileMember("b.dll", "second member");
    badCrc.crcDelta = 1;
    TestMember storedBadCrc = FileMember("b.dll", "second member", false);
    storedBadCrc.crcDelta = 0x100;
    TestMember longer = FileMember("b.dll", "second member");
    longer.sizeDelta = 5;
    TestMember shorter = FileMember("b.dll", "second member", false);
    shorter.sizeDelta = -3;
    const struct {
        const char* what;
        TestMember last;
    } cases[] = {
        {"deflated CRC", badCrc},
        {"stored CRC", storedBadCrc},
        {"recorded size too large", longer},
        {"recorded size too small", shorter},
        {"folder in the way", FileMember("Folder.txt", "new")},
    };
    CreateDirectoryW(InTarget("Plugins").c_str(), NULL);
    CreateDirectoryW(InTarget("Folder.txt").c_str(), NULL);
    const char* installed[] = {"a.txt", "Plugins/b.dll", "user.txt"};
    for (const char* name : installed)
        WriteFile(InTarget(name), std::string("installed ") + name);
    FILETIME time = LastWriteTime(InTarget("a.txt"));
    const std::vector<std::wstring> entries = FolderEntries(target);
    for (const auto& c : cases) {
        EXPECT_EQ(Extract({FileMember("a.txt", "first"), FileMember("Plugins/b.dll", "b"),
                           FileMember("c.txt", "c"), c.last, FileMember("d.txt", "after")}),
                  kInstallFailed)
            << c.what;
        for (const char* name : installed)
            EXPECT_EQ(ReadFile(InTarget(name)), std::string("installed ") + name) << c.what;
        EXPECT_EQ(Ticks(LastWriteTime(InTarget("a.txt"))), Ticks(time)) << c.what;
        EXPECT_EQ(FolderEntries(target), entries) << c.what;
        EXPECT_EQ(FolderEntries(InTarget("Plugins")), std::vector<std::wstring>{L"b.dll"}) << c.what;
        EXPECT_EQ(CurrentDirectory(), startDirectory) << c.what;
    }
}

// Where a killed upgrade leaves its files, at each point of its work: the next run gives back the earlier
// installation, or keeps the new one once the switch-over was marked done; no work file stays.
TEST_F(Extraction, RepairUndoesOrFinishesAKilledRun) {
    typedef std::map<std::string, std::string> Files;
    const Files earlier = {{"a.txt", "old a"}, {"sub/b.txt", "old b"}, {"user.txt", "u"}};
    const Files later = {{"a.txt", "new a"},
                         {"sub/b.txt", "new b"},
                         {"c.txt", "new c"},
                         {"New/d.txt", "new d"},
                         {"user.txt", "u"}};
    const std::string journal = "R 00000020 a.txt\nR 00000020 sub\\b.txt\nA ffffffff c.txt\nA ffffffff New\n";
    // Where each of old a, old b, new a, new b, new c, new d stands: in the target folder (T), staged (S),
    // moved aside (A) or gone (-).
    const char* names[] = {"a.txt", "sub/b.txt", "a.txt", "sub/b.txt", "c.txt", "New/d.txt"};
    const char* contents[] = {"old a", "old b", "new a", "new b", "new c", "new d"};
    const std::map<char, std::string> places = {
        {'T', ""}, {'S', "~glimmerly-setup/new/"}, {'A', "~glimmerly-setup/old/"}};
    const struct {
        const char* when;
        const char* journal;
        const char* where;
        const Files& expected;
    } cases[] = {
        {"while staging", "", "TTS---", earlier},
        {"before the first move", "switch.log", "TTSSSS", earlier},
        {"between moving aside and into place", "switch.log", "ATSSSS", earlier},
        {"halfway", "switch.log", "AATSSS", earlier},
        {"after the last move", "switch.log", "AATTTT", earlier},
        {"after the switch-over was marked done", "switch.done", "A-TTTT", later},
    };
    for (const auto& c : cases) {
        RemoveTree(target);
        CreateDirectoryW(target.c_str(), NULL);
        Files files = {{"user.txt", "u"}, {"sub/", ""}, {places.at('S'), ""}};
        for (int i = 0; i < 6; ++i) {
            if (c.where[i] != '-')
                files[places.at(c.where[i]) + names[i]] = contents[i];
        }
        if (c.journal[0] != '\0')
            files["~glimmerly-setup/" + std::string(c.journal)] =
                std::string((const char*)Widen(journal).c_str(), 2 * journal.size());
        for (const auto& file : files) {
            for (size_t slash = file.first.find('/'); slash != std::string::npos;
                 slash = file.first.find('/', slash + 1))
                CreateDirectoryW(InTarget(file.first.substr(0, slash)).c_str(), NULL);
            if (file.first.back() != '/')
                WriteFile(InTarget(file.first), file.second);
        }
        EXPECT_EQ(RepairInterruptedInstallation(target.c_str()), 1) << c.when;
        EXPECT_EQ(Tree(target), c.expected) << c.when;
        EXPECT_EQ(CurrentDirectory(), startDirectory) << c.when;
    }
}

TEST_F(Extraction, NameThatClimbsOutFailsTheWholeArchive) {
    const char* names[] = {"../evil.txt", "a/../../evil.txt",    "a\\..\\..\\evil.txt",
                           "/evil.txt",   "\\evil.txt",          "C:/evil.txt",
                           "C:evil.txt",  "Plugins/../../evil/", "a/.../evil.txt"};
    for (const char* name : names) {
        ASSERT_EQ(Extract({FileMember("first.txt", "1"), FileMember(name, "evil")}), kInstallFailed) << name;
        EXPECT_TRUE(FolderEntries(target).empty()) << name;
        EXPECT_EQ(FolderEntries(root), (std::vector<std::wstring>{L"payload.zip", L"target"})) << name;
        EXPECT_FALSE(Exists(L"C:\\evil.txt")) << name;
    }
}

TEST_F(Extraction, NamesBeyondTheBuffersFail) {
    // 519 bytes fit the name buffer but not the 323 characters of the wide name; 520 bytes fit neither.
    const size_t lengths[] = {330, 519, 520, 600};
    for (size_t length : lengths) {
        std::string name = "dir/" + std::string(length - 4, 'n');
        EXPECT_EQ(Extract({FileMember(name, "x")}), kInstallFailed) << length;
        EXPECT_TRUE(FolderEntries(target).empty()) << length;
    }
    EXPECT_EQ(Extract({FileMember("dir/" + std::string(100, 'n'), "fits")}), kInstallComplete);
}

TEST_F(Extraction, MissingArchiveOrTargetFails) {
    EXPECT_EQ(ExtractArchive(NULL, target.c_str(), 0, NULL, NULL, 0), kInstallFailed);
    EXPECT_EQ(ExtractArchive(L"", target.c_str(), 0, NULL, NULL, 0), kInstallFailed);
    EXPECT_EQ(ExtractArchive((root + L"\\absent.zip").c_str(), target.c_str(), 0, NULL, NULL, 0),
              kInstallFailed);
    WriteFile(archive, BuildTestZip({FileMember("a.txt", "a")}));
    EXPECT_EQ(ExtractArchive(archive.c_str(), (root + L"\\absent\\").c_str(), 0, NULL, NULL, 0),
              kInstallFailed);
    EXPECT_FALSE(Exists(root + L"\\absent"));
    EXPECT_EQ(CurrentDirectory(), startDirectory);
}

TEST_F(Extraction, WithoutKeptPathsFilesLandInTheCurrentFolder) {
    WriteFile(archive, BuildTestZip({FileMember("a/b/c.txt", "c"), FileMember("d.txt", "d")}));
    zlib_filefunc64_def functions;
    fill_win32_filefunc64W(&functions);
    unzFile opened = unzOpen2_64(archive.c_str(), &functions);
    ASSERT_NE(opened, nullptr);
    SetCurrentDirectoryW(target.c_str());
    EXPECT_EQ(ExtractAllMembers(opened, 0, 1, NULL, 0, NULL, 0), 0);
    unzClose(opened);
    EXPECT_EQ(ReadFile(InTarget("c.txt")), "c");
    EXPECT_EQ(ReadFile(InTarget("d.txt")), "d");
    EXPECT_FALSE(Exists(InTarget("a")));
}

TEST_F(Extraction, CreateMemberFoldersMakesEachLevel) {
    SetCurrentDirectoryW(target.c_str());
    EXPECT_EQ(CreateMemberFolders(L""), 0);
    EXPECT_EQ(CreateMemberFolders(L"one/two/three/"), 1);
    EXPECT_TRUE(IsFolder(InTarget("one/two/three")));
    EXPECT_EQ(CreateMemberFolders(L"one\\two\\four"), 1);
    EXPECT_TRUE(IsFolder(InTarget("one/two/four")));
    EXPECT_EQ(CreateMemberFolders(L"one/two"), 1);
}

// The archive's file functions against the plain bytes of the file, across the edges of their buffer.
// At most kWriterJobs members and kWriterBlocks blocks wait in the writers' queue; more members than
// that, and a member of more blocks, still arrive whole and dated, with writer threads or without.
TEST_F(Extraction, WritersPassEveryMemberThroughTheBoundedQueue) {
    std::string large((kWriterBlocks + 2) * kWriterBlockBytes + 17, '\0');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = (char)((i * 7919) >> 7);
    auto queueData = [](MemberWriters* writers, const std::string& data) {
        for (size_t done = 0; done < data.size();) {
            WriterBlock* block = TakeBlock(writers);
            ASSERT_NE(block, nullptr);
            unsigned long length = (unsigned long)std::min(data.size() - done, (size_t)kWriterBlockBytes);
            memcpy(block->data, data.data() + done, length);
            QueueBlock(writers, block, length);
            done += length;
        }
        EndMemberFile(writers);
    };
    const uint32_t date = TestMember::DosDateTime(2021, 3, 4, 5, 6, 8);
    const int count = 2 * kWriterJobs;
    for (int threads : {0, 1, (int)kWriterThreads}) {
        SCOPED_TRACE(threads);
        SetCurrentDirectoryW(target.c_str());
        MemberWriters* writers = StartMemberWriters(threads);
        ASSERT_NE(writers, nullptr);
        ASSERT_TRUE(QueueMemberFolder(writers, L"Early"));
        for (int i = 0; i < count; ++i) {
            // Every other file lies in a folder that has no entry: the writer makes it.
            std::wstring folder = i % 2 ? L"Early" : L"Late\\" + std::to_wstring(i % 3);
            ASSERT_TRUE(QueueMemberFile(writers, (folder + L"\\m" + std::to_wstring(i)).c_str(),
                                        folder.c_str(), date));
            queueData(writers, i == count / 2 ? large : std::string(i % 5, (char)('a' + i % 26)));
        }
        EXPECT_EQ(FinishMemberWriters(writers), 0);
        for (int i = 0; i < count; ++i) {
            std::string folder = i % 2 ? "Early" : "Late/" + std::to_string(i % 3);
            std::wstring path = InTarget(folder + "/m" + std::to_string(i));
            EXPECT_EQ(ReadFile(path), i == count / 2 ? large : std::string(i % 5, (char)('a' + i % 26))) << i;
            FILETIME written = LastWriteTime(path), expected, local;
            DosDateTimeToFileTime(HIWORD(date), LOWORD(date), &local);
            LocalFileTimeToFileTime(&local, &expected);
            EXPECT_EQ(Ticks(written), Ticks(expected)) << i;
        }
        SetCurrentDirectoryW(startDirectory.c_str());
        RemoveTree(target);
        CreateDirectoryW(target.c_str(), NULL);
    }
}

// Wine writes Z:\\dev\\full to the host's /dev/full, where every write fails as on a full disk. The first
// failed write stops the caller at once: no further block, no later member.
TEST_F(Extraction, FailedWriteStopsTheWritersAtOnce) {
    const uint32_t date = TestMember::DosDateTime(2021, 3, 4, 5, 6, 8);
    for (int threads : {0, 1, (int)kWriterThreads}) {
        SCOPED_TRACE(threads);
        SetCurrentDirectoryW(target.c_str());
        MemberWriters* writers = StartMemberWriters(threads);
        ASSERT_TRUE(QueueMemberFile(writers, L"before.txt", NULL, date));
        WriterBlock* block = TakeBlock(writers);
        block->data[0] = 'b';
        QueueBlock(writers, block, 1);
        EndMemberFile(writers);
        ASSERT_TRUE(QueueMemberFile(writers, L"Z:\\dev\\full", NULL, date));
        int taken = 0;
        for (; taken < 4 * kWriterBlocks && (block = TakeBlock(writers)) != NULL; ++taken)
            QueueBlock(writers, block, kWriterBlockBytes);
        EndMemberFile(writers);
        EXPECT_LT(taken, 4 * kWriterBlocks);
        EXPECT_FALSE(QueueMemberFile(writers, L"after.txt", NULL, date));
        EXPECT_EQ(FinishMemberWriters(writers), -1);
        EXPECT_EQ(ReadFile(InTarget("before.txt")), "b");
        EXPECT_FALSE(Exists(InTarget("after.txt")));
        SetCurrentDirectoryW(startDirectory.c_str());
    }
}

TEST_F(Extraction, ArchiveFileReadsWhatIsThereWhereverItSeeks) {
    std::string bytes(3 * kArchiveReadBytes + 100, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = (char)(i * 7 % 251);
    WriteFile(archive, bytes);
    const size_t size = bytes.size();
    const struct {
        int origin;
        size_t offset, count, at;
    } steps[] = {
        {ZLIB_FILEFUNC_SEEK_SET, 0, 10, 0},
        {ZLIB_FILEFUNC_SEEK_CUR, 5, 100, 15},
        {ZLIB_FILEFUNC_SEEK_SET, kArchiveReadBytes - 10, 30, kArchiveReadBytes - 10},
        {ZLIB_FILEFUNC_SEEK_SET, 1000, kArchiveReadBytes + 5000, 1000},
        {ZLIB_FILEFUNC_SEEK_CUR, 0, 1, kArchiveReadBytes + 6000},
        {ZLIB_FILEFUNC_SEEK_SET, 2 * kArchiveReadBytes + 1, 2 * kArchiveReadBytes, 2 * kArchiveReadBytes + 1},
        {ZLIB_FILEFUNC_SEEK_END, 0, 10, size},
        {ZLIB_FILEFUNC_SEEK_SET, size - 5, 10, size - 5},
        {ZLIB_FILEFUNC_SEEK_SET, 3, 4, 3},
    };
    zlib_filefunc64_def functions;
    FillArchiveFileFunctions(&functions);
    EXPECT_EQ(
        functions.zopen64_file(NULL, archive.c_str(), ZLIB_FILEFUNC_MODE_CREATE | ZLIB_FILEFUNC_MODE_WRITE),
        nullptr);
    voidpf file =
        functions.zopen64_file(NULL, archive.c_str(), ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING);
    ASSERT_NE(file, nullptr);
    std::string read(2 * kArchiveReadBytes, '\0');
    for (const auto& step : steps) {
        SCOPED_TRACE(step.at);
        ASSERT_EQ(functions.zseek64_file(NULL, file, step.offset, step.origin), 0);
        EXPECT_EQ(functions.ztell64_file(NULL, file), step.at);
        uLong got = functions.zread_file(NULL, file, &read[0], (uLong)step.count);
        EXPECT_EQ(got, std::min(step.count, size - step.at));
        EXPECT_EQ(read.substr(0, got), bytes.substr(step.at, got));
        EXPECT_EQ(functions.ztell64_file(NULL, file), step.at + got);
    }
    EXPECT_EQ(functions.zerror_file(NULL, file), 0);
    EXPECT_EQ(functions.zclose_file(NULL, file), 0);
}

// The test program carries payloads as resources "ZIP" (see tests/fixtures/extraction_payloads.rc.in).
class PayloadResource : public Extraction {};

TEST_F(PayloadResource, ExtractsFromTheProgramsOwnResource) {
    ASSERT_EQ(ExtractPayload(1974, L"ZIP", target.c_str(), 0, NULL, NULL, 0), kInstallComplete);
    EXPECT_EQ(ReadFile(InTarget("Docs/readme.txt")), "Glimmerly test payload\r\n");
    EXPECT_EQ(ReadFile(InTarget("top.txt")), "top");
    EXPECT_EQ(CurrentDirectory() + L"\\", target);
}

// 1976 is the sound archive with one byte flipped after its record was made; 1977 has no record.
TEST_F(PayloadResource, FailuresLeaveTheInstallation) {
    WriteFile(InTarget("top.txt"), "installed");
    FILETIME installedTime = LastWriteTime(InTarget("top.txt"));
    EXPECT_EQ(ExtractPayload(1976, L"ZIP", target.c_str(), 0, NULL, NULL, 0), kInstallFailed) << "damaged";
    EXPECT_EQ(ExtractPayload(1977, L"ZIP", target.c_str(), 0, NULL, NULL, 0), kInstallFailed) << "no record";
    EXPECT_EQ(ExtractPayload(1975, L"ZIP", target.c_str(), 0, NULL, NULL, 0), kInstallFailed) << "absent";
    EXPECT_EQ(ExtractPayload(1974, L"TXT", target.c_str(), 0, NULL, NULL, 0), kInstallFailed) << "other type";
    EXPECT_EQ(ExtractPayload(1974, L"ZIP", (root + L"\\absent\\").c_str(), 0, NULL, NULL, 0), kInstallFailed);
    EXPECT_EQ(ReadFile(InTarget("top.txt")), "installed");
    EXPECT_EQ(Ticks(LastWriteTime(InTarget("top.txt"))), Ticks(installedTime));
    EXPECT_EQ(FolderEntries(target), std::vector<std::wstring>{L"top.txt"});
}

std::string OwnResource(int id, const wchar_t* type) {
    HRSRC found = FindResourceW(NULL, MAKEINTRESOURCEW(id), type);
    const char* bytes = found != NULL ? (const char*)LockResource(LoadResource(NULL, found)) : NULL;
    return bytes != NULL ? std::string(bytes, SizeofResource(NULL, found)) : std::string();
}

// The record is the one the build wrote for the sound archive; any change of the bytes fails it.
TEST(PayloadMatchesRecord, AnyDamageOfTheArchiveOrTheRecordFails) {
    const std::string sound = OwnResource(1974, L"ZIP"), record = OwnResource(1974, kPayloadRecordType);
    ASSERT_EQ(record.size(), (size_t)kPayloadRecordBytes);
    auto flipped = [&](size_t at) {
        std::string copy = sound;
        copy[at] ^= 0x20;
        return copy;
    };
    const struct {
        const char* what;
        std::string bytes, record;
        int matches;
    } cases[] = {
        {"sound", sound, record, 1},
        {"first byte flipped", flipped(0), record, 0},
        {"middle byte flipped", flipped(sound.size() / 2), record, 0},
        {"last byte flipped", flipped(sound.size() - 1), record, 0},
        {"one byte short", sound.substr(0, sound.size() - 1), record, 0},
        {"one byte more", sound + '\0', record, 0},
        {"record short", sound, record.substr(0, 7), 0},
        {"record long", sound, record + '\0', 0},
        {"record's size changed", sound, std::string(1, (char)(record[0] ^ 1)) + record.substr(1), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PayloadMatchesRecord(c.bytes.data(), (unsigned long)c.bytes.size(), c.record.data(),
                                       (unsigned long)c.record.size()),
                  c.matches)
            << c.what;
}

} // namespace
