#pragma once
#include <windows.h>
#include <shlobj.h>

// What the program shows to or asks of the user and what it hands to the shell: message boxes, the
// folder browser, the shell's "open", a started command, the warning beep and the restart of Windows. Tests
// replace these functions to answer and record them; everything else stays real.
struct Interaction {
    int (*messageBox)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
    // The chosen file-system folder in path (kPathChars); 1, or 0 when nothing was chosen.
    int (*browseForFolder)(BROWSEINFOW* info, wchar_t* path);
    // ShellExecuteW's result: greater than 32 for success.
    INT_PTR(*shellOpen)
    (HWND owner, const wchar_t* file, const wchar_t* parameters, const wchar_t* folder, int show);
    // A command line in the ANSI code page, as WinExec runs it; greater than 31 for success.
    UINT (*runCommand)(const char* commandLine, UINT show);
    void (*beep)(UINT type);
    // Asks Windows to restart; nonzero when it took the request.
    int (*restartWindows)();
};

// Replaces the functions; null restores the real ones.
void SetInteraction(const Interaction* replacement);

// While owner is set, a message box asked for on another thread is shown by owner's thread, owned by
// owner and modal to it, and the asking thread waits for the answer. NULL ends it.
void SetMessageBoxOwner(HWND owner);

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
int BrowseForFolder(BROWSEINFOW* info, wchar_t* path);
INT_PTR ShellOpen(HWND owner, const wchar_t* file, const wchar_t* parameters, const wchar_t* folder,
                  int show);
UINT RunCommand(const char* commandLine, UINT show);
void WarningBeep(UINT type);
int RestartWindows();

// The shell's "open" as the real one does it: asked of the desktop's shell, which runs as the signed-in
// user and not elevated; where no desktop shell answers (older systems, Wine, a shell the user ended),
// the program's own call, but only where that runs with no more rights than the user's own programs.
// An elevated setup (with the user's own rights split off) opens nothing itself: kOpenRefused, and the
// caller shows the address instead.
enum : INT_PTR { kOpenRefused = SE_ERR_ACCESSDENIED };
typedef int (*DesktopOpenFunction)(const wchar_t* file, const wchar_t* parameters, const wchar_t* folder,
                                   int show);
typedef INT_PTR (*ShellOpenFunction)(HWND owner, const wchar_t* file, const wchar_t* parameters,
                                     const wchar_t* folder, int show);
INT_PTR OpenAsUser(DesktopOpenFunction desktopOpen, ShellOpenFunction ownOpen, int (*elevatedAboveUser)(),
                   HWND owner, const wchar_t* file, const wchar_t* parameters, const wchar_t* folder,
                   int show);

// 1 where this process runs elevated while the signed-in user's own programs do not (a split token).
int ElevatedAboveUser();
