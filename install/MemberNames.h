#pragma once
// Reading the members of an archive: shared by the check of their names and the walk that extracts them
// (install/PayloadExtraction.h).
#include "install/PathHelpers.h"

#include <windows.h>
#include <string.h>
#include <unzip.h>

namespace membernames {

inline const char* BaseName(const char* name) {
    const char* base = name;
    for (const char* p = name; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\')
            base = p + 1;
    }
    return base;
}

inline int ToWide(const char* name, wchar_t* wide) {
    return MultiByteToWideChar(CP_ACP, 0, name, -1, wide, kWideMemberChars) != 0;
}

inline int MentionsIcons(const char* name) {
    char lower[kMemberNameBytes];
    size_t i = 0;
    for (; name[i] != '\0' && i + 1 < kMemberNameBytes; ++i)
        lower[i] = (name[i] >= 'A' && name[i] <= 'Z') ? (char)(name[i] - 'A' + 'a') : name[i];
    lower[i] = '\0';
    return strstr(lower, "icons.dll") != NULL;
}

// Reads the current member's information; 0 when it cannot be read or its name does not fit.
inline int ReadMemberInfo(unzFile archive, unz_file_info64* info, char* name) {
    if (unzGetCurrentFileInfo64(archive, info, name, kMemberNameBytes, NULL, 0, NULL, 0) != UNZ_OK)
        return 0;
    return info->size_filename < kMemberNameBytes;
}

// Steps through all members, calling visit on each; stops at the first nonzero result.
template <typename Visit> int ForEachMember(unzFile archive, Visit visit) {
    unz_global_info64 global;
    if (unzGetGlobalInfo64(archive, &global) != UNZ_OK)
        return -1;
    if (global.number_entry == 0)
        return 0;
    if (unzGoToFirstFile(archive) != UNZ_OK)
        return -1;
    for (ZPOS64_T i = 0; i < global.number_entry; ++i) {
        if (visit() != 0)
            return -1;
        if (i + 1 < global.number_entry && unzGoToNextFile(archive) != UNZ_OK)
            return -1;
    }
    return 0;
}

} // namespace membernames
