#pragma once
#include "framework/WinApp.h"

class TheApp : public CWinApp {
  public:
    TheApp();
    ~TheApp() override;
    BOOL InitInstance() override;

    LOGFONTW titleLogFont;

  private:
    // The interactive installation: the five pages in the wizard sheet, run modally.
    void RunWizard();
};

extern TheApp theApp;
