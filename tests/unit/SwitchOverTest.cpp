#include "install/SwitchOver.h"

#include "install/JournalRecord.h"
#include "install/ReusedFiles.h"
#include "install/SwitchPlan.h"
#include "install/WorkFolderRemoval.h"

#include "ExtractionFixture.h"
#include "TestZip.h"

#include <gtest/gtest.h>
#include <map>
#include <windows.h>
#include <stdio.h>
#include <string>
#include <vector>

namespace {

// At "switching", after the plan was made: a file in the work folder's way that refuses marking the
// switch-over done, after every step was carried out; and the plug-ins folder held, so that it cannot move
// whole and its files move one by one.
int plantAtSwitching = 0;
HANDLE heldFolder = INVALID_HANDLE_VALUE;

void PlantAtSwitching(const wchar_t* step) {
    if (wcscmp(step, L"switching") != 0)
        return;
    if (plantAtSwitching & 1)
        WriteFile(L"~glimmerly-setup\\switch.done", "in the way");
    if (plantAtSwitching & 2)
        heldFolder = CreateFileW(L"Plugins", FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

// An upgrade that fails gives back the installation as it was: a damaged member (the library checks each
// one as it is read, behind the payload's record), a folder in the way of a member, or a failure after
// every step of the switch-over, with the plug-ins folder moved whole or, held, file by file.
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
        int plant;
    } cases[] = {
        {"deflated CRC", badCrc, 0},
        {"stored CRC", storedBadCrc, 0},
        {"recorded size too large", longer, 0},
        {"recorded size too small", shorter, 0},
        {"folder in the way", FileMember("Folder.txt", "new"), 0},
        {"done refused after the folder moved whole", FileMember("e.txt", "e"), 1},
        {"done refused after the held folder's files moved", FileMember("e.txt", "e"), 3},
    };
    CreateDirectoryW(InTarget("Plugins").c_str(), NULL);
    CreateDirectoryW(InTarget("Folder.txt").c_str(), NULL);
    const char* installed[] = {"a.txt", "Plugins/b.dll", "user.txt"};
    for (const char* name : installed)
        WriteFile(InTarget(name), std::string("installed ") + name);
    FILETIME time = LastWriteTime(InTarget("a.txt"));
    const std::vector<std::wstring> entries = FolderEntries(target);
    const unsigned long long plugins = Identity(InTarget("Plugins"));
    SetInstallStepHook(PlantAtSwitching);
    for (const auto& c : cases) {
        plantAtSwitching = c.plant;
        EXPECT_EQ(Extract({FileMember("a.txt", "first"), FileMember("Plugins/b.dll", "b"),
                           FileMember("c.txt", "c"), c.last, FileMember("d.txt", "after")}),
                  kInstallFailed)
            << c.what;
        EXPECT_EQ(c.plant != 3, heldFolder == INVALID_HANDLE_VALUE) << c.what;
        if (heldFolder != INVALID_HANDLE_VALUE)
            CloseHandle(heldFolder);
        heldFolder = INVALID_HANDLE_VALUE;
        for (const char* name : installed)
            EXPECT_EQ(ReadFile(InTarget(name)), std::string("installed ") + name) << c.what;
        EXPECT_EQ(Ticks(LastWriteTime(InTarget("a.txt"))), Ticks(time)) << c.what;
        EXPECT_EQ(FolderEntries(target), entries) << c.what;
        EXPECT_EQ(FolderEntries(InTarget("Plugins")), std::vector<std::wstring>{L"b.dll"}) << c.what;
        EXPECT_EQ(Identity(InTarget("Plugins")), plugins) << c.what;
        EXPECT_EQ(CurrentDirectory(), startDirectory) << c.what;
    }
    // With nothing in the way the upgrade completes: the held folder stays and its file is replaced, and no
    // work folder stays; a folder free to move is replaced whole, and the old one alone stays in the work
    // folder, hidden, for the next run, which deletes it on a thread of its own.
    for (int plant : {2, 0}) {
        plantAtSwitching = plant;
        EXPECT_EQ(
            Extract({FileMember("a.txt", "first"), FileMember("Plugins/b.dll", "b" + std::to_string(plant))}),
            kInstallComplete);
        CloseHandle(heldFolder);
        heldFolder = INVALID_HANDLE_VALUE;
        EXPECT_EQ(ReadFile(InTarget("Plugins/b.dll")), "b" + std::to_string(plant)) << plant;
        EXPECT_EQ(Identity(InTarget("Plugins")) == plugins, plant == 2) << plant;
        std::map<std::string, std::string> kept = Tree(InTarget("~glimmerly-setup"));
        EXPECT_EQ(kept.erase("switch.done"), plant == 0 ? 1u : 0u) << plant;
        typedef std::map<std::string, std::string> Files;
        EXPECT_EQ(kept, (plant == 0 ? Files{{"old/Plugins/b.dll", "b2"}} : Files())) << plant;
        // The first upgrade's old files are the first installation's staging; the second's are the
        // first upgrade's, and wait for the next staging to be written over.
        WorkFolderRemoval later;
        EXPECT_TRUE(RepairInterruptedInstallation(target.c_str(), NULL, &later));
        EXPECT_TRUE(later.Finish()) << plant;
        std::vector<std::wstring> expected = entries;
        if (plant == 0)
            expected.push_back(kReusedFolder);
        EXPECT_EQ(FolderEntries(target), expected) << plant;
        EXPECT_EQ(Tree(target + kReusedFolder), (plant == 0 ? Files{{"Plugins/b.dll", "b2"}} : Files()))
            << plant;
        wchar_t recorded[kWorkNameChars];
        EXPECT_FALSE(RecordedWorkFolder(target.c_str(), recorded)) << plant;
    }
    SetInstallStepHook(NULL);
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
    // sub holding nothing but members: moved aside whole and the staged one into place.
    const std::string wholeJournal =
        "R 00000020 a.txt\nR 00000020 sub\\b.txt\nF 00000010 sub\nA ffffffff c.txt\nA ffffffff New\n";
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
        int whole = 0;  // 1: sub is switched whole, there only where a b stands; 2: the same, sub held open
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
        {"between moving a folder aside whole and into place", "switch.log", "TASSSS", earlier, 1, 1},
        {"after moving a folder whole", "switch.log", "TASTSS", earlier, 1, 1},
        {"after the last move, a folder whole", "switch.log", "AATTTT", earlier, 1, 1},
        {"halfway through a held folder's files", "switch.log", "AATSSS", earlier, 1, 2},
    };
    for (const auto& c : cases) {
        RemoveTree(target);
        CreateDirectoryW(target.c_str(), NULL);
        Files files = {{"user.txt", "u"}, {places.at('S'), ""}};
        if (c.whole != 1)
            files["sub/"] = "";
        for (int i = 0; i < 6; ++i) {
            if (c.where[i] != '-')
                files[places.at(c.where[i]) + names[i]] = contents[i];
        }
        if (c.journal[0] != '\0')
            files["~glimmerly-setup/" + std::string(c.journal)] =
                std::string((const char*)Widen(c.whole ? wholeJournal : journal).c_str(),
                            2 * (c.whole ? wholeJournal : journal).size());
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

// A record's mark holds for the folder it was made for, not for one made anew under its name (after an
// uninstallation, by anyone who may make folders there): the files there are no recorded staging.
TEST_F(Extraction, RecordMarksHoldForTheSameFolderOnly) {
    WriteFile(InTarget("switch.log"), "journal");
    const std::wstring moved = root + L"\\moved";
    for (int staging : {1, 0}) {
        ASSERT_TRUE(
            staging ? RecordJournal(target.c_str(), L"~glimmerly-setup", InTarget("switch.log").c_str(), 1)
                    : RecordInstalled(target.c_str(), L"~glimmerly-setup"));
        const int expected = staging ? kRecordAsideIsStaging : kRecordInstalled;
        EXPECT_EQ(JournalMatchesRecord(target.c_str(), InTarget("switch.log").c_str()), staging);
        for (int anew : {0, 1, 0}) {
            ASSERT_TRUE(
                anew ? MoveFileW(target.c_str(), moved.c_str()) && CreateDirectoryW(target.c_str(), NULL)
                     : !Exists(moved) ||
                           (RemoveDirectoryW(target.c_str()) && MoveFileW(moved.c_str(), target.c_str())));
            wchar_t name[kWorkNameChars] = L"";
            int mark = -1;
            EXPECT_TRUE(RecordedWorkFolder(target.c_str(), name, &mark));
            EXPECT_STREQ(name, L"~glimmerly-setup");
            EXPECT_EQ(mark, anew ? 0 : expected) << staging << anew;
        }
    }
    ForgetJournal(target.c_str());
}

// The plan switches whole every folder that holds nothing but members (Sub, Deep and Deep\Inner, not Mixed
// with the user's file), each right after the entries below it, which no step carries out on its own; only
// what moves one by one gets a folder aside. The journal holds the whole plan: read back, every entry is
// there, in order.
TEST_F(Extraction, JournalHoldsEveryEntryOfThePlan) {
    for (const char* folder : {"Sub", "Mixed", "Deep", "Deep/Inner"})
        CreateDirectoryW(InTarget(folder).c_str(), NULL);
    for (const char* name :
         {"a.txt", "Sub/b.txt", "Sub/c.txt", "Mixed/m.txt", "Mixed/user.txt", "Deep/Inner/x"})
        WriteFile(InTarget(name), "installed");
    SetCurrentDirectoryW(target.c_str());
    WorkFolder work;
    ASSERT_TRUE(CreateWorkFolder(&work));
    for (const char* folder : {"Sub", "New", "Mixed", "Deep", "Deep/Inner"})
        CreateDirectoryW(InTarget(std::string("~glimmerly-setup/new/") + folder).c_str(), NULL);
    for (const char* name :
         {"a.txt", "Sub/b.txt", "Sub/c.txt", "d.txt", "New/e.txt", "z.txt", "Mixed/m.txt", "Deep/Inner/x"})
        WriteFile(InTarget(std::string("~glimmerly-setup/new/") + name), "new");
    // Long names, so that the journal's buffer is written out more than once.
    for (int i = 0; i < 120; ++i)
        WriteFile(InTarget("~glimmerly-setup/new/" + std::string(150, 'n') + std::to_string(i)), "");
    switchplan::Plan plan = {&work, NULL, 0, 0, NULL, 0, 0}, read = {&work, NULL, 0, 0, NULL, 0, 0};
    ASSERT_TRUE(switchplan::HoldNewAsideFolder(&plan, work.aside) && switchplan::PlanFolder(&plan, L""));
    ASSERT_EQ(plan.count, 131u);
    std::map<std::wstring, wchar_t> kinds;
    for (size_t i = 0; i < plan.count; ++i)
        kinds[plan.entries[i].path] = plan.entries[i].kind;
    const std::map<std::wstring, wchar_t> expected = {
        {L"a.txt", L'R'},       {L"Sub\\b.txt", L'R'},   {L"Sub\\c.txt", L'R'},
        {L"Sub", L'F'},         {L"Mixed\\m.txt", L'R'}, {L"Deep\\Inner\\x", L'R'},
        {L"Deep\\Inner", L'F'}, {L"Deep", L'F'},         {L"d.txt", L'A'},
        {L"New", L'A'},         {L"z.txt", L'A'}};
    for (const auto& e : expected)
        EXPECT_EQ(kinds[e.first], e.second) << std::string(e.first.begin(), e.first.end());
    std::vector<size_t> steps(plan.count);
    size_t stepCount = switchplan::ListSteps(plan, steps.data());
    std::vector<std::wstring> stepped, below;
    for (size_t s = 0; s < stepCount; ++s) {
        const switchplan::PlanEntry& e = plan.entries[steps[s]];
        if (e.path[0] != L'n')
            stepped.push_back(e.path);
        EXPECT_TRUE(s == 0 || steps[s] > steps[s - 1]) << s;
        if (e.kind == L'F') {
            for (size_t i = e.first; i < steps[s]; ++i)
                below.push_back(plan.entries[i].path);
            EXPECT_TRUE(s == 0 || steps[s - 1] < e.first) << s;
        }
    }
    std::sort(stepped.begin(), stepped.end());
    EXPECT_EQ(stepped, (std::vector<std::wstring>{L"Deep", L"Mixed\\m.txt", L"New", L"Sub", L"a.txt",
                                                  L"d.txt", L"z.txt"}));
    EXPECT_EQ(stepCount, 127u); // and the 120 long names
    std::sort(below.begin(), below.end());
    EXPECT_EQ(below,
              (std::vector<std::wstring>{L"Deep\\Inner", L"Deep\\Inner\\x", L"Sub\\b.txt", L"Sub\\c.txt"}));
    ASSERT_TRUE(switchplan::MakeAsideFolders(&plan, steps.data(), stepCount));
    std::vector<std::wstring> aside;
    for (size_t i = 0; i < plan.asideCount; ++i)
        aside.push_back(plan.asideFolders[i].path);
    EXPECT_EQ(aside, (std::vector<std::wstring>{L"~glimmerly-setup\\old", L"~glimmerly-setup\\old\\Mixed"}));
    // Each name must still reach the very folder held, in whatever case it is spelled.
    EXPECT_TRUE(switchplan::AsideFoldersInPlace(plan));
    wcscpy(plan.asideFolders[1].path, L"~GLIMMERLY-SETUP\\OLD\\mixed");
    EXPECT_TRUE(switchplan::AsideFoldersInPlace(plan));
    wcscpy(plan.asideFolders[1].path, L"~glimmerly-setup\\old");
    EXPECT_FALSE(switchplan::AsideFoldersInPlace(plan)) << "another folder under the name";
    wcscpy(plan.asideFolders[1].path, L"~glimmerly-setup\\old\\Mixed");
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
