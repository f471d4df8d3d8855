// The uninstaller's removal of the registration: classes, verbs, the application key, the extension
// defaults and the user's choices, and last the uninstall entry.
#include "payload/uninstall.h"

#include "shell/EarlierDefaults.h"
#include "shell/PackagedAppClasses.h"

#include <shlobj.h>

namespace uninstall {

namespace {

const wchar_t* const kFolderVerbs[] = {L"SOFTWARE\\Classes\\Directory\\shell\\Durchsuchen mit &Glimmerly",
                                       L"SOFTWARE\\Classes\\Drive\\shell\\Durchsuchen mit &Glimmerly"};

const wchar_t kClasses[] = L"SOFTWARE\\Classes";
const wchar_t kExplorer[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
const wchar_t kFileExts[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";
const wchar_t kApplicationKey[] = L"SOFTWARE\\Glimmerly";
const wchar_t kCapabilities[] = L"SOFTWARE\\Glimmerly\\Capabilities";
const wchar_t kRegisteredApplications[] = L"SOFTWARE\\RegisteredApplications";

// The names of the classes removed so far; a class that cannot be listed is not removed.
class ClassList {
  public:
    bool Add(const wchar_t* name) {
        if (count_ == kMost || wcslen(name) >= kChars)
            return false;
        wcscpy(names_[count_++], name);
        return true;
    }
    bool Contains(const wchar_t* name) const {
        for (int i = 0; i < count_; ++i)
            if (Same(names_[i], name))
                return true;
        return false;
    }
    bool Empty() const { return count_ == 0; }

  private:
    static const int kMost = 256;
    static const size_t kChars = 64;
    wchar_t names_[kMost][kChars];
    int count_ = 0;
};

// Under WOW64 the application key may lie in either view; elsewhere there is one view, and no view
// flag is passed, which systems before XP do not know.
int ApplicationViews(REGSAM views[2]) {
    typedef BOOL(WINAPI * IsWow64)(HANDLE, PBOOL);
    IsWow64 isWow64 = SystemEntry<IsWow64>(L"kernel32.dll", "IsWow64Process");
    BOOL wow64 = FALSE;
    if (isWow64 == NULL || !isWow64(GetCurrentProcess(), &wow64) || !wow64) {
        views[0] = 0;
        return 1;
    }
    views[0] = KEY_WOW64_64KEY;
    views[1] = KEY_WOW64_32KEY;
    return 2;
}

} // namespace

// Classes, verbs and the application key go when their open command starts this installation's viewer;
// extension defaults and the user's choices when they point at a class removed here: back to what they
// pointed at before the installation where that was kept, else they go too.
void RemoveRegistration(const Installation& installation) {
    const RegistryView registry(0);
    const HKEY machine = HKEY_LOCAL_MACHINE;
    REGSAM views[2];
    const int viewCount = ApplicationViews(views);
    ClassList removed;
    registry.ForEachSubKey(machine, kClasses, [&](const Text& name) {
        Text key = Text(kClasses) + L"\\" + name;
        Text command;
        if ((Same(name.c_str(), L"Glimmerly") || StartsWith(name.c_str(), L"Glimmerly.")) &&
            registry.ReadText(machine, key + L"\\shell\\open\\command", L"", command) &&
            installation.Starts(command, installation.viewer) && removed.Add(name.c_str()))
            registry.DeleteTree(machine, key);
    });
    registry.ForEachSubKey(machine, kClasses, [&](const Text& name) {
        Text key = Text(kClasses) + L"\\" + name;
        Text target;
        if (name.c_str()[0] != L'.' || !registry.ReadText(machine, key, L"", target) ||
            !removed.Contains(target.c_str()))
            return;
        Text earlier;
        for (int i = 0; i < viewCount && !earlier.Usable(); ++i)
            RegistryView(views[i]).ReadText(machine, kEarlierDefaultsKey, name.c_str(), earlier);
        if (earlier.Usable()) {
            registry.WriteText(machine, key, L"", earlier);
            return;
        }
        registry.DeleteValue(machine, key, L"");
        registry.Prune(machine, key, kClasses);
    });

    Text command;
    // Written through the merged view of the classes, so removed through it.
    if (registry.ReadText(HKEY_CLASSES_ROOT, L"Applications\\gl_main32.exe\\shell\\open\\command", L"",
                          command) &&
        installation.Starts(command, installation.viewer))
        registry.DeleteTree(HKEY_CLASSES_ROOT, L"Applications\\gl_main32.exe");
    for (const wchar_t* verb : kFolderVerbs) {
        if (registry.ReadText(machine, Text(verb) + L"\\command", L"", command) &&
            installation.Starts(command, installation.viewer)) {
            registry.DeleteTree(machine, verb);
            registry.Prune(machine, Text(verb).Parent(), kClasses);
        }
    }

    for (int i = 0; i < viewCount; ++i) {
        const RegistryView inView(views[i]);
        if (inView.ReadText(machine, Text(kApplicationKey) + L"\\shell\\open\\command", L"", command) &&
            installation.Starts(command, installation.viewer)) {
            inView.DeleteTree(machine, Text(kApplicationKey) + L"\\shell");
            inView.DeleteTree(machine, kCapabilities);
        }
        if (!removed.Empty())
            inView.DeleteTree(machine, kEarlierDefaultsKey);
        inView.Prune(machine, kApplicationKey, L"SOFTWARE");
        Text registered;
        if (inView.ReadText(machine, kRegisteredApplications, L"Glimmerly", registered) &&
            Same(registered.c_str(), kCapabilities) && !inView.Exists(machine, kCapabilities))
            inView.DeleteValue(machine, kRegisteredApplications, L"Glimmerly");
    }

    // The XP "ProgID" comes with an empty default that the setup program gave its key; later systems
    // have the "UserChoice" key.
    const HKEY user = HKEY_CURRENT_USER;
    registry.ForEachSubKey(user, kFileExts, [&](const Text& extension) {
        Text key = Text(kFileExts) + L"\\" + extension;
        Text progId;
        Text earlier;
        registry.ReadText(user, kEarlierChoicesKey, extension.c_str(), earlier);
        bool changed = false;
        if (registry.ReadText(user, key + L"\\UserChoice", L"Progid", progId) &&
            removed.Contains(progId.c_str())) {
            registry.DeleteTree(user, key + L"\\UserChoice");
            registry.WriteText(user, key + L"\\UserChoice", L"Progid", earlier);
            changed = true;
        }
        if (registry.ReadText(user, key, L"ProgID", progId) && removed.Contains(progId.c_str())) {
            if (earlier.Usable())
                registry.WriteText(user, key, L"ProgID", earlier);
            else
                registry.DeleteValue(user, key, L"ProgID");
            Text text;
            if (registry.ReadText(user, key, L"", text) && text.Length() == 0)
                registry.DeleteValue(user, key, L"");
            changed = true;
        }
        if (changed)
            registry.Prune(user, key, kExplorer);
    });
    if (removed.Empty())
        return;
    registry.DeleteTree(user, kEarlierChoicesKey);
    registry.Prune(user, Text(kEarlierChoicesKey).Parent(), L"Software");
    for (const wchar_t* appClass : kPackagedAppClasses) {
        Text value;
        if (registry.ReadText(user, appClass, L"NoOpenWith", value) && value.Length() == 0) {
            registry.DeleteValue(user, appClass, L"NoOpenWith");
            registry.Prune(user, appClass, L"SOFTWARE");
        }
    }
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, NULL, NULL);
}

// Last, and only when the files are gone: a retry starts from it.
void RemoveUninstallEntry(const Installation& installation) {
    const RegistryView registry(0);
    Text command;
    if (registry.ReadText(HKEY_LOCAL_MACHINE, kUninstallEntry, L"UninstallString", command) &&
        installation.Starts(command, installation.uninstaller))
        registry.DeleteTree(HKEY_LOCAL_MACHINE, kUninstallEntry);
}

} // namespace uninstall
