#include "install/SafePath.h"

#include "framework/SystemLibrary.h"

#include <winternl.h>
#include <stddef.h>
#include <string.h>
#include <wchar.h>

namespace {

// Long enough for a settings folder of 519 characters with a file name, or a target folder's member.
enum { kSafePathChars = 1040 };

const DWORD kNameSurrogateBit = 0x20000000;
const DWORD kShareNoDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;

typedef DWORD(WINAPI* FinalPathFunction)(HANDLE, LPWSTR, DWORD, DWORD);
typedef LONG(NTAPI* QueryInformationFunction)(HANDLE, IO_STATUS_BLOCK*, PVOID, ULONG, int);
typedef LONG(NTAPI* SetInformationFunction)(HANDLE, IO_STATUS_BLOCK*, PVOID, ULONG, int);
typedef LONG(NTAPI* QueryObjectFunction)(HANDLE, int, PVOID, ULONG, PULONG);

DWORD Refuse(DWORD error) {
    SetLastError(error);
    return 0;
}

// A reparse point that stands for another name (link, junction, mount point); Wine marks a folder
// link with the attribute and no tag.
int LeadsElsewhere(DWORD attributes, DWORD tag) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && (tag == 0 || (tag & kNameSurrogateBit) != 0);
}

// Strips the "\\?\" form and a trailing backslash after the root, so two spellings of one path compare.
const wchar_t* Plain(wchar_t* path) {
    if (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        path += 6;
        path[0] = L'\\';
    } else if (wcsncmp(path, L"\\\\?\\", 4) == 0) {
        path += 4;
    }
    size_t length = wcslen(path);
    if (length > 3 && path[length - 1] == L'\\')
        path[length - 1] = L'\0';
    return path;
}

// The full path; 0 when it does not fit.
int FullPath(const wchar_t* path, wchar_t* out) {
    DWORD length = GetFullPathNameW(path, kSafePathChars, out, NULL);
    return length > 0 && length < kSafePathChars;
}

// The full path with long names in place of short ones (each component looked up: slow); the full path as
// it is where that fails or does not fit.
void LongForm(const wchar_t* fullPath, wchar_t* out) {
    DWORD length = GetLongPathNameW(fullPath, out, kSafePathChars);
    if (length == 0 || length >= kSafePathChars)
        wcscpy(out, fullPath);
}

// Walks every folder on the way and the last component by name (all that older systems offer).
int AnyComponentLeadsElsewhere(const wchar_t* fullPath) {
    wchar_t prefix[kSafePathChars];
    wcscpy(prefix, fullPath);
    size_t length = wcslen(prefix);
    size_t start = prefix[0] == L'\\' && prefix[1] == L'\\' ? 2 : 3;
    for (size_t i = start; i <= length; ++i) {
        if (i < length && prefix[i] != L'\\')
            continue;
        wchar_t kept = prefix[i];
        prefix[i] = L'\0';
        // The attributes of the name itself, as the search gives them, in a tenth of its time; the
        // search only tells the tag of a reparse point.
        DWORD attributes = GetFileAttributesW(prefix);
        WIN32_FIND_DATAW found;
        HANDLE search = INVALID_HANDLE_VALUE;
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            search = FindFirstFileW(prefix, &found);
        prefix[i] = kept;
        if (search == INVALID_HANDLE_VALUE)
            continue;
        FindClose(search);
        if (LeadsElsewhere(found.dwFileAttributes, found.dwReserved0))
            return 1;
    }
    return 0;
}

int HandleIsLink(HANDLE handle) {
    HandleFacts facts;
    if (!QueryHandleFacts(handle, &facts))
        return 1;
    // A file's second name (a hard link) reaches the file elsewhere as a link would.
    if (!facts.folder && facts.links > 1)
        return 1;
    return LeadsElsewhere(facts.attributes, facts.tag);
}

HANDLE Checked(HANDLE handle, const wchar_t* path) {
    if (handle == INVALID_HANDLE_VALUE || HandleIsAt(handle, path))
        return handle;
    CloseHandle(handle);
    SetLastError(kLinkMetError);
    return INVALID_HANDLE_VALUE;
}

