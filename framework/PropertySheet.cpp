#include "framework/PropertySheet.h"

#include "framework/Static.h"

#include <string.h>

namespace {

// The sheet whose window is being created; there is one GUI thread and one modal sheet at a time.
CPropertySheet* creatingSheet = NULL;
const UINT_PTR kSheetSubclassId = 1;

} // namespace

// ---- page ------------------------------------------------------------------------------------------

BOOL CPropertyPage::OnInitDialog() {
    DoDataExchange();
    return TRUE;
}

BOOL CPropertyPage::OnNotify(WPARAM, LPARAM lParam, LRESULT* result) {
    switch (((NMHDR*)lParam)->code) {
    case PSN_SETACTIVE:
        *result = OnSetActive() ? 0 : -1;
        return TRUE;
    case PSN_WIZNEXT:
        *result = OnWizardNext();
        return TRUE;
    case PSN_WIZBACK:
        *result = OnWizardBack();
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK CPropertyPage::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        // The platform passes its own copy of the PROPSHEETPAGEW; the page rides in its lParam.
        CPropertyPage* page = (CPropertyPage*)((PROPSHEETPAGEW*)lParam)->lParam;
        SetWindowLongPtrW(window, DWLP_USER, (LONG_PTR)page);
        page->m_hWnd = window;
        return page->OnInitDialog();
    }
    CPropertyPage* page = (CPropertyPage*)GetWindowLongPtrW(window, DWLP_USER);
    if (page == NULL)
        return FALSE;
    LRESULT result = 0;
    switch (message) {
    case WM_NOTIFY:
        if (!page->OnNotify(wParam, lParam, &result))
            return FALSE;
        SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
        return TRUE;
    case WM_COMMAND:
        if (CStatic::Reflect(message, wParam, lParam, &result))
            return TRUE;
        return page->OnCommand(LOWORD(wParam), HIWORD(wParam), (HWND)lParam);
    case WM_CTLCOLORSTATIC:
        // A dialog procedure returns the brush itself for the colour messages.
        return CStatic::Reflect(message, wParam, lParam, &result) ? (INT_PTR)result : FALSE;
    case WM_NCDESTROY:
        page->m_hWnd = NULL;
        SetWindowLongPtrW(window, DWLP_USER, 0);
        return FALSE;
    }
    return FALSE;
}

// ---- sheet -----------------------------------------------------------------------------------------

CPropertySheet::CPropertySheet(const wchar_t* caption, HWND parent, UINT startPage) {
    memset(&m_psh, 0, sizeof m_psh);
    m_psh.dwSize = sizeof m_psh;
    m_psh.dwFlags = PSH_PROPSHEETPAGE;
    m_psh.hwndParent = parent;
    m_psh.pszCaption = caption;
    m_psh.nStartPage = startPage;
}

void CPropertySheet::AddPage(CPropertyPage* page) {
    if (pageCount_ < kMaxPages)
        pages_[pageCount_++] = page;
}

CPropertyPage* CPropertySheet::GetPage(int index) const {
    return index >= 0 && index < pageCount_ ? pages_[index] : NULL;
}

int CPropertySheet::GetPageIndex(const CPropertyPage* page) const {
    for (int i = 0; i < pageCount_; ++i)
        if (pages_[i] == page)
            return i;
    return -1;
}

int CPropertySheet::GetActiveIndex() const {
    if (m_hWnd == NULL)
        return (int)m_psh.nStartPage;
    HWND page = (HWND)SendMessageW(m_hWnd, PSM_GETCURRENTPAGEHWND, 0, 0);
    return (int)SendMessageW(m_hWnd, PSM_HWNDTOINDEX, (WPARAM)page, 0);
}

INT_PTR CPropertySheet::DoModal() {
    PROPSHEETPAGEW pages[kMaxPages];
    memset(pages, 0, sizeof pages);
    for (int i = 0; i < pageCount_; ++i) {
        pages[i].dwSize = sizeof pages[i];
        pages[i].dwFlags = PSP_DEFAULT;
        pages[i].hInstance = GetModuleHandleW(NULL);
        pages[i].pszTemplate = MAKEINTRESOURCEW(pages_[i]->GetTemplateId());
        pages[i].pfnDlgProc = CPropertyPage::DialogProc;
        pages[i].lParam = (LPARAM)pages_[i];
    }
    m_psh.hInstance = GetModuleHandleW(NULL);
    m_psh.nPages = pageCount_;
    m_psh.ppsp = pages;

    creatingSheet = this;
    hook_ = SetWindowsHookExW(WH_CBT, CreationHook, NULL, GetCurrentThreadId());
    INT_PTR result = PropertySheetW(&m_psh);
    if (hook_ != NULL)
        UnhookWindowsHookEx(hook_);
    hook_ = NULL;
    creatingSheet = NULL;
    return result;
}

// Subclasses the sheet's window as it is created, before it receives WM_INITDIALOG.
LRESULT CALLBACK CPropertySheet::CreationHook(int code, WPARAM wParam, LPARAM lParam) {
    CPropertySheet* sheet = creatingSheet;
    if (code == HCBT_CREATEWND && sheet != NULL && sheet->m_hWnd == NULL) {
        const CREATESTRUCTW* create = ((CBT_CREATEWNDW*)lParam)->lpcs;
        bool dialogClass =
            IS_INTRESOURCE(create->lpszClass) && LOWORD((ULONG_PTR)create->lpszClass) == 0x8002;
        if (dialogClass && !(create->style & WS_CHILD)) {
            sheet->m_hWnd = (HWND)wParam;
            SetWindowSubclass(sheet->m_hWnd, SheetProc, kSheetSubclassId, (DWORD_PTR)sheet);
        }
    }
    return CallNextHookEx(sheet != NULL ? sheet->hook_ : NULL, code, wParam, lParam);
}

LRESULT CALLBACK CPropertySheet::SheetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR data) {
    CPropertySheet* sheet = (CPropertySheet*)data;
    switch (message) {
    case WM_INITDIALOG:
        sheet->initWParam_ = wParam;
        sheet->initLParam_ = lParam;
        return sheet->OnInitDialog();
    case WM_COMMAND:
        if (!sheet->OnCommand(wParam, lParam))
            return DefSubclassProc(window, message, wParam, lParam);
        return 0;
    case WM_SYSCOMMAND:
        sheet->OnSysCommand((UINT)wParam, lParam);
        return 0;
    case WM_NCDESTROY:
        RemoveWindowSubclass(window, SheetProc, kSheetSubclassId);
        sheet->m_hWnd = NULL;
        return DefSubclassProc(window, message, wParam, lParam);
    }
    return sheet->WindowProc(message, wParam, lParam);
}

BOOL CPropertySheet::OnInitDialog() {
    return (BOOL)DefSubclassProc(m_hWnd, WM_INITDIALOG, initWParam_, initLParam_);
}

BOOL CPropertySheet::OnCommand(WPARAM wParam, LPARAM lParam) {
    DefSubclassProc(m_hWnd, WM_COMMAND, wParam, lParam);
    return TRUE;
}

void CPropertySheet::OnSysCommand(UINT id, LPARAM lParam) {
    DefSubclassProc(m_hWnd, WM_SYSCOMMAND, id, lParam);
}
