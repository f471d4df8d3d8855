#include "shell/FileTypeRegistration.h"

#include "install/PathHelpers.h"
#include "shell/DerivedText.h"
#include "shell/EarlierDefaults.h"
#include "shell/FileTypeCatalogue.h"
#include "shell/PackagedAppClasses.h"

#include <shlobj.h>
#include <wchar.h>

namespace {

const wchar_t kFileExtsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.";
const wchar_t kClassesKey[] = L"SOFTWARE\\Classes\\";

// The upper-case class suffix of the description; only a to z change.
void UpperAscii(const wchar_t* text, wchar_t* dest, size_t capacity) {
    size_t i = 0;
    for (; text[i] != L'\0' && i + 1 < capacity; ++i)
        dest[i] = (text[i] >= L'a' && text[i] <= L'z') ? (wchar_t)(text[i] - L'a' + L'A') : text[i];
    dest[i] = L'\0';
}

bool MadeDefaultEverywhere(const wchar_t* extension) {
    return _wcsicmp(extension, L"JPG") == 0 || _wcsicmp(extension, L"PNG") == 0 ||
           _wcsicmp(extension, L"TIF") == 0;
}

int FormIconValue(FileTypeIcon icon, const wchar_t* executable, wchar_t* value) {
    switch (icon) {
    case kIconOfFile:
        return JoinText(value, kPathChars, {L"%1"});
    case kIconViewerVideo:
        return JoinText(value, kPathChars, {executable, L",9"});
    case kIconViewerAudio:
        return JoinText(value, kPathChars, {executable, L",8"});
    case kIconViewer:
        break;
    }
    return JoinText(value, kPathChars, {executable, L",0"});
}

// Keeps what an extension's value names before it is made to name our class, for the uninstaller. A
// value that names one of our classes already was kept by an earlier installation, with what was there
// before it.
void RecordEarlier(RegistryWriter& registry, RegistryRoot root, const wchar_t* key, const wchar_t* name,
                   RegistryRoot recordRoot, const wchar_t* recordKey, const wchar_t* extension) {
    wchar_t earlier[kPathChars];
    wchar_t valueName[kPathChars];
    if (registry.ReadText(root, key, name, earlier, kPathChars) != ERROR_SUCCESS || earlier[0] == L'\0' ||
        _wcsnicmp(earlier, L"Glimmerly.", 10) == 0 || !JoinText(valueName, kPathChars, {L".", extension}))
        return;
    RegistryKey record(registry);
    if (record.Create(recordRoot, recordKey))
        record.SetText(valueName, earlier);
}

} // namespace