// The folder that holds path, opened so it cannot be renamed or replaced while the handle lives.
HANDLE HoldParent(const wchar_t* path) {
    wchar_t parent[kSafePathChars];
    if (!FullPath(path, parent)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    wchar_t* last = wcsrchr(parent, L'\\');
    if (last == NULL) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    last[last - parent == 2 ? 1 : 0] = L'\0';
    return OpenWithoutLink(parent, FILE_LIST_DIRECTORY, kShareNoDelete, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS);
}

HANDLE CreateNew(const wchar_t* path, DWORD access, DWORD share, DWORD flags) {
    HANDLE parent = HoldParent(path);
    if (parent == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    HANDLE handle = CreateFileW(path, access, share, NULL, CREATE_NEW, flags, NULL);
    DWORD error = GetLastError();
    CloseHandle(parent);
    SetLastError(error);
    return Checked(handle, path);
}

int SetInformation(HANDLE handle, void* info, ULONG size, int infoClass) {
    SetInformationFunction set =
        LoadedSystemFunction<SetInformationFunction>(L"ntdll.dll", "NtSetInformationFile");
    IO_STATUS_BLOCK status;
    return set != NULL && set(handle, &status, info, size, infoClass) >= 0;
}

// Sets the attributes of the open file (opened with FILE_WRITE_ATTRIBUTES) through its handle; its times
// stay.
int SetAttributes(HANDLE handle, DWORD attributes) {
    struct {
        LARGE_INTEGER times[4]; // creation, access, write, change: 0 keeps each
        DWORD FileAttributes;
    } basic;
    memset(&basic, 0, sizeof basic);
    basic.FileAttributes = attributes;
    const int kBasicInformation = 4;
    return SetInformation(handle, &basic, sizeof basic, kBasicInformation);
}

} // namespace

int HandleIsAt(HANDLE handle, const wchar_t* path) {
    wchar_t expected[kSafePathChars];
    if (!FullPath(path, expected))
        return Refuse(ERROR_FILENAME_EXCED_RANGE);
    if (HandleIsLink(handle) || AnyComponentLeadsElsewhere(expected))
        return Refuse(kLinkMetError);
    if (LoadedSystemFunction<FinalPathFunction>(L"kernel32.dll", "GetFinalPathNameByHandleW") == NULL)
        return 1;
    wchar_t reached[kSafePathChars];
    if (!FinalPathOf(handle, reached, kSafePathChars))
        return Refuse(kLinkMetError);
    const wchar_t* found = Plain(reached);
    wchar_t compared[kSafePathChars];
    wcscpy(compared, expected);
    if (_wcsicmp(found, Plain(compared)) == 0)
        return 1;
    // A path given with short names reaches the file under its long ones.
    LongForm(expected, compared);
    return _wcsicmp(found, Plain(compared)) == 0 ? 1 : Refuse(kLinkMetError);
}

int QueryHandleFacts(HANDLE handle, HandleFacts* facts) {
    QueryInformationFunction query =
        LoadedSystemFunction<QueryInformationFunction>(L"ntdll.dll", "NtQueryInformationFile");
    IO_STATUS_BLOCK status;
    struct {
        ULONG attributes, tag;
    } attributeTag;
    struct {
        LARGE_INTEGER allocation, size;
        ULONG links;
        BOOLEAN deletePending, directory;
    } standard;
    LARGE_INTEGER number;
    const int kStandardInformation = 5, kInternalInformation = 6, kAttributeTagInformation = 35;
    if (query == NULL ||
        query(handle, &status, &attributeTag, sizeof attributeTag, kAttributeTagInformation) < 0 ||
        query(handle, &status, &standard, sizeof standard, kStandardInformation) < 0 ||
        query(handle, &status, &number, sizeof number, kInternalInformation) < 0)
        return 0;
    facts->attributes = attributeTag.attributes;
    facts->tag = attributeTag.tag;
    facts->links = standard.links;
    facts->folder = standard.directory != 0;
    facts->number = number.QuadPart;
    facts->size = standard.size.QuadPart;
    return 1;
}

int FinalPathOf(HANDLE handle, wchar_t* out, DWORD chars) {
    FinalPathFunction finalPath =
        LoadedSystemFunction<FinalPathFunction>(L"kernel32.dll", "GetFinalPathNameByHandleW");
    DWORD length = finalPath != NULL ? finalPath(handle, out, chars, 0) : 0;
    return length > 0 && length < chars;
}

int ObjectNameOf(HANDLE handle, wchar_t* out, DWORD chars) {
    QueryObjectFunction query = LoadedSystemFunction<QueryObjectFunction>(L"ntdll.dll", "NtQueryObject");
    union {
        UNICODE_STRING name;
        unsigned char bytes[sizeof(UNICODE_STRING) + kSafePathChars * sizeof(wchar_t)];
    } info;
    const int kObjectNameInformation = 1;
    ULONG returned = 0;
    if (query == NULL || query(handle, kObjectNameInformation, &info, sizeof info, &returned) < 0 ||
        info.name.Buffer == NULL)
        return 0;
    size_t length = info.name.Length / sizeof(wchar_t);
    if (length == 0 || length >= chars)
        return 0;
    memcpy(out, info.name.Buffer, length * sizeof(wchar_t));
    out[length] = L'\0';
    return 1;
}

HANDLE OpenWithoutLink(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    // The check reads the attributes, which an append-only handle could not.
    access |= FILE_READ_ATTRIBUTES;
    if (disposition == CREATE_NEW)
        return CreateNew(path, access, share, flags);
    HANDLE handle = Checked(CreateFileW(path, access, share, NULL, OPEN_EXISTING, flags, NULL), path);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND || (disposition != OPEN_ALWAYS && disposition != CREATE_ALWAYS))
            return INVALID_HANDLE_VALUE;
        handle = CreateNew(path, access, share, flags);
        // Missing a moment ago and there now: a link to nowhere, or one put there meanwhile.
        if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS)
            SetLastError(kLinkMetError);
        return handle;
    }
    if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) {
        if (!SetEndOfFile(handle)) {
            DWORD error = GetLastError();
            CloseHandle(handle);
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
    }
    return handle;
}

