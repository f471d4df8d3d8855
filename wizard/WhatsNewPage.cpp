#include "wizard/WizPropertyPage.h"

#include "res/resource.h"

#include <string.h>
#include <wctype.h>

namespace {

// A multi-line edit box asks for every key, which left the keyboard no way out of the page.
LRESULT CALLBACK ReadOnlyTextProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                  DWORD_PTR) {
    LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    if (message == WM_GETDLGCODE)
        result &= ~(LRESULT)(DLGC_WANTALLKEYS | DLGC_WANTTAB);
    else if (message == WM_NCDESTROY)
        RemoveWindowSubclass(window, ReadOnlyTextProc, id);
    return result;
}

} // namespace

void LeaveDialogKeysToWizard(HWND box) {
    SetWindowSubclass(box, ReadOnlyTextProc, 1, 0);
}

void CWizPropertyPage::LoadChangesText() {
    HMODULE module = GetModuleHandleW(NULL);
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(IDR_CHANGES), L"TXT");
    if (resource == NULL)
        return;
    DWORD size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    const void* data = loaded != NULL ? LockResource(loaded) : NULL;
    if (data == NULL)
        return;
    wchar_t text[kChangesChars];
    PrepareChangesText(data, size, text);
    SetDlgItemText(IDC_CHANGES, text);
}

void PrepareChangesText(const void* data, unsigned long size, wchar_t* text) {
    const unsigned long bytes = kChangesChars * sizeof(wchar_t);
    memset(text, 0, bytes);
    memcpy(text, data, size < bytes ? size : bytes - 1);
    // The byte left out is only the high half of the last code unit: the text is cut after 10239
    // whole code units, and the terminator is made sure of.
    text[kChangesChars - 1] = L'\0';
    size_t length = wcslen(text);
    while (length > 0 && !iswalnum(text[length - 1]))
        text[--length] = L'\0';
}