void RegisterFileType(RegistryWriter& registry, const wchar_t* extension, const wchar_t* classSuffix,
                      const wchar_t* openCommand, const wchar_t* iconValue, int xpFamily, int vistaFamily,
                      int associationsForAllUsers, int selected, RegistryRoot applicationRoot,
                      RegistryKey* capabilities) {
    wchar_t className[kPathChars];
    wchar_t upperSuffix[kPathChars];
    wchar_t description[kPathChars];
    wchar_t key[kPathChars];
    UpperAscii(classSuffix, upperSuffix, kPathChars);
    if (!JoinText(className, kPathChars, {L"Glimmerly.", classSuffix}) ||
        !JoinText(description, kPathChars, {L"Glimmerly ", upperSuffix, L" File"}))
        return;

    if (xpFamily && JoinText(key, kPathChars, {kFileExtsKey, extension})) {
        RecordEarlier(registry, HKEY_CURRENT_USER, key, L"ProgID", HKEY_CURRENT_USER, kEarlierChoicesKey,
                      extension);
        registry.SetDefaultValue(HKEY_CURRENT_USER, key, L"");
        RegistryKey fileExts(registry);
        if (fileExts.Open(HKEY_CURRENT_USER, key, KEY_ALL_ACCESS))
            fileExts.SetText(L"ProgID", className);
    }
    bool machineDefault =
        xpFamily ? associationsForAllUsers != 0 : (selected || MadeDefaultEverywhere(extension));
    if (machineDefault && JoinText(key, kPathChars, {kClassesKey, L".", extension})) {
        RecordEarlier(registry, HKEY_LOCAL_MACHINE, key, NULL, applicationRoot, kEarlierDefaultsKey,
                      extension);
        registry.SetDefaultValue(HKEY_LOCAL_MACHINE, key, className);
    }

    if (JoinText(key, kPathChars, {kClassesKey, className}))
        registry.SetDefaultValue(HKEY_LOCAL_MACHINE, key, description);
    if (JoinText(key, kPathChars, {kClassesKey, className, L"\\shell\\open\\command"}))
        registry.SetDefaultValue(HKEY_LOCAL_MACHINE, key, openCommand);
    if (JoinText(key, kPathChars, {kClassesKey, className, L"\\DefaultIcon"}))
        registry.SetDefaultValue(HKEY_LOCAL_MACHINE, key, iconValue);

    if (!vistaFamily)
        return;
    if (capabilities != NULL)
        AddCapabilityAssociation(*capabilities, extension, classSuffix);
    if (!selected || !JoinText(key, kPathChars, {kFileExtsKey, extension, L"\\UserChoice"}))
        return;
    // The user's earlier choice is dropped with its key; the new key carries ours alone.
    RecordEarlier(registry, HKEY_CURRENT_USER, key, L"Progid", HKEY_CURRENT_USER, kEarlierChoicesKey,
                  extension);
    registry.DeleteKey(HKEY_CURRENT_USER, key);
    RegistryKey userChoice(registry);
    if (userChoice.Create(HKEY_CURRENT_USER, key))
        userChoice.SetText(L"Progid", className);
}

void AddCapabilityAssociation(RegistryKey& capabilities, const wchar_t* extension,
                              const wchar_t* classSuffix) {
    wchar_t name[kPathChars];
    wchar_t className[kPathChars];
    if (JoinText(name, kPathChars, {L".", extension}) &&
        JoinText(className, kPathChars, {L"Glimmerly.", classSuffix}))
        capabilities.SetText(name, className);
}

void MarkAppClassesNoOpenWith(RegistryWriter& registry) {
    for (const wchar_t* appClass : kPackagedAppClasses) {
        RegistryKey key(registry);
        if (key.Create(HKEY_CURRENT_USER, appClass))
            key.SetText(L"NoOpenWith", L"");
    }
}

int RegisterFileTypes(RegistryWriter& registry, const FileTypePass& pass) {
    int xpFamily = pass.family == Xp;
    int vistaFamily = pass.family == Vista;
    // Every type's capability value goes into this key, opened once for the pass.
    RegistryKey capabilities(registry);
    int haveCapabilities =
        vistaFamily &&
        capabilities.Open(pass.applicationRoot, L"SOFTWARE\\Glimmerly\\Capabilities\\FileAssociations",
                          KEY_SET_VALUE);
    for (int row = 0; row < fileTypeRowCount; ++row) {
        const FileTypeEntry& entry = FileTypeCatalogue[row];
        int selected = pass.selection[row] != 0;
        if (!vistaFamily && !selected)
            continue;
        wchar_t iconValue[kPathChars];
        if (!FormIconValue(entry.icon, pass.executable, iconValue))
            continue;
        for (int i = 0; i < entry.registeredCount; ++i)
            RegisterFileType(registry, entry.registered[i].extension, ClassSuffix(entry.registered[i]),
                             pass.openCommand, iconValue, xpFamily, vistaFamily, pass.associationsForAllUsers,
                             selected, pass.applicationRoot, haveCapabilities ? &capabilities : NULL);
    }
    capabilities.Close();
    if (!pass.associationsRequested)
        return 0;
    if (pass.windows8OrLater)
        MarkAppClassesNoOpenWith(registry);
    return 1;
}

void NotifyAssociationsChanged(ShellActions& shell) {
    shell.SetSystemParameter(SPI_SETICONS, SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);
    shell.ChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH | SHCNF_FLUSHNOWAIT);
}
