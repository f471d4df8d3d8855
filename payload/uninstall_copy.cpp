// The uninstaller's copy in a private folder, which does the removal once the uninstaller has ended.
#include "payload/uninstall.h"

#include <stdio.h>

#include <initializer_list>

namespace uninstall {

Text ModulePath() {
    wchar_t path[Text::kCapacity];
    DWORD length = GetModuleFileNameW(NULL, path, Text::kCapacity);
    return length == 0 || length >= Text::kCapacity ? Text() : Text(path, length);
}

namespace {

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

} // namespace

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

} // namespace uninstall
