#pragma once
// Shared by the parts of the viewer's uninstaller (payload/uninstall.cpp): the bounded text and the path
// helpers, the installation's folder with the link-safe deletion in it, and the registry through one view.
#include <windows.h>
#include <wchar.h>

namespace uninstall {

// Names the installation's folder for Installation::Confirm; removed last, by RemoveUninstallEntry.
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

template <class Function> Function SystemEntry(const wchar_t* module, const char* name) {
    HMODULE handle = GetModuleHandleW(module);
    return handle != NULL ? (Function)(void*)GetProcAddress(handle, name) : NULL;
}

// The text and path helpers (payload/uninstall_installation.cpp).
bool Same(const wchar_t* a, const wchar_t* b);
bool StartsWith(const wchar_t* text, const wchar_t* start);
Text LongPath(const Text& path);
Text FolderOf(const Text& path);
Text CommandProgram(const Text& command);
bool IsLink(const Text& path);

typedef DWORD(WINAPI* FinalPathName)(HANDLE, LPWSTR, DWORD, DWORD);

FinalPathName FinalPathFunction();
bool FinalPath(HANDLE handle, Text& path);

enum class Removal { kDone, kLeadsOutside, kFailed };

typedef LONG(WINAPI* SetInformationFile)(HANDLE, ULONG_PTR status[2], void*, ULONG, int);

// The link-safe deletion (payload/uninstall_installation.cpp); the copy moves its file out through the
// same native call.
SetInformationFile SetInformation();
Removal MarkForDeletion(HANDLE handle, DWORD attributes, DWORD& error);

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

// The registration and the uninstall entry (payload/uninstall_registry.cpp).
void RemoveRegistration(const Installation& installation);
void RemoveUninstallEntry(const Installation& installation);

// The shell links (payload/uninstall_links.cpp).
void RemoveLinks(const Installation& installation);

// The copy that does the removal (payload/uninstall_copy.cpp).
Text ModulePath();
bool StartRemovalCopy(const Installation& installation, bool silent);
void MoveOutOfFolder(HANDLE file);

} // namespace uninstall
