#include "controls/HyperLink.h"

#include "framework/Interaction.h"
#include "install/PathHelpers.h"
#include "res/resource.h"

#include <string.h>
#include <wchar.h>

CHyperLink::CHyperLink() {}

CHyperLink::~CHyperLink() {
    if (linkCursor_ != NULL)
        DestroyCursor(linkCursor_);
}

void CHyperLink::PreSubclassWindow() {
    SetWindowLongPtrW(m_hWnd, GWL_STYLE, GetWindowLongPtrW(m_hWnd, GWL_STYLE) | SS_NOTIFY);

    wchar_t text[kUrlChars] = L"";
    GetWindowTextW(m_hWnd, text, kUrlChars);
    if (url_[0] == L'\0')
        CopyText(url_, kUrlChars, text);
    if (text[0] == L'\0')
        SetWindowTextW(m_hWnd, url_);

    LOGFONTW logFont;
    if (GetWindowLogFont(m_hWnd, logFont)) {
        standardFont_.CreateFontIndirect(logFont);
        logFont.lfUnderline = TRUE;
        underlinedFont_.CreateFontIndirect(logFont);
    }
    FitToText();
    LoadLinkCursor();

    // Attaching starts over with the underline shown only while hovered.
    if (underlineMode_ != -1) {
        SetFont(standardFont_);
        InvalidateRect(m_hWnd, NULL, TRUE);
    }
    underlineMode_ = -1;
}

void CHyperLink::SetUnderlineMode(int mode) {
    if (mode == underlineMode_)
        return;
    if (m_hWnd != NULL) {
        SetFont(mode == 1 ? underlinedFont_ : standardFont_);
        InvalidateRect(m_hWnd, NULL, TRUE);
    }
    underlineMode_ = mode;
}

void CHyperLink::SetLinkUrl(const wchar_t* url) {
    CopyText(url_, kUrlChars, url != NULL ? url : L"");
    if (m_hWnd != NULL)
        FitToText();
}

