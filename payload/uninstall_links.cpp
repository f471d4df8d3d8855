// The uninstaller's removal of the shell links on the desktops and in the start menus.
#include "payload/uninstall.h"

#include <shlobj.h>

#include <initializer_list>

namespace uninstall {

namespace {

const wchar_t* const kDesktopLinks[] = {L"Glimmerly.lnk", L"Glimmerly Thumbnails.lnk"};

// Spelled out: the uuid library would bring thousands of identifiers along with these.
const CLSID kShellLinkClass = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kShellLinkInterface = {0x000214F9, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kPersistFileInterface = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

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

} // namespace

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

} // namespace uninstall
