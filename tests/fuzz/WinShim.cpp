// Native stand-ins for the Windows functions the fuzzed code reaches: environment, code pages, the short
// date, and folders and files in memory, with the Windows results and bounds (a call never writes past the
// size it is given). Unreached.cpp has the rest.
#include "WinShim.h"

#include "install/SafePath.h"

#include <windows.h>

#include <errno.h>
#include <map>
#include <memory>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

// UTF-16 text inside the stand-ins; std::wstring would be the C++ runtime's four-byte kind.
typedef std::u16string Text;

Text ToText(const wchar_t* s) {
    Text text;
    for (; *s != L'\0'; ++s)
        text += (char16_t)*s;
    return text;
}

Text Upper(Text text) {
    for (char16_t& c : text)
        if (c >= u'a' && c <= u'z')
            c = (char16_t)(c - 32);
    return text;
}

// Copies text and its terminator when chars can hold both: the length, else the size needed.
DWORD CopyOut(const Text& text, wchar_t* out, DWORD chars) {
    if (text.size() + 1 > chars)
        return (DWORD)text.size() + 1;
    for (size_t i = 0; i < text.size(); ++i)
        out[i] = (wchar_t)text[i];
    out[text.size()] = L'\0';
    return (DWORD)text.size();
}

DWORD lastError = 0;
int codePage = kWesternCodePage;
Text shortDate;
std::map<Text, Text> variables;

BOOL Fail(DWORD error) {
    lastError = error;
    return FALSE;
}

// ---- Code pages ----------------------------------------------------------------------------------

const char16_t kWestern80[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int IsLead(unsigned char b) {
    return codePage == kDoubleByteCodePage && ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC));
}

