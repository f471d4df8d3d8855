// Stand-in for the image viewer: opens its main window and shows what it was asked to open.
#include <windows.h>
#include <shellapi.h>
#include <wchar.h>
#include <stdlib.h>

namespace {

const wchar_t kClassName[] = L"Glimmerly";
const UINT_PTR kAutoCloseTimer = 1;
const size_t kTextCapacity = 1024;

wchar_t g_text[kTextCapacity];

void AppendText(const wchar_t* part) {
    size_t used = wcslen(g_text);
    if (used + 1 >= kTextCapacity)
        return;
    wcsncat(g_text, part, kTextCapacity - used - 1);
}

struct Request {
    bool thumbs = false;
    int autoCloseSeconds = 0;
    const wchar_t* path = nullptr;
};

Request ParseArguments(int argc, wchar_t** argv) {
    Request request;
    for (int i = 1; i < argc; ++i) {
        const wchar_t* arg = argv[i];
        if (_wcsicmp(arg, L"/thumbs") == 0) {
            request.thumbs = true;
        } else if (_wcsnicmp(arg, L"/autoclose=", 11) == 0) {
            long seconds = wcstol(arg + 11, nullptr, 10);
            if (seconds > 0 && seconds <= 86400)
                request.autoCloseSeconds = static_cast<int>(seconds);
        } else if (arg[0] != L'/' && request.path == nullptr) {
            request.path = arg;
        }
    }
    return request;
}

void DescribeRequest(const Request& request) {
    AppendText(L"Glimmerly 4.62 (Beispielprogramm)\r\n\r\n");
    if (request.path == nullptr) {
        AppendText(request.thumbs ? L"Thumbnails: aktueller Ordner" : L"Keine Datei angegeben.");
        return;
    }
    DWORD attributes = GetFileAttributesW(request.path);
    if (request.thumbs)
        AppendText(L"Thumbnails: ");
    else if (attributes == INVALID_FILE_ATTRIBUTES)
        AppendText(L"Nicht gefunden: ");
    else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        AppendText(L"Ordner: ");
    else
        AppendText(L"Datei: ");
    AppendText(request.path);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT area;
        GetClientRect(window, &area);
        InflateRect(&area, -12, -12);
        SetBkMode(dc, TRANSPARENT);
        DrawTextW(dc, g_text, -1, &area, DT_LEFT | DT_TOP | DT_NOPREFIX | DT_WORDBREAK);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_TIMER:
        if (wParam == kAutoCloseTimer) {
            KillTimer(window, kAutoCloseTimer);
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    Request request;
    if (argv != nullptr)
        request = ParseArguments(argc, argv);
    DescribeRequest(request);

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hIconSm =
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 16, 16, 0));
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassExW(&windowClass)) {
        LocalFree(argv);
        return 1;
    }
    HWND window = CreateWindowExW(0, kClassName, L"Glimmerly", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 640, 400, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        LocalFree(argv);
        return 1;
    }
    if (request.autoCloseSeconds > 0)
        SetTimer(window, kAutoCloseTimer, static_cast<UINT>(request.autoCloseSeconds) * 1000u, nullptr);
    ShowWindow(window, show);
    UpdateWindow(window);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // request.path points into argv, so argv lives as long as the window.
    LocalFree(argv);
    return static_cast<int>(message.wParam);
}
