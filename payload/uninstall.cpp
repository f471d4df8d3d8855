// The viewer's uninstaller: removes what the setup program wrote for the installation in its own folder,
// and nothing that names another installation or another program. The user's settings folder stays.
#include <windows.h>
#include <shlobj.h>
#include <stdio.h>
#include <wchar.h>

#include <initializer_list>

#include "shell/PackagedAppClasses.h"

namespace {

const wchar_t kTitle[] = L"Glimmerly deinstallieren";

// The payload archive's members, listed when the archive is packed; folders end in a backslash.
const wchar_t* const kPayloadMembers[] = {
#include "payload_members.inc"
};
// Written beside the payload by the setup program: the settings or the pointer to them, and the file
// of their conversion to UTF-16.
const wchar_t* const kSetupFiles[] = {L"gl_main32.ini", L"gl_main32.ini_temp"};
const wchar_t* const kDesktopLinks[] = {L"Glimmerly.lnk", L"Glimmerly Thumbnails.lnk"};
const wchar_t* const kFolderVerbs[] = {L"SOFTWARE\\Classes\\Directory\\shell\\Durchsuchen mit &Glimmerly",
                                       L"SOFTWARE\\Classes\\Drive\\shell\\Durchsuchen mit &Glimmerly"};

// Spelled out: the uuid library would bring thousands of identifiers along with these.
const CLSID kShellLinkClass = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kShellLinkInterface = {0x000214F9, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kPersistFileInterface = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

const wchar_t kClasses[] = L"SOFTWARE\\Classes";
const wchar_t kExplorer[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
const wchar_t kFileExts[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";
const wchar_t kApplicationKey[] = L"SOFTWARE\\Glimmerly";
const wchar_t kCapabilities[] = L"SOFTWARE\\Glimmerly\\Capabilities";
const wchar_t kRegisteredApplications[] = L"SOFTWARE\\RegisteredApplications";
const wchar_t kUninstallEntry[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Glimmerly";

// A bounded wide text. What does not fit is not cut short: the text is marked, and a marked or empty
// text names nothing, so no key or file is ever touched through a shortened name.
class Text {
  public:
    static const size_t kCapacity = 1024;

    Text() { text_[0] = L'\0'; }
    Text(const wchar_t* text) : Text() { Append(text); }
    Text(const wchar_t* text, size_t count) : Text() { Append(text, count); }

    Text& Append(const wchar_t* text, size_t count = (size_t)-1) {
        size_t add = 0;
        while (add < count && text[add] != L'\0')
            ++add;
        if (length_ + add >= kCapacity) {
            tooLong_ = true;
            return *this;
        }
        wmemcpy(text_ + length_, text, add);
        length_ += add;
        text_[length_] = L'\0';
        return *this;
    }
    Text operator+(const wchar_t* text) const { return Text(*this).Append(text); }
    Text operator+(const Text& text) const { return *this + text.c_str(); }

    const wchar_t* c_str() const { return text_; }
    size_t Length() const { return length_; }
    bool Usable() const { return length_ > 0 && !tooLong_; }
    bool EndsWith(wchar_t c) const { return length_ > 0 && text_[length_ - 1] == c; }
    // Everything before the last backslash.
    Text Parent() const {
        const wchar_t* last = wcsrchr(text_, L'\\');
        return last == NULL ? Text() : Text(text_, last - text_);
    }

  private:
    wchar_t text_[kCapacity];
    size_t length_ = 0;
    bool tooLong_ = false;
};

bool Same(const wchar_t* a, const wchar_t* b) {
    return _wcsicmp(a, b) == 0;
}
bool StartsWith(const wchar_t* text, const wchar_t* start) {
    return _wcsnicmp(text, start, wcslen(start)) == 0;
}

template <class Function> Function SystemEntry(const wchar_t* module, const char* name) {
    HMODULE handle = GetModuleHandleW(module);
    return handle != NULL ? (Function)(void*)GetProcAddress(handle, name) : NULL;
}

// A short or differently cased spelling of a path names the same file.
Text LongPath(const Text& path) {
    wchar_t buffer[Text::kCapacity];
    DWORD length = GetLongPathNameW(path.c_str(), buffer, Text::kCapacity);
    return length == 0 || length >= Text::kCapacity ? path : Text(buffer, length);
}

// The program a command starts: the text between its first two quotes, or up to its first blank.
Text CommandProgram(const Text& command) {
    const wchar_t* text = command.c_str();
    if (text[0] == L'"')
        return Text(text + 1, wcscspn(text + 1, L"\""));
    return Text(text, wcscspn(text, L" "));
}

struct Installation {
    explicit Installation(const Text& programFolder) : folder(LongPath(programFolder)) {
        if (!folder.EndsWith(L'\\'))
            folder.Append(L"\\");
        viewer = folder + L"gl_main32.exe";
        uninstaller = folder + L"gl_uninstall.exe";
    }
    bool Starts(const Text& command, const Text& program) const {
        return program.Usable() && Same(LongPath(CommandProgram(command)).c_str(), program.c_str());
    }
    bool Holds(const Text& path) const {
        return folder.Usable() && path.Usable() && StartsWith(LongPath(path).c_str(), folder.c_str());
    }

    Text folder; // with a trailing backslash
    Text viewer;
    Text uninstaller;
};

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

// The registry through one view: 0 is the process's own, where no view flag is passed.
class RegistryView {
  public:
    explicit RegistryView(REGSAM view) : view_(view) {}

    bool ReadText(HKEY root, const Text& path, const wchar_t* name, Text& text) const {
        HKEY key;
        if (!Open(root, path, KEY_QUERY_VALUE, &key))
            return false;
        wchar_t buffer[Text::kCapacity];
        DWORD type = 0;
        DWORD size = sizeof buffer - sizeof(wchar_t);
        bool found =
            RegQueryValueExW(key, name, NULL, &type, (BYTE*)buffer, &size) == ERROR_SUCCESS && type == REG_SZ;
        RegCloseKey(key);
        if (found)
            text = Text(buffer, size / sizeof(wchar_t));
        return found;
    }

    bool Exists(HKEY root, const Text& path) const {
        HKEY key;
        if (!Open(root, path, KEY_QUERY_VALUE, &key))
            return false;
        RegCloseKey(key);
        return true;
    }

    // Visits the subkeys last to first, so that a visit may delete the key it is given.
    template <class Visit> void ForEachSubKey(HKEY root, const Text& path, Visit visit) const {
        HKEY key;
        if (!Open(root, path, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &key))
            return;
        DWORD count = 0;
        RegQueryInfoKeyW(key, NULL, NULL, NULL, &count, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
        for (DWORD i = count; i-- > 0;) {
            wchar_t name[256]; // the longest key name has 255 characters
            DWORD length = 256;
            if (RegEnumKeyExW(key, i, name, &length, NULL, NULL, NULL, NULL) == ERROR_SUCCESS)
                visit(Text(name, length));
        }
        RegCloseKey(key);
    }

    void DeleteValue(HKEY root, const Text& path, const wchar_t* name) const {
        HKEY key;
        if (!Open(root, path, KEY_SET_VALUE, &key))
            return;
        RegDeleteValueW(key, name);
        RegCloseKey(key);
    }

    void DeleteTree(HKEY root, const Text& path) const {
        if (!path.Usable())
            return;
        ForEachSubKey(root, path, [&](const Text& child) { DeleteTree(root, path + L"\\" + child); });
        typedef LONG(WINAPI * DeleteKeyEx)(HKEY, LPCWSTR, REGSAM, DWORD);
        DeleteKeyEx deleteKeyEx = SystemEntry<DeleteKeyEx>(L"advapi32.dll", "RegDeleteKeyExW");
        if (view_ != 0 && deleteKeyEx != NULL)
            deleteKeyEx(root, path.c_str(), view_, 0);
        else
            RegDeleteKeyW(root, path.c_str());
    }

    // Deletes path when it holds nothing, then each parent left empty, up to stop, which stays.
    void Prune(HKEY root, Text path, const wchar_t* stop) const {
        Text below = Text(stop) + L"\\";
        while (below.Usable() && path.Length() > below.Length() && StartsWith(path.c_str(), below.c_str()) &&
               IsEmpty(root, path)) {
            DeleteTree(root, path);
            path = path.Parent();
        }
    }

  private:
    bool Open(HKEY root, const Text& path, REGSAM access, HKEY* key) const {
        return path.Usable() && RegOpenKeyExW(root, path.c_str(), 0, access | view_, key) == ERROR_SUCCESS;
    }

    bool IsEmpty(HKEY root, const Text& path) const {
        HKEY key;
        if (!Open(root, path, KEY_QUERY_VALUE, &key))
            return false;
        DWORD subKeys = 1;
        DWORD values = 1;
        RegQueryInfoKeyW(key, NULL, NULL, NULL, &subKeys, NULL, NULL, &values, NULL, NULL, NULL, NULL);
        RegCloseKey(key);
        return subKeys == 0 && values == 0;
    }

    REGSAM view_;
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

// Classes, verbs and the application key go when their open command starts this installation's viewer;
// extension defaults and the user's choices when they point at a class removed here.
void RemoveRegistration(const Installation& installation) {
    const RegistryView registry(0);
    const HKEY machine = HKEY_LOCAL_MACHINE;
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
        if (name.c_str()[0] == L'.' && registry.ReadText(machine, key, L"", target) &&
            removed.Contains(target.c_str())) {
            registry.DeleteValue(machine, key, L"");
            registry.Prune(machine, key, kClasses);
        }
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

    REGSAM views[2];
    for (int i = 0, count = ApplicationViews(views); i < count; ++i) {
        const RegistryView inView(views[i]);
        if (inView.ReadText(machine, Text(kApplicationKey) + L"\\shell\\open\\command", L"", command) &&
            installation.Starts(command, installation.viewer)) {
            inView.DeleteTree(machine, Text(kApplicationKey) + L"\\shell");
            inView.DeleteTree(machine, kCapabilities);
            inView.Prune(machine, kApplicationKey, L"SOFTWARE");
        }
        Text registered;
        if (inView.ReadText(machine, kRegisteredApplications, L"Glimmerly", registered) &&
            Same(registered.c_str(), kCapabilities) && !inView.Exists(machine, kCapabilities))
            inView.DeleteValue(machine, kRegisteredApplications, L"Glimmerly");
    }

    if (registry.ReadText(machine, kUninstallEntry, L"UninstallString", command) &&
        installation.Starts(command, installation.uninstaller))
        registry.DeleteTree(machine, kUninstallEntry);

    // The XP "ProgID" comes with an empty default that the setup program gave its key; later systems
    // have the "UserChoice" key.
    const HKEY user = HKEY_CURRENT_USER;
    registry.ForEachSubKey(user, kFileExts, [&](const Text& extension) {
        Text key = Text(kFileExts) + L"\\" + extension;
        Text progId;
        bool changed = false;
        if (registry.ReadText(user, key + L"\\UserChoice", L"Progid", progId) &&
            removed.Contains(progId.c_str())) {
            registry.DeleteTree(user, key + L"\\UserChoice");
            changed = true;
        }
        if (registry.ReadText(user, key, L"ProgID", progId) && removed.Contains(progId.c_str())) {
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
    for (const wchar_t* appClass : kPackagedAppClasses) {
        Text value;
        if (registry.ReadText(user, appClass, L"NoOpenWith", value) && value.Length() == 0) {
            registry.DeleteValue(user, appClass, L"NoOpenWith");
            registry.Prune(user, appClass, L"SOFTWARE");
        }
    }
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, NULL, NULL);
}

Text SpecialFolder(int csidl) {
    wchar_t path[MAX_PATH];
    if (FAILED(SHGetFolderPathW(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, path)))
        return Text();
    Text folder(path);
    if (!folder.EndsWith(L'\\'))
        folder.Append(L"\\");
    return folder;
}

// The file a shell link starts, as the link stores it; empty when it cannot be read.
Text LinkTarget(const Text& link) {
    IShellLinkW* shellLink = NULL;
    if (!link.Usable() || FAILED(CoCreateInstance(kShellLinkClass, NULL, CLSCTX_INPROC_SERVER,
                                                  kShellLinkInterface, (void**)&shellLink)))
        return Text();
    wchar_t target[MAX_PATH] = L"";
    IPersistFile* file = NULL;
    if (SUCCEEDED(shellLink->QueryInterface(kPersistFileInterface, (void**)&file))) {
        if (FAILED(file->Load(link.c_str(), STGM_READ)) ||
            FAILED(shellLink->GetPath(target, MAX_PATH, NULL, SLGP_RAWPATH)))
            target[0] = L'\0';
        file->Release();
    }
    shellLink->Release();
    target[MAX_PATH - 1] = L'\0';
    return target;
}

void DeleteLinkInto(const Installation& installation, const Text& link) {
    if (installation.Holds(LinkTarget(link)))
        DeleteFileW(link.c_str());
}

void RemoveLinks(const Installation& installation) {
    bool com = SUCCEEDED(CoInitialize(NULL));
    for (int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY}) {
        Text desktop = SpecialFolder(csidl);
        for (const wchar_t* name : kDesktopLinks)
            DeleteLinkInto(installation, desktop + name);
    }
    for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS}) {
        Text group = SpecialFolder(csidl) + L"Glimmerly\\";
        WIN32_FIND_DATAW found;
        HANDLE search =
            group.Usable() ? FindFirstFileW((group + L"*.lnk").c_str(), &found) : INVALID_HANDLE_VALUE;
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do
            DeleteLinkInto(installation, group + found.cFileName);
        while (FindNextFileW(search, &found));
        FindClose(search);
        RemoveDirectoryW(group.c_str());
    }
    if (com)
        CoUninitialize();
}

void DeleteFileEvenReadOnly(const Text& path) {
    if (!path.Usable() || DeleteFileW(path.c_str()) || GetLastError() != ERROR_ACCESS_DENIED)
        return;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
}

bool IsFolderMember(const wchar_t* member) {
    return member[wcslen(member) - 1] == L'\\';
}

// Folders go only when empty: what the user put into them keeps them.
void RemoveFiles(const Installation& installation) {
    if (!installation.folder.Usable())
        return;
    for (const wchar_t* member : kPayloadMembers)
        if (!IsFolderMember(member))
            DeleteFileEvenReadOnly(installation.folder + member);
    for (const wchar_t* file : kSetupFiles)
        DeleteFileEvenReadOnly(installation.folder + file);
    for (size_t i = sizeof kPayloadMembers / sizeof kPayloadMembers[0]; i-- > 0;) {
        Text folder = installation.folder + kPayloadMembers[i];
        if (IsFolderMember(kPayloadMembers[i]) && folder.Usable())
            RemoveDirectoryW(folder.c_str());
    }
    RemoveDirectoryW(installation.folder.c_str());
}

void RemoveInstallation(const Installation& installation, bool silent) {
    RemoveLinks(installation);
    RemoveRegistration(installation);
    RemoveFiles(installation);
    if (silent)
        return;
    Text done(L"Glimmerly wurde von Ihrem Computer entfernt.");
    if (GetFileAttributesW(installation.folder.c_str()) != INVALID_FILE_ATTRIBUTES)
        done = done + L"\n\nDer Ordner " + installation.folder +
               L" enth\u00E4lt noch Dateien, die nicht von Glimmerly stammen, und bleibt bestehen.";
    MessageBoxW(NULL, done.c_str(), kTitle, MB_OK | MB_ICONINFORMATION);
}

Text ModulePath() {
    wchar_t path[Text::kCapacity];
    DWORD length = GetModuleFileNameW(NULL, path, Text::kCapacity);
    return length == 0 || length >= Text::kCapacity ? Text() : Text(path, length);
}

// A running program cannot delete its own file. A copy in the temporary folder does the removal once
// this process has ended; the copy itself goes when its last handle closes, which it inherits.
bool StartRemovalCopy(const Installation& installation, bool silent) {
    wchar_t temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    Text self = ModulePath();
    if (length == 0 || length > MAX_PATH || !self.Usable())
        return false;
    wchar_t name[40];
    _snwprintf(name, 39, L"gl_uninstall-%lu.exe", GetCurrentProcessId());
    name[39] = L'\0';
    Text copy = Text(temp) + name;
    if (!copy.Usable() || !CopyFileW(self.c_str(), copy.c_str(), FALSE))
        return false;

    SECURITY_ATTRIBUTES inherited = {sizeof inherited, NULL, TRUE};
    HANDLE file = CreateFileW(copy.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_DELETE, &inherited, OPEN_EXISTING,
                              FILE_FLAG_DELETE_ON_CLOSE, NULL);
    HANDLE process = NULL;
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &process, SYNCHRONIZE,
                    TRUE, 0);
    wchar_t handle[24];
    _snwprintf(handle, 23, L"%llu", (unsigned long long)(ULONG_PTR)process);
    handle[23] = L'\0';
    Text line = Text(L"\"") + copy + L"\"" + (silent ? L" /silent" : L"") + L" /after=" + handle +
                L" /folder=" + installation.folder;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    BOOL ok = line.Usable() && CreateProcessW(copy.c_str(), const_cast<wchar_t*>(line.c_str()), NULL, NULL,
                                              TRUE, 0, NULL, temp, &startup, &started);
    if (process != NULL)
        CloseHandle(process);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!ok) {
        DeleteFileW(copy.c_str());
        return false;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}

} // namespace

// gl_uninstall.exe [/silent]; the copy that does the work gets /after=PROCESS /folder=FOLDER as well.
// Exit status: 0 removal started or done, 1 declined or impossible, 2 the viewer runs.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    const wchar_t* line = commandLine != NULL ? commandLine : L"";
    const wchar_t* after = wcsstr(line, L"/after=");
    const wchar_t* folder = wcsstr(line, L"/folder=");
    if (after != NULL && folder != NULL && after < folder) {
        Text options(line, folder - line);
        bool silent = wcsstr(options.c_str(), L"/silent") != NULL;
        HANDLE original = (HANDLE)(ULONG_PTR)_wcstoui64(after + 7, NULL, 10);
        WaitForSingleObject(original, 60000);
        CloseHandle(original);
        RemoveInstallation(Installation(folder + 8), silent);
        return 0;
    }

    bool silent = wcsstr(line, L"/silent") != NULL;
    // A running viewer holds its files; removing the rest would leave a broken half.
    if (FindWindowW(L"Glimmerly", NULL) != NULL) {
        if (!silent)
            MessageBoxW(NULL,
                        L"Glimmerly l\u00E4uft!\nBeenden Sie bitte Glimmerly, bevor Sie es deinstallieren.",
                        kTitle, MB_OK | MB_ICONWARNING);
        return 2;
    }
    Text self = ModulePath();
    if (!self.Usable())
        return 1;
    Installation installation(self.Parent());
    if (!silent && MessageBoxW(NULL,
                               L"M\u00F6chten Sie Glimmerly 4.62 und alle zugeh\u00F6rigen Komponenten von "
                               L"Ihrem Computer entfernen?",
                               kTitle, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return 1;
    if (!StartRemovalCopy(installation, silent))
        RemoveInstallation(installation, silent);
    return 0;
}
