#include "framework/Static.h"

#include <commctrl.h>

namespace {
const UINT_PTR kStaticSubclassId = 0x5354; // one id for every attached static
// The attached object, for the parent's reflection; a property, so the control's own data stays its own.
const wchar_t kObjectProperty[] = L"Glimmerly.CStatic";
} // namespace

CStatic::~CStatic() {
    Detach();
}

BOOL CStatic::SubclassDlgItem(int id, HWND parent) {
    HWND control = ::GetDlgItem(parent, id);
    if (control == NULL || m_hWnd != NULL)
        return FALSE;
    if (!SetWindowSubclass(control, SubclassProc, kStaticSubclassId, (DWORD_PTR)this))
        return FALSE;
    SetPropW(control, kObjectProperty, (HANDLE)this);
    m_hWnd = control;
    PreSubclassWindow();
    return TRUE;
}

void CStatic::Detach() {
    if (m_hWnd != NULL) {
        RemoveWindowSubclass(m_hWnd, SubclassProc, kStaticSubclassId);
        RemovePropW(m_hWnd, kObjectProperty);
    }
    m_hWnd = NULL;
}

BOOL CStatic::Reflect(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    HWND control = (HWND)lParam;
    CStatic* attached = control != NULL ? (CStatic*)GetPropW(control, kObjectProperty) : NULL;
    return attached != NULL && attached->OnReflected(message, wParam, lParam, result);
}

LRESULT CStatic::Default(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefSubclassProc(m_hWnd, message, wParam, lParam);
}

LRESULT CALLBACK CStatic::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR data) {
    CStatic* control = (CStatic*)data;
    if (message == WM_NCDESTROY) {
        control->Detach();
        return DefSubclassProc(window, message, wParam, lParam);
    }
    return control->WindowProc(message, wParam, lParam);
}
