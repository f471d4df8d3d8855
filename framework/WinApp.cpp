#include "framework/WinApp.h"

CWinApp* CWinApp::current = NULL;

CWinApp::CWinApp() : m_hInstance(NULL), m_pMainWnd(NULL) {
    current = this;
}

CWinApp::~CWinApp() {
    if (current == this)
        current = NULL;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::ExitInstance() {
    return 0;
}

int CWinApp::Run() {
    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return (int)message.wParam;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    CWinApp* app = CWinApp::Current();
    if (app == NULL)
        return 1;
    app->m_hInstance = instance;
    if (!app->InitInstance())
        return app->ExitInstance();
    return app->Run();
}
