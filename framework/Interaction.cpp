#include "framework/Interaction.h"

#include "framework/ComApartment.h"
#include "framework/SystemLibrary.h"

#include <commctrl.h>
#include <exdisp.h>
#include <string.h>
#include <servprov.h>
#include <shldisp.h>
#include <shobjidl.h>

namespace {

// Spelled out so nothing binds the uuid library's symbols.
const CLSID kShellWindowsClass = {
    0x9BA05972, 0xF6A8, 0x11CF, {0xA4, 0x42, 0x00, 0xA0, 0xC9, 0x0A, 0x8F, 0x39}};
const IID kShellWindowsInterface = {
    0x85CB6900, 0x4D95, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85}};
const IID kServiceProviderInterface = {
    0x6D5140C1, 0x7436, 0x11CE, {0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA}};
const GUID kTopLevelBrowserService = {
    0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};
const IID kShellBrowserInterface = {0x000214E2, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kDispatchInterface = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kFolderViewDualInterface = {
    0xE7A1AF80, 0x4D96, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85}};
const IID kShellDispatch2Interface = {
    0xA4C6892C, 0x3BA9, 0x11D2, {0x9D, 0xEA, 0x00, 0xC0, 0x4F, 0xB1, 0x61, 0x62}};

typedef HRESULT(WINAPI* CoCreateInstanceFunction)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
typedef BSTR(WINAPI* AllocStringFunction)(const OLECHAR*);
typedef void(WINAPI* FreeStringFunction)(BSTR);

// A text argument of the shell's automation interface; empty (no argument) for a missing text.
class TextArgument {
  public:
    explicit TextArgument(const wchar_t* text) {
        memset(&value, 0, sizeof value);
        AllocStringFunction alloc = SystemFunction<AllocStringFunction>(L"oleaut32.dll", "SysAllocString");
        free_ = SystemFunction<FreeStringFunction>(L"oleaut32.dll", "SysFreeString");
        if (text != NULL && text[0] != L'\0' && alloc != NULL && free_ != NULL) {
            value.vt = VT_BSTR;
            value.bstrVal = alloc(text);
        }
    }
    ~TextArgument() {
        if (value.vt == VT_BSTR && value.bstrVal != NULL)
            free_(value.bstrVal);
    }
    TextArgument(const TextArgument&) = delete;
    TextArgument& operator=(const TextArgument&) = delete;
    VARIANT value;

  private:
    FreeStringFunction free_ = NULL;
};

// The shell automation object of the desktop's own process: what it opens runs as the signed-in user,
// also while this program runs elevated.
int DesktopShell(ComPointer<IShellDispatch2>* shell) {
    CoCreateInstanceFunction create =
        SystemFunction<CoCreateInstanceFunction>(L"ole32.dll", "CoCreateInstance");
    ComPointer<IShellWindows> windows;
    if (create == NULL ||
        FAILED(create(kShellWindowsClass, NULL, CLSCTX_LOCAL_SERVER, kShellWindowsInterface,
                      windows.Receive())) ||
        !windows)
        return 0;
    // Zeroed is empty: VariantInit would bind the automation library at load time.
    VARIANT location, root;
    memset(&location, 0, sizeof location);
    memset(&root, 0, sizeof root);
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    long desktopWindow = 0;
    ComPointer<IDispatch> desktop;
    ComPointer<IServiceProvider> services;
    ComPointer<IShellBrowser> browser;
    ComPointer<IShellView> view;
    ComPointer<IDispatch> background;
    ComPointer<IShellFolderViewDual> folderView;
    ComPointer<IDispatch> application;
    return windows->FindWindowSW(&location, &root, SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH,
                                 (IDispatch**)desktop.Receive()) == S_OK &&
           desktop && SUCCEEDED(desktop->QueryInterface(kServiceProviderInterface, services.Receive())) &&
           services &&
           SUCCEEDED(
               services->QueryService(kTopLevelBrowserService, kShellBrowserInterface, browser.Receive())) &&
           browser && SUCCEEDED(browser->QueryActiveShellView((IShellView**)view.Receive())) && view &&
           SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, kDispatchInterface, background.Receive())) &&
           background &&
           SUCCEEDED(background->QueryInterface(kFolderViewDualInterface, folderView.Receive())) &&
           folderView && SUCCEEDED(folderView->get_Application((IDispatch**)application.Receive())) &&
           application &&
           SUCCEEDED(application->QueryInterface(kShellDispatch2Interface, shell->Receive())) && *shell;
}

int RealMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    return MessageBoxW(owner, text, caption, type);
}

int RealBrowseForFolder(BROWSEINFOW* info, wchar_t* path) {
    typedef LPITEMIDLIST(WINAPI * BrowseFunction)(LPBROWSEINFOW);
    typedef BOOL(WINAPI * PathFunction)(LPCITEMIDLIST, LPWSTR);
    typedef void(WINAPI * FreeFunction)(LPVOID);
    BrowseFunction browse = SystemFunction<BrowseFunction>(L"shell32.dll", "SHBrowseForFolderW");
    PathFunction pathFromList = SystemFunction<PathFunction>(L"shell32.dll", "SHGetPathFromIDListW");
    FreeFunction freeMemory = SystemFunction<FreeFunction>(L"ole32.dll", "CoTaskMemFree");
    if (browse == NULL || pathFromList == NULL)
        return 0;
    ComApartment apartment;
    LPITEMIDLIST chosen = browse(info);
    if (chosen == NULL)
        return 0;
    // SHGetPathFromIDListW writes at most MAX_PATH characters, the size of every path buffer here.
    int found = pathFromList(chosen, path) ? 1 : 0;
    if (freeMemory != NULL)
        freeMemory(chosen);
    return found;
}

