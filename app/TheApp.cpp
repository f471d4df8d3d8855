#include "app/TheApp.h"

#include "app/CommandLine.h"
#include "app/StartUp.h"
#include "driver/InstallDriver.h"
#include "install/ExistingInstallation.h"
#include "install/InstallLog.h"
#include "install/PathHelpers.h"
#include "res/resource.h"
#include "wizard/WizPropertyPage.h"
#include "wizard/WizPropertySheet.h"

#include <commctrl.h>
#include <string.h>

TheApp theApp;

TheApp::TheApp() {
    memset(&titleLogFont, 0, sizeof titleLogFont);
}

TheApp::~TheApp() {}

void TheApp::RunWizard() {
    memset(&titleLogFont, 0, sizeof titleLogFont);
    int dpi = 96;
    if (HDC screen = GetDC(NULL)) {
        dpi = GetDeviceCaps(screen, LOGPIXELSX);
        ReleaseDC(NULL, screen);
    }
    titleLogFont.lfHeight = MulDiv(18, dpi, 96);
    titleLogFont.lfWeight = FW_BOLD;
    titleLogFont.lfQuality = ANTIALIASED_QUALITY;
    CopyText(titleLogFont.lfFaceName, LF_FACESIZE, L"Arial");
    wizardSheet.titleFont.CreateFontIndirect(titleLogFont);
    wizardSheet.associationList = NULL;

    // Destroyed in reverse order when the wizard has ended.
    CWizPropertyPage welcome(IDD_WELCOME), whatsNew(IDD_WHATS_NEW), associations(IDD_ASSOCIATIONS),
        ready(IDD_READY), finish(IDD_FINISH);
    CWizPropertyPage* pages[] = {&welcome, &whatsNew, &associations, &ready, &finish};
    for (CWizPropertyPage* page : pages)
        wizardSheet.AddPage(page);
    m_pMainWnd = &wizardSheet;
    InitThemeSupport();
    wizardSheet.DoModal();
    m_pMainWnd = NULL;
}

BOOL TheApp::InitInstance() {
    RestrictDllSearchPath();
    InitThemeSupport();
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0xFF};
    InitCommonControlsEx(&controls);

    const wchar_t* commandLine = GetCommandLineW();
    if (!HasSilentSwitch(commandLine)) {
        RunWizard();
        return FALSE;
    }

    if (FindWindowW(L"Glimmerly", NULL) != NULL) {
        wchar_t warning[kPathChars] = L"";
        LoadStringW(m_hInstance, IDS_VIEWER_RUNNING, warning, kPathChars);
        AppendInstallLog(warning);
        return FALSE;
    }

    InstallOptions options;
    FillSilentDefaults(options);
    ReadSwitches(commandLine, options);
    options.silent = 1;
    RunInstallation(options);
    return FALSE;
}
