#pragma once
#include "framework/Wnd.h"

#include <commctrl.h>

class CPropertySheet;

// One page of a property sheet, made from a dialog template. Its dialog procedure turns the sheet's
// notifications into the virtual operations below and reflects the notifications of subclassed
// controls back to them.
class CPropertyPage : public CWnd {
  public:
    explicit CPropertyPage(UINT templateId) : templateId_(templateId) {}

    UINT GetTemplateId() const { return templateId_; }

  protected:
    // Once, when the page's dialog is set up: the data exchange.
    virtual BOOL OnInitDialog();
    // Attaches controls of the dialog to objects; may run again without harm.
    virtual void DoDataExchange() {}
    virtual BOOL OnSetActive() { return TRUE; }
    // -1 keeps the current page, 0 goes to the neighbour, any other value is the template id to show.
    virtual LRESULT OnWizardNext() { return 0; }
    virtual LRESULT OnWizardBack() { return 0; }
    // A WM_NOTIFY from the sheet or a control; TRUE with *result when handled.
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);
    // A command of a control (id, notification code); TRUE when handled.
    virtual BOOL OnCommand(WORD id, WORD code, HWND control) {
        (void)id, (void)code, (void)control;
        return FALSE;
    }

  private:
    friend class CPropertySheet;
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
};

// A property sheet over the platform's PropertySheetW. The sheet window is subclassed from its
// creation on, so OnInitDialog, OnCommand and OnSysCommand see its messages before the platform does.
class CPropertySheet : public CWnd {
  public:
    enum { kMaxPages = 8 };

    CPropertySheet(const wchar_t* caption, HWND parent = NULL, UINT startPage = 0);

    void AddPage(CPropertyPage* page);
    INT_PTR DoModal();
    // Index of the page shown now; the start page before the window exists.
    int GetActiveIndex() const;
    int GetPageCount() const { return pageCount_; }
    CPropertyPage* GetPage(int index) const;
    // Position of a page in the sheet, -1 when it is not one of its pages.
    int GetPageIndex(const CPropertyPage* page) const;
    // The sheet's Back, Next and Cancel buttons.
    enum { kBackButton = 12323, kNextButton = 12324, kCancelButton = IDCANCEL };

  protected:
    // The platform's initialisation of the sheet (creates and shows the start page) and its result.
    virtual BOOL OnInitDialog();
    // Nonzero when the command was consumed; the base hands it to the platform (Cancel closes).
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    // The base hands the command to the default processing (SC_CLOSE closes).
    virtual void OnSysCommand(UINT id, LPARAM lParam);
    // Every other message of the sheet window; the base hands it to the platform.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
        return DefSubclassProc(m_hWnd, message, wParam, lParam);
    }

    PROPSHEETHEADERW m_psh;

  private:
    static LRESULT CALLBACK CreationHook(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK SheetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                      DWORD_PTR data);

    CPropertyPage* pages_[kMaxPages] = {};
    int pageCount_ = 0;
    WPARAM initWParam_ = 0;
    LPARAM initLParam_ = 0;
    HHOOK hook_ = NULL;
};