void CHyperLink::FitToText() {
    if (m_hWnd == NULL || !fitToText_)
        return;
    RECT window, client;
    GetWindowRect(m_hWnd, &window);
    GetClientRect(m_hWnd, &client);
    MapWindowPoints(m_hWnd, NULL, (POINT*)&client, 2);
    HWND parent = GetParent(m_hWnd);
    if (parent != NULL) {
        MapWindowPoints(NULL, parent, (POINT*)&window, 2);
        MapWindowPoints(NULL, parent, (POINT*)&client, 2);
    }

    wchar_t text[kUrlChars] = L"";
    int length = GetWindowTextW(m_hWnd, text, kUrlChars);
    LONG_PTR style = GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    // Measured as the static draws it: the access key's "&" takes no room.
    RECT extent = {0, 0, 0, 0};
    HDC dc = GetDC(m_hWnd);
    if (dc != NULL) {
        HGDIOBJ previous = SelectObject(dc, (HFONT)underlinedFont_);
        DrawTextW(dc, text, length, &extent,
                  DT_CALCRECT | DT_SINGLELINE | (style & SS_NOPREFIX ? DT_NOPREFIX : 0));
        SelectObject(dc, previous);
        ReleaseDC(m_hWnd, dc);
    }
    int width = extent.right + (window.right - window.left) - (client.right - client.left);
    int height = extent.bottom + (window.bottom - window.top) - (client.bottom - client.top);

    if (style & SS_CENTERIMAGE) {
        int shrink = ((window.bottom - window.top) - height) / 2;
        window.top += shrink;
        window.bottom -= shrink;
    } else {
        window.bottom = window.top + height;
    }
    // SS_CENTER and SS_RIGHT are values of the type field, not bits of their own.
    LONG_PTR type = style & SS_TYPEMASK;
    if (type == SS_CENTER) {
        int shrink = ((window.right - window.left) - width) / 2;
        window.left += shrink;
        window.right -= shrink;
    } else if (type == SS_RIGHT) {
        window.left = window.right - width;
    } else {
        window.right = window.left + width;
    }
    SetWindowPos(m_hWnd, NULL, window.left, window.top, window.right - window.left,
                 window.bottom - window.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The help program's hand cursor where it has one; the system's hand cursor otherwise.
void CHyperLink::LoadLinkCursor() {
    if (linkCursor_ != NULL)
        return;
    wchar_t path[kPathChars];
    UINT length = GetWindowsDirectoryW(path, kPathChars);
    if (length > 0 && length < kPathChars && AppendText(path, kPathChars, L"\\winhlp32.exe")) {
        HMODULE help = LoadLibraryExW(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
        if (help != NULL) {
            HCURSOR cursor = LoadCursorW(help, MAKEINTRESOURCEW(106));
            if (cursor != NULL)
                linkCursor_ = (HCURSOR)CopyIcon((HICON)cursor);
            FreeLibrary(help);
        }
    }
    if (linkCursor_ == NULL) {
        HCURSOR hand = LoadCursorW(NULL, IDC_HAND);
        if (hand != NULL)
            linkCursor_ = (HCURSOR)CopyIcon((HICON)hand);
    }
}

LRESULT CHyperLink::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(m_hWnd, &client);
        FillRect((HDC)wParam, &client, GetSysColorBrush(COLOR_BTNFACE));
        return TRUE;
    }
    case WM_SETCURSOR:
        if (linkCursor_ == NULL)
            return FALSE;
        SetCursor(linkCursor_);
        return TRUE;
    case WM_MOUSEMOVE:
        if (!over_) {
            over_ = 1;
            if (underlineMode_ == -1)
                SetFont(underlinedFont_);
            InvalidateRect(m_hWnd, NULL, TRUE);
            SetTimer(m_hWnd, timerId_, 100, NULL);
        }
        break;
    case WM_TIMER: {
        DWORD position = GetMessagePos();
        POINT point = {(short)LOWORD(position), (short)HIWORD(position)};
        ScreenToClient(m_hWnd, &point);
        RECT client;
        GetClientRect(m_hWnd, &client);
        if (!PtInRect(&client, point)) {
            over_ = 0;
            KillTimer(m_hWnd, timerId_);
            if (underlineMode_ != 1)
                SetFont(standardFont_);
            client.bottom += 10;
            InvalidateRect(m_hWnd, &client, TRUE);
        }
        break;
    }
    case WM_DESTROY:
        KillTimer(m_hWnd, timerId_);
        break;
    case WM_GETDLGCODE: {
        // A button to the dialog: its access key clicks it (BM_CLICK), and Enter reaches it when it
        // has the focus instead of pressing the default button.
        const MSG* key = (const MSG*)lParam;
        bool enter = key != NULL && key->message == WM_KEYDOWN && key->wParam == VK_RETURN;
        return DLGC_BUTTON | (enter ? DLGC_WANTMESSAGE : 0);
    }
    case WM_KEYDOWN:
        if ((wParam == VK_RETURN || wParam == VK_SPACE) && !(lParam & 0x40000000)) {
            Open();
            return 0;
        }
        break;
    case BM_CLICK:
        Open();
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        InvalidateRect(m_hWnd, NULL, TRUE);
        break;
    case WM_PAINT: {
        LRESULT result = Default(message, wParam, lParam);
        if (GetFocus() == m_hWnd && !(SendMessageW(m_hWnd, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS)) {
            RECT client;
            GetClientRect(m_hWnd, &client);
            HDC dc = GetDC(m_hWnd);
            DrawFocusRect(dc, &client);
            ReleaseDC(m_hWnd, dc);
        }
        return result;
    }
    }
    return Default(message, wParam, lParam);
}

void CHyperLink::Open() {
    over_ = 0;
    if (LaunchUrl(url_, SW_SHOW) > 32) {
        visited_ = 1;
        if (m_hWnd != NULL)
            InvalidateRect(m_hWnd, NULL, TRUE);
    } else {
        visited_ = 0;
        WarningBeep(MB_ICONEXCLAMATION);
    }
}

BOOL CHyperLink::OnReflected(UINT message, WPARAM wParam, LPARAM, LRESULT* result) {
    if (message == WM_CTLCOLORSTATIC) {
        HDC dc = (HDC)wParam;
        SetTextColor(dc, over_ ? hoverColour_ : visited_ ? visitedColour_ : linkColour_);
        SetBkMode(dc, TRANSPARENT);
        *result = (LRESULT)GetStockObject(NULL_BRUSH);
        return TRUE;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == STN_CLICKED) {
        Open();
        *result = 0;
        return TRUE;
    }
    return FALSE;
}

INT_PTR CHyperLink::LaunchUrl(const wchar_t* url, int show) {
    INT_PTR result = ShellOpen(GetDesktopWindow(), url, NULL, NULL, show);
    if (result > 32)
        return result;
    // The browser started from here would run elevated as well.
    if (result == kOpenRefused) {
        ShowAddressInstead(GetActiveWindow(), url);
        return result;
    }

    // No handler for the address itself: start the program that opens HTML files.
    wchar_t key[kRegistryValueChars + 32];
    if (ReadRegistryDefaultValue(HKEY_CLASSES_ROOT, L".htm", key) != ERROR_SUCCESS)
        return result;
    wchar_t command[kRegistryValueChars];
    if (!AppendText(key, sizeof key / sizeof key[0], L"\\shell\\open\\command") ||
        ReadRegistryDefaultValue(HKEY_CLASSES_ROOT, key, command) != ERROR_SUCCESS)
        return result;
    wchar_t line[kRegistryValueChars + kUrlChars + 2];
    if (!BuildBrowserCommand(command, url, line, sizeof line / sizeof line[0]))
        return result;
    char ansi[(kRegistryValueChars + kUrlChars + 2) * 2];
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, line, -1, ansi, sizeof ansi, NULL, NULL) == 0)
        return result;
    return RunCommand(ansi, show);
}

