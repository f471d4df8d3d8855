// The viewer's uninstaller: removes what the setup program wrote for the installation in its own folder,
// and nothing that names another installation or another program. The user's settings folder stays.
#include <windows.h>
#include <shlobj.h>
#include <stdio.h>
#include <wchar.h>

#include <initializer_list>

#include "app/StartUp.h"
#include "install/PayloadExtraction.h"
#include "shell/EarlierDefaults.h"
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

// The folder a path names: its long spelling with one trailing backslash.
Text FolderOf(const Text& path) {
    Text folder = LongPath(path);
    if (!folder.EndsWith(L'\\'))
        folder.Append(L"\\");
    return folder;
}

// The program a command starts: the text between its first two quotes, or up to its first blank.
Text CommandProgram(const Text& command) {
    const wchar_t* text = command.c_str();
    if (text[0] == L'"')
        return Text(text + 1, wcscspn(text + 1, L"\""));
    return Text(text, wcscspn(text, L" "));
}

bool IsLink(const Text& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

typedef DWORD(WINAPI* FinalPathName)(HANDLE, LPWSTR, DWORD, DWORD);

// Null before Vista, where the system cannot tell where an open file really lies.
FinalPathName FinalPathFunction() {
    return SystemEntry<FinalPathName>(L"kernel32.dll", "GetFinalPathNameByHandleW");
}

// Where an open file or folder really lies, through every link on the way (Wine reports a Unix symbolic
// link by its target here too).
bool FinalPath(HANDLE handle, Text& path) {
    wchar_t buffer[Text::kCapacity];
    DWORD length = FinalPathFunction() != NULL ? FinalPathFunction()(handle, buffer, Text::kCapacity, 0) : 0;
    if (length == 0 || length >= Text::kCapacity)
        return false;
    if (StartsWith(buffer, L"\\\\?\\UNC\\"))
        path = Text(L"\\") + (buffer + 7);
    else
        path = StartsWith(buffer, L"\\\\?\\") ? Text(buffer + 4) : Text(buffer);
    return path.Usable();
}

enum class Removal { kDone, kLeadsOutside, kFailed };

struct Installation {
    explicit Installation(const Text& programFolder) : folder(FolderOf(programFolder)) {
        viewer = folder + L"gl_main32.exe";
        uninstaller = folder + L"gl_uninstall.exe";
    }
    bool Starts(const Text& command, const Text& program) const {
        return program.Usable() && Same(LongPath(CommandProgram(command)).c_str(), program.c_str());
    }
    bool Holds(const Text& path) const {
        return folder.Usable() && path.Usable() && StartsWith(LongPath(path).c_str(), folder.c_str());
    }

    bool Confirm();
    Removal Delete(const wchar_t* member, DWORD& error) const;

    Text folder; // with a trailing backslash
    Text viewer;
    Text uninstaller;

  private:
    bool Encloses(HANDLE handle, DWORD attributes) const;
    bool LinkOnTheWay(const wchar_t* member) const;

    Text finalFolder; // where the folder really lies, with a trailing backslash; empty before Vista
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

    void WriteText(HKEY root, const Text& path, const wchar_t* name, const Text& text) const {
        HKEY key;
        if (!path.Usable() || !text.Usable() ||
            RegCreateKeyExW(root, path.c_str(), 0, NULL, 0, KEY_SET_VALUE | view_, NULL, &key, NULL) !=
                ERROR_SUCCESS)
            return;
        RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)text.c_str(),
                       (DWORD)((text.Length() + 1) * sizeof(wchar_t)));
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

typedef LONG(WINAPI* SetInformationFile)(HANDLE, ULONG_PTR status[2], void*, ULONG, int);

SetInformationFile SetInformation() {
    return SystemEntry<SetInformationFile>(L"ntdll.dll", "NtSetInformationFile");
}

// Deletion through the handle that was checked, so what goes is what was checked; a read-only file is
// made writable first. The native call serves Windows XP as well.
Removal MarkForDeletion(HANDLE handle, DWORD attributes, DWORD& error) {
    typedef ULONG(WINAPI * StatusToError)(LONG);
    const SetInformationFile setInformation = SetInformation();
    const StatusToError statusToError = SystemEntry<StatusToError>(L"ntdll.dll", "RtlNtStatusToDosError");
    if (setInformation == NULL || statusToError == NULL) {
        error = ERROR_CALL_NOT_IMPLEMENTED;
        return Removal::kFailed;
    }
    ULONG_PTR status[2];
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        struct {
            LARGE_INTEGER times[4]; // zero: left as they are
            ULONG attributes;
        } basic = {};
        basic.attributes = attributes & ~FILE_ATTRIBUTE_READONLY;
        if (basic.attributes == 0)
            basic.attributes = FILE_ATTRIBUTE_NORMAL;
        setInformation(handle, status, &basic, sizeof basic, 4); // FileBasicInformation
    }
    BOOLEAN remove = TRUE;
    LONG result = setInformation(handle, status, &remove, sizeof remove, 13); // FileDispositionInformation
    if (result >= 0)
        return Removal::kDone;
    error = statusToError(result);
    return Removal::kFailed;
}

