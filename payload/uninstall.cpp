// Stand-in for the viewer's uninstaller: says what it would do and removes nothing.
#include <windows.h>
#include <wchar.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    if (commandLine != nullptr && wcsstr(commandLine, L"/silent") != nullptr)
        return 0;
    // Without a display the box cannot be shown and the call returns at once.
    MessageBoxW(nullptr, L"Diese Beispielversion von Glimmerly entfernt keine Dateien.",
                L"Glimmerly deinstallieren", MB_OK | MB_ICONINFORMATION);
    return 0;
}
