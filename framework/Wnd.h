#pragma once
#include <windows.h>

// A window the program talks to through its handle; the sheet, the pages and the subclassed statics
// derive from it. It neither creates nor destroys the window.
class CWnd {
  public:
    virtual ~CWnd() {}

    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    int IsDlgButtonChecked(int id) const { return ::IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED; }
    void CheckDlgButton(int id, int checked) const {
        ::CheckDlgButton(m_hWnd, id, checked ? BST_CHECKED : BST_UNCHECKED);
    }
    void EnableDlgItem(int id, BOOL enable) const { ::EnableWindow(GetDlgItem(id), enable); }
    // The control's text, cut to capacity characters with the terminator.
    void GetDlgItemText(int id, wchar_t* text, int capacity) const;
    void SetDlgItemText(int id, const wchar_t* text) const { ::SetDlgItemTextW(m_hWnd, id, text); }
    int MessageBox(const wchar_t* text, const wchar_t* caption, UINT type) const;

    HWND m_hWnd = NULL;
};