// The folder is taken only as the uninstall entry names it, and only where it really lies: a folder
// that is a link, or that a link leads to, is not the installation's.
bool Installation::Confirm() {
    const RegistryView registry(0);
    Text location;
    Text command;
    bool registered = (registry.ReadText(HKEY_LOCAL_MACHINE, kUninstallEntry, L"InstallLocation", location) &&
                       location.Usable() && Same(FolderOf(location).c_str(), folder.c_str())) ||
                      (registry.ReadText(HKEY_LOCAL_MACHINE, kUninstallEntry, L"UninstallString", command) &&
                       Starts(command, uninstaller));
    if (!registered || IsLink(Text(folder.c_str(), folder.Length() - 1)))
        return false;
    if (FinalPathFunction() == NULL)
        return true;
    HANDLE handle = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    bool known = FinalPath(handle, finalFolder);
    CloseHandle(handle);
    if (!finalFolder.EndsWith(L'\\'))
        finalFolder.Append(L"\\");
    return known && Same(finalFolder.c_str(), folder.c_str());
}

// Before Vista the folders on the way are all there is to check: none of them may be a link.
bool Installation::LinkOnTheWay(const wchar_t* member) const {
    for (const wchar_t* end = wcschr(member, L'\\'); end != NULL; end = wcschr(end + 1, L'\\'))
        if (IsLink(folder + Text(member, end - member)))
            return true;
    return false;
}

bool Installation::Encloses(HANDLE handle, DWORD attributes) const {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return false;
    if (FinalPathFunction() == NULL)
        return true;
    Text path;
    if (!FinalPath(handle, path))
        return false;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !path.EndsWith(L'\\'))
        path.Append(L"\\");
    return finalFolder.Usable() && StartsWith(path.c_str(), finalFolder.c_str());
}

// A file, or a folder when it is empty. A link in its place is opened as itself, and what was opened is
// deleted only when it lies in the folder.
Removal Installation::Delete(const wchar_t* member, DWORD& error) const {
    error = ERROR_SUCCESS;
    Text path = folder + member;
    if (!path.Usable()) {
        error = ERROR_FILENAME_EXCED_RANGE;
        return Removal::kFailed;
    }
    if (FinalPathFunction() == NULL && LinkOnTheWay(member))
        return Removal::kLeadsOutside;
    HANDLE handle = CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (handle == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Removal::kDone
                                                                              : Removal::kFailed;
    }
    BY_HANDLE_FILE_INFORMATION info;
    Removal result = Removal::kLeadsOutside;
    if (GetFileInformationByHandle(handle, &info) && Encloses(handle, info.dwFileAttributes))
        result = MarkForDeletion(handle, info.dwFileAttributes, error);
    CloseHandle(handle);
    return result;
}

// The files that could not be deleted, each with the system's reason; the first few are named.
class Leftovers {
  public:
    void Add(const wchar_t* file, DWORD error) {
        if (count_++ >= kNamed)
            return;
        wchar_t reason[160] = L"";
        DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error,
                                      0, reason, 160, NULL);
        if (length == 0 || length >= 160)
            length = (DWORD)_snwprintf(reason, 159, L"Fehler %lu", error);
        reason[159] = L'\0';
        while (length > 0 && length < 160 && wcschr(L"\r\n .", reason[length - 1]) != NULL)
            reason[--length] = L'\0';
        list_.Append(L"\n").Append(file).Append(L": ").Append(reason);
    }
    bool Empty() const { return count_ == 0; }
    Text List() const {
        if (count_ <= kNamed)
            return list_;
        wchar_t more[40];
        _snwprintf(more, 39, L"\nund %d weitere", count_ - kNamed);
        more[39] = L'\0';
        return list_ + more;
    }

  private:
    static const int kNamed = 6;
    int count_ = 0;
    Text list_;
};

