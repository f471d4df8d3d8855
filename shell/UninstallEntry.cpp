#include "shell/UninstallEntry.h"

#include "install/PathHelpers.h"
#include "shell/DerivedText.h"
#include "shell/ProductVersion.h"

#include <stdio.h>

namespace {

const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Glimmerly";

} // namespace

void WriteUninstallEntry(RegistryWriter& registry, const wchar_t* folder) {
    wchar_t version[32];
    _snwprintf(version, 31, L"%d.%d", kProductMajor, kProductMinor);
    version[31] = L'\0';
    wchar_t displayName[64];
    wchar_t uninstaller[kPathChars];
    wchar_t icon[kPathChars];
    if (!JoinText(displayName, 64, {L"Glimmerly ", version, L" (32-bit)"}) ||
        !JoinText(uninstaller, kPathChars, {L"\"", folder, L"gl_uninstall.exe\""}) ||
        !JoinText(icon, kPathChars, {folder, L"gl_main32.exe,0"}))
        return;

    registry.SetDefaultValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"");
    RegistryKey key(registry);
    if (!key.Open(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_ALL_ACCESS))
        return;
    key.SetText(L"DisplayName", displayName);
    key.SetText(L"UninstallString", uninstaller);
    key.SetText(L"Publisher", L"Glimmerly Works");
    key.SetText(L"InstallLocation", folder);
    key.SetText(L"DisplayVersion", version);
    key.SetText(L"DisplayIcon", icon);
    key.SetNumber(L"VersionMajor", kProductMajor);
    key.SetNumber(L"VersionMinor", kProductMinor);
    key.SetNumber(L"EstimatedSize", 6144);
}
