#include "framework/Wnd.h"

#include "framework/Interaction.h"

void CWnd::GetDlgItemText(int id, wchar_t* text, int capacity) const {
    if (capacity <= 0)
        return;
    text[0] = L'\0';
    ::GetDlgItemTextW(m_hWnd, id, text, capacity);
    text[capacity - 1] = L'\0';
}

int CWnd::MessageBox(const wchar_t* text, const wchar_t* caption, UINT type) const {
    return ShowMessageBox(m_hWnd, text, caption, type);
}
