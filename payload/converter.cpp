// Sample plug-in program: copies the file named first to the name given second.
#include <windows.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr)
        return 2;
    int result = 2;
    if (argc == 3)
        result = CopyFileW(argv[1], argv[2], FALSE) ? 0 : 1;
    LocalFree(argv);
    return result;
}
