// Icon library of the viewer: the icons themselves are its resources.
#include <windows.h>

extern "C" __declspec(dllexport) int IconCount() {
    return 6;
}
