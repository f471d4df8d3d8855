// The uninstaller's path helpers, and the installation's folder with the deletion in it that no link
// leads out of.
#include "payload/uninstall.h"

namespace uninstall {

bool Same(const wchar_t* a, const wchar_t* b) {
    return _wcsicmp(a, b) == 0;
}
bool StartsWith(const wchar_t* text, const wchar_t* start) {
    return _wcsnicmp(text, start, wcslen(start)) == 0;
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

} // namespace uninstall