bool IsFolderMember(const wchar_t* member) {
    return member[wcslen(member) - 1] == L'\\';
}

// The setup program keeps a newer or foreign icons library instead of writing its own; that one stays.
bool KeptIcons(const Installation& installation, const wchar_t* member) {
    Text path = installation.folder + member;
    return Same(member, L"Plugins\\Icons.dll") && path.Usable() && DecideKeepIcons(path.c_str()) != 0;
}

// Files first, then the folders left empty: what the user put into them keeps them. The uninstaller's
// own file goes only with all the others, so that the uninstall entry can start it again.
void RemoveFiles(const Installation& installation, Leftovers& leftovers) {
    auto remove = [&](const wchar_t* file) {
        DWORD error;
        if (installation.Delete(file, error) == Removal::kFailed)
            leftovers.Add(file, error);
    };
    for (const wchar_t* member : kPayloadMembers)
        if (!IsFolderMember(member) && !Same(member, L"gl_uninstall.exe") && !KeptIcons(installation, member))
            remove(member);
    for (const wchar_t* file : kSetupFiles)
        remove(file);
    if (leftovers.Empty())
        remove(L"gl_uninstall.exe");
    DWORD ignored;
    for (size_t i = sizeof kPayloadMembers / sizeof kPayloadMembers[0]; i-- > 0;)
        if (IsFolderMember(kPayloadMembers[i]))
            installation.Delete(kPayloadMembers[i], ignored);
    installation.Delete(L"", ignored);
}

void RemoveInstallation(const Installation& installation, bool silent) {
    Leftovers leftovers;
    RemoveFiles(installation, leftovers);
    RemoveLinks(installation);
    RemoveRegistration(installation);
    if (leftovers.Empty())
        RemoveUninstallEntry(installation);
    if (silent)
        return;
    Text done(L"Glimmerly wurde von Ihrem Computer entfernt.");
    if (!leftovers.Empty())
        done = Text(L"Glimmerly wurde nicht vollst\u00E4ndig entfernt. Diese Dateien in ") +
               installation.folder + L" lassen sich nicht l\u00F6schen:\n" + leftovers.List() +
               L"\n\nBeenden Sie die Programme, die sie verwenden, und starten Sie die Deinstallation noch "
               L"einmal: Ihr Eintrag in der Liste der installierten Programme bleibt daf\u00FCr bestehen.";
    else if (GetFileAttributesW(installation.folder.c_str()) != INVALID_FILE_ATTRIBUTES)
        done =
            done + L"\n\nDer Ordner " + installation.folder +
            L" enth\u00E4lt noch Dateien, die diese Installation nicht geschrieben hat, und bleibt bestehen.";
    MessageBoxW(NULL, done.c_str(), kTitle, MB_OK | MB_ICONINFORMATION);
}

Text ModulePath() {
    wchar_t path[Text::kCapacity];
    DWORD length = GetModuleFileNameW(NULL, path, Text::kCapacity);
    return length == 0 || length >= Text::kCapacity ? Text() : Text(path, length);
}

// The whole content of an open file, from HeapAlloc; null when it cannot be read whole.
BYTE* ReadWhole(HANDLE file, DWORD& size) {
    LARGE_INTEGER length;
    if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &length) || length.QuadPart <= 0 ||
        length.QuadPart > 64 * 1024 * 1024)
        return NULL;
    size = (DWORD)length.QuadPart;
    BYTE* bytes = (BYTE*)HeapAlloc(GetProcessHeap(), 0, size);
    DWORD read = 0;
    if (bytes != NULL && (!ReadFile(file, bytes, size, &read, NULL) || read != size)) {
        HeapFree(GetProcessHeap(), 0, bytes);
        return NULL;
    }
    return bytes;
}

