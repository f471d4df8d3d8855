#pragma once
#include "framework/WinApp.h"

class TheApp : public CWinApp {
  public:
    TheApp();
    ~TheApp() override;
    BOOL InitInstance() override;

    LOGFONTW titleLogFont;
};

extern TheApp theApp;
