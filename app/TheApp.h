#pragma once
#include "framework/WinApp.h"
#include "install/InstallResult.h"

class TheApp : public CWinApp {
  public:
    TheApp();
    ~TheApp() override;
    BOOL InitInstance() override;
    // The outcome of the run, as the process exit status.
    int ExitInstance() override;

    LOGFONTW titleLogFont;

  private:
    // The interactive installation: the five pages in the wizard sheet, run modally; the outcome the
    // wizard ended with.
    InstallResult RunWizard();

    InstallResult result_ = kInstallComplete;
};

extern TheApp theApp;