// A new folder in the temporary folder that only the user, the administrators and the system may
// write to; empty when none could be made. A name that exists already, made by whoever, is not used.
Text MakePrivateFolder() {
    wchar_t temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    HANDLE token = NULL;
    if (length == 0 || length > MAX_PATH || !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return Text();
    union {
        TOKEN_USER user;
        BYTE bytes[256];
    } owner;
    DWORD size = 0;
    bool ready = GetTokenInformation(token, TokenUser, &owner, sizeof owner, &size) != FALSE;
    CloseHandle(token);
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID administrators = NULL;
    PSID system = NULL;
    union {
        ACL acl;
        BYTE bytes[512];
    } access;
    SECURITY_DESCRIPTOR descriptor;
    ready =
        ready &&
        AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                 0, 0, 0, &administrators) &&
        AllocateAndInitializeSid(&authority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system) &&
        InitializeAcl(&access.acl, sizeof access, ACL_REVISION);
    for (PSID sid : {owner.user.User.Sid, administrators, system})
        ready =
            ready && AddAccessAllowedAceEx(&access.acl, ACL_REVISION,
                                           OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS, sid);
    ready = ready && InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
            SetSecurityDescriptorDacl(&descriptor, TRUE, &access.acl, FALSE) &&
            SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
    Text folder;
    for (DWORD attempt = 0; ready && attempt < 100 && !folder.Usable(); ++attempt) {
        wchar_t name[48];
        _snwprintf(name, 47, L"gl_uninstall-%lu-%lu", GetCurrentProcessId(), GetTickCount() + attempt);
        name[47] = L'\0';
        Text candidate = Text(temp) + name;
        if (candidate.Usable() && CreateDirectoryW(candidate.c_str(), &attributes))
            folder = candidate + L"\\";
        else if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    if (administrators != NULL)
        FreeSid(administrators);
    if (system != NULL)
        FreeSid(system);
    return folder;
}

// Opens the new folder for the copy, checked to be where it was made and not a link put in its place;
// no one can rename or delete it while the handle is open, and it goes when its last handle closes.
HANDLE HoldFolder(const Text& folder, SECURITY_ATTRIBUTES* inherited) {
    HANDLE handle = folder.Usable()
                        ? CreateFileW(folder.c_str(), DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, inherited, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT |
                                          FILE_FLAG_DELETE_ON_CLOSE,
                                      NULL)
                        : INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info;
    Text path;
    if (handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
        (FinalPathFunction() == NULL ||
         (FinalPath(handle, path) && Same((path + L"\\").c_str(), LongPath(folder).c_str()))))
        return handle;
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
}

// Writes the copy, then opens it so that no one can change, rename or delete it, and reads it back:
// what starts is what was written. The handle deletes the copy when its last duplicate closes.
HANDLE WriteCopy(const Text& copy, const BYTE* image, DWORD size, SECURITY_ATTRIBUTES* inherited) {
    HANDLE file =
        CreateFileW(copy.c_str(), GENERIC_WRITE | DELETE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    DWORD written = 0;
    bool whole = WriteFile(file, image, size, &written, NULL) && written == size;
    DWORD error;
    if (!whole)
        MarkForDeletion(file, 0, error);
    if (!CloseHandle(file) || !whole)
        return INVALID_HANDLE_VALUE;
    file = CreateFileW(copy.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, inherited, OPEN_EXISTING,
                       FILE_FLAG_DELETE_ON_CLOSE, NULL);
    DWORD readSize = 0;
    BYTE* readBack = ReadWhole(file, readSize);
    bool same = readBack != NULL && readSize == size && memcmp(readBack, image, size) == 0;
    if (readBack != NULL)
        HeapFree(GetProcessHeap(), 0, readBack);
    if (same || file == INVALID_HANDLE_VALUE)
        return file;
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

// A running program cannot delete its own file. A copy in a new folder of its own does the removal once
// this process has ended; it inherits the handles that delete the copy and the folder when it ends.
bool StartRemovalCopy(const Installation& installation, bool silent) {
    Text self = ModulePath();
    HANDLE source = self.Usable()
                        ? CreateFileW(self.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL,
                                      OPEN_EXISTING, 0, NULL)
                        : INVALID_HANDLE_VALUE;
    DWORD size = 0;
    BYTE* image = ReadWhole(source, size);
    if (source != INVALID_HANDLE_VALUE)
        CloseHandle(source);
    wchar_t system[MAX_PATH];
    UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
    if (image == NULL || systemLength == 0 || systemLength >= MAX_PATH) {
        if (image != NULL)
            HeapFree(GetProcessHeap(), 0, image);
        return false;
    }

    SECURITY_ATTRIBUTES inherited = {sizeof inherited, NULL, TRUE};
    Text folder = MakePrivateFolder();
    HANDLE held = HoldFolder(folder, &inherited);
    Text copy = folder + L"gl_uninstall.exe";
    HANDLE file = held != INVALID_HANDLE_VALUE && copy.Usable() ? WriteCopy(copy, image, size, &inherited)
                                                                : INVALID_HANDLE_VALUE;
    HeapFree(GetProcessHeap(), 0, image);
    HANDLE process = NULL;
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &process, SYNCHRONIZE,
                    TRUE, 0);
    wchar_t handle[24];
    _snwprintf(handle, 23, L"%llu", (unsigned long long)(ULONG_PTR)process);
    handle[23] = L'\0';
    wchar_t copyHandle[24];
    _snwprintf(copyHandle, 23, L"%llu", (unsigned long long)(ULONG_PTR)file);
    copyHandle[23] = L'\0';
    Text line = Text(L"\"") + copy + L"\"" + (silent ? L" /silent" : L"") + L" /after=" + handle +
                L" /copy=" + copyHandle + L" /folder=" + installation.folder;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    BOOL ok = file != INVALID_HANDLE_VALUE && line.Usable() &&
              CreateProcessW(copy.c_str(), const_cast<wchar_t*>(line.c_str()), NULL, NULL, TRUE, 0, NULL,
                             system, &startup, &started);
    for (HANDLE open : {process, file, held})
        if (open != NULL && open != INVALID_HANDLE_VALUE)
            CloseHandle(open);
    if (!ok)
        return false;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}

// The copy's file cannot go while it runs, and its folder only when empty: the file moves out beside the
// folder (still in use, so no one can change it there), where its handle deletes it once the copy has
// ended; the emptied folder goes with its own handle.
void MoveOutOfFolder(HANDLE file) {
    Text self = ModulePath();
    Text target = Text(L"\\??\\") + self.Parent() + L".exe";
    struct {
        BOOLEAN replace;
        HANDLE root;
        ULONG length;
        wchar_t name[Text::kCapacity];
    } rename = {FALSE, NULL, (ULONG)(target.Length() * sizeof(wchar_t)), {}};
    ULONG_PTR status[2];
    if (file != NULL && self.Usable() && target.Usable() && SetInformation() != NULL) {
        wmemcpy(rename.name, target.c_str(), target.Length());
        SetInformation()(file, status, &rename, sizeof rename, 10); // FileRenameInformation
    }
}

} // namespace

// gl_uninstall.exe [/silent]; the copy that does the work gets /after=PROCESS /copy=FILE /folder=FOLDER as
// well: handles of the program that started it and of its own file, and the installation's folder.
// Exit status: 0 removal started or done, 1 declined, impossible or not this installation's folder, 2 the
// viewer runs.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    RestrictDllSearchPath();
    const wchar_t* line = commandLine != NULL ? commandLine : L"";
    const wchar_t* after = wcsstr(line, L"/after=");
    const wchar_t* folder = wcsstr(line, L"/folder=");
    if (after != NULL && folder != NULL && after < folder) {
        Text options(line, folder - line);
        bool silent = wcsstr(options.c_str(), L"/silent") != NULL;
        HANDLE original = (HANDLE)(ULONG_PTR)_wcstoui64(after + 7, NULL, 10);
        WaitForSingleObject(original, 60000);
        CloseHandle(original);
        const wchar_t* copy = wcsstr(options.c_str(), L"/copy=");
        HANDLE file = copy != NULL ? (HANDLE)(ULONG_PTR)_wcstoui64(copy + 6, NULL, 10) : NULL;
        Installation installation(folder + 8);
        bool confirmed = installation.Confirm();
        if (confirmed)
            RemoveInstallation(installation, silent);
        MoveOutOfFolder(file);
        return confirmed ? 0 : 1;
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
    if (!installation.Confirm()) {
        if (!silent)
            MessageBoxW(
                NULL,
                (Text(L"Der Ordner ") + installation.folder +
                 L" ist nicht der Ordner, in dem Windows Glimmerly als installiert f\u00FChrt. Es wurde "
                 L"nichts entfernt.")
                    .c_str(),
                kTitle, MB_OK | MB_ICONWARNING);
        return 1;
    }
    if (!silent && MessageBoxW(NULL,
                               L"M\u00F6chten Sie Glimmerly 4.62 und alle zugeh\u00F6rigen Komponenten von "
                               L"Ihrem Computer entfernen?",
                               kTitle, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return 1;
    if (!StartRemovalCopy(installation, silent))
        RemoveInstallation(installation, silent);
    return 0;
}
