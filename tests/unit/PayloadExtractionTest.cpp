#include "install/PayloadExtraction.h"

#include "install/ArchiveFile.h"
#include "install/InstallProgress.h"
#include "install/MemberWriters.h"
#include "install/JournalRecord.h"
#include "install/SwitchOver.h"
#include "install/SwitchPlan.h"

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
        const Files expected;
        int record = 1; // 0: none; 2: the journal changed after it was recorded
    } cases[] = {
        {"while staging", "", "TTS---", earlier},
        {"before the first move", "switch.log", "TTSSSS", earlier},
        {"between moving aside and into place", "switch.log", "ATSSSS", earlier},
        {"halfway", "switch.log", "AATSSS", earlier},
        {"after the last move", "switch.log", "AATTTT", earlier},
        {"after the switch-over was marked done", "switch.done", "A-TTTT", later},
        // A journal this setup did not record is not carried out: the work folder goes, and nothing moves.
        {"a journal nobody recorded", "switch.log", "ATSSSS", {{"sub/b.txt", "old b"}, {"user.txt", "u"}}, 0},
        {"a journal changed after it was recorded",
         "switch.log",
         "ATSSSS",
         {{"sub/b.txt", "old b"}, {"user.txt", "u"}},
         2},
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
        // As the setup records its journal before the switch-over.
        ForgetJournal(target.c_str());
        std::wstring written = InTarget("~glimmerly-setup/" + std::string(c.journal));
        if (c.journal[0] != '\0' && c.record > 0) {
            ASSERT_TRUE(RecordJournal(target.c_str(), L"~glimmerly-setup", written.c_str()));
        }
        if (c.record == 2) {
            std::string changed = ReadFile(written);
            changed[2 * strlen("R 0000002")] = '1'; // still a journal, with other attributes
            WriteFile(written, changed);
        }
        int refused = -1;
        EXPECT_EQ(RepairInterruptedInstallation(target.c_str(), &refused), 1) << c.when;
        EXPECT_EQ(refused, c.record != 1) << c.when;
        EXPECT_EQ(Tree(target), c.expected) << c.when;
        wchar_t recorded[kWorkNameChars];
        EXPECT_FALSE(RecordedWorkFolder(target.c_str(), recorded)) << c.when;
        EXPECT_EQ(CurrentDirectory(), startDirectory) << c.when;
    }
}

