#include "shell/VersionChecks.h"

#include "framework/SystemLibrary.h"

#include <windows.h>
#include <string.h>

namespace {

int IsNt(const WindowsVersion& version) {
    return version.platformId == VER_PLATFORM_WIN32_NT;
}

} // namespace

WindowsVersion QueryWindowsVersion() {
    OSVERSIONINFOW info;
    memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    GetVersionExW(&info);
    WindowsVersion version = {info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
    return version;
}

int IsVistaOrLater(const WindowsVersion& version) {
    return IsNt(version) && version.majorVersion >= 6;
}

// The minor version is tested on its own: a reported 10.0 would fail, which the manifest rules out.
int IsWindows8OrLater(const WindowsVersion& version) {
    return IsNt(version) && version.majorVersion >= 6 && version.minorVersion >= 2;
}

int IsWindows8Exactly(const WindowsVersion& version) {
    return IsNt(version) && version.majorVersion == 6 && version.minorVersion == 2;
}

WindowsFamily ClassifyWindowsFamily(const WindowsVersion& version) {
    if (!IsNt(version))
        return Older;
    if (version.majorVersion == 5)
        return version.minorVersion >= 1 ? Xp : Older;
    if (version.majorVersion >= 6)
        return Vista;
    return Older;
}

int IsVistaOrLater() {
    return IsVistaOrLater(QueryWindowsVersion());
}
int IsWindows8OrLater() {
    return IsWindows8OrLater(QueryWindowsVersion());
}
int IsWindows8Exactly() {
    return IsWindows8Exactly(QueryWindowsVersion());
}
WindowsFamily ClassifyWindowsFamily() {
    return ClassifyWindowsFamily(QueryWindowsVersion());
}

int IsWow64() {
    typedef BOOL(WINAPI * IsWow64ProcessFunction)(HANDLE, PBOOL);
    IsWow64ProcessFunction isWow64Process =
        SystemFunction<IsWow64ProcessFunction>(L"kernel32.dll", "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64Process != NULL && isWow64Process(GetCurrentProcess(), &wow64) && wow64 ? 1 : 0;
}