LONG CHyperLink::ReadRegistryDefaultValue(HKEY root, const wchar_t* subKey, wchar_t* destination) {
    destination[0] = L'\0';
    HKEY key;
    LONG error = RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE, &key);
    if (error != ERROR_SUCCESS)
        return error;
    wchar_t value[kRegistryValueChars] = L"";
    DWORD bytes = sizeof value;
    error = RegQueryValueExW(key, NULL, NULL, NULL, (BYTE*)value, &bytes);
    RegCloseKey(key);
    if (error != ERROR_SUCCESS)
        return error;
    // A stored value need not end in a terminator.
    size_t length = bytes / sizeof value[0];
    value[length < kRegistryValueChars ? length : kRegistryValueChars - 1] = L'\0';
    CopyText(destination, kRegistryValueChars, value);
    return ERROR_SUCCESS;
}

int BuildBrowserCommand(const wchar_t* command, const wchar_t* url, wchar_t* out, size_t capacity) {
    if (capacity == 0)
        return 0;
    const wchar_t* placeholder = wcsstr(command, L"\"%1\"");
    if (placeholder == NULL)
        placeholder = wcsstr(command, L"%1");
    size_t keep = placeholder != NULL ? (size_t)(placeholder - command) : wcslen(command);
    if (keep >= capacity)
        return 0;
    wmemcpy(out, command, keep);
    out[keep] = L'\0';
    return AppendText(out, capacity, L" ") && AppendText(out, capacity, url);
}

void ShowAddressInstead(HWND owner, const wchar_t* url) {
    wchar_t format[256] = L"", caption[128] = L"", text[256 + CHyperLink::kUrlChars];
    LoadStringW(GetModuleHandleW(NULL), IDS_OPEN_ADDRESS, format, 256);
    // The caption of the window it belongs to, as every box of the setup has.
    HWND root = owner != NULL ? GetAncestor(owner, GA_ROOT) : NULL;
    if (root == NULL || GetWindowTextW(root, caption, 128) == 0)
        LoadStringW(GetModuleHandleW(NULL), IDS_INSTALL_TITLE, caption, 128);
    _snwprintf(text, sizeof text / sizeof text[0] - 1, format, url);
    text[sizeof text / sizeof text[0] - 1] = L'\0';
    ShowMessageBox(owner, text, caption, MB_OK | MB_ICONINFORMATION);
}
