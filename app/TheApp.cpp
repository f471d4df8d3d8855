#include "app/TheApp.h"

#include "app/CommandLine.h"
#include "app/RunLog.h"
#include "app/StartUp.h"
#include "driver/InstallDriver.h"
#include "framework/Interaction.h"
#include "install/ExistingInstallation.h"
#include "install/ExitStatus.h"
#include "install/InstallLog.h"
#include "install/InstallOptions.h"
#include "install/PathHelpers.h"
#include "install/StepLog.h"
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

InstallResult TheApp::RunWizard() {
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
    return wizardSheet.result;
}

BOOL TheApp::InitInstance() {
    RestrictDllSearchPath();
    InitThemeSupport();
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0xFF};
    InitCommonControlsEx(&controls);

    const wchar_t* commandLine = GetCommandLineW();
    int silent = HasSilentSwitch(commandLine);
    // Opened before anything else: its file is named from the folder the setup was started in.
    wchar_t logFile[kOptionsFolderChars];
    ReadLogSwitch(commandLine, logFile);
    if (OpenStepLog(logFile))
        LogRunStart(commandLine);
    wchar_t warning[kPathChars] = L"";
    InstallOptions options;
    ResetInstallOptions(options);
    if (!ClaimSetupLock()) {
        LoadStringW(m_hInstance, IDS_SETUP_ALREADY_RUNNING, warning, kPathChars);
        if (silent)
            AppendInstallLog(warning);
        else
            ShowMessageBox(NULL, warning, options.caption, MB_OK | MB_ICONEXCLAMATION);
        result_ = kInstallAlreadyRunning;
        return FALSE;
    }

    if (!silent) {
        result_ = RunWizard();
        return FALSE;
    }

    if (FindWindowW(L"Glimmerly", NULL) != NULL) {
        LoadStringW(m_hInstance, IDS_VIEWER_RUNNING, warning, kPathChars);
        AppendInstallLog(warning);
        result_ = kInstallViewerRunning;
        return FALSE;
    }

    FillSilentDefaults(options);
    ReadSwitches(commandLine, options);
    options.silent = 1;
    result_ = RunInstallation(options);
    return FALSE;
}

int TheApp::ExitInstance() {
    // Every status the program ends with is a row of the table that the README and the manifest show.
    if (FindExitStatus(result_) == NULL)
        result_ = kInstallFailed;
    LogRunOutcome(result_);
    CloseStepLog();
    return result_;
}
