#pragma once
#include <windows.h>

// Owns one GDI font and deletes it.
class CFont {
  public:
    CFont() = default;
    ~CFont() { DeleteObject(); }
    CFont(const CFont&) = delete;
    CFont& operator=(const CFont&) = delete;

    BOOL CreateFontIndirect(const LOGFONTW& logFont) {
        DeleteObject();
        handle_ = ::CreateFontIndirectW(&logFont);
        return handle_ != NULL;
    }
    void DeleteObject() {
        if (handle_ != NULL)
            ::DeleteObject(handle_);
        handle_ = NULL;
    }
    operator HFONT() const { return handle_; }

  private:
    HFONT handle_ = NULL;
};

// The LOGFONTW of a window's font (WM_GETFONT), else of the stock DEFAULT_GUI_FONT, else of
// ANSI_VAR_FONT. 0 when none could be read.
int GetWindowLogFont(HWND window, LOGFONTW& logFont);
