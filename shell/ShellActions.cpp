#include "shell/ShellActions.h"

#include "framework/SystemLibrary.h"
#include "shell/Shortcuts.h"

namespace {

class SystemShellActions : public ShellActions {
  public:
    void CreateStartMenuGroup(const wchar_t* folder, int allUsers, SkippedFiles& skipped) override {
        ::CreateStartMenuGroup(folder, allUsers, skipped);
    }
    void CreateDesktopShortcut(const wchar_t* target, const wchar_t* linkName, const wchar_t* iconPath,
                               const wchar_t* description, const wchar_t* arguments, int iconIndex,
                               int allUsers, SkippedFiles& skipped) override {
        ::CreateDesktopShortcut(target, linkName, iconPath, description, arguments, iconIndex, allUsers,
                                skipped);
    }
    void SetSystemParameter(UINT action, UINT flags) override {
        SystemParametersInfoW(action, 0, NULL, flags);
    }
    void ChangeNotify(LONG event, UINT flags) override {
        typedef void(WINAPI * ChangeNotifyFunction)(LONG, UINT, LPCVOID, LPCVOID);
        ChangeNotifyFunction changeNotify =
            SystemFunction<ChangeNotifyFunction>(L"shell32.dll", "SHChangeNotify");
        if (changeNotify != NULL)
            changeNotify(event, flags, NULL, NULL);
    }
};

} // namespace

ShellActions& SystemShell() {
    static SystemShellActions shell;
    return shell;
}
