#include "app/TheApp.h"

#include "app/CommandLine.h"
#include "app/StartUp.h"
#include "install/ExistingInstallation.h"
#include "install/InstallDriver.h"
#include "install/InstallLog.h"
#include "install/PathHelpers.h"
#include "res/resource.h"

#include <commctrl.h>
#include <string.h>

TheApp theApp;

TheApp::TheApp() {
    memset(&titleLogFont, 0, sizeof titleLogFont);
}

TheApp::~TheApp() {}

BOOL TheApp::InitInstance() {
    RestrictDllSearchPath();
    InitThemeSupport();
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0xFF};
    InitCommonControlsEx(&controls);

    const wchar_t* commandLine = GetCommandLineW();
    if (!HasSilentSwitch(commandLine))
        return FALSE; // the wizard road

    if (FindWindowW(L"Glimmerly", NULL) != NULL) {
        wchar_t warning[kPathChars] = L"";
        LoadStringW(m_hInstance, IDS_VIEWER_RUNNING, warning, kPathChars);
        AppendInstallLog(warning);
        return FALSE;
    }

    InstallOptions options;
    ResetInstallOptions(options);
    wchar_t folder[kPathChars];
    if (ReadInstalledFolder(folder)) {
        CopyText(options.targetFolder, kOptionsFolderChars, folder);
    } else {
        GetDefaultInstallFolder(folder);
        CopyText(options.targetFolder, kOptionsFolderChars, folder);
        CopyText(options.iniFolder, kOptionsFolderChars, L"%APPDATA%\\Glimmerly");
    }
    ReadSwitches(commandLine, options);
    options.silent = 1;
    RunInstallation(options);
    return FALSE;
}
