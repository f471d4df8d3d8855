#include "install/SwitchOver.h"

#include "install/JournalRecord.h"
#include "install/SwitchPlan.h"

#include "ExtractionFixture.h"
#include "TestZip.h"

#include <gtest/gtest.h>
#include <map>
#include <windows.h>
#include <stdio.h>
#include <string>
#include <vector>

namespace {

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

} // namespace
