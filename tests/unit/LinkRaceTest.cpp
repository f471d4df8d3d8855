#include "install/JournalRecord.h"
#include "install/StepLog.h"
#include "install/SwitchOver.h"
#include "install/WorkFolderRemoval.h"

#include "ExtractionFixture.h"
#include "TestZip.h"

#include <gtest/gtest.h>
#include <map>
#include <windows.h>
#include <string>
#include <vector>

namespace {

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
    // Wine gives no handles for a Unix program: what it reports there are leftovers, and closing them closed
    // handles of this program (once its standard output, and with it the test's report).
    PROCESS_INFORMATION process;
    ASSERT_TRUE(CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process));
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
    int before; // 1: what is at link is renamed away first; 2: it is removed first; 3: the old b.dll in the
                // work folder below link (of a name the run chose) is replaced by a copy of outside
} planting;
std::wstring plantTarget, plantOutside;

void PlantLink(const wchar_t* step) {
    if (wcscmp(step, planting.step) != 0)
        return;
    std::wstring link = plantTarget + planting.link;
    const char* scripts[] = {"ln -s $1 $2", "mv $2 $2-away; ln -s $1 $2", "rm $2; ln -s $1 $2",
                             "for f in $2/~glimmerly-setup*/new/Plugins/b.dll; do rm $f; cp $1 $f; done"};
    RunOnHost(scripts[planting.before], {plantOutside + planting.outside, link});
}

