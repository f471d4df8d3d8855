#include "framework/Interaction.h"

#include "framework/ComApartment.h"
#include "framework/SystemLibrary.h"

#include <commctrl.h>

namespace {

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

INT_PTR RealShellOpen(HWND owner, const wchar_t* file, const wchar_t* parameters, const wchar_t* folder,
                      int show) {
    typedef HINSTANCE(WINAPI * ExecuteFunction)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
    ExecuteFunction execute = SystemFunction<ExecuteFunction>(L"shell32.dll", "ShellExecuteW");
    if (execute == NULL)
        return SE_ERR_DLLNOTFOUND;
    return (INT_PTR)execute(owner, L"open", file, parameters, folder, show);
}

UINT RealRunCommand(const char* commandLine, UINT show) {
    return WinExec(commandLine, show);
}

void RealBeep(UINT type) {
    MessageBeep(type);
}

const Interaction kReal = {RealMessageBox, RealBrowseForFolder, RealShellOpen, RealRunCommand, RealBeep};
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