// The digests of runs of "a" as a reference implementation gives them (the million is FIPS 180-4's), around
// the block and padding boundaries, by which a journal is recognised.
TEST(Sha256, DigestsAcrossTheBlockBoundaries) {
    const struct {
        size_t length;
        const char* digest;
    } rows[] = {
        {0, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {55, "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {56, "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {64, "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {1000000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& row : rows) {
        std::string data(row.length, 'a');
        unsigned char digest[kSha256Bytes];
        Sha256(data.data(), data.size(), digest);
        char hex[2 * kSha256Bytes + 1];
        for (int i = 0; i < kSha256Bytes; ++i)
            snprintf(hex + 2 * i, 3, "%02x", digest[i]);
        EXPECT_STREQ(hex, row.digest) << row.length;
    }
}

// Runs a shell script of the host on the host names of Windows paths ($1, $2, ...), as another program of
// the user would plant or remove links: Windows code here cannot make a Unix link, and Wine enforces no
// sharing against a Unix program.
void RunOnHost(const char* script, const std::vector<std::wstring>& paths) {
    typedef char*(__cdecl * UnixName)(const wchar_t*);
    UnixName unixName =
        (UnixName)(void*)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    ASSERT_NE(unixName, nullptr);
    wchar_t temp[kTempPathChars];
    GetTempPathW(kTempPathChars, temp);
    std::wstring done = std::wstring(temp) + L"glimmerly-host-done";
    DeleteFileW(done.c_str());
    std::string command = std::string("Z:\\bin\\sh -c \"") + script + "; touch $0\"";
    std::vector<std::wstring> all = {done};
    all.insert(all.end(), paths.begin(), paths.end());
    for (const std::wstring& path : all) {
        char* name = unixName(path.c_str());
        ASSERT_NE(name, nullptr);
        command += std::string(" \"") + name + "\"";
        HeapFree(GetProcessHeap(), 0, name);
    }
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ASSERT_TRUE(CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // Wine does not wait for a Unix program's end: the script says when it is done.
    for (int i = 0; i < 1000 && !Exists(done); ++i)
        Sleep(10);
    ASSERT_TRUE(Exists(done));
    DeleteFileW(done.c_str());
}

struct PlantedLink {
    const wchar_t* step; // where the installation is when the link appears
    const wchar_t* link; // below the target folder
    const wchar_t* outside;
    bool swapFolder; // the folder at link is renamed away first
} planting;
std::wstring plantTarget, plantOutside;

void PlantLink(const wchar_t* step) {
    if (wcscmp(step, planting.step) != 0)
        return;
    std::wstring link = plantTarget + planting.link;
    RunOnHost(planting.swapFolder ? "mv $2 $2-away; ln -s $1 $2" : "ln -s $1 $2",
              {plantOutside + planting.outside, link});
}

// Another program of the user plants a link in the work folder while an installation runs: nothing is
// written, moved or deleted through it, outside the target folder nothing changes, and a run that cannot
// go on gives back the installation as it was.
TEST_F(Extraction, LinksPlantedDuringTheRunLeadNowhere) {
    const PlantedLink cases[] = {
        {L"staging", L"~glimmerly-setup\\new\\Plugins", L"", false},
        {L"staging", L"~glimmerly-setup\\new\\a.txt", L"\\user.dll", false},
        {L"switching", L"~glimmerly-setup\\old", L"", true},
        {L"switching", L"~glimmerly-setup\\new\\a.txt", L"\\user.dll", true},
        {L"staging", L"~glimmerly-setup\\planted", L"\\user.dll", false},
    };
    plantTarget = target;
    plantOutside = root + L"\\outside";
    SetInstallStepHook(PlantLink);
    for (const PlantedLink& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.link)));
        RunOnHost("rm -rf $1 $2", {target, plantOutside});
        CreateDirectoryW(target.c_str(), NULL);
        CreateDirectoryW(plantOutside.c_str(), NULL);
        WriteFile(plantOutside + L"\\user.dll", "the user's");
        CreateDirectoryW(InTarget("Plugins").c_str(), NULL);
        WriteFile(InTarget("a.txt"), "installed a");
        WriteFile(InTarget("Plugins/b.dll"), "installed b");
        planting = c;
        InstallResult result = Extract({FileMember("a.txt", "new a"), FileMember("Plugins/b.dll", "new b")});
        EXPECT_EQ(Tree(plantOutside), (std::map<std::string, std::string>{{"user.dll", "the user's"}}));
        // Only the link at the work folder's top is met by nothing but the clean-up, which leaves it.
        bool completes = &c == &cases[4];
        EXPECT_EQ(result, completes ? kInstallComplete : kInstallFailed);
        EXPECT_EQ(ReadFile(InTarget("a.txt")), completes ? "new a" : "installed a");
        EXPECT_EQ(ReadFile(InTarget("Plugins/b.dll")), completes ? "new b" : "installed b");
    }
    SetInstallStepHook(NULL);
    RunOnHost("rm -rf $1 $2", {target, plantOutside});
    CreateDirectoryW(target.c_str(), NULL);
}

// A journal this setup recorded is still not carried out where a folder it names was replaced by a link
// meanwhile: the files would move through it.
TEST_F(Extraction, RecordedJournalThroughALinkIsNotCarriedOut) {
    const std::wstring outside = root + L"\\outside";
    RunOnHost("rm -rf $1; mkdir -p $1 $2/~glimmerly-setup/old/sub; ln -s $1 $2/sub", {outside, target});
    WriteFile(outside + L"\\b.txt", "the user's");
    WriteFile(InTarget("~glimmerly-setup/old/sub/b.txt"), "old b");
    const std::string journal = "R 00000020 sub\\b.txt\n";
    WriteFile(InTarget("~glimmerly-setup/switch.log"),
              std::string((const char*)Widen(journal).c_str(), 2 * journal.size()));
    ASSERT_TRUE(
        RecordJournal(target.c_str(), L"~glimmerly-setup", InTarget("~glimmerly-setup/switch.log").c_str()));
    int refused = 0;
    EXPECT_EQ(RepairInterruptedInstallation(target.c_str(), &refused), 1);
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(Tree(outside), (std::map<std::string, std::string>{{"b.txt", "the user's"}}));
    EXPECT_FALSE(Exists(InTarget("~glimmerly-setup")));
    RunOnHost("rm -rf $1 $2", {outside, target});
    CreateDirectoryW(target.c_str(), NULL);
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

// Wine writes Z:\\dev\\full to the host's /dev/full, where every write fails as on a full disk; a member's
// file is always created new, so the test opens that one as it is. The first failed write stops the
// caller at once: no further block, no later member. A member queued before the failure was known may
// have been started by the other writer: it stops there, cut and undated.
void* CreateOrOpenFull(const wchar_t* path) {
    int full = wcscmp(path, L"Z:\\dev\\full") == 0;
    return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, full ? OPEN_EXISTING : CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

TEST_F(Extraction, FailedWriteStopsTheWritersAtOnce) {
    SetMemberFileCreator(CreateOrOpenFull);
    const uint32_t date = TestMember::DosDateTime(2021, 3, 4, 5, 6, 8);
    FILETIME local, dated;
    DosDateTimeToFileTime(HIWORD(date), LOWORD(date), &local);
    LocalFileTimeToFileTime(&local, &dated);
    // Which writer learns of the failure first is a race, so the two writers run it many times.
    for (int round = 0; round < 48; ++round) {
        const int threads = round == 0 ? 0 : 1 + round % kWriterThreads;
        SCOPED_TRACE(threads);
        SetCurrentDirectoryW(target.c_str());
        MemberWriters* writers = StartMemberWriters(threads);
        ASSERT_TRUE(QueueMemberFile(writers, L"before.txt", NULL, date));
        WriterBlock* block = TakeBlock(writers);
        block->data[0] = 'b';
        QueueBlock(writers, block, 1);
        EndMemberFile(writers);
        // Written before the failure, so the failure cannot cut it.
        for (int wait = 0; wait < 5000 && ReadFile(InTarget("before.txt")) != "b"; ++wait)
            Sleep(1);
        ASSERT_TRUE(QueueMemberFile(writers, L"Z:\\dev\\full", NULL, date));
        QueueBlock(writers, TakeBlock(writers), kWriterBlockBytes);
        EndMemberFile(writers);
        int taken = 0;
        if (QueueMemberFile(writers, L"cut.txt", NULL, date)) {
            for (; taken < 64 * kWriterBlocks && (block = TakeBlock(writers)) != NULL; ++taken)
                QueueBlock(writers, block, kWriterBlockBytes);
            EndMemberFile(writers);
        }
        EXPECT_LT(taken, 64 * kWriterBlocks);
        EXPECT_EQ(TakeBlock(writers), nullptr);
        EXPECT_FALSE(QueueMemberFile(writers, L"after.txt", NULL, date));
        EXPECT_EQ(FinishMemberWriters(writers), -1);
        EXPECT_EQ(ReadFile(InTarget("before.txt")), "b");
        EXPECT_NE(Ticks(LastWriteTime(InTarget("cut.txt"))), Ticks(dated));
        EXPECT_FALSE(threads < 2 && Exists(InTarget("cut.txt"))) << "one writer takes it after its failure";
        EXPECT_FALSE(Exists(InTarget("after.txt")));
        SetCurrentDirectoryW(startDirectory.c_str());
        for (const char* name : {"before.txt", "cut.txt"})
            DeleteFileW(InTarget(name).c_str());
    }
    SetMemberFileCreator(NULL);
}

// The members fit while their bytes and each file's slack stay within the free bytes, measured again
// until the volume stood still meanwhile; where the system cannot tell, the writes find out.
TEST_F(Extraction, FitsOnVolumeUpToTheLastFreeByte) {
    const struct {
        long long beyondFree;
        unsigned long long files;
        int fits;
    } cases[] = {
        {0, 0, 1}, {1, 0, 0}, {-kFileSlackBytes, 1, 1}, {1 - kFileSlackBytes, 1, 0}, {-(1LL << 20), 256, 1}};
    for (const auto& c : cases) {
        ULARGE_INTEGER before = {}, after = {};
        int fits;
        do {
            ASSERT_TRUE(GetDiskFreeSpaceExW(target.c_str(), &before, NULL, NULL));
            fits = FitsOnVolume(target.c_str(), before.QuadPart + c.beyondFree, c.files);
            GetDiskFreeSpaceExW(target.c_str(), &after, NULL, NULL);
        } while (before.QuadPart != after.QuadPart);
        EXPECT_EQ(fits, c.fits) << c.beyondFree << " bytes beyond the free ones in " << c.files << " files";
    }
    EXPECT_EQ(FitsOnVolume(L"Q:\\absent\\", 1ull << 60, 0), 1);
}

// The journal a switch-over writes holds its whole plan: read back, every entry is there, in order.
TEST_F(Extraction, JournalHoldsEveryEntryOfThePlan) {
    CreateDirectoryW(InTarget("Sub").c_str(), NULL);
    for (const char* name : {"a.txt", "Sub/b.txt", "Sub/c.txt"})
        WriteFile(InTarget(name), "installed");
    SetCurrentDirectoryW(target.c_str());
    WorkFolder work;
    ASSERT_TRUE(CreateWorkFolder(&work));
    for (const char* folder : {"Sub", "New"})
        CreateDirectoryW(InTarget(std::string("~glimmerly-setup/new/") + folder).c_str(), NULL);
    for (const char* name : {"a.txt", "Sub/b.txt", "Sub/c.txt", "d.txt", "New/e.txt", "z.txt"})
        WriteFile(InTarget(std::string("~glimmerly-setup/new/") + name), "new");
    // Long names, so that the journal's buffer is written out more than once.
    for (int i = 0; i < 120; ++i)
        WriteFile(InTarget("~glimmerly-setup/new/" + std::string(150, 'n') + std::to_string(i)), "");
    switchplan::Plan plan = {&work, NULL, 0, 0, NULL, 0, 0}, read = {&work, NULL, 0, 0, NULL, 0, 0};
    ASSERT_TRUE(switchplan::HoldNewAsideFolder(&plan, work.aside) && switchplan::PlanFolder(&plan, L""));
    ASSERT_EQ(plan.count, 126u);
    EXPECT_TRUE(switchplan::WriteJournal(plan));
    EXPECT_TRUE(switchplan::ReadJournal(&read));
    ASSERT_EQ(read.count, plan.count);
    for (size_t i = 0; i < plan.count; ++i) {
        EXPECT_EQ(read.entries[i].kind, plan.entries[i].kind) << i;
        EXPECT_EQ(read.entries[i].attributes, plan.entries[i].attributes) << i;
        EXPECT_EQ(std::wstring(read.entries[i].path), plan.entries[i].path) << i;
    }
    switchplan::FreePlan(&plan);
    switchplan::FreePlan(&read);
    EXPECT_TRUE(RemoveWorkFolder(&work));
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