int CreateFoldersWithoutLink(const wchar_t* path) {
    wchar_t full[kSafePathChars];
    DWORD length = GetFullPathNameW(path, kSafePathChars, full, NULL);
    if (length == 0 || length >= kSafePathChars)
        return Refuse(ERROR_FILENAME_EXCED_RANGE);
    size_t start = full[0] == L'\\' && full[1] == L'\\' ? 2 : 3;
    for (size_t i = start; i <= length; ++i) {
        if (i < length && full[i] != L'\\' && full[i] != L'/')
            continue;
        if (i == length && full[i - 1] == L'\\')
            break;
        wchar_t kept = full[i];
        full[i] = L'\0';
        HANDLE parent = HoldParent(full);
        int made = parent != INVALID_HANDLE_VALUE &&
                   (CreateDirectoryW(full, NULL) || GetLastError() == ERROR_ALREADY_EXISTS);
        if (parent != INVALID_HANDLE_VALUE)
            CloseHandle(parent);
        HANDLE folder = made ? OpenWithoutLink(full, FILE_LIST_DIRECTORY, kShareNoDelete, OPEN_EXISTING,
                                               FILE_FLAG_BACKUP_SEMANTICS)
                             : INVALID_HANDLE_VALUE;
        full[i] = kept;
        if (folder == INVALID_HANDLE_VALUE)
            return 0;
        CloseHandle(folder);
    }
    return 1;
}

int DeleteWithoutLink(const wchar_t* path) {
    HANDLE file = OpenWithoutLink(path, DELETE, kShareNoDelete, OPEN_EXISTING, 0);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    int marked = DeleteThroughHandle(file);
    CloseHandle(file);
    return marked && GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES;
}

int DeleteThroughHandle(HANDLE file) {
    FILE_DISPOSITION_INFORMATION disposition = {TRUE};
    const int kDispositionInformation = 13;
    return SetInformation(file, &disposition, sizeof disposition, kDispositionInformation) ||
           (SetAttributes(file, FILE_ATTRIBUTE_NORMAL) &&
            SetInformation(file, &disposition, sizeof disposition, kDispositionInformation));
}

