#include "driver/SetupChoices.h"

#include <wchar.h>

const wchar_t kChoicesKey[] = L"SOFTWARE\\Glimmerly\\Setup\\Choices";

namespace {

const struct {
    const wchar_t* name;
    int InstallOptions::*field;
} kFlags[] = {{L"DesktopShortcut", &InstallOptions::desktopShortcut},
              {L"ThumbnailsShortcut", &InstallOptions::thumbnailsShortcut},
              {L"StartMenuGroup", &InstallOptions::startMenuGroup},
              {L"ShortcutsForAllUsers", &InstallOptions::shortcutsForAllUsers},
              {L"WriteAssociations", &InstallOptions::associationsRequested},
              {L"AssociationsForAllUsers", &InstallOptions::associationsForAllUsers}};
const wchar_t kSelectionValue[] = L"AssociationSelection", kSettingsValue[] = L"SettingsInApplicationData";
const wchar_t kApplicationDataSettings[] = L"%APPDATA%\\Glimmerly";

int SetFlag(HKEY key, const wchar_t* name, int value) {
    DWORD data = value != 0;
    return RegSetValueExW(key, name, 0, REG_DWORD, (const BYTE*)&data, sizeof data) == ERROR_SUCCESS;
}

// -1 when the value is missing or of another kind.
int GetFlag(HKEY key, const wchar_t* name) {
    DWORD data = 0, type = 0, size = sizeof data;
    if (RegQueryValueExW(key, name, NULL, &type, (BYTE*)&data, &size) != ERROR_SUCCESS || type != REG_DWORD ||
        size != sizeof data)
        return -1;
    return data != 0;
}

} // namespace

int RecordChoicesUnder(HKEY root, const InstallOptions& options) {
    HKEY key;
    if (RegCreateKeyExW(root, kChoicesKey, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
        return 0;
    int written = 1;
    for (const auto& flag : kFlags)
        written &= SetFlag(key, flag.name, options.*flag.field);
    written &= SetFlag(key, kSettingsValue, options.iniFolder[0] != L'\0');
    // One character a row of the file-type list, "1" for a chosen type: readable in the registry editor.
    wchar_t selection[kAssociationFlags + 1];
    for (int i = 0; i < kAssociationFlags; ++i)
        selection[i] = options.associationSelection[i] ? L'1' : L'0';
    selection[kAssociationFlags] = L'\0';
    written &= RegSetValueExW(key, kSelectionValue, 0, REG_SZ, (const BYTE*)selection, sizeof selection) ==
               ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

int ReadRecordedChoicesUnder(HKEY root, InstallOptions& options) {
    HKEY key;
    if (RegOpenKeyExW(root, kChoicesKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    int values[sizeof kFlags / sizeof kFlags[0]];
    int complete = 1;
    for (size_t i = 0; i < sizeof kFlags / sizeof kFlags[0]; ++i)
        complete &= (values[i] = GetFlag(key, kFlags[i].name)) >= 0;
    int settings = GetFlag(key, kSettingsValue);
    // Room for the 64 rows and the terminator, and one character to spare that stays zero.
    wchar_t selection[kAssociationFlags + 2] = L"";
    DWORD type = 0, size = sizeof selection - sizeof selection[0];
    complete &=
        settings >= 0 &&
        RegQueryValueExW(key, kSelectionValue, NULL, &type, (BYTE*)selection, &size) == ERROR_SUCCESS &&
        type == REG_SZ;
    RegCloseKey(key);
    // A record that someone else changed or cut short is not half applied.
    size_t length = wcslen(selection);
    if (!complete || length != kAssociationFlags || wcsspn(selection, L"01") != length)
        return 0;
    for (size_t i = 0; i < sizeof kFlags / sizeof kFlags[0]; ++i)
        options.*kFlags[i].field = values[i];
    for (int i = 0; i < kAssociationFlags; ++i)
        options.associationSelection[i] = selection[i] == L'1';
    if (settings)
        wcscpy(options.iniFolder, kApplicationDataSettings);
    else
        options.iniFolder[0] = L'\0';
    return 1;
}

int RecordChoices(const InstallOptions& options) {
    if (RecordChoicesUnder(HKEY_LOCAL_MACHINE, options)) {
        // The user's own record from a run without the rights for the machine would hide this one.
        RegDeleteKeyW(HKEY_CURRENT_USER, kChoicesKey);
        return 1;
    }
    return RecordChoicesUnder(HKEY_CURRENT_USER, options);
}

int ReadRecordedChoices(InstallOptions& options) {
    return ReadRecordedChoicesUnder(HKEY_CURRENT_USER, options) ||
           ReadRecordedChoicesUnder(HKEY_LOCAL_MACHINE, options);
}
