#include "shell/Shortcuts.h"

#include "framework/ComApartment.h"
#include "framework/SystemLibrary.h"
#include "install/PathHelpers.h"
#include "install/SafePath.h"
#include "install/StepLog.h"
#include "install/SkippedFiles.h"
#include "shell/DerivedText.h"
#include "shell/ProductVersion.h"
#include "shell/VersionChecks.h"

#include <windows.h>
#include <shlobj.h>
#include <stdio.h>

namespace {

// The shell link class and its interfaces, spelled out so nothing binds the uuid library's symbols.
const CLSID kShellLinkClass = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kShellLinkInterface = {0x000214F9, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kPersistStreamInterface = {0x00000109, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

typedef HRESULT(WINAPI* CoCreateInstanceFunction)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
typedef void(WINAPI* CoTaskMemFreeFunction)(LPVOID);
typedef HRESULT(WINAPI* GetFolderLocationFunction)(HWND, int, LPITEMIDLIST*);
typedef BOOL(WINAPI* PathFromIdListFunction)(LPCITEMIDLIST, LPWSTR);
typedef HRESULT(WINAPI* CreateStreamFunction)(HGLOBAL, BOOL, LPSTREAM*);
typedef HRESULT(WINAPI* StreamMemoryFunction)(LPSTREAM, HGLOBAL*);

// The link's bytes are made in memory and written through a handle that reached the link file without
// following a link planted at its name, where a save by name would write wherever that one points.
int WriteLinkFile(IShellLinkW* link, const wchar_t* linkPath, SkippedFiles& skipped) {
    CreateStreamFunction createStream =
        SystemFunction<CreateStreamFunction>(L"ole32.dll", "CreateStreamOnHGlobal");
    StreamMemoryFunction streamMemory =
        SystemFunction<StreamMemoryFunction>(L"ole32.dll", "GetHGlobalFromStream");
    ComPointer<IPersistStream> persist;
    ComPointer<IStream> stream;
    HGLOBAL memory = NULL;
    STATSTG made;
    if (createStream == NULL || streamMemory == NULL ||
        FAILED(link->QueryInterface(kPersistStreamInterface, persist.Receive())) || !persist ||
        FAILED(createStream(NULL, TRUE, (LPSTREAM*)stream.Receive())) || !stream ||
        FAILED(persist->Save(stream.Get(), TRUE)) || FAILED(streamMemory(stream.Get(), &memory)) ||
        FAILED(stream->Stat(&made, STATFLAG_NONAME)) || made.cbSize.QuadPart > 0x100000)
        return 0;
    HANDLE file = OpenWithoutLink(linkPath, GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
    if (file == INVALID_HANDLE_VALUE) {
        NoteIfLinkMet(&skipped, linkPath);
        return 0;
    }
    DWORD size = (DWORD)made.cbSize.QuadPart;
    const void* bytes = GlobalLock(memory);
    DWORD written = 0;
    int saved = bytes != NULL && WriteFile(file, bytes, size, &written, NULL) && written == size;
    GlobalUnlock(memory);
    CloseHandle(file);
    if (saved)
        LogStep(L"shortcut: %ls", linkPath);
    return saved;
}

// The one way every link is made; the description only for desktop links.
int SaveLink(const wchar_t* folder, const wchar_t* linkName, const wchar_t* target, const wchar_t* arguments,
             const wchar_t* iconPath, int iconIndex, const wchar_t* description, SkippedFiles& skipped) {
    wchar_t linkPath[kPathChars];
    if (!JoinText(linkPath, kPathChars, {folder, linkName}))
        return 0;
    ComApartment apartment;
    CoCreateInstanceFunction createInstance =
        SystemFunction<CoCreateInstanceFunction>(L"ole32.dll", "CoCreateInstance");
    if (!apartment.Initialized() || createInstance == NULL)
        return 0;
    ComPointer<IShellLinkW> link;
    if (FAILED(createInstance(kShellLinkClass, NULL, CLSCTX_INPROC_SERVER, kShellLinkInterface,
                              link.Receive())) ||
        !link)
        return 0;

    if (iconPath != NULL)
        link->SetIconLocation(iconPath, iconIndex);
    link->SetPath(target);
    if (arguments != NULL)
        link->SetArguments(arguments);
    if (description != NULL)
        link->SetDescription(description);
    return WriteLinkFile(link.Get(), linkPath, skipped);
}

struct TextFileLink {
    const wchar_t* linkName;
    const wchar_t* fileName; // joined to the installation folder as it stands
};

const TextFileLink kTextFileLinks[] = {
    {L"\u00DCber Glimmerly.lnk", L"gl_about.txt"},
    {L"Was ist neu.lnk", L"gl_changes.txt"},
    {L"Kommandozeilen-Optionen.lnk", L"gl_options.txt"},
    {L"Verf\u00FCgbare PlugIns.lnk", L"gl_plugins.txt"},
    {L"Verf\u00FCgbare Sprachen.lnk", L"gl_languages.txt"},
    // The folder already ends in a backslash, so this target carries two in a row.
    {L"Glimmerly Hilfe.lnk", L"\\help\\gl_main32_deutsch.chm"},
};

void DeleteVersionLink(const wchar_t* group, const wchar_t* version, SkippedFiles& skipped) {
    wchar_t path[kPathChars];
    if (JoinText(path, kPathChars, {group, L"Glimmerly ", version, L".lnk"}) && !DeleteWithoutLink(path))
        NoteIfLinkMet(&skipped, path);
}

} // namespace

int GetSpecialFolder(wchar_t* buffer, int csidl) {
    buffer[0] = L'\0';
    GetFolderLocationFunction folderLocation =
        SystemFunction<GetFolderLocationFunction>(L"shell32.dll", "SHGetSpecialFolderLocation");
    PathFromIdListFunction pathFromIdList =
        SystemFunction<PathFromIdListFunction>(L"shell32.dll", "SHGetPathFromIDListW");
    CoTaskMemFreeFunction freeMemory = SystemFunction<CoTaskMemFreeFunction>(L"ole32.dll", "CoTaskMemFree");
    LPITEMIDLIST items = NULL;
    if (folderLocation != NULL && pathFromIdList != NULL &&
        SUCCEEDED(folderLocation(GetActiveWindow(), csidl, &items)) && items != NULL) {
        if (!pathFromIdList(items, buffer))
            buffer[0] = L'\0';
        if (freeMemory != NULL)
            freeMemory(items);
    }
    if (buffer[0] == L'\0') {
        UINT length = GetWindowsDirectoryW(buffer, kPathChars);
        if (length == 0 || length >= kPathChars)
            buffer[0] = L'\0';
    }
    AppendBackslash(buffer);
    return 1;
}

int CreateShortcut(const wchar_t* folder, const wchar_t* linkName, const wchar_t* target,
                   const wchar_t* arguments, const wchar_t* iconPath, int iconIndex, SkippedFiles& skipped) {
    return SaveLink(folder, linkName, target, arguments, iconPath, iconIndex, NULL, skipped);
}

int CreateDesktopShortcut(const wchar_t* target, const wchar_t* linkName, const wchar_t* iconPath,
                          const wchar_t* description, const wchar_t* arguments, int iconIndex, int allUsers,
                          SkippedFiles& skipped) {
    wchar_t desktop[kPathChars];
    GetSpecialFolder(desktop, allUsers ? CSIDL_COMMON_DESKTOPDIRECTORY : CSIDL_DESKTOP);
    return SaveLink(desktop, linkName, target, arguments, iconPath, iconIndex, description, skipped);
}

int CreateStartMenuGroup(const wchar_t* folder, int allUsers, SkippedFiles& skipped) {
    wchar_t group[kPathChars];
    GetSpecialFolder(group, allUsers ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS);
    if (!AppendText(group, kPathChars, L"Glimmerly\\"))
        return 0;
    // A group folder that is a link gets no links at all.
    if (!CreateFoldersWithoutLink(group)) {
        NoteIfLinkMet(&skipped, group);
        return 0;
    }

    wchar_t executable[kPathChars];
    if (!JoinText(executable, kPathChars, {folder, L"gl_main32.exe"}))
        return 0;
    wchar_t versionLink[64];
    _snwprintf(versionLink, 63, L"Glimmerly %d.%2d.lnk", kProductMajor, kProductMinor);
    versionLink[63] = L'\0';
    int result = CreateShortcut(group, versionLink, executable, NULL, NULL, 0, skipped);
    DeleteVersionLink(group, L"4.60", skipped);
    DeleteVersionLink(group, L"4.59", skipped);
    result =
        CreateShortcut(group, L"Glimmerly - Thumbnails.lnk", executable, L"/thumbs", executable, 7, skipped);

    wchar_t target[kPathChars];
    if (!IsWindows8Exactly() && JoinText(target, kPathChars, {folder, L"gl_uninstall.exe"}))
        result = CreateShortcut(group, L"Glimmerly deinstallieren.lnk", target, NULL, NULL, 0, skipped);
    for (const TextFileLink& link : kTextFileLinks) {
        if (JoinText(target, kPathChars, {folder, link.fileName}))
            result = CreateShortcut(group, link.linkName, target, NULL, NULL, 0, skipped);
        else
            result = 0;
    }
    return result;
}
