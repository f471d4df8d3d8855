#pragma once
#include <windows.h>

// Work folders that hold nothing to carry out (the previous version's files that a completed upgrade left
// hidden there, or the staged files of a run killed before its switch-over) are removed on a thread of
// their own while the run goes on: deleting a few thousand files, each through a checked handle, takes
// Wine's server (on Windows, the file system) a good part of a second. The thread names every path in
// full, since the run changes its current folder meanwhile.
class WorkFolderRemoval {
  public:
    WorkFolderRemoval();
    // Waits for the removal.
    ~WorkFolderRemoval();

    // Takes the work folder name in targetFolder (absolute, ending in a backslash); 0 when it cannot (no
    // room, or another target folder), and the caller removes it. A folder reached through a link stays.
    int Add(const wchar_t* targetFolder, const wchar_t* name);
    // Starts removing what was added; on this thread where no other can be started.
    void Start();
    // Waits for the removal and logs what it deleted. 1 when every folder went; what stays (a file still in
    // use) is removed by a later run.
    int Finish();
    // Waits for a removal under way, if any: the room it frees may be needed.
    static void WaitForRunning();

  private:
    enum { kMaxFolders = 4, kChars = 1024, kNameChars = 64 };
    static unsigned __stdcall Run(void* argument);
    void RemoveAll();

    HANDLE thread_;
    int count_, started_, ok_;
    LONG files_, folders_;
    size_t skip_;
    wchar_t target_[kChars], base_[kChars], names_[kMaxFolders][kNameChars];
    static WorkFolderRemoval* running_;
};
