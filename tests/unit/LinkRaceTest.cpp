#include "install/JournalRecord.h"
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
    int before; // 1: what is at link is renamed away first; 2: it is removed first
} planting;
std::wstring plantTarget, plantOutside;

void PlantLink(const wchar_t* step) {
    if (wcscmp(step, planting.step) != 0)
        return;
    std::wstring link = plantTarget + planting.link;
    const char* scripts[] = {"ln -s $1 $2", "mv $2 $2-away; ln -s $1 $2", "rm $2; ln -s $1 $2"};
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

} // namespace