int RenameOpenFile(HANDLE file, const wchar_t* path, int replace) {
    wchar_t full[kSafePathChars];
    DWORD length = GetFullPathNameW(path, kSafePathChars, full, NULL);
    if (length == 0 || length >= kSafePathChars)
        return Refuse(ERROR_FILENAME_EXCED_RANGE);
    // The information carries the NT form of the new name after its fixed fields.
    union {
        FILE_RENAME_INFORMATION info;
        unsigned char bytes[sizeof(FILE_RENAME_INFORMATION) + (kSafePathChars + 8) * sizeof(wchar_t)];
    } rename;
    memset(&rename, 0, sizeof rename);
    rename.info.ReplaceIfExists = replace ? TRUE : FALSE;
    rename.info.RootDirectory = NULL;
    wchar_t* name = rename.info.FileName;
    int unc = full[0] == L'\\' && full[1] == L'\\';
    wcscpy(name, unc ? L"\\??\\UNC" : L"\\??\\");
    wcscat(name, unc ? full + 1 : full);
    rename.info.FileNameLength = (ULONG)(wcslen(name) * sizeof(wchar_t));
    const int kRenameInformation = 10;
    ULONG size = (ULONG)(offsetof(FILE_RENAME_INFORMATION, FileName) + rename.info.FileNameLength);
    return SetInformation(file, &rename, size, kRenameInformation);
}

HANDLE CreateNewIn(HANDLE folder, const wchar_t* name, DWORD access, DWORD share) {
    typedef LONG(NTAPI * CreateFunction)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*,
                                         LARGE_INTEGER*, ULONG, ULONG, ULONG, ULONG, void*, ULONG);
    typedef ULONG(NTAPI * ErrorFunction)(LONG);
    CreateFunction create = LoadedSystemFunction<CreateFunction>(L"ntdll.dll", "NtCreateFile");
    ErrorFunction error = LoadedSystemFunction<ErrorFunction>(L"ntdll.dll", "RtlNtStatusToDosError");
    size_t length = wcslen(name);
    if (length == 0 || length > 255 || wcspbrk(name, L"\\/:") != NULL || wcscmp(name, L".") == 0 ||
        wcscmp(name, L"..") == 0 || create == NULL || error == NULL) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    UNICODE_STRING text;
    text.Length = text.MaximumLength = (USHORT)(length * sizeof(wchar_t));
    text.Buffer = const_cast<wchar_t*>(name);
    OBJECT_ATTRIBUTES attributes;
    memset(&attributes, 0, sizeof attributes);
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = folder;
    attributes.ObjectName = &text;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    IO_STATUS_BLOCK status;
    HANDLE handle = INVALID_HANDLE_VALUE;
    const ULONG kCreate = 2, kSynchronous = 0x20, kNotAFolder = 0x40;
    const LONG kNameCollision = (LONG)0xC0000035;
    LONG result = create(&handle, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &status, NULL,
                         FILE_ATTRIBUTE_NORMAL, share, kCreate, kSynchronous | kNotAFolder, NULL, 0);
    if (result >= 0)
        return handle;
    // As CreateFileW says it of a new file.
    SetLastError(result == kNameCollision ? ERROR_FILE_EXISTS : error(result));
    return INVALID_HANDLE_VALUE;
}

HANDLE HoldFolder(const wchar_t* path) {
    return OpenWithoutLink(path, FILE_LIST_DIRECTORY | FILE_TRAVERSE, kShareNoDelete, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS);
}

int MoveWithoutLink(const wchar_t* from, const wchar_t* to, DWORD attributes) {
    const DWORD kAllShares = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE moved = OpenWithoutLink(from, DELETE | FILE_WRITE_ATTRIBUTES, kAllShares, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS);
    if (moved == INVALID_HANDLE_VALUE)
        return 0;
    HANDLE folder = HoldParent(to);
    int ok = folder != INVALID_HANDLE_VALUE && RenameOpenFile(moved, to);
    if (ok && attributes != INVALID_FILE_ATTRIBUTES) {
        // Only what an installed file may carry; a journal is no place to make anything a system file.
        const DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        SetAttributes(moved, (attributes & kKept) ? (attributes & kKept) : FILE_ATTRIBUTE_NORMAL);
    }
    DWORD error = GetLastError();
    if (folder != INVALID_HANDLE_VALUE)
        CloseHandle(folder);
    CloseHandle(moved);
    SetLastError(error);
    return ok;
}
