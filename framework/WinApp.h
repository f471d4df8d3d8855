#pragma once
#include "framework/Wnd.h"

// The application object: one global instance derived from CWinApp. The entry point calls its
// InitInstance; when that returns FALSE the process ends without a message loop, with the exit status
// ExitInstance gives.
class CWinApp {
  public:
    CWinApp();
    virtual ~CWinApp();
    virtual BOOL InitInstance();
    virtual int Run();
    // The exit status of a process whose InitInstance returned FALSE.
    virtual int ExitInstance();

    HINSTANCE m_hInstance;
    CWnd* m_pMainWnd;

    static CWinApp* Current() { return current; }

  private:
    static CWinApp* current;
};
