#include "shell/ProgramRegistration.h"

#include "install/PathHelpers.h"
#include "shell/DerivedText.h"

namespace {

const wchar_t kVerbName[] = L"Durchsuchen mit &Glimmerly";
const wchar_t kCapabilitiesKey[] = L"SOFTWARE\\Glimmerly\\Capabilities";

} // namespace

void RegisterFolderVerbs(RegistryWriter& registry, const wchar_t* executable) {
    wchar_t command[kPathChars];
    if (!JoinText(command, kPathChars, {L"\"", executable, L"\" \"%1\" /thumbs"}))
        return;
    const wchar_t* const shells[] = {L"SOFTWARE\\Classes\\Directory\\shell\\",
                                     L"SOFTWARE\\Classes\\Drive\\shell\\"};
    for (const wchar_t* shell : shells) {
        wchar_t key[kPathChars];
        if (JoinText(key, kPathChars, {shell, kVerbName}))
            registry.SetDefaultValue(HKEY_LOCAL_MACHINE, key, kVerbName);
        if (JoinText(key, kPathChars, {shell, kVerbName, L"\\command"}))
            registry.SetDefaultValue(HKEY_LOCAL_MACHINE, key, command);
    }
}

void RegisterProgramClass(RegistryWriter& registry, const wchar_t* openCommand) {
    registry.SetDefaultValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Glimmerly", L"Glimmerly");
    registry.SetDefaultValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Glimmerly\\shell\\open\\command",
                             openCommand);
    // The program class carries no icon of its own.
    registry.DeleteKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Glimmerly\\DefaultIcon");
    registry.SetDefaultValue(HKEY_CLASSES_ROOT, L"Applications\\gl_main32.exe\\shell\\open\\command",
                             openCommand);
    RegistryKey application(registry);
    if (application.Open(HKEY_CLASSES_ROOT, L"Applications\\gl_main32.exe", KEY_ALL_ACCESS))
        application.SetText(L"FriendlyAppName", L"Glimmerly 32-bit");
}

void RegisterApplicationKey(RegistryWriter& registry, const wchar_t* executable, RegistryRoot root) {
    RegistryKey key(registry);
    key.Create(root, L"SOFTWARE\\Glimmerly");
    key.Close();

    wchar_t command[kPathChars];
    if (JoinText(command, kPathChars, {L"\"", executable, L"\""}))
        registry.SetDefaultValue(root, L"SOFTWARE\\Glimmerly\\shell\\open\\command", command);

    if (key.Create(root, kCapabilitiesKey))
        key.SetText(L"ApplicationDescription",
                    L"Picture viewer, editor and converter - one of the most popular viewers worldwide");
    key.Close();
    key.Create(root, L"SOFTWARE\\Glimmerly\\Capabilities\\FileAssociations");
    key.Close();

    if (key.Open(root, L"SOFTWARE\\RegisteredApplications", KEY_SET_VALUE))
        key.SetText(L"Glimmerly", kCapabilitiesKey);
}

RegistryRoot ApplicationKeyRoot(int wow64) {
    return wow64 ? RegistryRoot(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY) : RegistryRoot(HKEY_LOCAL_MACHINE);
}
