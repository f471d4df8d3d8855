#include "framework/Font.h"

#include <string.h>

int GetWindowLogFont(HWND window, LOGFONTW& logFont) {
    memset(&logFont, 0, sizeof logFont);
    HGDIOBJ font = (HGDIOBJ)SendMessageW(window, WM_GETFONT, 0, 0);
    if (font == NULL)
        font = GetStockObject(DEFAULT_GUI_FONT);
    if (font == NULL)
        font = GetStockObject(ANSI_VAR_FONT);
    return font != NULL && GetObjectW(font, sizeof logFont, &logFont) != 0;
}
