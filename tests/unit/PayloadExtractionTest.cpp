#include "install/PayloadExtraction.h"

#include "install/ArchiveFile.h"
#include "install/InstallProgress.h"

#include "ExtractionFixture.h"
#include "TestZip.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <windows.h>
#include <iowin32.h>
#include <string>
#include <vector>

namespace {

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
    // The plug-ins folder, made empty before (as the installation does), is replaced whole.
    CreateDirectoryW(InTarget("Plugins").c_str(), NULL);
    ASSERT_EQ(Extract(members, 0, &progress), kInstallComplete);
    // About one call per MiB, the last one at the end, never a step back.
    const unsigned long long total = big.size() + 9 + 13 + 4;
    ASSERT_EQ(progressCalls.size(), 3u);
    EXPECT_EQ(progressCalls.back(), std::make_pair(total, total));
    EXPECT_TRUE(progressCalls[0].first < progressCalls[1].first && progressCalls[1].first < total);
    // Each member once, by its name in the archive as it is reached. The first walk takes the large one
    // first and then the rest in archive order, the second the rest from the end backwards, until they
    // meet: the names are those two runs taken in turns, split at some member.
    const std::vector<std::string> listed = {"Plugins/big.bin", "Plugins/", "gl_main32.exe",
                                             "Html/page.html",  "Html/",    "Deep/er/still/file.txt",
                                             "empty.txt",       "Empty/"};
    auto walksMetAt = [&](size_t split) {
        std::vector<std::string> front, back;
        for (const std::string& name : membersNamed) {
            size_t at = std::find(listed.begin(), listed.end(), name) - listed.begin();
            (at < split ? front : back).push_back(name);
        }
        return front == std::vector<std::string>(listed.begin(), listed.begin() + split) &&
               back == std::vector<std::string>(listed.rbegin(), listed.rend() - split);
    };
    bool met = false;
    for (size_t split = 0; split <= listed.size(); ++split)
        met = met || walksMetAt(split);
    EXPECT_TRUE(met) << testing::PrintToString(membersNamed);

    EXPECT_EQ(ReadFile(InTarget("gl_main32.exe")), "MZ viewer");
    EXPECT_EQ(ReadFile(InTarget("Plugins/big.bin")), big);
    EXPECT_EQ(ReadFile(InTarget("Html/page.html")), "<html></html>");
    EXPECT_EQ(ReadFile(InTarget("Deep/er/still/file.txt")), "deep");
    EXPECT_EQ(ReadFile(InTarget("empty.txt")), "");
    EXPECT_TRUE(IsFolder(InTarget("Empty")));
    EXPECT_EQ(CurrentDirectory() + L"\\", target);
    // Nothing of the run stays: no old file was moved aside.
    EXPECT_EQ(FolderEntries(target), (std::vector<std::wstring>{L"Deep", L"Empty", L"Html", L"Plugins",
                                                                L"empty.txt", L"gl_main32.exe"}));
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

// One walk alone takes the members of a MiB or more first, the largest first, and then the rest in archive
// order, so that with two walks a large member late in the archive does not leave one of them idle. Where
// the large members hold less than a tenth of the bytes (here 10 bytes less), one walk takes them all
// even with a second reader at hand.
TEST_F(Extraction, LargeMembersAreTakenFirst) {
    const size_t mib = 1 << 20;
    std::vector<TestMember> members = {
        FileMember("a.txt", "a"), FileMember("below.bin", std::string(mib - 1, 'b')),
        FileMember("limit.bin", std::string(mib, 'l')), FileMember("c.txt", "c"),
        FileMember("large.bin", std::string(2 * mib, 'g'))};
    std::vector<std::string> order = {"large.bin", "limit.bin", "a.txt", "below.bin", "c.txt"};
    for (int i = 0; i < 27; ++i) {
        members.push_back(FileMember("pad" + std::to_string(i), std::string(i < 26 ? mib - 1 : 35, 'p')));
        order.push_back("pad" + std::to_string(i));
    }
    WriteFile(archive, BuildTestZip(members));
    zlib_filefunc64_def functions;
    fill_win32_filefunc64W(&functions);
    unzFile opened = unzOpen2_64(archive.c_str(), &functions);
    unzFile second = unzOpen2_64(archive.c_str(), &functions);
    ASSERT_NE(opened, nullptr);
    SetCurrentDirectoryW(target.c_str());
    membersNamed.clear();
    const InstallProgress progress = {NULL, NULL, RecordMember, NULL};
    EXPECT_EQ(ExtractAllMembers(opened, 1, 1, NULL, 0, &progress, 0, second), 0);
    unzClose(opened);
    unzClose(second);
    EXPECT_EQ(membersNamed, order);
    EXPECT_EQ(ReadFile(InTarget("below.bin")), std::string(mib - 1, 'b'));
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

} // namespace
