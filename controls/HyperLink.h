#pragma once
#include "framework/Font.h"
#include "framework/Static.h"

#include <stddef.h>

// A static text of a dialog turned into a web link: link colours, an underline while the mouse is over
// it (or always, or never), a hand cursor, and its address opened in the browser when clicked.
class CHyperLink : public CStatic {
  public:
    enum { kUrlChars = 2084, kRegistryValueChars = 130 };

    CHyperLink();
    ~CHyperLink() override;

    // -1 underline while hovered, 0 never, 1 always.
    void SetUnderlineMode(int mode);
    int GetUnderlineMode() const { return underlineMode_; }
    void SetLinkUrl(const wchar_t* url);
    const wchar_t* GetLinkUrl() const { return url_; }
    int IsVisited() const { return visited_; }
    // Resizes the window to its text (measured in the underlined font), keeping its alignment.
    void FitToText();

    // Opens the address in the browser; greater than 32 for success.
    static INT_PTR LaunchUrl(const wchar_t* url, int show);
    // The default value of root\subKey into destination (kRegistryValueChars); 0 or the registry error.
    static LONG ReadRegistryDefaultValue(HKEY root, const wchar_t* subKey, wchar_t* destination);

  protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  private:
    void LoadLinkCursor();
    // Opens the address (a click, its access key, or Enter or Space while it has the focus).
    void Open();
    void SetFont(HFONT font) { SendMessageW(m_hWnd, WM_SETFONT, (WPARAM)font, TRUE); }

    COLORREF linkColour_ = RGB(0, 0, 238);
    COLORREF visitedColour_ = RGB(85, 26, 139);
    COLORREF hoverColour_ = RGB(255, 0, 0);
    int over_ = 0;
    int visited_ = 0;
    int underlineMode_ = -1;
    int fitToText_ = 1;
    wchar_t url_[kUrlChars] = L"";
    CFont underlinedFont_;
    CFont standardFont_;
    HCURSOR linkCursor_ = NULL;
    UINT_PTR timerId_ = 100;
};

// The browser command of the registry fallback: the command of the HTML class cut before its "%1"
// placeholder (quoted or not), a blank and the address. 0 when it does not fit into capacity.
int BuildBrowserCommand(const wchar_t* command, const wchar_t* url, wchar_t* out, size_t capacity);

// Where the address may not be opened (the setup runs elevated and the desktop's shell cannot be reached),
// shows it for the user to open in the browser instead.
void ShowAddressInstead(HWND owner, const wchar_t* url);
