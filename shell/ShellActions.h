#pragma once
#include <windows.h>

struct SkippedFiles;

// What the integration sequence does to the shell besides the registry: links and notifications.
// The system's shell is the only one the program uses; tests substitute a recorder that logs each
// action beside the registry writes, so their order and presence can be seen.
class ShellActions {
  public:
    virtual ~ShellActions() {}
    // CreateStartMenuGroup and CreateDesktopShortcut of the shortcuts.
    virtual void CreateStartMenuGroup(const wchar_t* folder, int allUsers, SkippedFiles& skipped) = 0;
    virtual void CreateDesktopShortcut(const wchar_t* target, const wchar_t* linkName,
                                       const wchar_t* iconPath, const wchar_t* description,
                                       const wchar_t* arguments, int iconIndex, int allUsers,
                                       SkippedFiles& skipped) = 0;
    // SystemParametersInfoW(action, 0, no buffer, flags).
    virtual void SetSystemParameter(UINT action, UINT flags) = 0;
    // SHChangeNotify(event, flags, no item, no item).
    virtual void ChangeNotify(LONG event, UINT flags) = 0;
};

ShellActions& SystemShell();