// Another program of the user plants a link in the work folder while an installation runs: nothing is
// written, moved or deleted through it, outside the target folder nothing changes, and a run that cannot
// go on gives back the installation as it was.
TEST_F(Extraction, LinksPlantedDuringTheRunLeadNowhere) {
    const PlantedLink cases[] = {
        {L"staging", L"~glimmerly-setup\\new\\Plugins", L"", 0},
        {L"staging", L"~glimmerly-setup\\new\\a.txt", L"\\user.dll", 0},
        {L"switching", L"~glimmerly-setup\\old", L"", 1},
        {L"switching", L"~glimmerly-setup\\new\\a.txt", L"\\user.dll", 1},
        {L"staging", L"~glimmerly-setup\\planted", L"\\user.dll", 0},
        // In a folder that then moves whole: its old files are deleted by the next run, and the link is
        // left where it is.
        {L"staging", L"Plugins\\b.dll", L"\\user.dll", 2},
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
        WorkFolderRemoval later;
        RepairInterruptedInstallation(target.c_str(), NULL, &later);
        later.Finish();
        EXPECT_EQ(Tree(plantOutside), (std::map<std::string, std::string>{{"user.dll", "the user's"}}));
        // Only the links at the work folder's top and among the old files are met by nothing but the
        // clean-up, which leaves them.
        bool completes = &c >= &cases[4];
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

// An upgrade over an upgraded installation writes its members over the old files the previous upgrade
// moved aside, but only over those the record says were a staging of this setup and only where each is
// still the file listed. A link among them, or a second name, is never written through: a folder link
// leaves all of them alone, a file one fails the run as a link in the staging does, and the next run stages
// afresh. Old files no member takes are deleted, never installed; nothing outside changes.
TEST_F(Extraction, UpgradeWritesOverOnlyTheOldFilesItRecorded) {
    typedef std::map<std::string, std::string> Files;
    const std::vector<TestMember> first = {FileMember("a.txt", "a1"),
                                           FileMember("Plugins/b.dll", "b1 longer"),
                                           FileMember("Plugins/c.dll", "c1"), FileMember("Docs/x.txt", "x1"),
                                           FileMember("Docs/Extra.txt", "e1")};
    const std::vector<TestMember> second = {FileMember("a.txt", "a2"),
                                            FileMember("Plugins/b.dll", "b2 longer"),
                                            FileMember("Plugins/c.dll", "c2"), FileMember("Docs/x.txt", "x2"),
                                            FileMember("Docs/Extra.txt", "e2")};
    std::vector<TestMember> third = {FileMember("a.txt", "a3"), FileMember("Plugins/b.dll", "b3"),
                                     FileMember("Plugins/C.DLL", "c3"), FileMember("Docs/x.txt", "x3"),
                                     FileMember("New/n.txt", "n3")};
    // Left out of the new version, the installed Extra.txt stays as the user had it.
    const Files installed = {{"a.txt", "a3"},     {"Docs/Extra.txt", "e2"}, {"Docs/x.txt", "x3"},
                             {"New/n.txt", "n3"}, {"Plugins/C.DLL", "c3"},  {"Plugins/b.dll", "b3"}};
    const struct {
        const char* what;
        const char* plant;     // on the host: $1 the outside folder, $2 the old files
        int unmarked, failing; // failing: 1 the planted link, 2 a damaged member
        const char* reused;    // what the last run says of the old files
        int swapped;           // b.dll replaced by another file once the old files are listed
    } cases[] = {
        // b.dll and x.txt written over, c.dll set aside for C.DLL, Extra.txt deleted.
        {"as left", "", 0, 0, "written over: 2; set aside: 1; deleted: 1 files, 0 folders", 0},
        {"a folder link", "ln -s $1 $2/Plugins/sub", 0, 0,
         "not used (not plain files and folders): set aside", 0},
        {"a file link", "rm $2/Plugins/b.dll; ln -s $1/user.dll $2/Plugins/b.dll", 0, 1, NULL, 0},
        {"a second name", "rm $2/Plugins/b.dll; ln $1/user.dll $2/Plugins/b.dll", 0, 1, NULL, 0},
        {"record without the mark", "", 1, 0, NULL, 0},
        {"a failed upgrade between", "", 0, 2, NULL, 0},
        {"a file swapped meanwhile", "", 0, 0, "written over: 1; set aside: 2; deleted: 1 files, 0 folders",
         1},
    };
    const std::wstring outside = root + L"\\outside";
    auto upgrade = [&](const std::vector<TestMember>& members) {
        WorkFolderRemoval later;
        RepairInterruptedInstallation(target.c_str(), NULL, &later);
        InstallResult result = Extract(members);
        later.Finish();
        return result;
    };
    auto installedTree = [&]() {
        Files tree = Tree(target);
        for (auto i = tree.begin(); i != tree.end();)
            i = i->first.compare(0, 16, "~glimmerly-setup") == 0 ? tree.erase(i) : std::next(i);
        return tree;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RunOnHost("rm -rf $1 $2; mkdir -p $1 $2", {outside, target});
        ForgetJournal(target.c_str());
        WriteFile(outside + L"\\user.dll", "the user's");
        ASSERT_EQ(upgrade(first), kInstallComplete);
        ASSERT_EQ(upgrade(second), kInstallComplete);
        if (c.plant[0] != '\0')
            RunOnHost(c.plant, {outside, InTarget("~glimmerly-setup/old")});
        if (c.unmarked) {
            ASSERT_TRUE(RecordJournal(target.c_str(), L"~glimmerly-setup",
                                      InTarget("~glimmerly-setup/switch.done").c_str()));
        }
        if (c.failing) {
            std::vector<TestMember> broken = third;
            broken.back().crcDelta = c.failing == 2;
            EXPECT_EQ(upgrade(broken), kInstallFailed);
            EXPECT_EQ(ReadFile(InTarget("Plugins/b.dll")), "b2 longer");
            EXPECT_EQ(Tree(outside), (Files{{"user.dll", "the user's"}}));
        }
        const std::wstring log = root + L"\\steps.log";
        DeleteFileW(log.c_str());
        OpenStepLog(log.c_str());
        planting = {L"staging", L"", L"\\user.dll", 3};
        plantTarget = target, plantOutside = outside;
        SetInstallStepHook(c.swapped ? PlantLink : NULL);
        EXPECT_EQ(upgrade(third), kInstallComplete);
        SetInstallStepHook(NULL);
        CloseStepLog();
        EXPECT_EQ(installedTree(), installed);
        const std::string steps = ReadFile(log);
        const size_t at = steps.find("previous version's files ");
        EXPECT_EQ(at == std::string::npos ? "" : steps.substr(at + 25, steps.find('\r', at) - at - 25),
                  c.reused != NULL ? c.reused : "");
        EXPECT_EQ(Tree(outside), (Files{{"user.dll", "the user's"}}));
    }
    RunOnHost("rm -rf $1 $2", {outside, target});
    CreateDirectoryW(target.c_str(), NULL);
}

} // namespace