int RealDesktopOpen(const wchar_t* file, const wchar_t* parameters, const wchar_t* folder, int show) {
    ComApartment apartment;
    ComPointer<IShellDispatch2> shell;
    if (!apartment.Initialized() || !DesktopShell(&shell))
        return 0;
    TextArgument name(file), arguments(parameters), directory(folder), verb(L"open");
    VARIANT showCommand;
    memset(&showCommand, 0, sizeof showCommand);
    showCommand.vt = VT_I4;
    showCommand.lVal = show;
    return name.value.vt == VT_BSTR &&
           SUCCEEDED(shell->ShellExecute(name.value.bstrVal, arguments.value, directory.value, verb.value,
                                         showCommand));
}

INT_PTR RealOwnOpen(HWND owner, const wchar_t* file, const wchar_t* parameters, const wchar_t* folder,
                    int show) {
    typedef HINSTANCE(WINAPI * ExecuteFunction)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
    ExecuteFunction execute = SystemFunction<ExecuteFunction>(L"shell32.dll", "ShellExecuteW");
    if (execute == NULL)
        return SE_ERR_DLLNOTFOUND;
    return (INT_PTR)execute(owner, L"open", file, parameters, folder, show);
}

INT_PTR RealShellOpen(HWND owner, const wchar_t* file, const wchar_t* parameters, const wchar_t* folder,
                      int show) {
    return OpenAsUser(RealDesktopOpen, RealOwnOpen, ElevatedAboveUser, owner, file, parameters, folder, show);
}

UINT RealRunCommand(const char* commandLine, UINT show) {
    return WinExec(commandLine, show);
}

void RealBeep(UINT type) {
    MessageBeep(type);
}

// A restart needs the shutdown privilege, which an administrator's token holds but has not enabled.
int RealRestartWindows() {
    HANDLE token;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        TOKEN_PRIVILEGES privileges = {};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (LookupPrivilegeValueW(NULL, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid))
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL);
        CloseHandle(token);
    }
    return ExitWindowsEx(EWX_REBOOT, SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION |
                                         SHTDN_REASON_FLAG_PLANNED);
}

const Interaction kReal = {RealMessageBox, RealBrowseForFolder, RealShellOpen, RealRunCommand,
                           RealBeep,       RealRestartWindows};
const Interaction* current = &kReal;

HWND boxOwner = NULL;
const UINT_PTR kBoxOwnerSubclassId = 0x424F;

struct BoxRequest {
    const wchar_t* text;
    const wchar_t* caption;
    UINT type;
    int answer;
};

UINT BoxRequestMessage() {
    static const UINT message = RegisterWindowMessageW(L"Glimmerly.ShowMessageBox");
    return message;
}

LRESULT CALLBACK BoxOwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (message != BoxRequestMessage() || message == 0)
        return DefSubclassProc(window, message, wParam, lParam);
    BoxRequest* request = (BoxRequest*)lParam;
    request->answer = current->messageBox(window, request->text, request->caption, request->type);
    return 0;
}

} // namespace

void SetInteraction(const Interaction* replacement) {
    current = replacement != NULL ? replacement : &kReal;
}

void SetMessageBoxOwner(HWND owner) {
    if (boxOwner != NULL)
        RemoveWindowSubclass(boxOwner, BoxOwnerProc, kBoxOwnerSubclassId);
    BoxRequestMessage();
    boxOwner = owner;
    if (owner != NULL)
        SetWindowSubclass(owner, BoxOwnerProc, kBoxOwnerSubclassId, 0);
}

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    HWND gui = boxOwner;
    if (gui != NULL && GetWindowThreadProcessId(gui, NULL) != GetCurrentThreadId()) {
        BoxRequest request = {text, caption, type, 0};
        SendMessageW(gui, BoxRequestMessage(), 0, (LPARAM)&request);
        return request.answer;
    }
    return current->messageBox(owner, text, caption, type);
}

int BrowseForFolder(BROWSEINFOW* info, wchar_t* path) {
    return current->browseForFolder(info, path);
}

INT_PTR ShellOpen(HWND owner, const wchar_t* file, const wchar_t* parameters, const wchar_t* folder,
                  int show) {
    return current->shellOpen(owner, file, parameters, folder, show);
}

UINT RunCommand(const char* commandLine, UINT show) {
    return current->runCommand(commandLine, show);
}

void WarningBeep(UINT type) {
    current->beep(type);
}

int RestartWindows() {
    return current->restartWindows != NULL ? current->restartWindows() : 0;
}

INT_PTR OpenAsUser(DesktopOpenFunction desktopOpen, ShellOpenFunction ownOpen, int (*elevatedAboveUser)(),
                   HWND owner, const wchar_t* file, const wchar_t* parameters, const wchar_t* folder,
                   int show) {
    // The desktop's shell says only that it took the request; 33 stands for that as ShellExecuteW's success.
    if (desktopOpen(file, parameters, folder, show))
        return 33;
    if (elevatedAboveUser())
        return kOpenRefused;
    return ownOpen(owner, file, parameters, folder, show);
}

int ElevatedAboveUser() {
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return 1; // unknown: nothing is started with rights that may be more than the user's
    const int kTokenElevationType = 18, kElevationTypeFull = 2;
    DWORD type = 0, length = 0;
    // Before Vista there is no such split: the user's programs run with the same rights.
    int above = GetTokenInformation(token, (TOKEN_INFORMATION_CLASS)kTokenElevationType, &type, sizeof type,
                                    &length) &&
                type == (DWORD)kElevationTypeFull;
    CloseHandle(token);
    return above;
}
