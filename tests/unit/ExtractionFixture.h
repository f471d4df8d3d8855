#pragma once
#include "install/InstallProgress.h"
#include "install/PayloadExtraction.h"

#include "TestFiles.h"
#include "TestZip.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include <windows.h>
#include <string>
#include <vector>

// The scratch folder of the extraction tests, and the helpers that look at what the tests leave in it.

inline std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

inline std::wstring CurrentDirectory() {
    wchar_t buffer[kTempPathChars] = L"";
    GetCurrentDirectoryW(kTempPathChars, buffer);
    return buffer;
}

inline bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool IsFolder(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

inline std::string ReadFile(const std::wstring& path) {
    std::string data;
    return ReadFileBytes(path, &data) ? data : "<missing>";
}

inline void WriteFile(const std::wstring& path, const std::string& data) {
    WriteFileBytes(path, data);
}

inline FILETIME LastWriteTime(const std::wstring& path) {
    FILETIME times[3] = {};
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        GetFileTime(file, &times[0], &times[1], &times[2]);
        CloseHandle(file);
    }
    return times[2];
}

inline unsigned long long Ticks(const FILETIME& time) {
    return ((unsigned long long)time.dwHighDateTime << 32) | time.dwLowDateTime;
}

inline void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

// The file index of a file or folder: the same one, not one of the same name.
inline unsigned long long Identity(const std::wstring& path) {
    HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    BY_HANDLE_FILE_INFORMATION info = {};
    GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    return ((unsigned long long)info.nFileIndexHigh << 32) | info.nFileIndexLow;
}

// Names of the entries directly in a folder, sorted.
inline std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// Every file below a folder (path with '/' -> bytes) and every empty folder (path ending in '/').
inline std::map<std::string, std::string> Tree(const std::wstring& folder, const std::string& prefix = "") {
    std::map<std::string, std::string> files;
    std::vector<std::wstring> names = FolderEntries(folder);
    if (names.empty() && !prefix.empty())
        files[prefix] = "";
    for (const std::wstring& name : names) {
        std::string narrow = prefix + std::string(name.begin(), name.end());
        if (IsFolder(folder + L"\\" + name)) {
            std::map<std::string, std::string> inner = Tree(folder + L"\\" + name, narrow + "/");
            files.insert(inner.begin(), inner.end());
        } else {
            files[narrow] = ReadFile(folder + L"\\" + name);
        }
    }
    return files;
}

// A scratch folder with an empty target folder in it; the current directory is put back afterwards.
class Extraction : public ::testing::Test {
  protected:
    void SetUp() override {
        startDirectory = CurrentDirectory();
        wchar_t temp[kTempPathChars];
        GetTempPathW(kTempPathChars, temp);
        root = std::wstring(temp) + L"glimmerly-extract-" + std::to_wstring(GetCurrentProcessId());
        RemoveTree(root);
        CreateDirectoryW(root.c_str(), NULL);
        target = root + L"\\target\\";
        CreateDirectoryW(target.c_str(), NULL);
        archive = root + L"\\payload.zip";
    }
    void TearDown() override {
        SetCurrentDirectoryW(startDirectory.c_str());
        RemoveTree(root);
    }
    InstallResult Extract(const std::vector<TestMember>& members, int keepIcons = 0,
                          const InstallProgress* progress = NULL) {
        WriteFile(archive, BuildTestZip(members));
        return ExtractArchive(archive.c_str(), target.c_str(), keepIcons, progress, NULL, 0);
    }
    std::wstring InTarget(const std::string& name) {
        std::wstring path = target + Widen(name);
        for (wchar_t& c : path)
            c = c == L'/' ? L'\\' : c;
        return path;
    }

    std::wstring startDirectory, root, target, archive;
};
