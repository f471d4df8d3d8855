#pragma once
#include "framework/Wnd.h"

// A static control of a dialog, subclassed to an object that handles its messages. The dialog
// reflects the control's WM_COMMAND and WM_CTLCOLORSTATIC back to it (Reflect).
class CStatic : public CWnd {
  public:
    ~CStatic() override;

    // Attaches the dialog's control id; FALSE when there is no such control or one is attached already.
    BOOL SubclassDlgItem(int id, HWND parent);

    // For the parent dialog: offers a control's message to the object attached to it. TRUE with *result
    // when the object handled it.
    static BOOL Reflect(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

  protected:
    // Called once the window is attached.
    virtual void PreSubclassWindow() {}
    // The subclassed window's messages; the base hands them to the control's own procedure.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
        return Default(message, wParam, lParam);
    }
    // A message the parent reflected (WM_COMMAND, WM_CTLCOLORSTATIC); TRUE with *result when handled.
    virtual BOOL OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
        (void)message, (void)wParam, (void)lParam, (void)result;
        return FALSE;
    }
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);

  private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data);
    void Detach();
};
