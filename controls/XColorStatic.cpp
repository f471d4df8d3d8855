#include "controls/XColorStatic.h"

#include <string.h>
#include <wchar.h>

CXColorStatic::CXColorStatic()
    : textColour_(GetSysColor(COLOR_BTNTEXT)), backColour_(GetSysColor(COLOR_BTNFACE)),
      backBrush_(CreateSolidBrush(backColour_)) {}

CXColorStatic::~CXColorStatic() {
    if (backBrush_ != NULL)
        DeleteObject(backBrush_);
}

void CXColorStatic::PreSubclassWindow() {
    // A copy of the window's font; the window's own font is left as it is.
    LOGFONTW logFont;
    if (GetWindowLogFont(m_hWnd, logFont))
        font_.CreateFontIndirect(logFont);
}

void CXColorStatic::Redraw() {
    if (m_hWnd != NULL)
        RedrawWindow(m_hWnd, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void CXColorStatic::ChangeTextColour(COLORREF colour, BOOL redraw) {
    textColour_ = colour;
    if (redraw)
        Redraw();
}

void CXColorStatic::ChangeBold(BOOL bold, BOOL redraw) {
    bold_ = bold ? 1 : 0;
    LOGFONTW logFont;
    ApplyLogFont(GetWindowLogFont(m_hWnd, logFont) ? &logFont : NULL, redraw);
}

void CXColorStatic::ApplyLogFont(const LOGFONTW* logFont, BOOL redraw) {
    if (logFont == NULL)
        return;
    LOGFONTW copy = *logFont;
    copy.lfWeight = bold_ ? FW_BOLD : FW_NORMAL;
    font_.CreateFontIndirect(copy);
    if (redraw)
        Redraw();
}

void CXColorStatic::ApplyFace(const wchar_t* face, int height, BOOL redraw) {
    LOGFONTW logFont;
    memset(&logFont, 0, sizeof logFont);
    if (face != NULL)
        wcsncpy(logFont.lfFaceName, face, LF_FACESIZE - 1);
    else
        GetWindowLogFont(m_hWnd, logFont);
    logFont.lfHeight = height;
    logFont.lfQuality = ANTIALIASED_QUALITY;
    ApplyLogFont(&logFont, redraw);
}

void CXColorStatic::Paint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    int saved = SaveDC(dc);
    SetTextColor(dc, textColour_);
    SetBkColor(dc, backColour_);
    SetBkMode(dc, OPAQUE);
    SelectObject(dc, backBrush_);
    SelectObject(dc, (HFONT)font_);
    wchar_t text[1024] = L"";
    GetWindowTextW(m_hWnd, text, 1024);

    LONG_PTR style = GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    LONG_PTR type = style & SS_TYPEMASK;
    UINT format = type == SS_CENTER ? DT_CENTER : type == SS_RIGHT ? DT_RIGHT : DT_LEFT;
    format |= (style & SS_CENTERIMAGE) ? DT_SINGLELINE | DT_VCENTER : DT_WORDBREAK;
    RECT client;
    GetClientRect(m_hWnd, &client);
    DrawTextW(dc, text, -1, &client, format);
    RestoreDC(dc, saved);
    EndPaint(m_hWnd, &paint);
}

LRESULT CXColorStatic::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        Paint();
        return 0;
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(m_hWnd, &client);
        FillRect((HDC)wParam, &client, backBrush_);
        return TRUE;
    }
    }
    return Default(message, wParam, lParam);
}
