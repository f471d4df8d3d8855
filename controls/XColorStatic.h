#pragma once
#include "framework/Font.h"
#include "framework/Static.h"

// A static text drawn by itself: a chosen text colour on a solid background, in a font of its own
// that can be made bold or given another face and height.
class CXColorStatic : public CStatic {
  public:
    CXColorStatic();
    ~CXColorStatic() override;

    void ChangeTextColour(COLORREF colour, BOOL redraw);
    // Rebuilds the own font from the window's font, bold or normal.
    void ChangeBold(BOOL bold, BOOL redraw);
    // The own font from logFont, with the bold flag's weight; nothing when logFont is null.
    void ApplyLogFont(const LOGFONTW* logFont, BOOL redraw);
    // The own font with this face (the window's font without one), height and antialiased quality.
    void ApplyFace(const wchar_t* face, int height, BOOL redraw);

    COLORREF GetTextColour() const { return textColour_; }
    HFONT GetOwnFont() const { return font_; }

  protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void Redraw();
    void Paint();

    CFont font_;
    COLORREF textColour_;
    COLORREF backColour_;
    HBRUSH backBrush_;
    int bold_ = 0;
};