int IsTrail(unsigned char b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

Text Decode(const unsigned char* bytes, size_t count) {
    Text text;
    for (size_t i = 0; i < count; ++i) {
        unsigned char b = bytes[i];
        if (b < 0x80) {
            text += (char16_t)b;
        } else if (codePage != kDoubleByteCodePage) {
            text += b < 0xA0 ? kWestern80[b - 0x80] : (char16_t)b;
        } else if (IsLead(b)) {
            // A lead byte without its trail byte becomes the default character.
            if (i + 1 < count && IsTrail(bytes[i + 1]))
                text += (char16_t)(0x4E00 + ((b - 0x81) * 0xBD + bytes[++i] - 0x40) % 0x5000);
            else
                text += u'\u30FB';
        } else {
            text += (b >= 0xA1 && b <= 0xDF) ? (char16_t)(0xFF61 + b - 0xA1) : (char16_t)(0xF780 + b);
        }
    }
    return text;
}

// ---- Memory file system --------------------------------------------------------------------------

// The longest path the harness may name, beyond what the product's functions take.
const size_t kLongPathChars = 32767;

struct Node {
    bool folder;
    std::shared_ptr<std::string> bytes;
};
std::map<Text, Node> nodes; // by upper-case full path

struct Path {
    Text root; // "C:" or "\\server\share"
    std::vector<Text> parts;

    Text Full() const {
        Text full = root;
        for (const Text& part : parts)
            full += u"\\" + part;
        return parts.empty() ? full + u"\\" : full;
    }
    Text Key() const { return Upper(Full()); }
    Path Parent() const {
        Path parent = *this;
        parent.parts.pop_back();
        return parent;
    }
};
Path currentDirectory;

int IsBadNameCharacter(char16_t c) {
    return c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' || c == u'?' ||
           c == u'*';
}

std::vector<Text> Split(const Text& text) {
    std::vector<Text> parts(1);
    for (char16_t c : text) {
        if (c == u'\\' || c == u'/')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

// Resolves a path as Windows does: against the current directory, "." and ".." taken out, trailing dots
// and blanks of the last name dropped. 0, or the error code of a path that names nothing (with checkNames,
// also of a name with a character that Windows does not allow).
DWORD Resolve(const wchar_t* path, size_t maxChars, Path* resolved, bool checkNames = true) {
    size_t length = wcslen(path);
    if (length == 0)
        return ERROR_PATH_NOT_FOUND;
    if (length >= maxChars)
        return ERROR_FILENAME_EXCED_RANGE;
    Text text = ToText(path);
    std::vector<Text> parts;
    if (length >= 2 && (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/')) {
        parts = Split(text.substr(2));
        if (parts.size() < 2 || parts[0].empty() || parts[1].empty())
            return ERROR_INVALID_NAME;
        *resolved = Path{u"\\\\" + parts[0] + u"\\" + parts[1], {}};
        parts.erase(parts.begin(), parts.begin() + 2);
    } else if (length >= 2 && path[1] == L':') {
        if (!((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')))
            return ERROR_INVALID_NAME;
        *resolved = Path{Upper(text.substr(0, 2)), {}};
        parts = Split(text.substr(2));
    } else {
        *resolved = currentDirectory;
        if (path[0] == L'\\' || path[0] == L'/')
            resolved->parts.clear();
        parts = Split(text);
    }
    for (size_t i = 0; i < parts.size(); ++i) {
        Text part = parts[i];
        if (part == u"..") {
            if (!resolved->parts.empty())
                resolved->parts.pop_back();
            continue;
        }
        // Trailing dots and blanks go from the last name only; a name inside the path keeps its blanks.
        if (i + 1 == parts.size()) {
            while (!part.empty() && (part.back() == u'.' || part.back() == u' '))
                part.pop_back();
        } else if (part.size() >= 2 && part.back() == u'.' && part[part.size() - 2] != u'.') {
            part.pop_back();
        }
        if (part.empty() || part == u".")
            continue;
        for (char16_t c : part)
            if (checkNames && IsBadNameCharacter(c))
                return ERROR_INVALID_NAME;
        resolved->parts.push_back(part);
    }
    return 0;
}

const Node* Find(const Path& path) {
    static const Node root = {true, nullptr};
    if (path.parts.empty())
        return &root;
    auto found = nodes.find(path.Key());
    return found != nodes.end() ? &found->second : nullptr;
}

int IsFolder(const Path& path) {
    const Node* node = Find(path);
    return node != nullptr && node->folder;
}

// A file of the memory file system open as a C stream or a handle.
struct OpenFile {
    std::shared_ptr<std::string> bytes;
    size_t position;
    Text key;
};

ssize_t ReadOpenFile(void* cookie, char* buffer, size_t size) {
    OpenFile* file = (OpenFile*)cookie;
    size_t count = file->position < file->bytes->size() ? file->bytes->size() - file->position : 0;
    if (count > size)
        count = size;
    memcpy(buffer, file->bytes->data() + file->position, count);
    file->position += count;
    return (ssize_t)count;
}

ssize_t WriteOpenFile(void* cookie, const char* buffer, size_t size) {
    OpenFile* file = (OpenFile*)cookie;
    if (file->bytes->size() < file->position)
        file->bytes->resize(file->position);
    file->bytes->replace(file->position, size, buffer, size);
    file->position += size;
    return (ssize_t)size;
}

int SeekOpenFile(void* cookie, off64_t* offset, int whence) {
    OpenFile* file = (OpenFile*)cookie;
    off64_t base = whence == SEEK_SET   ? 0
                   : whence == SEEK_CUR ? (off64_t)file->position
                                        : (off64_t)file->bytes->size();
    if (base + *offset < 0)
        return -1;
    file->position = (size_t)(base + *offset);
    *offset = (off64_t)file->position;
    return 0;
}

int CloseOpenFile(void* cookie) {
    delete (OpenFile*)cookie;
    return 0;
}

int ErrnoOf(DWORD error) {
    return error == ERROR_ALREADY_EXISTS ? EEXIST : error == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
}

} // namespace

void ShimReset() {
    lastError = 0;
    codePage = kWesternCodePage;
    shortDate = u"01.02.2024";
    variables.clear();
    nodes.clear();
    currentDirectory = Path{u"C:", {}};
}

void ShimSetVariable(const wchar_t* name, const wchar_t* value) {
    variables[Upper(ToText(name))] = ToText(value);
}

void ShimSetCodePage(int page) {
    codePage = page;
}

void ShimSetDate(const wchar_t* date) {
    shortDate = ToText(date);
}

int ShimWriteFile(const wchar_t* path, const std::string& bytes) {
    Path file;
    if (Resolve(path, kLongPathChars, &file) != 0 || file.parts.empty() || IsFolder(file))
        return 0;
    for (Path folder = file.Parent(); !folder.parts.empty(); folder = folder.Parent())
        if (Find(folder) != nullptr && !IsFolder(folder))
            return 0;
    for (Path folder = file.Parent(); !folder.parts.empty(); folder = folder.Parent())
        nodes.emplace(folder.Key(), Node{true, nullptr});
    nodes[file.Key()] = Node{false, std::make_shared<std::string>(bytes)};
    return 1;
}

int ShimReadFile(const wchar_t* path, std::string* bytes) {
    Path file;
    const Node* node = Resolve(path, kLongPathChars, &file) == 0 ? Find(file) : nullptr;
    if (node == nullptr || node->folder)
        return 0;
    *bytes = *node->bytes;
    return 1;
}

int ShimFileCount() {
    int count = 0;
    for (const auto& node : nodes)
        count += !node.second.folder;
    return count;
}

extern "C" {

DWORD WINAPI GetLastError(void) {
    return lastError;
}

void WINAPI SetLastError(DWORD error) {
    lastError = error;
}

int WINAPI MultiByteToWideChar(UINT page, DWORD, LPCSTR bytes, int byteCount, LPWSTR wide, int wideChars) {
    if (page != CP_ACP)
        abort();
    if (byteCount == 0 || wideChars < 0)
        return Fail(87);
    size_t count = byteCount < 0 ? strlen(bytes) + 1 : (size_t)byteCount;
    Text text = Decode((const unsigned char*)bytes, count);
    if (wideChars == 0)
        return (int)text.size();
    // Windows may fill the buffer before it reports that it was too small.
    for (size_t i = 0; i < text.size() && i < (size_t)wideChars; ++i)
        wide[i] = (wchar_t)text[i];
    if (text.size() > (size_t)wideChars)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    return (int)text.size();
}

BOOL WINAPI IsDBCSLeadByte(BYTE b) {
    return IsLead(b);
}

DWORD WINAPI GetEnvironmentVariableW(LPCWSTR name, LPWSTR value, DWORD valueChars) {
    auto found = variables.find(Upper(ToText(name)));
    if (found == variables.end())
        return Fail(ERROR_ENVVAR_NOT_FOUND);
    return CopyOut(found->second, value, valueChars);
}

int WINAPI GetDateFormatW(LCID, DWORD, const SYSTEMTIME*, LPCWSTR, LPWSTR date, int dateChars) {
    if (dateChars == 0)
        return (int)shortDate.size() + 1;
    if (shortDate.size() + 1 > (size_t)dateChars)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    CopyOut(shortDate, date, (DWORD)dateChars);
    return (int)shortDate.size() + 1;
}

void WINAPI GetLocalTime(SYSTEMTIME* time) {
    *time = SYSTEMTIME{2024, 2, 4, 1, 13, 5, 9, 0};
}

DWORD WINAPI GetCurrentDirectoryW(DWORD chars, LPWSTR path) {
    return CopyOut(currentDirectory.Full(), path, chars);
}

BOOL WINAPI SetCurrentDirectoryW(LPCWSTR path) {
    Path folder;
    DWORD error = Resolve(path, MAX_PATH - 1, &folder);
    if (error != 0)
        return Fail(error);
    if (!IsFolder(folder))
        return Fail(ERROR_FILE_NOT_FOUND);
    currentDirectory = folder;
    return TRUE;
}

DWORD WINAPI GetFullPathNameW(LPCWSTR path, DWORD chars, LPWSTR full, LPWSTR* name) {
    Path resolved;
    DWORD error = Resolve(path, kLongPathChars, &resolved, false);
    if (error != 0)
        return Fail(error);
    Text text = resolved.Full();
    size_t length = wcslen(path);
    if (!resolved.parts.empty() && (path[length - 1] == L'\\' || path[length - 1] == L'/'))
        text += u"\\";
    if (name != NULL)
        *name = NULL;
    return CopyOut(text, full, chars);
}

BOOL WINAPI CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
    Path folder;
    DWORD error = Resolve(path, MAX_PATH - 12, &folder);
    if (error != 0)
        return Fail(error);
    if (folder.parts.empty())
        return Fail(ERROR_ACCESS_DENIED);
    if (Find(folder) != nullptr)
        return Fail(ERROR_ALREADY_EXISTS);
    if (!IsFolder(folder.Parent()))
        return Fail(ERROR_PATH_NOT_FOUND);
    nodes[folder.Key()] = Node{true, nullptr};
    return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR path) {
    Path file;
    DWORD error = Resolve(path, MAX_PATH, &file);
    if (error != 0)
        return Fail(error);
    const Node* node = Find(file);
    if (node == nullptr)
        return Fail(ERROR_FILE_NOT_FOUND);
    if (node->folder)
        return Fail(ERROR_ACCESS_DENIED);
    nodes.erase(file.Key());
    return TRUE;
}

BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    Path source, target;
    DWORD error = Resolve(from, MAX_PATH, &source);
    if (error == 0)
        error = Resolve(to, MAX_PATH, &target);
    if (error != 0)
        return Fail(error);
    const Node* moved = Find(source);
    const Node* replaced = Find(target);
    if (moved == nullptr)
        return Fail(ERROR_FILE_NOT_FOUND);
    if (source.Key() == target.Key())
        return TRUE;
    if (moved->folder || (replaced != nullptr && replaced->folder) || target.parts.empty())
        return Fail(ERROR_ACCESS_DENIED);
    if (replaced != nullptr && !(flags & MOVEFILE_REPLACE_EXISTING))
        return Fail(ERROR_ALREADY_EXISTS);
    if (!IsFolder(target.Parent()))
        return Fail(ERROR_PATH_NOT_FOUND);
    Node node = *moved;
    nodes.erase(source.Key());
    nodes[target.Key()] = node;
    return TRUE;
}

// A file opened for reading through a handle; the product writes through C streams only.
HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                          HANDLE) {
    if (access != GENERIC_READ || disposition != OPEN_EXISTING)
        abort();
    Path file;
    DWORD error = Resolve(path, MAX_PATH, &file);
    const Node* node = error == 0 ? Find(file) : nullptr;
    if (node == nullptr || node->folder) {
        lastError = error != 0 ? error : node == nullptr ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    return new OpenFile{node->bytes, 0, file.Key()};
}

BOOL WINAPI ReadFile(HANDLE handle, void* bytes, DWORD count, DWORD* read, void*) {
    *read = (DWORD)ReadOpenFile(handle, (char*)bytes, count);
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE handle, const void* bytes, DWORD count, DWORD* written, void*) {
    *written = (DWORD)WriteOpenFile(handle, (const char*)bytes, count);
    return TRUE;
}

BOOL WINAPI GetFileSizeEx(HANDLE handle, LARGE_INTEGER* size) {
    size->QuadPart = (LONGLONG)((OpenFile*)handle)->bytes->size();
    return TRUE;
}

BOOL WINAPI SetFilePointerEx(HANDLE handle, LARGE_INTEGER to, LARGE_INTEGER* now, DWORD method) {
    off64_t offset = to.QuadPart;
    if (method != FILE_BEGIN || SeekOpenFile(handle, &offset, SEEK_SET) != 0)
        return Fail(87);
    if (now != NULL)
        now->QuadPart = offset;
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    return CloseOpenFile(handle) == 0;
}

FILE* _wfopen(const wchar_t* path, const wchar_t* mode) {
    Path file;
    DWORD error = Resolve(path, MAX_PATH, &file);
    const Node* node = error == 0 ? Find(file) : nullptr;
    if (error == 0 && (file.parts.empty() || (node != nullptr && node->folder)))
        error = ERROR_ACCESS_DENIED;
    Text how = ToText(mode);
    int reading = how == u"rb";
    if (error == 0 && reading && node == nullptr)
        error = ERROR_FILE_NOT_FOUND;
    if (error == 0 && !reading && !IsFolder(file.Parent()))
        error = ERROR_PATH_NOT_FOUND;
    if (error != 0) {
        lastError = error;
        errno = ErrnoOf(error);
        return NULL;
    }
    if (how != u"rb" && how != u"wb" && how != u"ab")
        abort();
    if (how == u"wb" || node == nullptr)
        nodes[file.Key()] = Node{false, std::make_shared<std::string>()};
    OpenFile* open = new OpenFile{nodes[file.Key()].bytes, 0, file.Key()};
    if (how == u"ab")
        open->position = open->bytes->size();
    cookie_io_functions_t functions = {ReadOpenFile, WriteOpenFile, SeekOpenFile, CloseOpenFile};
    return fopencookie(open, reading ? "rb" : "wb", functions);
}

int _wremove(const wchar_t* path) {
    if (DeleteFileW(path))
        return 0;
    errno = ErrnoOf(lastError);
    return -1;
}

int _wmkdir(const wchar_t* path) {
    if (CreateDirectoryW(path, NULL))
        return 0;
    errno = ErrnoOf(lastError);
    return -1;
}

int _wchdir(const wchar_t* path) {
    if (SetCurrentDirectoryW(path))
        return 0;
    errno = ErrnoOf(lastError);
    return -1;
}

} // extern "C"

// ---- Reaching files without links: the memory file system has none ---------------------------------

HANDLE OpenWithoutLink(const wchar_t* path, DWORD access, DWORD, DWORD disposition, DWORD) {
    Path file;
    DWORD error = Resolve(path, MAX_PATH, &file);
    const Node* node = error == 0 ? Find(file) : nullptr;
    if (error == 0 && (file.parts.empty() || (node != nullptr && node->folder)))
        error = ERROR_ACCESS_DENIED;
    else if (error == 0 && node == nullptr && disposition != CREATE_NEW && disposition != OPEN_ALWAYS &&
             disposition != CREATE_ALWAYS)
        error = ERROR_FILE_NOT_FOUND;
    else if (error == 0 && node != nullptr && disposition == CREATE_NEW)
        error = ERROR_FILE_EXISTS;
    else if (error == 0 && node == nullptr && !IsFolder(file.Parent()))
        error = ERROR_PATH_NOT_FOUND;
    if (error != 0) {
        lastError = error;
        return INVALID_HANDLE_VALUE;
    }
    if (node == nullptr || disposition == CREATE_ALWAYS)
        nodes[file.Key()] = Node{false, std::make_shared<std::string>()};
    OpenFile* open = new OpenFile{nodes[file.Key()].bytes, 0, file.Key()};
    if (access == FILE_APPEND_DATA)
        open->position = open->bytes->size();
    return open;
}

int RenameOpenFile(HANDLE handle, const wchar_t* path, int replace) {
    OpenFile* open = (OpenFile*)handle;
    Path target;
    if (Resolve(path, MAX_PATH, &target) != 0 || IsFolder(target) || !IsFolder(target.Parent()) ||
        (!replace && nodes.count(target.Key()) != 0))
        return 0;
    Node moved = nodes[open->key];
    nodes.erase(open->key);
    open->key = target.Key();
    nodes[open->key] = moved;
    return 1;
}

int DeleteWithoutLink(const wchar_t* path) {
    return DeleteFileW(path) || lastError == ERROR_FILE_NOT_FOUND || lastError == ERROR_PATH_NOT_FOUND;
}
